// Replacements that go into a bank as they are (--replace): an .mp3 whose
// frames the MPEG sound can store is stored as its frames, padded as the
// bank pads them, and decodes as libmpg123 decodes the file alone; an .ogg
// whose set-up the sound's encoder family makes is stored as its packets.
// Anything else is encoded, and the plan says which.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "soundlib/bank.h"
#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"
#include "support/bank_audio.h"
#include "support/decode_back.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using testbanks::open_bank;
using testbanks::stored;

using Bytes = std::vector<std::uint8_t>;

const std::string kCorpus = CORPUS_DIR;
const std::string kMpegFixtures = MPEG_FIXTURES_DIR;

std::string name_of(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// A bank unpacked, one sound's file swapped for another, rebuilt.
struct Replaced {
    TempDir dir;
    std::string bank;
    std::unique_ptr<soundlib::Bank> before, after;
    ToolRun run;
    nlohmann::json plan;  // the sound's entry of the JSON plan
    std::string rebuilt() const { return dir.file("r/" + name_of(bank)); }
};

// Unpacks the bank (with `unpack` options), puts `file` in the place of
// sound `pick`'s own (as the sound's name with `extension`) and rebuilds.
void replace_one(Replaced& r, const std::string& bank, int pick, const std::string& file,
                 const std::string& extension, const std::vector<std::string>& unpack = {}) {
    r.bank = bank;
    r.before = open_bank(bank);
    ASSERT_TRUE(r.before) << bank;
    std::vector<std::string> args{"-q", "-o", r.dir.file("u")};
    args.insert(args.end(), unpack.begin(), unpack.end());
    args.push_back(bank);
    ASSERT_EQ(0, run_bankrip(args).status);
    const ToolRun listing = run_bankrip({"-l", "--json", bank});
    const auto sounds = nlohmann::json::parse(listing.out)["banks"][0]["sounds"];
    const std::filesystem::path own = sounds.at(static_cast<std::size_t>(pick))["output"].get<std::string>();
    for (const std::string& f : list_dir(r.dir.file("u"))) {
        if (std::filesystem::path(f).stem() == own.stem()) std::filesystem::remove(r.dir.file("u/" + f));
    }
    const Bytes bytes = read_file(file);  // read first: it may be one of the files just removed
    ASSERT_FALSE(bytes.empty()) << file;
    write_file(r.dir.file("u/" + own.stem().string() + extension), bytes);
    r.run = run_bankrip({"--json", "--replace", r.dir.file("u"), "-o", r.dir.file("r"), bank});
    ASSERT_EQ(0, r.run.status) << r.run.err;
    r.plan = nlohmann::json::parse(r.run.out)["sounds"].at(static_cast<std::size_t>(pick));
    r.after = open_bank(r.rebuilt());
    ASSERT_TRUE(r.after);
    ASSERT_EQ(r.before->count(), r.after->count());
    for (int i = 0; i < r.before->count(); ++i) {
        if (i == pick) continue;
        EXPECT_TRUE(stored(*r.before, i) == stored(*r.after, i)) << "sound " << i << "'s stored bytes";
    }
}

// The rebuilt bank unpacked and rebuilt from that: every sound holds its
// own samples, so nothing changes.
void expect_own_unpack_rebuilds_it(const Replaced& r) {
    TempDir own;
    ASSERT_EQ(0, run_bankrip({"-q", "-o", own.file("u"), r.rebuilt()}).status);
    const ToolRun run = run_bankrip({"-q", "--replace", own.file("u"), "-o", own.file("r"), r.rebuilt()});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(read_file(r.rebuilt()) == read_file(own.file("r/" + name_of(r.bank)))) << "rebuilt from its own unpack";
}

// ---- MPEG -------------------------------------------------------------------

// An MP3 file's audio frames back to back, walked by their headers: past an
// ID3v2 tag, without a first Xing/Info frame, up to an ID3v1 tag.
struct FileFrames {
    Bytes bytes;
    std::uint64_t count = 0;
    std::uint32_t samples = 0;
    bool reservoir = false;  // some frame's main data begins in an earlier one
};
FileFrames mp3_frames(const Bytes& file) {
    FileFrames f;
    std::size_t at = 0, end = file.size();
    if (end >= 10 && file[0] == 'I' && file[1] == 'D' && file[2] == '3') {
        at = 10 + (std::size_t{file[6]} << 21 | std::size_t{file[7]} << 14 | std::size_t{file[8]} << 7 | file[9]);
    }
    if (end >= 128 && file[end - 128] == 'T' && file[end - 127] == 'A' && file[end - 126] == 'G') end -= 128;
    for (bool first = true; at + 4 <= end; first = false) {
        soundlib::MpegFrameHeader h;
        if (soundlib::parse_mpeg_frame_header(file.data() + at, h) || at + h.length > end) break;
        const std::uint8_t* frame = file.data() + at;
        at += h.length;
        if (first && soundlib::is_mpeg_tag_frame(frame, h)) continue;
        const std::uint8_t* side = frame + 4 + (h.crc ? 2 : 0);
        const unsigned main_begin = h.version == 10 ? (side[0] << 1 | side[1] >> 7) : side[0];
        f.reservoir = f.reservoir || (h.layer == 3 && main_begin > 0);
        f.bytes.insert(f.bytes.end(), frame, frame + h.length);
        f.samples = h.samples;
        ++f.count;
    }
    EXPECT_EQ(end, at) << "the file is frames and tags";
    return f;
}

// A sound's frames as stored, their padding dropped; and the padding.
Bytes sound_frames(soundlib::Bank& bank, int i, std::uint32_t& padding) {
    const soundlib::SubsoundInfo info = bank.info(i);
    soundlib::MpegFrameWalk walk(info, bank.file());
    Bytes out;
    soundlib::MpegFrameSpan span;
    while (walk.next(span)) {
        const std::size_t at = out.size();
        out.resize(at + span.size);
        bank.file().read_exact(info.data.offset + span.offset, out.data() + at, span.size);
    }
    padding = walk.layout().padding;
    return out;
}

TEST(ReplacePassthrough, AnMp3OfTheSoundsLayerGoesInAsItsFramesAndDecodesAsTheFileAlone) {
    if (!std::filesystem::exists(kCorpus + "/banks")) GTEST_SKIP() << "no corpus beside the project";
    if (!std::filesystem::exists(kMpegFixtures + "/stamp")) GTEST_SKIP() << "no lame to make the MP3 files";
    struct Case {
        const char* bank;
        int pick;
        const char* mp3;
        bool reservoir;
    };
    // Mono at 44.1 kHz in an FSB5 bank: constant bit rate without the bit
    // reservoir, and lame's defaults (tag frame, reservoir); stereo at 48
    // kHz between ID3 tags in an FSB4 bank.
    for (const Case& c : {Case{"fsb5_mpeg_12.fsb", 3, "layer3_mono40.mp3", false},
                          Case{"fsb5_mpeg_12.fsb", 11, "mono_default.mp3", true},
                          Case{"fsb4_mp3_stereo48k.fsb", 0, "stereo48_tags.mp3", true}}) {
        SCOPED_TRACE(std::string(c.bank) + " with " + c.mp3);
        const std::string mp3 = kMpegFixtures + "/" + c.mp3;
        const FileFrames want = mp3_frames(read_file(mp3));
        ASSERT_GT(want.count, 10u);
        EXPECT_EQ(c.reservoir, want.reservoir);
        Replaced r;
        replace_one(r, kCorpus + "/banks/" + c.bank, c.pick, mp3, ".mp3");
        EXPECT_EQ("replaced", r.plan["status"]);
        EXPECT_EQ("copied", r.plan["how"]);
        std::uint32_t old_padding = 0, new_padding = 0;
        sound_frames(*r.before, c.pick, old_padding);
        EXPECT_TRUE(sound_frames(*r.after, c.pick, new_padding) == want.bytes) << "the file's frames as they are";
        EXPECT_EQ(old_padding, new_padding) << "padded as the bank pads its frames";
        const soundlib::SubsoundInfo info = r.after->info(c.pick);
        EXPECT_EQ(want.count * want.samples, info.frames) << "every sample of its frames";
        const LossyDecode alone = decode_mp3(mp3);
        ASSERT_TRUE(alone.ok) << alone.error;
        EXPECT_EQ(alone.channels, info.channels);
        EXPECT_EQ(alone.rate, static_cast<long>(info.frequency));
        EXPECT_TRUE(testbanks::decoded_audio(*r.after, c.pick) == alone.data) << "our reader decodes as libmpg123 decodes the file";
        expect_own_unpack_rebuilds_it(r);
    }
}

TEST(ReplacePassthrough, AnMp3OfAnotherLayerIsEncodedAndThePlanSaysHow) {
    if (!std::filesystem::exists(kCorpus + "/banks")) GTEST_SKIP() << "no corpus beside the project";
    if (!std::filesystem::exists(kMpegFixtures + "/stamp")) GTEST_SKIP() << "no lame to make the MP3 files";
#ifndef SOUNDLIB_MPEG_ENCODER
    GTEST_SKIP() << "this build has no MPEG encoder";
#endif
    Replaced r;
    replace_one(r, kCorpus + "/banks/fsb5_mpeg_12.fsb", 2, kMpegFixtures + "/layer2_160k.mp2", ".mp3");
    EXPECT_EQ("replaced", r.plan["status"]);
    EXPECT_EQ("encoded", r.plan["how"]);
    EXPECT_EQ("frames of layer II, not the sound's", r.plan["not_copied"]);
    std::uint32_t padding = 0;
    Bytes frames = sound_frames(*r.after, 2, padding);
    soundlib::MpegFrameHeader h;
    ASSERT_GE(frames.size(), 4u);
    ASSERT_EQ(nullptr, soundlib::parse_mpeg_frame_header(frames.data(), h));
    EXPECT_EQ(3, h.layer) << "in the sound's own layer";
    // The listing says it too.
    const ToolRun list = run_bankrip({"-l", "--replace", r.dir.file("u"), "-o", r.dir.file("r"), r.bank});
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_NE(std::string::npos, list.out.find(".mp3 (encoded, not copied as it is: frames of layer II, not the sound's)"))
        << list.out;
}

// ---- Vorbis -----------------------------------------------------------------

// An Ogg file's audio packets (its three headers left out), each after its
// 16-bit length, as a bank stores them.
Bytes ogg_audio_packets(const Bytes& file) {
    ogg_sync_state sync;
    ogg_stream_state stream;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, static_cast<long>(file.size()));
    std::copy(file.begin(), file.end(), buffer);
    ogg_sync_wrote(&sync, static_cast<long>(file.size()));
    Bytes out;
    bool started = false;
    int headers = 0;
    ogg_page page;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        if (!started) ogg_stream_init(&stream, ogg_page_serialno(&page));
        started = true;
        ogg_stream_pagein(&stream, &page);
        ogg_packet op;
        while (ogg_stream_packetout(&stream, &op) == 1) {
            if (headers < 3) {
                ++headers;
                continue;
            }
            out.push_back(static_cast<std::uint8_t>(op.bytes));
            out.push_back(static_cast<std::uint8_t>(op.bytes >> 8));
            out.insert(out.end(), op.packet, op.packet + op.bytes);
        }
    }
    if (started) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    return out;
}

