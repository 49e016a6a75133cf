// The floor for the compressed codecs: the codec library alone decoding the
// benchmark bank's frames or packets, converted to 16 bits by the tool's own
// conversion, the samples written to a file in large pieces. And the floor
// of FLAC output: libFLAC alone encoding the PCM16 bank's samples at the
// level the tool uses.
//   floor mpeg|vorbis BANK.fsb OUT
//   floor flac PCM16BANK.fsb OUT.flac
// Reads only what make_bench_banks writes: one stereo subsound in FSB5.
#include <FLAC/stream_encoder.h>
#include <fcntl.h>
#include <mpg123.h>
#include <unistd.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "soundlib/codec/float_to_s16.h"
#include "wav/ogg_crc.h"

namespace {

constexpr int kVorbisStep = 50;
constexpr std::size_t kOutBytes = 1 << 20;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Output {
    int fd = -1;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kOutBytes);
    std::size_t used = 0;    // bytes
    std::uint64_t left = 0;  // frames still to write
    bool ok = true;

    void flush() {
        const std::uint8_t* p = buffer.data();
        std::size_t n = used;
        while (n > 0 && ok) {
            const ssize_t w = write(fd, p, n);
            ok = w > 0;
            if (w > 0) {
                p += w;
                n -= static_cast<std::size_t>(w);
            }
        }
        used = 0;
    }
    // Room for `frames` stereo frames, after the subsound's length is applied.
    std::uint8_t* take(std::uint64_t& frames) {
        if (frames > left) frames = left;
        if (used + frames * 4 > buffer.size()) flush();
        std::uint8_t* at = buffer.data() + used;
        used += frames * 4;
        left -= frames;
        return at;
    }
};

struct Bank {
    std::vector<std::uint8_t> data;
    std::uint64_t frames = 0;
};

bool read_bank(const char* path, Bank& bank) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    std::uint8_t head[0x44];
    bool ok = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "FSB5", 4) == 0;
    if (ok) {
        const std::uint64_t word = le32(head + 0x3C) | (std::uint64_t{le32(head + 0x40)} << 32);
        bank.frames = word >> 34;
        const long start = 0x3C + static_cast<long>(le32(head + 0x0C) + le32(head + 0x10));
        bank.data.resize(le32(head + 0x14));
        ok = std::fseek(f, start, SEEK_SET) == 0 &&
             std::fread(bank.data.data(), 1, bank.data.size(), f) == bank.data.size();
    }
    std::fclose(f);
    return ok;
}

bool floor_mpeg(const Bank& bank, Output& out) {
    mpg123_init();  // wanted by old versions, ignored by new ones
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) return false;
    mpg123_param(h, MPG123_FLAGS,
                 MPG123_QUIET | MPG123_NO_RESYNC | MPG123_IGNORE_INFOFRAME | MPG123_IGNORE_STREAMLENGTH, 0);
    mpg123_format_none(h);
    mpg123_format(h, 48000, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    mpg123_open_feed(h);
    std::size_t fed = 0;
    while (out.left > 0) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int r = mpg123_decode_frame(h, &num, &audio, &bytes);
        if (r == MPG123_NEED_MORE) {
            if (fed == bank.data.size()) break;
            const std::size_t n = std::min<std::size_t>(64 * 1024, bank.data.size() - fed);
            mpg123_feed(h, bank.data.data() + fed, n);
            fed += n;
            continue;
        }
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
        std::uint64_t frames = bytes / (2 * sizeof(float));
        const auto* x = reinterpret_cast<const float*>(audio);
        std::uint8_t* dst = out.take(frames);
        soundlib::floats_to_s16(x, frames * 2, dst);
    }
    mpg123_delete(h);
    return out.left == 0;
}

