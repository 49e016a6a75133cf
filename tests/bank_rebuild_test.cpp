// Putting sounds back (--replace): banks rebuilt with some sounds replaced by
// WAV files are read again by our reader, with every other sound, and every
// header field that need not move, as it was; a rebuild from the unpack's own
// files is the bank byte for byte; bad replacement files leave no bank.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <numbers>
#include <set>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "soundlib/codec/sound_encoder.h"
#include "soundlib/io/bank_cipher.h"
#include "support/bank_audio.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using testbanks::corpus_banks;
using testbanks::open_bank;

using bankwriter::Bytes;

const std::string kCorpus = CORPUS_DIR;

void put_le(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A WAV file: 8-bit unsigned, 16/24/32-bit integer or (bits 0) 32-bit float
// samples given as raw little-endian bytes.
struct Wav {
    std::uint32_t rate = 44100;
    std::uint32_t channels = 1;
    int bits = 16;  // 0: float
    Bytes data;
    bool loop = false;
    std::uint32_t loop_start = 0, loop_end = 0;
};

Bytes wav_bytes(const Wav& w) {
    const int bytes = w.bits == 0 ? 4 : w.bits / 8;
    Bytes fmt;
    put_le(fmt, w.bits == 0 ? 3 : 1, 2);
    put_le(fmt, w.channels, 2);
    put_le(fmt, w.rate, 4);
    put_le(fmt, static_cast<std::uint64_t>(w.rate) * w.channels * bytes, 4);
    put_le(fmt, w.channels * bytes, 2);
    put_le(fmt, bytes * 8, 2);
    Bytes body{'W', 'A', 'V', 'E'};
    auto chunk = [&](const char* id, const Bytes& payload) {
        body.insert(body.end(), id, id + 4);
        put_le(body, payload.size(), 4);
        body.insert(body.end(), payload.begin(), payload.end());
        if (payload.size() & 1) body.push_back(0);
    };
    chunk("fmt ", fmt);
    chunk("data", w.data);
    if (w.loop) {
        Bytes smpl(36 + 24, 0);
        smpl[28] = 1;
        for (int i = 0; i < 4; ++i) {
            smpl[36 + 8 + i] = static_cast<std::uint8_t>(w.loop_start >> (8 * i));
            smpl[36 + 12 + i] = static_cast<std::uint8_t>(w.loop_end >> (8 * i));
        }
        chunk("smpl", smpl);
    }
    Bytes out{'R', 'I', 'F', 'F'};
    put_le(out, body.size(), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A tone of `frames` frames in the library's decoded format of `bits` bits
// (8: unsigned; 0: float): its bytes are what the replaced sound must decode to.
Bytes tone(std::uint64_t frames, std::uint32_t channels, int bits, double hz = 441.0) {
    Bytes out;
    for (std::uint64_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const auto v = static_cast<std::int32_t>(std::lround(9000 * std::sin(0.01 * hz * (c + 1) * i)));
            if (bits == 8) {
                out.push_back(static_cast<std::uint8_t>(128 + v / 256));
            } else if (bits == 16) {
                put_le(out, static_cast<std::uint32_t>(v), 2);
            } else if (bits == 24) {
                put_le(out, static_cast<std::uint32_t>(v) << 8, 3);
            } else if (bits == 32) {
                put_le(out, static_cast<std::uint32_t>(v) << 16, 4);
            } else {
                const float f = static_cast<float>(v) / 32768.0f;
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                put_le(out, u, 4);
            }
        }
    }
    return out;
}

int library_bits(const soundlib::PcmFormat& f) { return f.format == FMOD_SOUND_FORMAT_PCMFLOAT ? 0 : f.bits; }

bool is_pcm(soundlib::Codec c) {
    using soundlib::Codec;
    return c == Codec::pcm8 || c == Codec::pcm16 || c == Codec::pcm24 || c == Codec::pcm32 || c == Codec::pcmfloat;
}

// The bytes of sound i's header as stored: FSB5 with its data offset masked
// out (it moves), FSB3/FSB4 as they are.
Bytes stored_header(soundlib::Bank& bank, int i) {
    const auto& parts = bank.parts();
    const soundlib::BankPart* part = &parts.front();
    for (const auto& p : parts) {
        if (p.first_index <= static_cast<std::uint32_t>(i)) part = &p;
    }
    const auto& records = bank.records();
    const std::uint32_t in_part = static_cast<std::uint32_t>(i) - part->first_index;
    const std::uint64_t from = part->headers_start + records[static_cast<std::size_t>(i)].header;
    const std::uint64_t headers_end = part->family == soundlib::BankFamily::fsb5 ? part->names_start : part->data_start;
    const std::uint64_t to = in_part + 1 < part->count
                                 ? part->headers_start + records[static_cast<std::size_t>(i) + 1].header
                                 : headers_end;
    Bytes b(static_cast<std::size_t>(to - from));
    bank.file().read_exact(from, b.data(), b.size());
    if (part->family == soundlib::BankFamily::fsb5 && b.size() >= 8) {
        // Its word and chunks, without what pads the header region after them.
        std::size_t end = 8;
        for (bool more = b[0] & 1; more && end + 4 <= b.size();) {
            const std::uint32_t c = b[end] | b[end + 1] << 8 | b[end + 2] << 16 |
                                    static_cast<std::uint32_t>(b[end + 3]) << 24;
            more = c & 1;
            end += 4 + ((c >> 1) & 0x00FFFFFF);
        }
        b.resize(std::min(end, b.size()));
        b[0] &= 0x7F;
        for (int k = 1; k < 4; ++k) b[k] = 0;
        b[4] &= 0xFC;
    }
    return b;
}

// The main header of the first bank with the fields that move (sizes) zeroed.
Bytes main_header(soundlib::Bank& bank) {
    const soundlib::BankPart& part = bank.parts().front();
    Bytes b(static_cast<std::size_t>(part.headers_start - part.start));
    bank.file().read_exact(part.start, b.data(), b.size());
    const bool fsb5 = part.family == soundlib::BankFamily::fsb5;
    for (const std::size_t at : fsb5 ? std::vector<std::size_t>{0x0C, 0x14} : std::vector<std::size_t>{0x0C}) {
        for (int k = 0; k < 4; ++k) b[at + k] = 0;
    }
    return b;
}

// Unpacks `bank` into dir/u (every sound as a WAV), runs --replace with
// dir/u into dir/r, and gives the tool's run.
ToolRun unpack(const TempDir& dir, const std::string& bank, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"-q", "-o", dir.file("u")};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(bank);
    return run_bankrip(args);
}

ToolRun rebuild(const TempDir& dir, const std::string& bank, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"--replace", dir.file("u"), "-o", dir.file("r")};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(bank);
    return run_bankrip(args);
}

