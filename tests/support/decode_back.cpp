#include "support/decode_back.h"

#include <FLAC/stream_decoder.h>
#include <mpg123.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>

#include "soundlib/codec/float_to_s16.h"
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


LossyDecode decode_ogg(const std::string& path) {
    LossyDecode d;
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) {
        d.error = "libvorbisfile does not open it";
        return d;
    }
    const vorbis_info* info = ov_info(&vf, -1);
    d.channels = static_cast<unsigned>(info->channels);
    d.rate = info->rate;
    d.ok = true;
    for (;;) {
        float** pcm = nullptr;
        int section = 0;
        const long n = ov_read_float(&vf, &pcm, 4096, &section);
        if (n == 0) break;
        if (n < 0) {
            d.ok = false;
            d.error = "libvorbisfile: error " + std::to_string(n);
            break;
        }
        const std::size_t at = d.data.size();
        d.data.resize(at + static_cast<std::size_t>(n) * d.channels * 2);
        soundlib::planes_to_s16(pcm, d.channels, static_cast<std::size_t>(n), d.data.data() + at);
    }
    ov_clear(&vf);
    return d;
}

LossyDecode decode_mp3(const std::string& path) {
    LossyDecode d;
    mpg123_init();
    int err = MPG123_OK;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) {
        d.error = "libmpg123 cannot start";
        return d;
    }
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(h);
    for (const long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L}) {
        mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    if (mpg123_open(h, path.c_str()) != MPG123_OK) {
        d.error = std::string("libmpg123 does not open it: ") + mpg123_strerror(h);
        mpg123_delete(h);
        return d;
    }
    d.ok = true;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        std::size_t got = 0;
        const int r = mpg123_read(h, buffer.data(), buffer.size(), &got);
        if (r == MPG123_NEW_FORMAT) {
            int channels = 0, encoding = 0;
            mpg123_getformat(h, &d.rate, &channels, &encoding);
            d.channels = static_cast<unsigned>(channels);
        }
        const std::size_t at = d.data.size();
        d.data.resize(at + got / sizeof(float) * 2);
        soundlib::floats_to_s16(reinterpret_cast<const float*>(buffer.data()), got / sizeof(float), d.data.data() + at);
        if (r == MPG123_DONE) break;
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            d.ok = false;
            d.error = std::string("libmpg123: ") + mpg123_strerror(h);
            break;
        }
    }
    mpg123_close(h);
    mpg123_delete(h);
    return d;
}
