// Makes the benchmark's banks with the project's bank writer, each one stereo
// subsound of about FRAMES frames at 48 kHz:
//   make_bench_banks DIR FRAMES KIND...
// KIND is pcm16, ima, gcadpcm, vag, fadpcm, mpeg (encodes a few seconds with
// Debian's lame, then repeats its frames), vorbis (encodes a few seconds
// with libvorbisenc, then repeats its packets), vorbis-many or pcm16-many
// (the same frames as 200 sounds of one bank). ADPCM data is random codes
// under valid headers: every code costs the decoder the same, and random
// codes give its branches no pattern to learn.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "vorbis_encoder.h"
#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/vorbis/vorbis_setup.h"

namespace {

using bankwriter::Bytes;

constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kChannels = 2;
constexpr int kVorbisStep = 50;         // a quality the tool finds at its first try
constexpr std::uint32_t kEncodedSeconds = 20;

std::uint64_t rng_state = 0x9E3779B97F4A7C15ull;
std::uint32_t next_random() {
    rng_state ^= rng_state << 13;
    rng_state ^= rng_state >> 7;
    rng_state ^= rng_state << 17;
    return static_cast<std::uint32_t>(rng_state >> 16);
}

// Something like music: a few detuned partials and a little noise.
std::int16_t signal(std::uint32_t channel, std::uint64_t frame) {
    const double t = static_cast<double>(frame) / kRate;
    double v = 0;
    const double base = channel ? 220.0 : 277.18;
    for (int k = 1; k <= 4; ++k) v += std::sin(2 * std::numbers::pi * base * k * t * (1 + 0.001 * std::sin(t))) / (k + 1);
    v = v * 0.3 * (0.6 + 0.4 * std::sin(2 * std::numbers::pi * 0.5 * t));
    v += (static_cast<int>(next_random() % 2001) - 1000) / 100000.0;
    return static_cast<std::int16_t>(std::lround(v * 32767));
}

// What the lossy banks repeat: kEncodedSeconds of the signal, less for a
// bank that short.
std::vector<std::int16_t> encoded_signal(std::uint32_t frames) {
    const std::uint32_t seconds = std::min(kEncodedSeconds, frames / kRate + 1);
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(kRate) * seconds * kChannels);
    for (std::size_t f = 0; f < pcm.size() / kChannels; ++f) {
        for (std::uint32_t c = 0; c < kChannels; ++c) pcm[f * kChannels + c] = signal(c, f);
    }
    return pcm;
}