std::string rebuilt_path(const TempDir& dir, const std::string& bank) {
    return dir.file("r/" + std::filesystem::path(bank).filename().string());
}

// Each sound's file name in the unpack, from --json.
std::vector<std::string> sound_files(const std::string& bank, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"-l", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(bank);
    const ToolRun run = run_bankrip(args);
    std::vector<std::string> names;
    EXPECT_EQ(0, run.status) << run.err;
    if (run.status != 0) return names;
    const auto doc = nlohmann::json::parse(run.out);
    for (const auto& s : doc["banks"][0]["sounds"]) {
        names.push_back(std::filesystem::path(s["output"].get<std::string>()).filename().string());
    }
    return names;
}

// Checks that `after` is `before` with sound `replaced` (if any) passing
// `heard` on its decoded bytes, every other sound decoding and stored as it was.
void expect_same_but(soundlib::Bank& before, soundlib::Bank& after, int replaced,
                     const std::function<void(const Bytes&)>& heard) {
    ASSERT_EQ(before.count(), after.count());
    EXPECT_EQ(main_header(before), main_header(after)) << "main header fields other than sizes";
    for (int i = 0; i < before.count(); ++i) {
        EXPECT_EQ(before.name(i), after.name(i)) << "sound " << i;
        if (i == replaced) {
            heard(testbanks::decoded_audio(after, i));
            continue;
        }
        EXPECT_TRUE(testbanks::decoded_audio(before, i) == testbanks::decoded_audio(after, i)) << "sound " << i << " decodes as before";
        EXPECT_EQ(stored_header(before, i), stored_header(after, i)) << "sound " << i << "'s header";
        const soundlib::SubsoundInfo a = before.info(i), b = after.info(i);
        EXPECT_EQ(a.data.size, b.data.size) << "sound " << i << "'s stored bytes";
        Bytes da(a.data.size), db(b.data.size);
        before.file().read_exact(a.data.offset, da.data(), da.size());
        after.file().read_exact(b.data.offset, db.data(), db.size());
        EXPECT_TRUE(da == db) << "sound " << i << "'s stored bytes";
    }
}

// The same, with the replaced sound decoding to exactly `expected`.
void expect_same_but(soundlib::Bank& before, soundlib::Bank& after, int replaced, const Bytes& expected) {
    expect_same_but(before, after, replaced, [&](const Bytes& got) {
        EXPECT_TRUE(got == expected) << "the replaced sound " << replaced << " decodes to the tone";
    });
}

bool corpus_present() { return std::filesystem::is_directory(kCorpus + "/banks"); }

// ---------------------------------------------------------------------------

TEST(Rebuild, UntouchedUnpackRebuildsEveryCorpusBankByteForByte) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    int banks = 0;
    for (const std::string& bank : corpus_banks({"banks", "synthetic", "containers", "vorbis", "vorbis-mobile",
                                                  "vorbis-unmatched", "encrypted", "loops"})) {
        SCOPED_TRACE(bank);
        TempDir dir;
        unpack(dir, bank);
        if (!std::filesystem::is_directory(dir.file("u"))) continue;  // a bank without sounds
        const ToolRun run = rebuild(dir, bank, {"--json"});
        if (bank.ends_with(".resource")) {
            EXPECT_NE(0, run.status);
            EXPECT_NE(std::string::npos, run.err.find("Unity")) << run.err;
            EXPECT_FALSE(std::filesystem::exists(dir.file("r")) && !list_dir(dir.file("r")).empty());
            continue;
        }
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_TRUE(read_file(bank) == read_file(rebuilt_path(dir, bank))) << "the rebuilt bank differs";
        const auto doc = nlohmann::json::parse(run.out);
        for (const auto& s : doc["sounds"]) {
            EXPECT_EQ("kept", s["status"]);
            EXPECT_TRUE(s.contains("from")) << "every sound had its file";
        }
        ++banks;
    }
    EXPECT_GT(banks, 40);
}

TEST(Rebuild, OneCorpusPcmSoundReplacedByAToneOfItsRateAndChannels) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    int rebuilt = 0;
    for (const std::string& bank : corpus_banks({"banks", "synthetic", "loops"})) {
        auto before = open_bank(bank);
        if (!before) continue;
        int pick = -1;
        for (int i = 0; i < before->count() && pick < 0; ++i) {
            if (is_pcm(before->info(i).codec)) pick = i;
        }
        if (pick < 0) continue;
        SCOPED_TRACE(bank + ", sound " + std::to_string(pick));
        const soundlib::SubsoundInfo info = before->info(pick);
        FMOD_RESULT code;
        soundlib::PcmStream* stream = before->stream(pick, code);
        ASSERT_TRUE(stream) << "a PCM sound of the corpus that does not decode";
        const int bits = library_bits(stream->format());
        TempDir dir;
        ASSERT_EQ(0, unpack(dir, bank).status);
        // Shorter than the sound, and not a whole number of anything.
        Wav w;
        w.rate = info.frequency;
        w.channels = info.channels;
        w.bits = bits;
        w.data = tone(info.frames / 2 + 7, info.channels, bits);
        const std::vector<std::string> files = sound_files(bank);
        ASSERT_LT(static_cast<std::size_t>(pick), files.size());
        write_file(dir.file("u/" + files[static_cast<std::size_t>(pick)]), wav_bytes(w));
        const ToolRun run = rebuild(dir, bank);
        ASSERT_EQ(0, run.status) << run.err;
        auto after = open_bank(rebuilt_path(dir, bank));
        ASSERT_TRUE(after);
        expect_same_but(*before, *after, pick, w.data);
        EXPECT_EQ(info.frames / 2 + 7, after->info(pick).frames);
        ++rebuilt;
    }
    EXPECT_GT(rebuilt, 20);
}

// Three PCM16 sounds in a bank of our own making; the middle one replaced.
struct Made {
    TempDir dir;
    std::string bank;
    std::unique_ptr<soundlib::Bank> before;
};

std::vector<bankwriter::Sound> three_sounds() {
    std::vector<bankwriter::Sound> sounds;
    const char* names[] = {"first", "middle", "last"};
    for (int i = 0; i < 3; ++i) {
        bankwriter::Sound s;
        s.name = names[i];
        s.frames = 1000 + 333 * i;
        s.frequency = 44100;
        s.channels = 1;
        s.data = tone(s.frames, 1, 16, 100.0 * (i + 1));
        s.loop_start = 0;
        s.loop_end = s.frames - 1;
        if (i == 1) {
            s.loop_start = 100;
            s.loop_end = 900;
        }
        sounds.push_back(std::move(s));
    }
    return sounds;
}