// The prefix of `bytes` as long as `prefix` (a sound's data may be padded).
bool starts_with(const Bytes& bytes, const Bytes& prefix) {
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

const std::string kStockBank = kCorpus + "/banks/fsb5_vorbis_31.fsb";         // stock libvorbisenc, stereo 48 kHz
const std::string kSmallBlockBank = kCorpus + "/vorbis/fsb5_vorbis_24k_41.fsb";  // the small-block encoder, stereo 24 kHz

TEST(ReplacePassthrough, AnOggTheToolKeptForAnotherSoundOfTheFamilyGoesInAsItsPackets) {
    if (!std::filesystem::exists(kStockBank)) GTEST_SKIP() << "no corpus beside the project";
    TempDir kept;
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", kept.file("k"), kStockBank}).status);
    const ToolRun listing = run_bankrip({"-l", "--json", kStockBank});
    const auto sounds = nlohmann::json::parse(listing.out)["banks"][0]["sounds"];
    const std::string ogg =
        kept.file("k/" + std::filesystem::path(sounds.at(1)["output"].get<std::string>()).stem().string() + ".ogg");
    Replaced r;
    replace_one(r, kStockBank, 0, ogg, ".ogg", {"--keep-original"});
    EXPECT_EQ("replaced", r.plan["status"]);
    EXPECT_EQ("copied", r.plan["how"]);
    // Sound 1 again, in sound 0's place: its packets, length, set-up CRC
    // and seek table as the authoring tool wrote them.
    EXPECT_TRUE(stored(*r.after, 0) == stored(*r.before, 1)) << "its packets as they are";
    EXPECT_EQ(r.before->info(1).frames, r.after->info(0).frames);
    EXPECT_TRUE(testbanks::setup_bytes(*r.after, 0) == testbanks::setup_bytes(*r.before, 1)) << "chunk 11";
    EXPECT_TRUE(testbanks::decoded_audio(*r.after, 0) == testbanks::decoded_audio(*r.before, 1));
    expect_own_unpack_rebuilds_it(r);
}

#if !defined(_WIN32)
TEST(ReplacePassthrough, AnOggFromOggencGoesIntoAStockBankAsItsPacketsAndDecodesAsTheFile) {
    if (!std::filesystem::exists(kStockBank)) GTEST_SKIP() << "no corpus beside the project";
    if (!std::filesystem::exists(OGGENC_PROGRAM)) GTEST_SKIP() << "no oggenc";
    TempDir dir;
    // Two seconds of a chord at the bank's rate, stereo.
    Bytes wav{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
    const auto le = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) wav.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    le(48000, 4);
    le(48000 * 4, 4);
    le(4, 2);
    le(16, 2);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    le(96000 * 4, 4);
    for (int i = 0; i < 96000; ++i) {
        le(static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.0576))), 2);
        le(static_cast<std::uint16_t>(static_cast<std::int16_t>(6000 * std::sin(i * 0.0863))), 2);
    }
    const std::uint32_t riff = static_cast<std::uint32_t>(wav.size() - 8);
    for (int i = 0; i < 4; ++i) wav[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
    write_file(dir.file("tone.wav"), wav);
    for (const char* quality : {"0", "5"}) {
        SCOPED_TRACE(std::string("oggenc -q ") + quality);
        const std::string ogg = dir.file(std::string("q") + quality + ".ogg");
        ASSERT_EQ(0, run_tool(OGGENC_PROGRAM, {"-Q", "-q", quality, "-o", ogg, dir.file("tone.wav")}).status);
        Replaced r;
        replace_one(r, kStockBank, 4, ogg, ".ogg");
        EXPECT_EQ("copied", r.plan["how"]);
        EXPECT_TRUE(starts_with(stored(*r.after, 4), ogg_audio_packets(read_file(ogg)))) << "its packets as they are";
        const LossyDecode alone = decode_ogg(ogg);
        ASSERT_TRUE(alone.ok) << alone.error;
        EXPECT_EQ(96000u, r.after->info(4).frames);
        EXPECT_TRUE(testbanks::decoded_audio(*r.after, 4) == alone.data) << "our reader decodes as libvorbisfile decodes the file";
        expect_own_unpack_rebuilds_it(r);
    }
    // A stock set-up in a bank of the small-block encoder: encoded by it.
    if (!std::filesystem::exists(kSmallBlockBank)) return;
    const std::string ogg24 = dir.file("tone24.ogg");
    ASSERT_EQ(0, run_tool(OGGENC_PROGRAM, {"-Q", "--resample", "24000", "-o", ogg24, dir.file("tone.wav")}).status);
    Replaced r;
    replace_one(r, kSmallBlockBank, 0, ogg24, ".ogg");
    EXPECT_EQ("replaced", r.plan["status"]);
    EXPECT_EQ("encoded", r.plan["how"]);
    EXPECT_FALSE(starts_with(stored(*r.after, 0), ogg_audio_packets(read_file(ogg24))));
}
#endif