// `copies` sounds of the same data (a bank of many short sounds).
bool save_bank(const std::string& dir, const std::string& name, Bytes data, std::uint32_t frames,
               std::uint32_t codec, std::vector<std::pair<std::uint32_t, Bytes>> chunks = {},
               std::uint32_t copies = 1) {
    std::vector<bankwriter::Sound> sounds(copies);
    for (std::uint32_t i = 0; i < copies; ++i) {
        char sound_name[64];
        std::snprintf(sound_name, sizeof sound_name, copies == 1 ? "%s.wav" : "%s_%04u.wav", name.c_str(), i);
        sounds[i].name = sound_name;
        sounds[i].channels = kChannels;
        sounds[i].frequency = kRate;
        sounds[i].frames = frames;
        sounds[i].data = data;
        sounds[i].chunks = chunks;
    }
    const std::string path = dir + "/" + name + ".fsb";
    if (!bankwriter::save(path, bankwriter::write_fsb5(sounds, codec))) {
        std::fprintf(stderr, "make_bench_banks: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

// One period of the signal, repeated: making 256 MiB should not take long.
Bytes pcm16(std::uint32_t frames) {
    std::vector<std::int16_t> period(static_cast<std::size_t>(kRate) * kChannels);
    for (std::size_t f = 0; f < kRate; ++f) {
        for (std::uint32_t c = 0; c < kChannels; ++c) period[f * kChannels + c] = signal(c, f);
    }
    Bytes data(std::size_t{frames} * kChannels * 2);
    for (std::size_t i = 0; i < data.size() / 2; ++i) {
        const auto v = static_cast<std::uint16_t>(period[i % period.size()]);
        data[2 * i] = static_cast<std::uint8_t>(v);
        data[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    return data;
}

Bytes random_bytes(std::size_t size) {
    Bytes data(size);
    for (auto& b : data) b = static_cast<std::uint8_t>(next_random());
    return data;
}

// Blocks of `block_bytes` per channel, side by side, with `fix` making each
// channel's header valid.
template <typename Fix>
Bytes adpcm_blocks(std::uint32_t frames, std::uint32_t block_frames, std::uint32_t block_bytes, Fix fix) {
    const std::size_t blocks = (frames + block_frames - 1) / block_frames;
    Bytes data = random_bytes(blocks * block_bytes * kChannels);
    for (std::size_t b = 0; b < blocks * kChannels; ++b) fix(&data[b * block_bytes]);
    return data;
}

bool make_adpcm(const std::string& dir, const std::string& kind, std::uint32_t frames) {
    if (kind == "ima") {
        // Each channel: sample, step index, reserved; then 4-byte runs of codes.
        const std::size_t blocks = (frames + 63) / 64;
        Bytes data = random_bytes(blocks * 36 * kChannels);
        for (std::size_t b = 0; b < blocks; ++b) {
            for (std::uint32_t c = 0; c < kChannels; ++c) {
                data[b * 36 * kChannels + 4 * c + 2] = static_cast<std::uint8_t>(next_random() % 89);
            }
        }
        return save_bank(dir, kind, std::move(data), frames, 7);
    }
    if (kind == "gcadpcm") {
        // Interleaved: the channels' 8-byte frames in 2-byte pieces; the
        // first piece of each starts with the coefficient pair and scale.
        Bytes data = adpcm_blocks(frames, 14, 8, [](std::uint8_t*) {});
        for (std::size_t at = 0; at < data.size(); at += 16) {
            for (std::uint32_t c = 0; c < kChannels; ++c) {
                data[at + 2 * c] = static_cast<std::uint8_t>(((next_random() % 8) << 4) | (next_random() % 12));
            }
        }
        Bytes coefficients(0x2E * kChannels, 0);
        const std::int16_t pairs[8][2] = {{0, 0},        {2048, 0},     {3840, -1800}, {3136, -1760},
                                          {3904, -1920}, {1500, -300},  {3500, -1600}, {2600, -900}};
        for (std::uint32_t c = 0; c < kChannels; ++c) {
            for (int i = 0; i < 16; ++i) {
                const auto v = static_cast<std::uint16_t>(pairs[i / 2][i % 2]);
                coefficients[0x2E * c + 2 * i] = static_cast<std::uint8_t>(v >> 8);
                coefficients[0x2E * c + 2 * i + 1] = static_cast<std::uint8_t>(v);
            }
        }
        return save_bank(dir, kind, std::move(data), frames, 6, {{7, coefficients}});
    }
    if (kind == "vag") {
        Bytes data = adpcm_blocks(frames, 28, 16, [](std::uint8_t* frame) {
            frame[0] = static_cast<std::uint8_t>(((next_random() % 5) << 4) | (next_random() % 13));
            frame[1] = 0;
        });
        return save_bank(dir, kind, std::move(data), frames, 8);
    }
    // FADPCM: eight groups, each with a coefficient index (0..4) and a shift.
    Bytes data = adpcm_blocks(frames, 256, 140, [](std::uint8_t* frame) {
        for (int g = 0; g < 8; g += 2) {
            frame[g / 2] = static_cast<std::uint8_t>((next_random() % 5) | ((next_random() % 5) << 4));
            frame[4 + g / 2] = static_cast<std::uint8_t>((next_random() % 12) | ((next_random() % 12) << 4));
        }
    });
    return save_bank(dir, kind, std::move(data), frames, 16);
}

// MPEG-1 layer III at 128 kbps and 48 kHz: every frame 384 bytes, so the
// bank needs no padding between frames. No bit reservoir, so repeated
// frames decode as well as the first time.
bool make_mpeg(const std::string& dir, std::uint32_t frames) {
    const std::string wav = dir + "/mpeg-source.wav";
    const std::string mp3 = dir + "/mpeg-source.mp3";
    const std::vector<std::int16_t> pcm = encoded_signal(frames);
    Bytes bytes(44 + pcm.size() * 2, 0);
    std::memcpy(&bytes[0], "RIFF", 4);
    bankwriter::put32(bytes, 4, static_cast<std::uint32_t>(bytes.size() - 8));
    std::memcpy(&bytes[8], "WAVEfmt ", 8);
    bankwriter::put32(bytes, 16, 16);
    bankwriter::put16(bytes, 20, 1);
    bankwriter::put16(bytes, 22, kChannels);
    bankwriter::put32(bytes, 24, kRate);
    bankwriter::put32(bytes, 28, kRate * kChannels * 2);
    bankwriter::put16(bytes, 32, kChannels * 2);
    bankwriter::put16(bytes, 34, 16);
    std::memcpy(&bytes[36], "data", 4);
    bankwriter::put32(bytes, 40, static_cast<std::uint32_t>(pcm.size() * 2));
    for (std::size_t i = 0; i < pcm.size(); ++i) bankwriter::put16(bytes, 44 + 2 * i, static_cast<std::uint16_t>(pcm[i]));
    if (!bankwriter::save(wav, bytes)) return false;
    const std::string command = "lame --quiet -m s --cbr -b 128 --nores -t '" + wav + "' '" + mp3 + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "make_bench_banks: lame failed (is Debian's lame installed?)\n");
        return false;
    }
    Bytes stream;
    if (std::FILE* f = std::fopen(mp3.c_str(), "rb")) {
        std::uint8_t buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) stream.insert(stream.end(), buf, buf + n);
        std::fclose(f);
    }
    std::remove(wav.c_str());
    std::remove(mp3.c_str());

    std::vector<Bytes> mpeg_frames;
    for (std::size_t at = 0; at + 4 <= stream.size();) {
        soundlib::MpegFrameHeader h;
        if (soundlib::parse_mpeg_frame_header(&stream[at], h) || at + h.length > stream.size()) {
            ++at;  // not a frame: lame wrote no tags, but be safe
            continue;
        }
        mpeg_frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                 stream.begin() + static_cast<std::ptrdiff_t>(at + h.length));
        at += h.length;
    }
    if (mpeg_frames.empty() || mpeg_frames[0].size() % 4) {
        std::fprintf(stderr, "make_bench_banks: lame gave no usable frames\n");
        return false;
    }
    const std::size_t count = (frames + 1151) / 1152;
    Bytes data;
    data.reserve(count * mpeg_frames[0].size());
    for (std::size_t i = 0; i < count; ++i) {
        const Bytes& f = mpeg_frames[i % mpeg_frames.size()];
        data.insert(data.end(), f.begin(), f.end());
    }
    return save_bank(dir, "mpeg", std::move(data), static_cast<std::uint32_t>(count * 1152), 11);
}

// Vorbis packets after a u16 length each; chunk 11 holds the CRC of the
// setup header, which the tool rebuilds from the same libvorbisenc set-up.
// One sound of `frames`, or (vorbis-many) kManySounds sounds sharing them.
constexpr std::uint32_t kManySounds = 200;
bool make_vorbis(const std::string& dir, std::uint32_t frames, bool many) {
    if (many) frames /= kManySounds;
    const std::vector<std::int16_t> pcm = encoded_signal(frames);
    bankwriter::VorbisEncoding e;
    const auto sample = [&](std::uint32_t c, std::uint32_t f) { return pcm[f * kChannels + c] / 32768.0f; };
    if (!bankwriter::encode_vorbis(kChannels, kRate, soundlib::vorbis_quality_for_step(kVorbisStep),
                                   static_cast<std::uint32_t>(pcm.size() / kChannels), sample, e) ||
        e.packets.empty()) {
        std::fprintf(stderr, "make_bench_banks: libvorbisenc refused the set-up\n");
        return false;
    }
    // Repeat the packets until they give enough frames; each packet after
    // the first gives a quarter of its block and of the one before.
    std::vector<Bytes> packets;
    std::uint64_t total = 0;
    std::uint32_t previous = 0;
    for (std::size_t i = 0; total < frames; ++i) {
        const std::uint32_t size = e.block_sizes[i % e.packets.size()];
        if (i > 0) total += previous / 4 + size / 4;
        previous = size;
        packets.push_back(e.packets[i % e.packets.size()]);
    }
    const std::uint32_t crc = soundlib::crc32(e.setup.data(), e.setup.size());
    return save_bank(dir, many ? "vorbis-many" : "vorbis", bankwriter::vorbis_packet_data(packets),
                     static_cast<std::uint32_t>(total), 15, {{11, bankwriter::vorbis_setup_chunk(crc)}},
                     many ? kManySounds : 1);
}

// A bank of `count` sounds with nothing in them (all-zero headers, no
// names): what each worker's handle on a bank costs, with no audio to
// blur it.
bool make_empty_many(const std::string& dir, std::uint32_t count) {
    Bytes bank = bankwriter::write_fsb5({}, 2);
    bankwriter::put32(bank, 8, count);
    bankwriter::put32(bank, 0x0C, count * 8);
    bank.resize(bank.size() + std::size_t{count} * 8);
    return bankwriter::save(dir + "/empty-many.fsb", bank);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_bench_banks DIR FRAMES KIND...\n");
        return 2;
    }
    const std::string dir = argv[1];
    const auto frames = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
    for (int i = 3; i < argc; ++i) {
        const std::string kind = argv[i];
        bool ok = false;
        if (kind == "pcm16") {
            ok = save_bank(dir, kind, pcm16(frames), frames, 2);
        } else if (kind == "pcm16-many") {
            // The same frames in kManySounds sounds: a bank to replace one sound of.
            ok = save_bank(dir, kind, pcm16(frames / kManySounds), frames / kManySounds, 2, {}, kManySounds);
        } else if (kind == "ima" || kind == "gcadpcm" || kind == "vag" || kind == "fadpcm") {
            ok = make_adpcm(dir, kind, frames);
        } else if (kind == "mpeg") {
            ok = make_mpeg(dir, frames);
        } else if (kind == "empty-many") {
            ok = make_empty_many(dir, frames);  // FRAMES is the count of sounds here
        } else if (kind == "vorbis" || kind == "vorbis-many") {
            ok = make_vorbis(dir, frames, kind == "vorbis-many");
        } else {
            std::fprintf(stderr, "make_bench_banks: unknown kind %s\n", kind.c_str());
        }
        if (!ok) return 1;
    }
    return 0;
}
