#include "support/decode_back.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>

#include "support/temp_dir.h"

// The bytes of a WAV file's data chunk.
std::vector<std::uint8_t> wav_data(const std::string& path) {
    const std::vector<std::uint8_t> file = read_file(path);
    std::size_t at = 12;
    while (at + 8 <= file.size()) {
        const std::uint32_t size = file[at + 4] | (file[at + 5] << 8) | (file[at + 6] << 16) |
                                   (static_cast<std::uint32_t>(file[at + 7]) << 24);
        if (std::equal(file.begin() + at, file.begin() + at + 4, "data")) {
            return std::vector<std::uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + std::min<std::size_t>(size, file.size() - at - 8));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

namespace {

FLAC__StreamDecoderWriteStatus on_frame(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                        const FLAC__int32* const channels[], void* out) {
    auto& d = *static_cast<FlacDecode*>(out);
    const unsigned bytes = frame->header.bits_per_sample / 8;
    d.bits = frame->header.bits_per_sample;
    for (unsigned i = 0; i < frame->header.blocksize; ++i) {
        for (unsigned c = 0; c < frame->header.channels; ++c) {
            std::uint32_t v = static_cast<std::uint32_t>(channels[c][i]);
            if (bytes == 1) v += 128;  // WAV's 8-bit samples are unsigned
            for (unsigned k = 0; k < bytes; ++k) d.data.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

void on_error(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* out) {
    static_cast<FlacDecode*>(out)->ok = false;
}

}  // namespace

FlacDecode decode_flac(const std::string& path) {
    FlacDecode d;
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(decoder, true);
    if (FLAC__stream_decoder_init_file(decoder, path.c_str(), on_frame, nullptr, on_error, &d) ==
        FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        d.ok = true;
        const bool decoded = FLAC__stream_decoder_process_until_end_of_stream(decoder);
        d.ok = d.ok && decoded && FLAC__stream_decoder_finish(decoder);  // finish checks the MD5
    }
    FLAC__stream_decoder_delete(decoder);
    return d;
}

