// Makes the fuzzers' seed inputs with the bank writer: small banks of every
// family and every codec we decode (and two we do not), .bank files, banks
// back to back; and subsound names for the naming target.
//   make_fuzz_seeds BANK_DIR NAME_DIR UNITY_DIR
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "support/unity_writer.h"
#include "vorbis_encoder.h"
#include "soundlib/codec/vorbis/vorbis_setup.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

constexpr double kPi = 3.14159265358979323846;

// Deterministic filler for the codes of ADPCM blocks.
struct Noise {
    std::uint32_t state = 12345;
    std::uint8_t next() {
        state = state * 1103515245u + 12345u;
        return static_cast<std::uint8_t>(state >> 16);
    }
    Bytes bytes(std::size_t n) {
        Bytes b(n);
        for (auto& x : b) x = next();
        return b;
    }
};
Noise noise;

Sound sound(const std::string& name, std::uint32_t channels, std::uint32_t frames, Bytes data,
            std::uint32_t flags = 0x10, std::uint32_t frequency = 44100) {
    Sound s;
    s.name = name;
    s.channels = channels;
    s.frequency = frequency;
    s.frames = frames;
    s.data = std::move(data);
    s.flags = flags;
    s.loop_end = frames ? frames - 1 : 0;
    return s;
}

// A tone as little-endian samples of `bytes` each (float when `as_float`).
Bytes pcm(std::uint32_t channels, std::uint32_t frames, int bytes, bool as_float = false) {
    Bytes b;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double v = 0.5 * std::sin(2 * kPi * 440.0 * (c + 1) * i / 44100);
            std::uint32_t word;
            if (as_float) {
                const float f = static_cast<float>(v);
                std::memcpy(&word, &f, 4);
            } else {
                word = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 2147483647.0)));
                word >>= 8 * (4 - bytes);
            }
            for (int k = 0; k < bytes; ++k) b.push_back(static_cast<std::uint8_t>(word >> (8 * k)));
        }
    }
    return b;
}

// Blocks of `block_bytes` with `header(block)` fixing what must be valid.
template <typename Fix>
Bytes blocks(std::size_t count, std::size_t block_bytes, Fix header) {
    Bytes b;
    for (std::size_t i = 0; i < count; ++i) {
        Bytes block = noise.bytes(block_bytes);
        header(block);
        b.insert(b.end(), block.begin(), block.end());
    }
    return b;
}

// Xbox IMA: per channel a first sample, a step index (0..88) and a reserved
// byte; up to two channels each header whole, beyond that the samples first.
Bytes ima(std::uint32_t channels, std::size_t count) {
    return blocks(count, 36 * channels, [&](Bytes& b) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::size_t step = channels <= 2 ? 4 * c + 2 : 2 * channels + 2 * c;
            b[step] = static_cast<std::uint8_t>(b[step] % 89);
            b[step + 1] = 0;
        }
    });
}
// 16-byte frames led by filter (0..max_filter) and shift.
Bytes vag(std::uint32_t channels, std::size_t count, unsigned filters) {
    return blocks(count * channels, 16, [&](Bytes& b) {
        b[0] = static_cast<std::uint8_t>(((b[0] >> 4) % filters) << 4 | (b[0] & 0x0F) % 13);
        b[1] = 0;
    });
}
// 8-byte frames led by coefficient pair (0..7) and scale; interleaved, the
// channels share each frame's span in 2-byte pieces.
Bytes gc(std::uint32_t channels, std::size_t count, bool interleaved) {
    const std::uint32_t lanes = interleaved ? channels : 1;
    return blocks(count * channels / lanes, 8 * lanes, [&](Bytes& b) {
        for (std::uint32_t c = 0; c < lanes; ++c) b[2 * c] &= 0x7B;
    });
}
// 140-byte frames: coefficient indices 0..4, small shifts.
Bytes fadpcm(std::uint32_t channels, std::size_t count) {
    return blocks(count * channels, 140, [](Bytes& b) {
        for (int k = 0; k < 4; ++k) b[k] = static_cast<std::uint8_t>((b[k] % 5) | ((b[k] >> 4) % 5) << 4);
        for (int k = 4; k < 8; ++k) b[k] = static_cast<std::uint8_t>(b[k] & 0x33);
    });
}
// GC DSP set-up per channel: 16 big-endian coefficients, then 14 bytes.
Bytes gc_setup(std::uint32_t channels) {
    static constexpr std::int16_t kCoefficients[16] = {0,    0,     2048, 0,     3840, -1792, 3136, -1888,
                                                       3904, -1920, 1024, -512,  1800, -800,  2600, -1200};
    Bytes b;
    for (std::uint32_t c = 0; c < channels; ++c) {
        for (const std::int16_t k : kCoefficients) {
            b.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(k) >> 8));
            b.push_back(static_cast<std::uint8_t>(k));
        }
        b.resize(b.size() + 14, 0);
    }
    return b;
}