// An .ogg of the small-block encoder (kept from its bank) into a stock bank:
// its set-up is not one the sound's encoder makes, so it is encoded.
TEST(ReplacePassthrough, AnOggOfAnotherEncoderFamilyIsEncoded) {
    if (!std::filesystem::exists(kSmallBlockBank) || !std::filesystem::exists(kStockBank)) {
        GTEST_SKIP() << "no corpus beside the project";
    }
    TempDir kept;
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", kept.file("k"), kSmallBlockBank}).status);
    std::string ogg;
    for (const std::string& f : list_dir(kept.file("k"))) {
        if (f.ends_with(".ogg")) ogg = kept.file("k/" + f);
    }
    ASSERT_FALSE(ogg.empty());
    Replaced r;
    replace_one(r, kStockBank, 2, ogg, ".ogg");
    EXPECT_EQ("replaced", r.plan["status"]);
    EXPECT_EQ("encoded", r.plan["how"]);
    EXPECT_EQ("its set-up is not one the stock libvorbisenc makes", r.plan["not_copied"]);
    EXPECT_FALSE(starts_with(stored(*r.after, 2), ogg_audio_packets(read_file(ogg))));
    EXPECT_EQ(24000u, r.after->info(2).frequency);
    const ToolRun list = run_bankrip({"-l", "--replace", r.dir.file("u"), "-o", r.dir.file("r"), kStockBank});
    EXPECT_NE(std::string::npos, list.out.find(".ogg (encoded, not copied as it is: its set-up is not one")) << list.out;
}

}  // namespace
