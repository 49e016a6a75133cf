// Putting sounds back from FLAC, Ogg Vorbis and MP3 files as well as WAV:
// the formats the unpack writes, read back through the real command; an
// untouched unpack in them rebuilds every corpus bank byte for byte.
#include <gtest/gtest.h>

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "soundlib/replace/replacement_input.h"
#include "support/bank_audio.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using testbanks::corpus_banks;
using testbanks::open_bank;

using bankwriter::Bytes;

const std::string kCorpus = CORPUS_DIR;

// A tone as 16-bit integers, interleaved.
std::vector<std::int32_t> tone(std::uint32_t frames, std::uint32_t channels, double hz) {
    std::vector<std::int32_t> out;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            out.push_back(static_cast<std::int32_t>(std::lround(9000 * std::sin(0.01 * hz * (c + 1) * i))));
        }
    }
    return out;
}

Bytes s16_bytes(const std::vector<std::int32_t>& samples) {
    Bytes out;
    for (const std::int32_t v : samples) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
    return out;
}

void put_le(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

Bytes wav16(const std::vector<std::int32_t>& samples, std::uint32_t channels, std::uint32_t rate) {
    const Bytes data = s16_bytes(samples);
    Bytes out{'R', 'I', 'F', 'F'};
    put_le(out, 36 + data.size(), 4);
    for (const char c : std::string("WAVEfmt ")) out.push_back(static_cast<std::uint8_t>(c));
    put_le(out, 16, 4);
    put_le(out, 1, 2);
    put_le(out, channels, 2);
    put_le(out, rate, 4);
    put_le(out, rate * channels * 2, 4);
    put_le(out, channels * 2, 2);
    put_le(out, 16, 2);
    for (const char c : std::string("data")) out.push_back(static_cast<std::uint8_t>(c));
    put_le(out, data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A FLAC file of 16-bit samples at `bits` bits (shifted up), with loop tags
// when `loop_length` is not 0.
bool write_flac(const std::string& path, const std::vector<std::int32_t>& samples, std::uint32_t channels,
                unsigned bits, std::uint64_t loop_start, std::uint64_t loop_length) {
    FLAC__StreamEncoder* e = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_channels(e, channels);
    FLAC__stream_encoder_set_bits_per_sample(e, bits);
    FLAC__stream_encoder_set_sample_rate(e, 44100);
    FLAC__StreamMetadata* tags = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    auto add = [&](const char* name, std::uint64_t value) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name, std::to_string(value).c_str());
        FLAC__metadata_object_vorbiscomment_append_comment(tags, entry, false);
    };
    if (loop_length) {
        add("LOOPSTART", loop_start);
        add("LOOPLENGTH", loop_length);
    }
    FLAC__stream_encoder_set_metadata(e, &tags, 1);
    bool ok = FLAC__stream_encoder_init_file(e, path.c_str(), nullptr, nullptr) == FLAC__STREAM_ENCODER_INIT_STATUS_OK;
    std::vector<FLAC__int32> shifted;
    for (const std::int32_t v : samples) shifted.push_back(v * (1 << (bits - 16)));
    ok = ok && FLAC__stream_encoder_process_interleaved(e, shifted.data(), static_cast<unsigned>(samples.size() / channels));
    ok = FLAC__stream_encoder_finish(e) && ok;
    FLAC__stream_encoder_delete(e);
    FLAC__metadata_object_delete(tags);
    return ok;
}

std::vector<std::int32_t> decoded(soundlib::Bank& bank, int i) {
    const std::vector<std::int16_t> s16 = testbanks::decoded_s16(bank, i);
    return {s16.begin(), s16.end()};
}

#if !defined(_WIN32)  // for the Ogg test, which needs oggenc
double snr_db(const std::vector<std::int32_t>& meant, const std::vector<std::int32_t>& got) {
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < meant.size() && i < got.size(); ++i) {
        signal += static_cast<double>(meant[i]) * meant[i];
        noise += (static_cast<double>(meant[i]) - got[i]) * (static_cast<double>(meant[i]) - got[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}
#endif

// A bank of three mono PCM16 sounds, unpacked into dir/u.
struct Made {
    TempDir dir;
    std::string bank;
    std::unique_ptr<soundlib::Bank> before;
    std::string in(const std::string& name) const { return dir.file("u/" + name); }
    std::string rebuilt() const { return dir.file("r/three.fsb"); }
    ToolRun replace(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args{"--replace", dir.file("u"), "-o", dir.file("r")};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(bank);
        return run_bankrip(args);
    }
};

void make(Made& m, const std::vector<std::string>& unpack_options = {}) {
    std::vector<bankwriter::Sound> sounds;
    const char* names[] = {"first", "middle", "last"};
    for (int i = 0; i < 3; ++i) {
        bankwriter::Sound s;
        s.name = names[i];
        s.frames = 1000 + 333 * static_cast<std::uint32_t>(i);
        s.data = s16_bytes(tone(s.frames, 1, 100.0 * (i + 1)));
        s.loop_end = s.frames - 1;
        sounds.push_back(std::move(s));
    }
    m.bank = m.dir.file("three.fsb");
    write_file(m.bank, bankwriter::write_fsb5(sounds, 2));
    m.before = open_bank(m.bank);
    ASSERT_TRUE(m.before);
    std::vector<std::string> args{"-q", "-o", m.dir.file("u")};
    args.insert(args.end(), unpack_options.begin(), unpack_options.end());
    args.push_back(m.bank);
    ASSERT_EQ(0, run_bankrip(args).status);
}

// The other two sounds stay as they were.
void expect_others_kept(const Made& m, soundlib::Bank& after) {
    ASSERT_EQ(3, after.count());
    EXPECT_EQ(decoded(*m.before, 0), decoded(after, 0));
    EXPECT_EQ(decoded(*m.before, 2), decoded(after, 2));
}

// ---------------------------------------------------------------------------

TEST(ReplaceInputs, FlacOf16And24BitsWithLoopTagsReplacesAPcmSound) {
    for (const unsigned bits : {16u, 24u}) {
        SCOPED_TRACE(std::to_string(bits) + "-bit");
        Made m;
        make(m, {"--format", "flac"});
        ASSERT_TRUE(std::filesystem::exists(m.in("middle.flac")));
        const std::vector<std::int32_t> samples = tone(6000, 2, 555.0);
        ASSERT_TRUE(write_flac(m.in("middle.flac"), samples, 2, bits, 1000, 3000));
        const ToolRun run = m.replace();
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_NE(std::string::npos, run.err.find("replaced from")) << run.err;
        auto after = open_bank(m.rebuilt());
        ASSERT_TRUE(after);
        expect_others_kept(m, *after);
        EXPECT_EQ(samples, decoded(*after, 1));
        const soundlib::SubsoundInfo info = after->info(1);
        EXPECT_EQ(2u, info.channels);
        EXPECT_TRUE(info.loops);
        EXPECT_EQ(1000u, info.loop_start);
        EXPECT_EQ(3999u, info.loop_end);
    }
}

TEST(ReplaceInputs, FlacWithBadLoopTagsOrDamageIsRefused) {
    Made m;
    make(m);
    ASSERT_TRUE(write_flac(m.in("middle.flac"), tone(500, 1, 300.0), 1, 16, 400, 200));
    std::filesystem::remove(m.in("middle.wav"));
    ToolRun run = m.replace();
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("LOOPSTART")) << run.err;
    Bytes cut = read_file(m.in("middle.flac"));
    cut.resize(cut.size() / 2);
    write_file(m.in("middle.flac"), cut);
    run = m.replace();
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("middle.flac: ")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(m.rebuilt()));
}

TEST(ReplaceInputs, TwoFilesForOneSoundAreRefusedNamingBoth) {
    Made m;
    make(m);
    ASSERT_TRUE(write_flac(m.in("middle.flac"), tone(500, 1, 300.0), 1, 16, 0, 0));
    const ToolRun run = m.replace();
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("middle.flac")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("middle.wav")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("nothing written")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(m.rebuilt()));
}

