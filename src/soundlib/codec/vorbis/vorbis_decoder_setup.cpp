#include "soundlib/codec/vorbis/vorbis_decoder_setup.h"

namespace soundlib {

namespace {

std::string vorbis_refusal(int code) {
    switch (code) {
        case OV_ENOTVORBIS: return "not a Vorbis header";
        case OV_EBADHEADER: return "a malformed header";
        case OV_EFAULT: return "an internal fault";
        default: return "error " + std::to_string(code);
    }
}

ogg_packet header_packet(const ByteVector& bytes, int number) {
    ogg_packet op{};
    op.packet = const_cast<unsigned char*>(bytes.data());
    op.bytes = static_cast<long>(bytes.size());
    op.b_o_s = number == 0;
    op.granulepos = -1;
    op.packetno = number;
    return op;
}

}  // namespace

VorbisDecoderSetup::VorbisDecoderSetup() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
}

VorbisDecoderSetup::~VorbisDecoderSetup() {
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
}

std::shared_ptr<const VorbisDecoderSetup> VorbisDecoderSetup::make(std::uint32_t channels, std::uint32_t rate,
                                                                   const VorbisSetup& setup, std::string& detail) {
    // The block sizes are the ones of the encoder set-up that made this
    // setup header: the packets follow the encoder.
    const ByteVector headers[3] = {
        vorbis_identification_header(channels, rate, setup.block_short, setup.block_long),
        vorbis_comment_header(), setup.packet};
    const char* names[3] = {"identification", "comment", "setup"};
    std::shared_ptr<VorbisDecoderSetup> made(new VorbisDecoderSetup());
    for (int i = 0; i < 3; ++i) {
        ogg_packet op = header_packet(headers[i], i);
        const int r = vorbis_synthesis_headerin(&made->info_, &made->comment_, &op);
        if (r != 0) {
            detail = std::string("libvorbis refused the rebuilt Vorbis ") + names[i] + " header (" +
                     vorbis_refusal(r) + ")";
            return nullptr;
        }
    }
    // The first synthesis set-up builds the codebooks into the info, for
    // every later one; a failure there leaves them half built, so the info
    // is not kept.
    vorbis_dsp_state dsp;
    if (vorbis_synthesis_init(&dsp, &made->info_) != 0) {
        detail = "libvorbis could not start decoding with the rebuilt Vorbis headers";
        return nullptr;
    }
    vorbis_dsp_clear(&dsp);
    return made;
}

std::shared_ptr<const VorbisDecoderSetup> VorbisDecoderSetups::get(std::uint32_t channels, std::uint32_t rate,
                                                                   const VorbisSetup& setup, std::string& detail) {
    auto& made = made_;
    const auto key = std::tuple(channels, rate, setup.crc);
    if (const auto it = made.find(key); it != made.end()) return it->second;
    auto decoder_setup = VorbisDecoderSetup::make(channels, rate, setup, detail);
    if (decoder_setup) made[key] = decoder_setup;
    return decoder_setup;
}

}  // namespace soundlib
