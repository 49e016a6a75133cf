#include "vorbis_encoder.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>

namespace bankwriter {

bool encode_vorbis(std::uint32_t channels, std::uint32_t rate, float quality, std::uint32_t frames,
                   const std::function<float(std::uint32_t, std::uint32_t)>& sample, VorbisEncoding& out) {
    out = {};
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, static_cast<long>(channels), static_cast<long>(rate), quality) != 0) {
        vorbis_info_clear(&vi);
        return false;
    }
    vorbis_dsp_state vd;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block vb;
    vorbis_block_init(&vd, &vb);
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    ogg_packet ident, comment, setup;
    vorbis_analysis_headerout(&vd, &vc, &ident, &comment, &setup);
    out.setup.assign(setup.packet, setup.packet + setup.bytes);

    // The decoder's view of the headers, for each packet's block size.
    vorbis_info di;
    vorbis_comment dc;
    vorbis_info_init(&di);
    vorbis_comment_init(&dc);
    for (ogg_packet* p : {&ident, &comment, &setup}) vorbis_synthesis_headerin(&di, &dc, p);

    auto drain = [&] {
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op) == 1) {
                out.packets.emplace_back(op.packet, op.packet + op.bytes);
                out.block_sizes.push_back(static_cast<std::uint32_t>(vorbis_packet_blocksize(&di, &op)));
            }
        }
    };
    constexpr std::uint32_t kStep = 1024;
    for (std::uint32_t at = 0; at < frames; at += kStep) {
        const std::uint32_t n = std::min(kStep, frames - at);
        float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
        for (std::uint32_t c = 0; c < channels; ++c) {
            for (std::uint32_t f = 0; f < n; ++f) buffer[c][f] = sample(c, at + f);
        }
        vorbis_analysis_wrote(&vd, static_cast<int>(n));
        drain();
    }
    vorbis_analysis_wrote(&vd, 0);
    drain();

    vorbis_comment_clear(&dc);
    vorbis_info_clear(&di);
    vorbis_comment_clear(&vc);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_info_clear(&vi);
    return true;
}

Bytes vorbis_packet_data(const std::vector<Bytes>& packets) {
    Bytes data;
    for (const Bytes& p : packets) {
        data.push_back(static_cast<std::uint8_t>(p.size()));
        data.push_back(static_cast<std::uint8_t>(p.size() >> 8));
        data.insert(data.end(), p.begin(), p.end());
    }
    return data;
}

Bytes vorbis_setup_chunk(std::uint32_t crc) {
    Bytes chunk(12, 0);
    put32(chunk, 0, crc);
    return chunk;
}

}  // namespace bankwriter