#if !defined(_WIN32)
// Encoded by Debian's oggenc, when the machine has it.
TEST(ReplaceInputs, AnOggVorbisFileReplacesAPcmSoundDecodedToItsLength) {
    if (!std::filesystem::exists(OGGENC_PROGRAM)) GTEST_SKIP() << "no oggenc";
    Made m;
    make(m);
    const std::vector<std::int32_t> samples = tone(7000, 2, 20.0);
    write_file(m.dir.file("tone.wav"), wav16(samples, 2, 44100));
    ASSERT_EQ(0, run_tool(OGGENC_PROGRAM, {"-Q", "-o", m.in("middle.ogg"), m.dir.file("tone.wav")}).status);
    std::filesystem::remove(m.in("middle.wav"));
    const ToolRun run = m.replace();
    ASSERT_EQ(0, run.status) << run.err;
    auto after = open_bank(m.rebuilt());
    ASSERT_TRUE(after);
    expect_others_kept(m, *after);
    const std::vector<std::int32_t> got = decoded(*after, 1);
    EXPECT_EQ(samples.size(), got.size()) << "the length its granule positions give";
    EXPECT_GT(snr_db(samples, got), 20.0);
}
#endif

// LAME's streams (tests/support/make_mpeg_fixtures.py): the "Info" tag frame
// is no audio, and counts one frame of silence at the end, as a bank's MPEG
// sound opening with one does.
TEST(ReplaceInputs, Mp3FilesReplaceAPcmSoundInWholeFrames) {
    const std::string tagged = std::string(MPEG_FIXTURES_DIR) + "/layer3_tagged.mp3";
    if (!std::filesystem::exists(tagged)) GTEST_SKIP() << "no lame";
    std::vector<std::int32_t> untagged_samples;
    for (const char* fixture : {"layer3_untagged.mp3", "layer3_tagged.mp3"}) {
        SCOPED_TRACE(fixture);
        Made m;
        make(m);
        std::filesystem::remove(m.in("middle.wav"));
        write_file(m.in("middle.mp3"), read_file(std::string(MPEG_FIXTURES_DIR) + "/" + fixture));
        const ToolRun run = m.replace();
        ASSERT_EQ(0, run.status) << run.err;
        auto after = open_bank(m.rebuilt());
        ASSERT_TRUE(after);
        expect_others_kept(m, *after);
        EXPECT_EQ(2u, after->info(1).channels);
        const std::vector<std::int32_t> got = decoded(*after, 1);
        EXPECT_EQ(0u, got.size() % (1152 * 2));
        if (untagged_samples.empty()) {
            untagged_samples = got;
            ASSERT_FALSE(got.empty());
        } else {
            ASSERT_EQ(untagged_samples.size() + 1152 * 2, got.size());
            EXPECT_TRUE(std::equal(untagged_samples.begin(), untagged_samples.end(), got.begin()))
                << "the same audio frames, the tag frame not among them";
        }
    }
}