// Silent MPEG frames: a header, then zeros, each padded to `padding`.
Bytes mpeg(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::size_t length, int count, std::size_t padding) {
    Bytes b;
    for (int i = 0; i < count; ++i) {
        Bytes frame(length, 0);
        frame[0] = 0xFF;
        frame[1] = b1;
        frame[2] = b2;
        frame[3] = b3;
        b.insert(b.end(), frame.begin(), frame.end());
        while (b.size() % padding) b.push_back(0);
    }
    return b;
}

// Real Vorbis packets from stock libvorbisenc at quality step 50 (the first a
// search tries), each after its u16 length, and chunk 11 with the set-up's
// CRC and a one-entry seek table.
Sound vorbis(const std::string& name, std::uint32_t channels, std::uint32_t rate, std::uint32_t frames) {
    Sound s = sound(name, channels, frames, {}, 0, rate);
    bankwriter::VorbisEncoding e;
    const auto tone = [&](std::uint32_t c, std::uint32_t f) {
        return static_cast<float>(0.4 * std::sin(2 * kPi * (440.0 + 220 * c) * f / rate));
    };
    if (!bankwriter::encode_vorbis(channels, rate, soundlib::vorbis_quality_for_step(50), frames, tone, e)) return s;
    s.data = bankwriter::vorbis_packet_data(e.packets);
    s.chunks.push_back({11, bankwriter::vorbis_setup_chunk(soundlib::crc32(e.setup.data(), e.setup.size()))});
    return s;
}

