// --format flac: the WAV's samples at every width, the name and loop as
// tags, float samples kept as WAV, and the promises of every file written.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "support/decode_back.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

Sound noise(const std::string& name, std::uint32_t frames, std::uint32_t channels, std::size_t width) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.channels = channels;
    s.data.resize(frames * channels * width);
    std::uint32_t x = 12345;
    for (auto& b : s.data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return s;
}

bool has(const Bytes& file, const std::string& text) {
    return std::search(file.begin(), file.end(), text.begin(), text.end()) != file.end();
}

// FSB5 codecs 1 to 5: 8-bit unsigned, 16, 24 and 32-bit integer, float.
TEST(OutputFormats, FlacHoldsTheWavsSamplesAtEveryIntegerWidth) {
    TempDir dir;
    const std::pair<std::uint32_t, std::size_t> codecs[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
    for (const auto& [codec, width] : codecs) {
        const std::string bank = dir.file("b" + std::to_string(codec) + ".fsb");
        write_file(bank, bankwriter::write_fsb5({noise("mono.ogg", 5000, 1, width), noise("six", 3001, 6, width)},
                                                codec));
        const std::string wavs = dir.file("wav" + std::to_string(codec));
        const std::string flacs = dir.file("flac" + std::to_string(codec));
        ASSERT_EQ(0, run_bankrip({"-q", "-o", wavs, bank}).status);
        const ToolRun run = run_bankrip({"-q", "--format", "flac", "-o", flacs, bank});
        ASSERT_EQ(0, run.status) << run.err;
        EXPECT_EQ((std::vector<std::string>{"mono.flac", "six.flac"}), list_dir(flacs));
        for (const std::string name : {"mono", "six"}) {
            const FlacDecode d = decode_flac(flacs + "/" + name + ".flac");
            EXPECT_TRUE(d.ok) << codec << " " << name;
            EXPECT_EQ(width * 8, d.bits);
            EXPECT_TRUE(d.data == wav_data(wavs + "/" + name + ".wav")) << codec << " " << name;
        }
        EXPECT_TRUE(has(read_file(flacs + "/mono.flac"), "TITLE=mono.ogg"));
    }
}

TEST(OutputFormats, WhatFlacCannotHoldStaysWavAndItsLineSaysSo) {
    TempDir dir;
    write_file(dir.file("f.fsb"), bankwriter::write_fsb5({noise("float", 100, 2, 4)}, 5));
    write_file(dir.file("w.fsb"), bankwriter::write_fsb5({noise("wide", 100, 9, 2)}, 2));
    const ToolRun run = run_bankrip({"--format", "flac", "-o", dir.file("o"), dir.file("f.fsb"), dir.file("w.fsb")});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(std::vector<std::string>{"float.wav"}, list_dir(dir.file("o/f")));
    EXPECT_EQ(std::vector<std::string>{"wide.wav"}, list_dir(dir.file("o/w")));
    EXPECT_NE(std::string::npos, run.out.find("float.wav. (as WAV: FLAC holds no float samples)")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("wide.wav. (as WAV: FLAC holds at most 8 channels)")) << run.out;

    const ToolRun json = run_bankrip({"--json", "--list", "--format", "flac", dir.file("f.fsb")});
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ("wav", doc["banks"][0]["sounds"][0]["format"]);
    EXPECT_EQ("float.wav", doc["banks"][0]["sounds"][0]["output"]);
}

// Loops as tags; a cut sound keeps no loop past its frames, and the file
// stays whole (the tags' room becomes padding).
TEST(OutputFormats, FlacLoopTagsAndACutSound) {
    TempDir dir;
    Sound looping = noise("looping", 1000, 2, 2);
    Bytes loop(8);
    bankwriter::put32(loop, 0, 100);
    bankwriter::put32(loop, 4, 899);
    looping.chunks.push_back({3, loop});
    Sound cut = looping;
    cut.name = "cut";
    cut.data.resize(400);  // 100 frames
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({looping, cut}, 2));
    const ToolRun run = run_bankrip({"-q", "--json", "--format", "flac", "-o", dir.file("o"), dir.file("b.fsb")});
    EXPECT_EQ(1, run.status) << run.err;
    const Bytes whole = read_file(dir.file("o/looping.flac"));
    EXPECT_TRUE(has(whole, "LOOPSTART=100"));
    EXPECT_TRUE(has(whole, "LOOPLENGTH=800"));
    const Bytes short_one = read_file(dir.file("o/cut.flac"));
    EXPECT_FALSE(has(short_one, "LOOPSTART"));
    EXPECT_TRUE(has(short_one, "TITLE=cut"));
    const FlacDecode d = decode_flac(dir.file("o/cut.flac"));
    EXPECT_TRUE(d.ok);
    EXPECT_GE(d.data.size(), 400u);
    const auto doc = nlohmann::json::parse(run.out);
    EXPECT_TRUE(doc["banks"][0]["sounds"][0].contains("loop_start"));
    EXPECT_FALSE(doc["banks"][0]["sounds"][1].contains("loop_start"));
    EXPECT_EQ("flac", doc["banks"][0]["sounds"][1]["format"]);

    ASSERT_EQ(1, run_bankrip({"-q", "--no-loops", "--format", "flac", "-o", dir.file("n"), dir.file("b.fsb")}).status);
    EXPECT_FALSE(has(read_file(dir.file("n/looping.flac")), "LOOPSTART"));
}

TEST(OutputFormats, NamesTakeTheFormatsExtensionAndStayNumbered) {
    TempDir dir;
    write_file(dir.file("b.fsb"),
               bankwriter::write_fsb5({noise("Death", 10, 1, 2), noise("Death.wav", 10, 1, 2), noise("", 4, 1, 2)}, 2));
    ASSERT_EQ(0, run_bankrip({"-q", "--format", "flac", "-o", dir.file("o"), dir.file("b.fsb")}).status);
    EXPECT_EQ((std::vector<std::string>{"Death (2).flac", "Death.flac", "subsound_0002.flac"}), list_dir(dir.file("o")));
    // A file of another kind in the way is left alone, as for WAV.
    std::filesystem::create_directories(dir.file("p"));
    write_file(dir.file("p/Death.flac"), Bytes{'n', 'o', 't', 'e'});
    const ToolRun run = run_bankrip({"-q", "--format", "flac", "-o", dir.file("p"), dir.file("b.fsb")});
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("a file that is not a FLAC file is in the way; not overwritten"));
    // A previous run's FLAC file is replaced.
    EXPECT_EQ(0, run_bankrip({"-q", "--format", "flac", "-o", dir.file("o"), dir.file("b.fsb")}).status);
    EXPECT_EQ((Bytes{'n', 'o', 't', 'e'}), read_file(dir.file("p/Death.flac")));

    const ToolRun bad = run_bankrip({"--format", "mp4", dir.file("b.fsb")});
    EXPECT_EQ(2, bad.status);
    EXPECT_EQ(console_text("bankrip: --format takes wav or flac, not 'mp4'; try 'bankrip --help'\n"), bad.err);
}

}  // namespace