// Encoders read a file more than once (a survey, then the writing pass):
// read again after a rewind, in other blocks, every reader gives the same
// samples, as many as it says, and nothing past them.
TEST(ReplaceInputs, EveryReaderGivesTheSameSamplesAgainAfterARewind) {
    TempDir dir;
    const std::vector<std::int32_t> samples = tone(5000, 2, 20.0);
    std::vector<std::string> files{dir.file("a.wav"), dir.file("a16.flac"), dir.file("a24.flac")};
    write_file(files[0], wav16(samples, 2, 44100));
    ASSERT_TRUE(write_flac(files[1], samples, 2, 16, 0, 0));
    ASSERT_TRUE(write_flac(files[2], samples, 2, 24, 0, 0));
    const std::string mp3 = std::string(MPEG_FIXTURES_DIR) + "/layer3_tagged.mp3";
    if (std::filesystem::exists(mp3)) files.push_back(mp3);
#if !defined(_WIN32)
    if (std::filesystem::exists(OGGENC_PROGRAM) &&
        run_tool(OGGENC_PROGRAM, {"-Q", "-o", dir.file("a.ogg"), files[0]}).status == 0) {
        files.push_back(dir.file("a.ogg"));
    }
#endif
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        std::string why;
        auto input = soundlib::open_replacement(file, why);
        ASSERT_TRUE(input) << why;
        const std::uint64_t frames = input->shape().frames;
        ASSERT_GT(frames, 0u);
        auto read_all = [&](std::uint32_t block) {
            std::vector<double> all, part;
            for (std::uint64_t at = 0; at < frames; at += block) {
                const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(block, frames - at));
                EXPECT_TRUE(input->read(n, part)) << "at frame " << at;
                all.insert(all.end(), part.begin(), part.end());
            }
            return all;
        };
        const std::vector<double> first = read_all(1000);
        std::vector<double> past;
        EXPECT_FALSE(input->read(1, past)) << "a frame past its end";
        ASSERT_TRUE(input->rewind());
        EXPECT_TRUE(first == read_all(777));
        if (input->shape().format == soundlib::InputFormat::flac || input->shape().format == soundlib::InputFormat::wav) {
            std::vector<std::int32_t> got;
            for (const double v : first) got.push_back(static_cast<std::int32_t>(std::lround(v * 32768)));
            EXPECT_EQ(samples, got) << "lossless";
        }
    }
}