void make(Made& m, const Bytes& bytes, const char* name, std::vector<std::string> keys = {}) {
    m.bank = m.dir.file(name);
    write_file(m.bank, bytes);
    m.before = open_bank(m.bank, keys);
    ASSERT_TRUE(m.before);
    std::vector<std::string> extra;
    for (const auto& k : keys) extra.insert(extra.end(), {"-k", k});
    ASSERT_EQ(0, unpack(m.dir, m.bank, extra).status);
}

Bytes fsb5_three() {
    auto sounds = three_sounds();
    for (auto& s : sounds) {
        Bytes loop(8);
        for (int k = 0; k < 4; ++k) {
            loop[k] = static_cast<std::uint8_t>(s.loop_start >> (8 * k));
            loop[4 + k] = static_cast<std::uint8_t>(s.loop_end >> (8 * k));
        }
        s.chunks.push_back({3, loop});
        s.chunks.push_back({13, Bytes{1, 2, 3, 4}});  // not understood: kept
    }
    return bankwriter::write_fsb5(sounds, 2);
}

Bytes fsb4_three() {
    auto sounds = three_sounds();
    sounds[1].flags = 0x10 | 0x02;  // 16-bit, loop normal
    return bankwriter::write_fsb4(sounds);
}

struct Case {
    const char* what;
    Wav wav;
    std::uint32_t want_rate, want_channels;
    bool want_loop;
    std::uint32_t want_loop_start, want_loop_end;
};

// What the kinds of replacement become, in FSB5 and FSB4 banks.
void check_cases(const std::function<Bytes()>& bank_bytes, const char* name) {
    std::vector<Case> cases;
    auto wav = [](std::uint32_t rate, std::uint32_t channels, std::uint64_t frames) {
        Wav w;
        w.rate = rate;
        w.channels = channels;
        w.data = tone(frames, channels, 16, 777.0);
        return w;
    };
    cases.push_back({"longer, the old loop still inside", wav(44100, 1, 5000), 44100, 1, true, 100, 900});
    cases.push_back({"shorter than the old loop: no loop", wav(44100, 1, 500), 44100, 1, false, 0, 0});
    cases.push_back({"a rate of the table", wav(22050, 1, 1333), 22050, 1, true, 100, 900});
    cases.push_back({"a rate of no table", wav(12345, 1, 1333), 12345, 1, true, 100, 900});
    cases.push_back({"three channels", wav(44100, 3, 1333), 44100, 3, true, 100, 900});
    Wav looped = wav(44100, 2, 8000);
    looped.loop = true;
    looped.loop_start = 2000;
    looped.loop_end = 5999;
    cases.push_back({"its own loop", looped, 44100, 2, true, 2000, 5999});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Made m;
        make(m, bank_bytes(), name);
        write_file(m.dir.file("u/middle.wav"), wav_bytes(c.wav));
        const ToolRun run = rebuild(m.dir, m.bank);
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("replaced from")) << run.err;
        auto after = open_bank(rebuilt_path(m.dir, m.bank));
        ASSERT_TRUE(after);
        expect_same_but(*m.before, *after, 1, c.wav.data);
        const soundlib::SubsoundInfo info = after->info(1);
        EXPECT_EQ(c.want_rate, info.frequency);
        EXPECT_EQ(c.want_channels, info.channels);
        EXPECT_EQ(c.want_loop, info.loops);
        if (c.want_loop) {
            EXPECT_EQ(c.want_loop_start, info.loop_start);
            EXPECT_EQ(c.want_loop_end, info.loop_end);
        }
        // Rebuilt again from its own unpack: nothing changes.
        TempDir again;
        ASSERT_EQ(0, unpack(again, rebuilt_path(m.dir, m.bank)).status);
        ASSERT_EQ(0, rebuild(again, rebuilt_path(m.dir, m.bank)).status);
        EXPECT_TRUE(read_file(rebuilt_path(m.dir, m.bank)) == read_file(rebuilt_path(again, m.bank)));
    }
}

TEST(Rebuild, Fsb5ReplacementsLongerShorterOtherRatesChannelsAndLoops) { check_cases(fsb5_three, "three.fsb"); }

TEST(Rebuild, Fsb4ReplacementsLongerShorterOtherRatesChannelsAndLoops) { check_cases(fsb4_three, "three.fsb"); }

TEST(Rebuild, Fsb3ReplacementsLongerShorterOtherRatesChannelsAndLoops) {
    for (const std::uint32_t version : {0x00030000u, 0x00030001u}) {
        SCOPED_TRACE(version);
        check_cases(
            [version] {
                auto sounds = three_sounds();
                sounds[1].flags = 0x10 | 0x02;
                return bankwriter::write_fsb3(sounds, version);
            },
            "three.fsb");
    }
}

TEST(Rebuild, Fsb5Version0ReplacementsLongerShorterOtherRatesChannelsAndLoops) {
    // Version 0: the same bank with a main header of 0x40 bytes.
    check_cases(
        [] {
            Bytes b = fsb5_three();
            b[4] = 0;
            b.insert(b.begin() + 0x3C, 4, 0);
            return b;
        },
        "three.fsb");
}

TEST(Rebuild, ASoundWithNoDataSharesItWithNoneAfterIt) {
    // FSB3 and FSB4 put a sound's data where the one before it ends: after
    // a sound of no stored bytes, the next starts at the same offset, which
    // is no duplicate; replacing the first must not take the second's data.
    for (const std::uint32_t bank_flags : {0u, 0x40u}) {
        SCOPED_TRACE(bank_flags);
        auto sounds = three_sounds();
        sounds[0].data.clear();
        Made m;  // not unpacked: the first sound has no audio to give
        m.bank = m.dir.file("empty_first.fsb");
        write_file(m.bank, bankwriter::write_fsb4(sounds, bank_flags));
        m.before = open_bank(m.bank);
        ASSERT_TRUE(m.before);
        std::filesystem::create_directories(m.dir.file("u"));
        Wav w;
        w.data = tone(300, 1, 16);
        write_file(m.dir.file("u/first.wav"), wav_bytes(w));
        const ToolRun run = rebuild(m.dir, m.bank);
        ASSERT_EQ(0, run.status) << run.err;
        auto after = open_bank(rebuilt_path(m.dir, m.bank));
        ASSERT_TRUE(after);
        expect_same_but(*m.before, *after, 0, w.data);
    }
}