bool floor_vorbis(const Bank& bank, Output& out) {
    // The headers: the same libvorbisenc set-up the bank was made with.
    vorbis_info enc;
    vorbis_info_init(&enc);
    vorbis_encode_init_vbr(&enc, 2, 48000, (kVorbisStep - 1 + (kVorbisStep - 100) * 0.1f) / 99.0f);
    vorbis_dsp_state ed;
    vorbis_analysis_init(&ed, &enc);
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    ogg_packet headers[3];
    vorbis_analysis_headerout(&ed, &vc, &headers[0], &headers[1], &headers[2]);

    vorbis_info vi;
    vorbis_info_init(&vi);
    bool ok = true;
    for (ogg_packet& p : headers) ok = ok && vorbis_synthesis_headerin(&vi, &vc, &p) == 0;
    vorbis_dsp_clear(&ed);
    vorbis_info_clear(&enc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    ok = ok && vorbis_synthesis_init(&vd, &vi) == 0 && vorbis_block_init(&vd, &vb) == 0;
    if (!ok) return false;

    std::int64_t number = 3;
    for (std::size_t at = 0; at + 2 <= bank.data.size() && out.left > 0;) {
        const std::size_t length = bank.data[at] | (bank.data[at + 1] << 8);
        if (length == 0 || at + 2 + length > bank.data.size()) break;
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(bank.data.data() + at + 2);
        op.bytes = static_cast<long>(length);
        op.granulepos = -1;
        op.packetno = number++;
        at += 2 + length;
        if (vorbis_synthesis(&vb, &op) != 0 || vorbis_synthesis_blockin(&vd, &vb) != 0) return false;
        float** pcm = nullptr;
        const int ready = vorbis_synthesis_pcmout(&vd, &pcm);
        if (ready <= 0) continue;
        std::uint64_t frames = static_cast<std::uint64_t>(ready);
        soundlib::planes_to_s16(pcm, 2, frames, out.take(frames));
        vorbis_synthesis_read(&vd, ready);
    }
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out.left == 0;
}

// 16-bit stereo samples, 4096 frames at a time, as the tool hands them over.
bool floor_flac(const Bank& bank, const char* path) {
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(encoder, 2);
    FLAC__stream_encoder_set_bits_per_sample(encoder, 16);
    FLAC__stream_encoder_set_sample_rate(encoder, 48000);
    FLAC__stream_encoder_set_compression_level(encoder, 5);
    FLAC__stream_encoder_set_total_samples_estimate(encoder, bank.frames);
    bool ok = FLAC__stream_encoder_init_file(encoder, path, nullptr, nullptr) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    constexpr std::size_t kBatch = 4096;
    std::vector<FLAC__int32> samples(kBatch * 2);
    const std::uint8_t* p = bank.data.data();
    for (std::uint64_t left = bank.frames; ok && left > 0;) {
        const std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBatch));
        for (std::size_t i = 0; i < frames * 2; ++i, p += 2) samples[i] = static_cast<std::int16_t>(p[0] | (p[1] << 8));
        ok = FLAC__stream_encoder_process_interleaved(encoder, samples.data(), static_cast<unsigned>(frames));
        left -= frames;
    }
    ok = FLAC__stream_encoder_finish(encoder) && ok;
    FLAC__stream_encoder_delete(encoder);
    return ok;
}

// What writing a bank's audio as Ogg pages cannot do without: every byte
// read once, its page CRC computed, and written, through one buffer (the
// tool's own buffer size), with no memory mapping.
int floor_copy_crc(const char* from, const char* to) {
    const int in = open(from, O_RDONLY);
    const int out = open(to, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0) return 1;
    std::vector<std::uint8_t> buffer(1 << 20);
    std::uint32_t crc = 0;
    for (;;) {
        const ssize_t got = read(in, buffer.data(), buffer.size());
        if (got < 0) return 1;
        if (got == 0) break;
        crc = ogg_crc(crc, buffer.data(), static_cast<std::size_t>(got));
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put <= 0) return 1;
            done += put;
        }
    }
    close(in);
    volatile std::uint32_t kept = crc;  // used, so the CRC is not optimised away
    (void)kept;
    return close(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "copycrc") == 0) return floor_copy_crc(argv[2], argv[3]);
    if (argc != 4 || (std::strcmp(argv[1], "mpeg") != 0 && std::strcmp(argv[1], "vorbis") != 0 &&
                      std::strcmp(argv[1], "flac") != 0)) {
        std::fprintf(stderr, "usage: floor mpeg|vorbis|flac|copycrc BANK.fsb OUT\n");
        return 2;
    }
    Bank bank;
    if (!read_bank(argv[2], bank)) {
        std::fprintf(stderr, "floor: cannot read %s\n", argv[2]);
        return 1;
    }
    if (argv[1][0] == 'f') {
        if (floor_flac(bank, argv[3])) return 0;
        std::fprintf(stderr, "floor: encoding or writing failed\n");
        return 1;
    }
    Output out;
    out.fd = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (out.fd < 0) {
        std::perror(argv[3]);
        return 1;
    }
    out.left = bank.frames;
    const bool decoded = argv[1][0] == 'm' ? floor_mpeg(bank, out) : floor_vorbis(bank, out);
    out.flush();
    if (close(out.fd) != 0 || !out.ok || !decoded) {
        std::fprintf(stderr, "floor: decoding or writing failed\n");
        return 1;
    }
    return 0;
}