// ---------------------------------------------------------------------------

// As the WAV unpack does (bank_rebuild_test.cpp): every sound is kept as
// stored, from a .flac, or with its Vorbis or MPEG as they are, an .ogg or .mp3.
TEST(ReplaceInputs, UntouchedFlacOggAndMp3UnpackRebuildsEveryCorpusBankByteForByte) {
    if (!std::filesystem::is_directory(kCorpus + "/banks")) GTEST_SKIP() << "no corpus beside the project";
    int banks = 0;
    std::set<std::string> extensions;
    for (const std::string& bank : corpus_banks({"banks", "synthetic", "containers", "vorbis", "vorbis-mobile",
                                                  "vorbis-unmatched", "encrypted", "loops"})) {
        if (bank.ends_with(".resource")) continue;  // not rebuilt (bank_rebuild_test.cpp)
        for (const bool keep : {false, true}) {
            SCOPED_TRACE(bank + (keep ? " --keep-original" : ""));
            TempDir dir;
            std::vector<std::string> args{"-q", "--format", "flac", "-o", dir.file("u"), bank};
            if (keep) args.insert(args.begin(), "--keep-original");
            run_bankrip(args);
            if (!std::filesystem::is_directory(dir.file("u"))) continue;  // a bank without sounds
            for (const std::string& f : list_dir(dir.file("u"))) extensions.insert(std::filesystem::path(f).extension().string());
            const ToolRun run = run_bankrip({"--json", "--replace", dir.file("u"), "-o", dir.file("r"), bank});
            ASSERT_EQ(0, run.status) << run.err;
            EXPECT_TRUE(read_file(bank) == read_file(dir.file("r/" + std::filesystem::path(bank).filename().string())))
                << "the rebuilt bank differs";
            const auto doc = nlohmann::json::parse(run.out);  // held: the loop walks inside it
            for (const auto& s : doc["sounds"]) {
                EXPECT_EQ("kept", s["status"]) << s["file"];
                EXPECT_TRUE(s.contains("from")) << "every sound had its file";
            }
            banks += keep;
        }
    }
    EXPECT_GT(banks, 40);
    EXPECT_EQ((std::set<std::string>{".flac", ".mp3", ".ogg", ".wav"}), extensions) << "every format was read";
}

}  // namespace