TEST(Rebuild, ShortHeadersKeepTheFirstSoundsRateAndChannelsForAll) {
    // Bank flag 0x02: sounds after the first have basic headers and take the
    // first one's rate and channels; so a file with others is refused for
    // any of them, naming what fits, and one with the same goes in.
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    const std::string bank = kCorpus + "/loops/loop_13_fsb4_basic_mode_2.fsb";
    for (const int which : {0, 2}) {
        SCOPED_TRACE(which);
        Made m;
        make(m, read_file(bank), "short.fsb");
        const std::string file = m.dir.file("u/" + sound_files(m.bank)[static_cast<std::size_t>(which)]);
        Wav other;
        other.rate = 22050;
        other.data = tone(700, 1, 16);
        write_file(file, wav_bytes(other));
        const ToolRun refused = rebuild(m.dir, m.bank);
        EXPECT_EQ(1, refused.status);
        EXPECT_NE(std::string::npos, refused.err.find("1 channels at 44100 Hz would fit")) << refused.err;
        EXPECT_FALSE(std::filesystem::exists(rebuilt_path(m.dir, m.bank)));
        Wav same = other;
        same.rate = 44100;
        write_file(file, wav_bytes(same));
        ASSERT_EQ(0, rebuild(m.dir, m.bank).status);
        auto after = open_bank(rebuilt_path(m.dir, m.bank));
        ASSERT_TRUE(after);
        expect_same_but(*m.before, *after, which, same.data);
    }
}

TEST(Rebuild, RateAndChannelChunksTooShortToSayAValueAreMadeToSayTheNewOne) {
    // Readers pass such chunks over and take the header's codes; a rebuilt
    // sound whose rate and channels no code can say must still say them.
    auto sounds = three_sounds();
    sounds[1].chunks = {{1, {}}, {2, {0x44, 0xAC}}};
    Made m;
    make(m, bankwriter::write_fsb5(sounds, 2), "short_chunks.fsb");
    Wav w;
    w.rate = 12345;
    w.channels = 3;
    w.data = tone(700, 3, 16);
    write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
    const ToolRun run = rebuild(m.dir, m.bank);
    ASSERT_EQ(0, run.status) << run.err;
    auto after = open_bank(rebuilt_path(m.dir, m.bank));
    ASSERT_TRUE(after);
    expect_same_but(*m.before, *after, 1, w.data);
    EXPECT_EQ(12345u, after->info(1).frequency);
    EXPECT_EQ(3u, after->info(1).channels);
}

TEST(Rebuild, AWholeSoundLoopAnFsb5BankCannotSayIsRefused) {
    Made m;
    make(m, fsb5_three(), "three.fsb");
    Wav w;
    w.data = tone(3000, 1, 16);
    w.loop = true;
    w.loop_start = 0;
    w.loop_end = 2999;
    write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
    const ToolRun run = rebuild(m.dir, m.bank, {"--list"});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("takes as no loop")) << run.err;
}

TEST(Rebuild, BankFileKeepsItsOtherChunksAndAlignsTheBank) {
    Made m;
    make(m, bankwriter::write_fev({fsb5_three()}), "three.bank");
    Wav w;
    w.data = tone(3001, 1, 16);  // odd sizes everywhere
    write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
    ASSERT_EQ(0, rebuild(m.dir, m.bank).status);
    const Bytes old_file = read_file(m.bank), new_file = read_file(rebuilt_path(m.dir, m.bank));
    auto after = open_bank(rebuilt_path(m.dir, m.bank));
    ASSERT_TRUE(after);
    expect_same_but(*m.before, *after, 1, w.data);
    // RIFF size, the bank on a multiple of 32, ending at its chunk's end.
    ASSERT_GE(new_file.size(), 12u);
    EXPECT_EQ(new_file.size() - 8, static_cast<std::size_t>(new_file[4] | new_file[5] << 8 | new_file[6] << 16 |
                                                            new_file[7] << 24));
    const std::uint64_t start = after->parts().front().start;
    EXPECT_EQ(0u, start % 32);
    const soundlib::BankPart& part = after->parts().front();
    EXPECT_EQ(0u, (part.data_end - part.data_start) % 32) << "the data region ends on 32, as the tool's";
    ASSERT_EQ(m.before->parts().front().start, start);
    // The "SND " chunk's size says where the bank ends; every chunk before
    // it is as it was.
    std::size_t snd = 12;
    while (snd + 8 <= new_file.size() && std::memcmp(&new_file[snd], "SND ", 4) != 0) {
        const std::uint32_t size = new_file[snd + 4] | new_file[snd + 5] << 8 | new_file[snd + 6] << 16 |
                                   static_cast<std::uint32_t>(new_file[snd + 7]) << 24;
        snd += 8 + size + (size & 1);
    }
    ASSERT_LT(snd + 8, new_file.size());
    EXPECT_TRUE(std::equal(old_file.begin() + 8, old_file.begin() + static_cast<std::ptrdiff_t>(snd) + 4,
                           new_file.begin() + 8))
        << "every chunk before the bank byte for byte";
    const std::uint32_t snd_size = new_file[snd + 4] | new_file[snd + 5] << 8 | new_file[snd + 6] << 16 |
                                   static_cast<std::uint32_t>(new_file[snd + 7]) << 24;
    EXPECT_EQ(after->parts().front().end, snd + 8 + snd_size);
}

// The float of FSB5 chunk 13 (the source's peak), or -1 without one.
float peak_chunk(soundlib::Bank& bank, int i) {
    const Bytes h = stored_header(bank, i);
    for (std::size_t at = 8, more = h.size() >= 8 ? h[0] & 1 : 0; more && at + 4 <= h.size();) {
        const std::uint32_t c = h[at] | h[at + 1] << 8 | h[at + 2] << 16 | static_cast<std::uint32_t>(h[at + 3]) << 24;
        more = c & 1;
        if (c >> 25 == 13 && at + 8 <= h.size()) {
            float f;
            std::memcpy(&f, &h[at + 4], 4);
            return f;
        }
        at += 4 + ((c >> 1) & 0x00FFFFFF);
    }
    return -1;
}

TEST(Rebuild, AReplacedSoundsPeakChunkIsItsFilesPeak) {
    const std::string bank = kCorpus + "/containers/fev_fadpcm_167.bank";
    if (!std::filesystem::exists(bank)) GTEST_SKIP() << "no corpus beside the project";
    Made m;
    m.bank = bank;
    m.before = open_bank(bank);
    ASSERT_TRUE(m.before);
    ASSERT_GT(peak_chunk(*m.before, 0), 0.0f) << "the studio tool's banks carry one on every sound";
    ASSERT_EQ(0, unpack(m.dir, bank).status);
    const soundlib::SubsoundInfo info = m.before->info(0);
    Wav w;
    w.rate = info.frequency;
    w.channels = info.channels;
    w.data = tone(5000, info.channels, 16);  // its peak: 9000 of 32768, or near it
    std::int32_t peak = 0;
    for (std::size_t k = 0; k + 1 < w.data.size(); k += 2) {
        peak = std::max(peak, std::abs(static_cast<std::int32_t>(static_cast<std::int16_t>(w.data[k] | w.data[k + 1] << 8))));
    }
    write_file(m.dir.file("u/" + sound_files(bank)[0]), wav_bytes(w));
    ASSERT_EQ(0, rebuild(m.dir, bank).status);
    auto after = open_bank(rebuilt_path(m.dir, bank));
    ASSERT_TRUE(after);
    EXPECT_EQ(static_cast<float>(peak / 32768.0), peak_chunk(*after, 0));
    for (int i = 1; i < 167; i += 33) EXPECT_EQ(peak_chunk(*m.before, i), peak_chunk(*after, i)) << i;
}