Bytes join(const std::vector<Bytes>& parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

bool failed = false;
void save(const std::string& dir, const std::string& name, const Bytes& bytes) {
    if (!bankwriter::save(dir + "/" + name, bytes)) {
        std::perror((dir + "/" + name).c_str());
        failed = true;
    }
}

void make_banks(const std::string& dir) {
    // FSB3 and FSB4: PCM of each kind, ADPCM codecs, MPEG.
    const Sound pcm16_mono = sound("mono.wav", 1, 256, pcm(1, 256, 2));
    const Sound pcm16_stereo = sound("stereo.wav", 2, 128, pcm(2, 128, 2));
    save(dir, "fsb3_0_pcm16", bankwriter::write_fsb3({pcm16_mono}, 0x00030000));
    save(dir, "fsb3_1_pcm8", bankwriter::write_fsb3({sound("u8", 1, 200, pcm(1, 200, 1), 0x08 | 0x80)}));
    save(dir, "fsb4_pcm16", bankwriter::write_fsb4({pcm16_mono, pcm16_stereo}));
    save(dir, "fsb4_pcm16_big_endian", bankwriter::write_fsb4({pcm16_stereo}, 0x08));
    save(dir, "fsb4_pcm8_signed", bankwriter::write_fsb4({sound("s8", 2, 100, pcm(2, 100, 1), 0x08 | 0x100)}));
    save(dir, "fsb4_pcm32", bankwriter::write_fsb4({sound("p32", 1, 64, pcm(1, 64, 4), 0x200000)}));
    save(dir, "fsb4_ima", bankwriter::write_fsb4({sound("ima1", 1, 256, ima(1, 4), 0x400000),
                                                  sound("ima2", 2, 200, ima(2, 4), 0x400000)}, 0x40));
    save(dir, "fsb4_vag", bankwriter::write_fsb4({sound("vag", 2, 280, vag(2, 10, 5), 0x800000)}));
    Sound gc4 = sound("gc", 2, 140, gc(2, 10, true), 0x2000000);
    gc4.extra = gc_setup(2);
    save(dir, "fsb4_gcadpcm", bankwriter::write_fsb4({gc4}));
    gc4.data = gc(2, 10, false);
    save(dir, "fsb4_gcadpcm_split", bankwriter::write_fsb4({gc4}, 0x10));
    // MPEG-1 layer III stereo at 128 kbps, layer II mono at 160 kbps.
    const Sound l3 = sound("l3.mp3", 2, 3 * 1152 - 10, mpeg(0xFB, 0x90, 0x00, 417, 3, 2), 0x200 | 0x40);
    save(dir, "fsb4_mpeg", bankwriter::write_fsb4({l3}, 0x20));
    const Sound l2 = sound("l2.mp2", 1, 2 * 1152, mpeg(0xFD, 0x90, 0xC0, 522, 2, 4), 0x200 | 0x40000);
    save(dir, "fsb4_mpeg_layer2", bankwriter::write_fsb4({l2}, 0x40));
    save(dir, "fsb4_xma", bankwriter::write_fsb4({sound("xma", 1, 100, noise.bytes(64), 0x1000000), pcm16_mono}));

    // FSB5: every codec number we read, with chunks.
    Sound loop = pcm16_stereo;
    loop.chunks.push_back({3, Bytes{4, 0, 0, 0, 100, 0, 0, 0}});
    save(dir, "fsb5_pcm8", bankwriter::write_fsb5({sound("a", 1, 300, pcm(1, 300, 1))}, 1));
    save(dir, "fsb5_pcm16", bankwriter::write_fsb5({pcm16_mono, loop}, 2));
    save(dir, "fsb5_pcm16_big_endian", bankwriter::write_fsb5({pcm16_stereo}, 2, 0x01));
    save(dir, "fsb5_pcm24", bankwriter::write_fsb5({sound("p24", 3, 50, pcm(3, 50, 3), 0, 12345)}, 3));
    save(dir, "fsb5_pcm32", bankwriter::write_fsb5({sound("p32", 2, 50, pcm(2, 50, 4))}, 4));
    save(dir, "fsb5_pcmfloat", bankwriter::write_fsb5({sound("f", 1, 80, pcm(1, 80, 4, true), 0, 48000)}, 5));
    Sound gc5 = sound("gc", 1, 140, gc(1, 10, true));
    gc5.chunks.push_back({7, gc_setup(1)});
    save(dir, "fsb5_gcadpcm", bankwriter::write_fsb5({gc5}, 6));
    save(dir, "fsb5_ima", bankwriter::write_fsb5({sound("", 1, 128, ima(1, 2)), sound("", 6, 64, ima(6, 1))}, 7));
    save(dir, "fsb5_vag", bankwriter::write_fsb5({sound("v", 1, 280, vag(1, 10, 5))}, 8));
    save(dir, "fsb5_hevag", bankwriter::write_fsb5({sound("h", 1, 280, vag(1, 10, 16))}, 9));
    save(dir, "fsb5_mpeg", bankwriter::write_fsb5({sound("m", 2, 3 * 1152, mpeg(0xFB, 0x90, 0x00, 417, 3, 4))}, 11));
    // Framing the stream itself tells: layer II back to back, one frame and
    // zero padding, padding that holds a header, a LAME tag frame first.
    save(dir, "fsb5_mpeg_back_to_back",
         bankwriter::write_fsb5({sound("l2", 2, 3 * 1152, mpeg(0xFD, 0x90, 0x04, 522, 3, 1))}, 11));
    Bytes one = mpeg(0xFB, 0x20, 0xC4, 130, 1, 1);
    one.resize(160, 0);
    save(dir, "fsb5_mpeg_one_frame", bankwriter::write_fsb5({sound("one", 1, 1152, one)}, 11));
    Bytes lookalike = mpeg(0xFB, 0x90, 0x00, 417, 4, 16);
    for (std::size_t at = 417; at < lookalike.size(); at += 432) std::memcpy(&lookalike[at], "\xFF\xFB\x92\x00", 4);
    save(dir, "fsb5_mpeg_header_in_padding", bankwriter::write_fsb5({sound("p", 2, 4 * 1152, lookalike)}, 11));
    Bytes tagged = mpeg(0xFB, 0x90, 0x00, 417, 4, 1);
    std::memcpy(&tagged[4 + 32], "Info", 4);
    save(dir, "fsb5_mpeg_tagged", bankwriter::write_fsb5({sound("t", 2, 4 * 1152 - 10, tagged)}, 11));
    save(dir, "fsb5_fadpcm", bankwriter::write_fsb5({sound("fa", 2, 512, fadpcm(2, 2))}, 16));
    // Two subsounds of one set-up: one set-up made per input.
    const Sound v = vorbis("v1", 2, 22050, 2000);
    Sound v2 = v;
    v2.name = "v2";
    v2.loop_start = 500;
    save(dir, "fsb5_vorbis", bankwriter::write_fsb5({v, v2}, 15));
    // A rate outside the tabulated ones: its set-up is searched for.
    save(dir, "fsb5_vorbis_searched", bankwriter::write_fsb5({vorbis("odd", 1, 50000, 1000)}, 15));

    // Layouts real banks have, small: Vorbis at 8 kHz (one block size)
    // inside a .bank's "SND " chunk; a Unity-style run of banks, each padded
    // to 16 bytes; four-channel MPEG (two stereo streams frame by frame)
    // padded to 16; the smallest layer III frames with garbage bodies, which
    // libmpg123 cannot decode whole.
    save(dir, "fev_vorbis_8k", bankwriter::write_fev({bankwriter::write_fsb5({vorbis("low", 1, 8000, 1500)}, 15)}));
    Bytes unity;
    for (const Bytes& bank : {bankwriter::write_fsb5({vorbis("u1", 2, 44100, 1200)}, 15),
                              bankwriter::write_fsb5({sound("u2", 1, 64, pcm(1, 64, 2))}, 2),
                              bankwriter::write_fsb5({sound("u3", 1, 256, fadpcm(1, 1))}, 16)}) {
        unity.insert(unity.end(), bank.begin(), bank.end());
        while (unity.size() % 16) unity.push_back(0);
    }
    save(dir, "unity_sequence", unity);
    // Banks nested in each other's chunks, for the scan's bounded probes.
    save(dir, "nested_fsb5_chunks", bankwriter::write_nested_fsb5(4096, 16));
    Bytes four;
    for (int i = 0; i < 4; ++i) {
        for (int stream = 0; stream < 2; ++stream) {
            const Bytes frame = mpeg(0xFB, 0x24, 0x00, 120, 1, 16);
            four.insert(four.end(), frame.begin(), frame.end());
        }
    }
    save(dir, "fsb5_mpeg_four_channels", bankwriter::write_fsb5({sound("quad", 4, 4 * 1152, four, 0, 48000)}, 11));
    Bytes tiny;
    for (int i = 0; i < 64; ++i) {
        Bytes frame = noise.bytes(26);
        frame[0] = 0xFF;
        frame[1] = 0xF3;
        frame[2] = 0x10;
        frame[3] = 0x00;
        tiny.insert(tiny.end(), frame.begin(), frame.end());
        while (tiny.size() % 4) tiny.push_back(0);
    }
    save(dir, "fsb5_mpeg_garbage_bodies", bankwriter::write_fsb5({sound("g", 2, 64 * 576, tiny, 0, 22050)}, 11));

    // Containers: .bank files, banks back to back.
    const Bytes first = bankwriter::write_fsb5({sound("", 1, 100, pcm(1, 100, 2)), sound("", 1, 60, pcm(1, 60, 2))}, 2);
    const Bytes second = bankwriter::write_fsb5({sound("", 2, 30, fadpcm(2, 1))}, 16);
    save(dir, "fev_two_banks", bankwriter::write_fev({first, join({second, first})}));
    save(dir, "fev_no_audio", bankwriter::write_fev({}));
    save(dir, "back_to_back", join({first, second, bankwriter::write_fsb4({pcm16_mono})}));
}

std::string three_byte_characters(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "\xE3\x81\x82";
    return s;
}

void make_names(const std::string& dir) {
    // As the naming target reads them: names separated by "\ ", the index of
    // each taken from the end.
    const std::vector<std::pair<const char*, std::string>> seeds = {
        {"plain", std::string("boom.ogg\\ boom.ogg\\ boom\\ boom.wav\\ ") + std::string(16, '\x01')},
        {"separators", std::string("a/b\\\\c.mp3\\ ..\\ .\\ \\ /\\ x.\\ .wav") + std::string(12, '\x02')},
        {"control", std::string("\x1b[2J.wav\\ line\nfeed\x7f.ogg\\ ") + std::string(8, '\0')},
        {"fallback", std::string("subsound_0003.wav\\ \\ subsound_0003 (2).wav\\ ") + std::string(12, '\x03')},
        {"long", std::string(300, 'n') + ".ogg\\ " + std::string(253, 'n') + "\\ " + std::string(8, '\x05')},
        {"utf8", three_byte_characters(90) + ".ogg\\ " + std::string(8, '\x06')},
    };
    for (const auto& [name, bytes] : seeds) save(dir, name, Bytes(bytes.begin(), bytes.end()));
}

// Serialized files: each way of writing the header, the type list and the
// object table, with clips to read.
void make_unity(const std::string& dir) {
    const std::vector<unitywriter::Clip> clips = {{20, "tick-tock", "sharedassets0.resource", 0, 4096},
                                                  {21, "coin-1", "sharedassets0.resource", 4096, 1234}};
    for (const std::uint32_t format : {9u, 10u, 12u, 15u, 17u, 19u, 21u, 22u}) {
        for (const bool trees : {false, true}) {
            unitywriter::Layout layout;
            layout.format = format;
            layout.type_trees = trees;
            layout.big_endian = format % 2 == 0;
            layout.extra_field = trees && format >= 17;
            layout.common_strings = trees && format >= 19;
            layout.unity_version = format >= 22 ? "2020.3.36f1" : format >= 17 ? "2017.3.1f1" : "5.6.0f3";
            const unitywriter::Bytes file = unitywriter::write_serialized(layout, clips);
            save(dir, "format" + std::to_string(format) + (trees ? "_trees" : ""), Bytes(file.begin(), file.end()));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_fuzz_seeds BANK_DIR NAME_DIR UNITY_DIR\n");
        return 2;
    }
    make_banks(argv[1]);
    make_names(argv[2]);
    make_unity(argv[3]);
    return failed ? 1 : 0;
}