TEST(Rebuild, ABankFileWhoseHeadersGrowKeepsItsDataOnAMultipleOf32) {
    // A chunk (not understood, kept) of the size that puts the data region
    // on a multiple of 32, as the authoring tool's banks have it.
    Bytes fsb;
    for (std::size_t size = 0; size < 32; ++size) {
        auto sounds = three_sounds();
        sounds[0].chunks.push_back({13, Bytes(size, 7)});
        fsb = bankwriter::write_fsb5(sounds, 2);
        const std::uint64_t data_at = 0x3C + (fsb[0x0C] | fsb[0x0D] << 8) + (fsb[0x10] | fsb[0x11] << 8);
        if (data_at % 32 == 0) break;
    }
    Made m;
    make(m, bankwriter::write_fev({fsb}), "grow.bank");
    ASSERT_EQ(0u, (m.before->parts().front().data_start - m.before->parts().front().start) % 32);
    Wav w;
    w.rate = 12345;  // a rate chunk more in its header
    w.channels = 3;  // and a channel chunk
    w.data = tone(999, 3, 16);
    write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
    ASSERT_EQ(0, rebuild(m.dir, m.bank).status);
    auto after = open_bank(rebuilt_path(m.dir, m.bank));
    ASSERT_TRUE(after);
    const soundlib::BankPart& part = after->parts().front();
    EXPECT_GT(part.names_start - part.headers_start,
              m.before->parts().front().names_start - m.before->parts().front().headers_start);
    EXPECT_EQ(0u, part.data_start % 32);
    expect_same_but(*m.before, *after, 1, w.data);
    EXPECT_EQ(12345u, after->info(1).frequency);
    EXPECT_EQ(3u, after->info(1).channels);
}

TEST(Rebuild, EncryptedBanksAreEncryptedAgainWithTheirKey) {
    for (const bool fev : {false, true}) {
        SCOPED_TRACE(fev ? ".bank" : "bare FSB5");
        const Bytes encrypted = bankwriter::encrypt(fsb5_three(), "secret key");
        Made m;
        make(m, fev ? bankwriter::write_fev({encrypted}) : encrypted, fev ? "e.bank" : "e.fsb", {"secret key"});
        Wav w;
        w.data = tone(2222, 1, 16);
        write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
        const ToolRun run = rebuild(m.dir, m.bank, {"-k", "secret key"});
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_FALSE(open_bank(rebuilt_path(m.dir, m.bank))) << "it opens only with the key";
        auto after = open_bank(rebuilt_path(m.dir, m.bank), {"secret key"});
        ASSERT_TRUE(after);
        EXPECT_TRUE(after->encrypted());
        expect_same_but(*m.before, *after, 1, w.data);
    }
}

TEST(Rebuild, ExactConversionsTakenInexactOnesRefused) {
    // 24-bit and float samples that 16 bits hold exactly go in; with one bit
    // more, the file is refused with why.
    Made m;
    make(m, fsb5_three(), "three.fsb");
    for (const int bits : {8, 24, 32, 0}) {
        SCOPED_TRACE(bits);
        Wav w;
        w.bits = bits;
        w.data = tone(1500, 1, bits);
        write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
        const ToolRun ok = rebuild(m.dir, m.bank);
        ASSERT_EQ(0, ok.status) << ok.err;
        auto after = open_bank(rebuilt_path(m.dir, m.bank));
        ASSERT_TRUE(after);
        if (bits == 8) {
            // 8-bit samples widen exactly: v/256*256.
            Bytes want;
            for (std::uint8_t u : w.data) put_le(want, static_cast<std::uint32_t>((u - 128) * 256), 2);
            EXPECT_TRUE(testbanks::decoded_audio(*after, 1) == want);
        } else {
            EXPECT_TRUE(testbanks::decoded_audio(*after, 1) == tone(1500, 1, 16));
        }
        after.reset();  // closed first: Windows removes no open file
        std::filesystem::remove_all(m.dir.file("r"));
    }
    Wav fine;
    fine.bits = 24;
    fine.data = tone(1500, 1, 24);
    fine.data[3] |= 1;  // the second sample's lowest bit
    write_file(m.dir.file("u/middle.wav"), wav_bytes(fine));
    const ToolRun refused = rebuild(m.dir, m.bank);
    EXPECT_NE(0, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("frame 1 is the first")) << refused.err;
    EXPECT_NE(std::string::npos, refused.err.find("16-bit")) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(rebuilt_path(m.dir, m.bank)));
}

TEST(Rebuild, BadReplacementFilesAreRefusedAndLeaveNoBank) {
    Wav good;
    good.data = tone(1200, 1, 16);
    const Bytes wav = wav_bytes(good);
    struct Bad {
        const char* what;
        Bytes bytes;
        const char* said;
    };
    std::vector<Bad> bad;
    bad.push_back({"cut short", Bytes(wav.begin(), wav.begin() + 500), "cut short"});
    Bytes lying = wav;
    lying[4] = 0xFF;
    lying[5] = 0xFF;
    bad.push_back({"a RIFF size larger than the file", lying, "lies about its size"});
    Bytes lying_data = wav;
    lying_data[40] = 0xFF;  // the data chunk's size, first byte
    lying_data[42] = 0x7F;
    bad.push_back({"a data size larger than the file", lying_data, "lies about its size"});
    Bytes zero = wav;
    zero[22] = 0;  // channels
    bad.push_back({"0 channels", zero, "0 channels"});
    const std::string text = "this is not a sound at all, only words\n";
    bad.push_back({"not audio", Bytes(text.begin(), text.end()), "not a WAV file"});
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.what);
        Made m;
        make(m, fsb5_three(), "three.fsb");
        write_file(m.dir.file("u/middle.wav"), b.bytes);
        const ToolRun run = rebuild(m.dir, m.bank);
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.err.find("middle.wav: ")) << run.err;
        EXPECT_NE(std::string::npos, run.err.find(b.said)) << run.err;
        EXPECT_TRUE(!std::filesystem::exists(m.dir.file("r")) || list_dir(m.dir.file("r")).empty())
            << "no bank, no temporary file";
    }
}

TEST(Rebuild, FilesOfNoSoundOtherCodecsAndTheBankItselfAreRefused) {
    Made m;
    make(m, fsb5_three(), "three.fsb");
    write_file(m.dir.file("u/midle.wav"), read_file(m.dir.file("u/middle.wav")));
    ToolRun run = rebuild(m.dir, m.bank);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("midle.wav: matches no sound")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(rebuilt_path(m.dir, m.bank)));
    std::filesystem::remove(m.dir.file("u/midle.wav"));

    // Into the bank's own folder: the output would be the bank.
    run = run_bankrip({"--replace", m.dir.file("u"), "-o", m.dir.path(), m.bank});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("it is the bank being rebuilt")) << run.err;

    // A .bank file shorter than its RIFF header says reads (its chunks may
    // run past the cut), but written whole it would claim what it lacks.
    Made cut;
    Bytes bank_file = bankwriter::write_fev({fsb5_three()});
    bank_file[5] = static_cast<std::uint8_t>(bank_file[5] + 1);
    make(cut, bank_file, "cut.bank");
    run = rebuild(cut.dir, cut.bank);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("a truncated bank cannot be rebuilt")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(rebuilt_path(cut.dir, cut.bank)));

    // A codec with no encoder here (XMA): refused, naming what can be replaced.
    Made xma;  // not unpacked: nothing of it decodes
    xma.bank = xma.dir.file("xma.fsb");
    write_file(xma.bank, bankwriter::write_fsb5(three_sounds(), 10));
    std::filesystem::create_directories(xma.dir.file("u"));
    Wav w;
    w.data = tone(500, 1, 16);
    write_file(xma.dir.file("u/middle.wav"), wav_bytes(w));
    run = rebuild(xma.dir, xma.bank);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("replacing XMA sounds is not built (PCM,")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(rebuilt_path(xma.dir, xma.bank)));
}

TEST(Rebuild, ListAndJsonSayWhatBecomesOfEachSoundAndWriteNothing) {
    Made m;
    make(m, fsb5_three(), "three.fsb");
    Wav w;
    w.data = tone(100, 1, 16);
    write_file(m.dir.file("u/last.wav"), wav_bytes(w));
    std::filesystem::remove(m.dir.file("u/first.wav"));
    const ToolRun list = rebuild(m.dir, m.bank, {"--list"});
    ASSERT_EQ(0, list.status) << list.err;
    EXPECT_NE(std::string::npos, list.out.find(console_text("first.wav  kept\n"))) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("middle.wav  kept (")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("last.wav  replaced from " + m.dir.file("u/last.wav"))) << list.out;
    EXPECT_FALSE(std::filesystem::exists(m.dir.file("r")));
    const ToolRun json = rebuild(m.dir, m.bank, {"--list", "--json"});
    ASSERT_EQ(0, json.status) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    ASSERT_EQ(3u, doc["sounds"].size());
    EXPECT_EQ("kept", doc["sounds"][0]["status"]);
    EXPECT_FALSE(doc["sounds"][0].contains("from"));
    EXPECT_EQ("kept", doc["sounds"][1]["status"]);
    EXPECT_EQ("replaced", doc["sounds"][2]["status"]);
    EXPECT_EQ(m.dir.file("u/last.wav"), doc["sounds"][2]["from"]);
    EXPECT_FALSE(std::filesystem::exists(m.dir.file("r")));
}

}  // namespace

namespace {

TEST(Rebuild, AFullDiskLeavesNoBankBehind) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no per-process file size limit to stand in for a full disk";
#endif
    Made m;
    make(m, fsb5_three(), "three.fsb");
    Wav w;
    w.data = tone(40000, 1, 16);  // 80 KB: past the limit below
    write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
    const ToolRun run =
        run_tool(BANKRIP_PATH, {"--replace", m.dir.file("u"), "-o", m.dir.file("r"), m.bank}, "", 16384);
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("nothing written")) << run.err;
    EXPECT_TRUE(list_dir(m.dir.file("r")).empty()) << "neither the bank nor its temporary file";
    // With room, the same run writes it.
    ASSERT_EQ(0, rebuild(m.dir, m.bank).status);
    EXPECT_EQ(std::vector<std::string>{"three.fsb"}, list_dir(m.dir.file("r")));
}

TEST(Rebuild, SoundSelectionsAndSeveralBanksDoNotGoWithReplace) {
    Made m;
    make(m, fsb5_three(), "three.fsb");
    ToolRun run = rebuild(m.dir, m.bank, {"-s", "1"});
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("--sound does not go with --replace")) << run.err;
    run = run_bankrip({"--replace", m.dir.file("u"), "-o", m.dir.file("r"), m.bank, m.bank});
    EXPECT_EQ(2, run.status);
    EXPECT_NE(std::string::npos, run.err.find("exactly one bank")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(m.dir.file("r")));
}

}  // namespace

namespace {

#if !defined(_WIN32)
TEST(Rebuild, EveryOneOfManySoundsReplacedUnderALowLimitOfOpenFiles) {
    // Each replacement file is open only while it is read.
    std::vector<bankwriter::Sound> sounds;
    for (int i = 0; i < 300; ++i) {
        bankwriter::Sound s;
        s.name = std::to_string(i) + "_s";  // (not "s" + ...: a false -Wrestrict of GCC 12 at -O3)
        s.frames = 10 + static_cast<std::uint32_t>(i);
        s.data = tone(s.frames, 1, 16, 50.0 + i);
        sounds.push_back(std::move(s));
    }
    Made m;
    make(m, bankwriter::write_fsb5(sounds, 2), "many.fsb");
    std::vector<Bytes> tones;
    for (int i = 0; i < 300; ++i) {
        Wav w;
        w.data = tone(20 + static_cast<std::uint64_t>(i) * 3, 1, 16, 900.0 - i);
        const std::string name = "u/" + std::to_string(i) + "_s.wav";
        write_file(m.dir.file(name), wav_bytes(w));
        tones.push_back(w.data);
    }
    const ToolRun run = run_bankrip_with_open_files_limit(
        {"-q", "--replace", m.dir.file("u"), "-o", m.dir.file("r"), m.bank}, 64);
    ASSERT_EQ(0, run.status) << run.err;
    auto after = open_bank(rebuilt_path(m.dir, m.bank));
    ASSERT_TRUE(after);
    ASSERT_EQ(300, after->count());
    for (int i = 0; i < 300; ++i) EXPECT_TRUE(testbanks::decoded_audio(*after, i) == tones[static_cast<std::size_t>(i)]) << i;
}
#endif

}  // namespace

namespace {

// ---- ADPCM sounds: encoded in their own codec -------------------------------

bool is_adpcm(soundlib::Codec c) {
    using soundlib::Codec;
    return c == Codec::imaadpcm || c == Codec::gcadpcm || c == Codec::vag || c == Codec::fadpcm;
}

// The signal to noise of decoded 16-bit bytes against the 16-bit bytes meant, in dB.
double snr_db(const Bytes& meant, const Bytes& got) {
    double signal = 0, error = 0;
    for (std::size_t i = 0; i + 1 < meant.size() && i + 1 < got.size(); i += 2) {
        const double x = static_cast<std::int16_t>(meant[i] | meant[i + 1] << 8);
        const double y = static_cast<std::int16_t>(got[i] | got[i + 1] << 8);
        signal += x * x;
        error += (x - y) * (x - y);
    }
    return error == 0 ? 1000 : 10 * std::log10(signal / error);
}

// How close a rebuilt sound must come to its tone: what was measured, less a few dB.
double least_db(soundlib::Codec c) {
    using soundlib::Codec;
    return c == Codec::imaadpcm ? 20 : c == Codec::gcadpcm ? 40 : 35;
}

void expect_heard(const Bytes& meant, soundlib::Codec codec, const Bytes& got, const std::string& what) {
    EXPECT_EQ(meant.size(), got.size()) << "its length";
    const double db = snr_db(meant, got);
    ::testing::Test::RecordProperty("db_" + what, std::to_string(db));
    EXPECT_GT(db, least_db(codec)) << soundlib::codec_name(codec);
}

// Unpacked and rebuilt again from its own files: the same bytes.
void expect_rebuilds_as_it_is(const TempDir& dir, const std::string& bank) {
    TempDir again;
    ASSERT_EQ(0, unpack(again, rebuilt_path(dir, bank)).status);
    const ToolRun run = rebuild(again, rebuilt_path(dir, bank), {"--json"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(read_file(rebuilt_path(dir, bank)) == read_file(rebuilt_path(again, bank)));
    const auto doc = nlohmann::json::parse(run.out);  // held: the loop walks inside it
    for (const auto& s : doc["sounds"]) EXPECT_EQ("kept", s["status"]);
}

TEST(Rebuild, OneCorpusAdpcmSoundReplacedIsEncodedInItsOwnCodec) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    std::set<soundlib::Codec> codecs;
    for (const std::string& bank : corpus_banks({"banks", "synthetic"})) {
        auto before = open_bank(bank);
        if (!before) continue;
        for (int pick = 0; pick < before->count(); ++pick) {
            const soundlib::SubsoundInfo info = before->info(pick);
            if (!is_adpcm(info.codec)) continue;
            SCOPED_TRACE(bank + ", sound " + std::to_string(pick));
            TempDir dir;
            ASSERT_EQ(0, unpack(dir, bank).status);
            Wav w;
            w.rate = info.frequency;
            w.channels = info.channels;
            w.data = tone(info.frames / 2 + 7, info.channels, 16, 20.0);
            write_file(dir.file("u/" + sound_files(bank)[static_cast<std::size_t>(pick)]), wav_bytes(w));
            const ToolRun run = rebuild(dir, bank);
            ASSERT_EQ(0, run.status) << run.err;
            auto after = open_bank(rebuilt_path(dir, bank));
            ASSERT_TRUE(after);
            expect_same_but(*before, *after, pick, [&](const Bytes& got) { expect_heard(w.data, info.codec, got, std::filesystem::path(bank).filename().string());
            });
            EXPECT_EQ(info.codec, after->info(pick).codec);
            EXPECT_EQ(info.frames / 2 + 7, after->info(pick).frames);
            after.reset();
            expect_rebuilds_as_it_is(dir, bank);
            codecs.insert(info.codec);
            break;  // one sound a bank
        }
    }
    EXPECT_EQ(4u, codecs.size()) << "IMA, GC DSP, PS ADPCM and FADPCM banks in the corpus";
}

// Three stereo GC DSP sounds, their channels one after the other (not interleaved).
std::vector<bankwriter::Sound> three_gc_sounds() {
    std::vector<bankwriter::Sound> sounds = three_sounds();
    for (auto& s : sounds) {
        s.channels = 2;
        soundlib::EncodeTarget target;
        target.codec = soundlib::Codec::gcadpcm;
        target.channels = 2;
        target.frames = s.frames;
        target.adpcm_interleaved = false;
        target.whole_multiple = 32;
        std::string why;
        auto encoder = soundlib::make_sound_encoder(target, why);
        const Bytes pcm = tone(s.frames, 2, 16, 20.0);
        std::vector<double> samples(pcm.size() / 2);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8) / 32768.0;
        }
        encoder->survey(samples.data(), s.frames);
        encoder->end_survey();
        s.data.clear();
        for (std::uint32_t pass = 0; pass < encoder->passes(); ++pass) {
            std::uint32_t bad = 0;
            encoder->begin_pass(pass);
            encoder->encode(samples.data(), s.frames, s.data, bad);
            encoder->end_pass(s.data);
        }
        s.extra = encoder->setup();
        s.flags = 0x2000000 | 0x40;  // GC DSP ADPCM, stereo
    }
    return sounds;
}

TEST(Rebuild, GcDspSoundsNotInterleavedGetCoefficientsOfTheirOwnWhereTheHeaderKeepsThem) {
    for (const bool fsb5 : {true, false}) {
        SCOPED_TRACE(fsb5 ? "FSB5, chunk 7" : "FSB4, extra data");
        const auto bank_bytes = [fsb5] {
            auto sounds = three_gc_sounds();
            if (!fsb5) return bankwriter::write_fsb4(sounds, 0x10);
            for (auto& s : sounds) {
                Bytes loop(8);
                for (int k = 0; k < 4; ++k) {
                    loop[k] = static_cast<std::uint8_t>(s.loop_start >> (8 * k));
                    loop[4 + k] = static_cast<std::uint8_t>(s.loop_end >> (8 * k));
                }
                s.chunks.push_back({3, loop});
                s.chunks.push_back({7, s.extra});
            }
            return bankwriter::write_fsb5(sounds, 6, 0x02);
        };
        Made m;
        make(m, bank_bytes(), "gc.fsb");
        ASSERT_FALSE(m.before->info(1).adpcm_interleaved);
        Wav w;
        w.channels = 2;
        w.data = tone(2001, 2, 16, 33.0);
        write_file(m.dir.file("u/middle.wav"), wav_bytes(w));
        ASSERT_EQ(0, rebuild(m.dir, m.bank).status);
        auto after = open_bank(rebuilt_path(m.dir, m.bank));
        ASSERT_TRUE(after);
        expect_same_but(*m.before, *after, 1, [&](const Bytes& got) { expect_heard(w.data, soundlib::Codec::gcadpcm, got, fsb5 ? "fsb5_2ch" : "fsb4_2ch");
        });
        // The old loop, inside the new length, kept as it was: in frames, not blocks.
        EXPECT_TRUE(after->info(1).loops);
        EXPECT_EQ(100u, after->info(1).loop_start);
        EXPECT_EQ(900u, after->info(1).loop_end);
        // Fitted to the new sound: not the old coefficients.
        Bytes old_setup(m.before->info(1).setup.size), new_setup(after->info(1).setup.size);
        m.before->file().read_exact(m.before->info(1).setup.offset, old_setup.data(), old_setup.size());
        after->file().read_exact(after->info(1).setup.offset, new_setup.data(), new_setup.size());
        EXPECT_EQ(old_setup.size(), new_setup.size());
        EXPECT_FALSE(old_setup == new_setup);
        // The decoder's state where the loop starts (frame 7, its third
        // sample): that frame's header and the two samples decoded before.
        const soundlib::SubsoundInfo got = after->info(1);
        Bytes data(got.data.size);
        after->file().read_exact(got.data.offset, data.data(), data.size());
        const Bytes heard = testbanks::decoded_audio(*after, 1);
        const auto sample = [&](std::size_t frame, std::size_t c) {
            return static_cast<std::int16_t>(heard[(frame * 2 + c) * 2] | heard[(frame * 2 + c) * 2 + 1] << 8);
        };
        for (std::size_t c = 0; c < 2; ++c) {
            const std::uint8_t* setup = new_setup.data() + 0x2E * c;
            EXPECT_EQ(data[c * data.size() / 2 + 7 * 8], setup[0x29]) << "channel " << c;
            EXPECT_EQ(sample(99, c), static_cast<std::int16_t>(setup[0x2A] << 8 | setup[0x2B])) << "channel " << c;
            EXPECT_EQ(sample(98, c), static_cast<std::int16_t>(setup[0x2C] << 8 | setup[0x2D])) << "channel " << c;
        }
        after.reset();
        expect_rebuilds_as_it_is(m.dir, m.bank);

        // Three channels: FSB5 carries their coefficients in a longer chunk; an
        // FSB4 header has room for two channels' only.
        Wav three = w;
        three.channels = 3;
        three.data = tone(1500, 3, 16, 25.0);
        write_file(m.dir.file("u/middle.wav"), wav_bytes(three));
        std::filesystem::remove_all(m.dir.file("r"));
        const ToolRun run = rebuild(m.dir, m.bank);
        if (fsb5) {
            ASSERT_EQ(0, run.status) << run.err;
            after = open_bank(rebuilt_path(m.dir, m.bank));
            ASSERT_TRUE(after);
            expect_same_but(*m.before, *after, 1, [&](const Bytes& got) { expect_heard(three.data, soundlib::Codec::gcadpcm, got, "fsb5_3ch");
            });
            EXPECT_EQ(3u * 0x2E, after->info(1).setup.size);
        } else {
            EXPECT_EQ(1, run.status);
            EXPECT_NE(std::string::npos, run.err.find("2 channels would fit")) << run.err;
        }
    }
}

}  // namespace

namespace {

// The SNR (dB) of 16-bit samples `heard` against `sent`, at the lag (the
// encoder's delay) that gives the best: MPEG decoders keep lame's 1,105
// frames and twolame's 481, the other codecs none.
double best_snr(const Bytes& sent, const Bytes& heard, std::uint32_t channels) {
    const auto sample = [](const Bytes& b, std::size_t i) {
        return static_cast<double>(static_cast<std::int16_t>(b[2 * i] | b[2 * i + 1] << 8));
    };
    double best = -1e9;
    for (const std::size_t lag : {std::size_t{0}, std::size_t{481}, std::size_t{1105}}) {
        const std::size_t n = sent.size() / 2, skip = lag * channels;
        if (heard.size() / 2 < n + skip) continue;
        double signal = 0, noise = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double s = sample(sent, i), d = s - sample(heard, i + skip);
            signal += s * s;
            noise += d * d;
        }
        best = std::max(best, noise == 0 ? 200.0 : 10 * std::log10(signal / noise));
    }
    return best;
}

}  // namespace

TEST(Rebuild, EveryCorpusBankTakesAToneOfItsOwnRateAndChannelsInOneSound) {
    // Whatever the codec: the rebuilt bank opens with the same names and
    // count, every other sound decodes and is stored as before with its
    // header, and the tone is heard, exactly for PCM, within the codec's
    // error otherwise (15 dB: the worst, lame at 48 kbit/s mono, is 26).
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    int rebuilt = 0;
    std::set<soundlib::Codec> codecs;
    for (const std::string& bank : corpus_banks({"banks", "synthetic", "containers", "vorbis", "vorbis-mobile",
                                                  "vorbis-unmatched", "loops"})) {
        if (bank.ends_with(".resource")) continue;  // refused: see UntouchedUnpackRebuildsEveryCorpusBankByteForByte
        auto before = open_bank(bank);
        if (!before) continue;
        int pick = -1;
        for (int i = 0; i < before->count() && pick < 0; ++i) {
            const soundlib::SubsoundInfo info = before->info(i);
            FMOD_RESULT code = FMOD_OK;
            const bool decodes = info.frames > 0 && !info.problem && before->stream(i, code) && code == FMOD_OK;
            if (decodes && info.channels <= 2) pick = i;
        }
        if (pick < 0) continue;
        SCOPED_TRACE(bank + ", sound " + std::to_string(pick));
        const soundlib::SubsoundInfo info = before->info(pick);
        FMOD_RESULT code = FMOD_OK;
        const bool pcm = is_pcm(info.codec);
        Wav w;
        w.rate = info.frequency;
        w.channels = info.channels;
        w.bits = pcm ? library_bits(before->stream(pick, code)->format()) : 16;
        // 441 Hz (882 in the second channel), well inside every codec's band.
        const double hz = 100 * 2 * std::numbers::pi * 441 / info.frequency;
        w.data = tone(std::min<std::uint64_t>(info.frames, info.frequency), info.channels, w.bits, hz);
        TempDir dir;
        const std::vector<std::string> files = sound_files(bank);
        ASSERT_LT(static_cast<std::size_t>(pick), files.size());
        std::filesystem::create_directories(dir.file("u"));
        write_file(dir.file("u/" + files[static_cast<std::size_t>(pick)]), wav_bytes(w));
        const ToolRun run = rebuild(dir, bank);
        ASSERT_EQ(0, run.status) << run.err;
        auto after = open_bank(rebuilt_path(dir, bank));
        ASSERT_TRUE(after) << "the rebuilt bank opens";
        if (pcm) {
            expect_same_but(*before, *after, pick, w.data);
        } else {
            expect_same_but(*before, *after, pick, [&](const Bytes& got) {
                EXPECT_GT(best_snr(w.data, got, info.channels), 15.0) << "the tone is heard";
            });
        }
        EXPECT_EQ(info.codec, after->info(pick).codec);
        codecs.insert(info.codec);
        ++rebuilt;
    }
    EXPECT_GT(rebuilt, 50);
    EXPECT_GE(codecs.size(), 8u) << "PCM, the four ADPCM codecs, MPEG and Vorbis at least";
}
