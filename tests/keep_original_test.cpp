// --keep-original: Vorbis as Ogg Vorbis, MPEG as .mp3, nothing decoded;
// each file decodes to the samples of the sound's WAV. Tags and loops, cut
// sounds, MPEG that cannot be one .mp3, names, and the promises of every
// file written.
#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "support/decode_back.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/stored_sounds.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <csignal>
#endif

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;
using stored_sounds::encode;
using stored_sounds::mpeg_fixture;
using stored_sounds::mpeg_sound;
using stored_sounds::split_frames;
using stored_sounds::vorbis_sound;

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The comments of an Ogg Vorbis file, and its vendor string first.
std::vector<std::string> ogg_comments(const std::string& path) {
    OggVorbis_File vf;
    if (ov_fopen(path.c_str(), &vf) != 0) return {};
    const vorbis_comment* vc = ov_comment(&vf, -1);
    std::vector<std::string> out{vc->vendor};
    for (int i = 0; i < vc->comments; ++i) out.emplace_back(vc->user_comments[i], vc->comment_lengths[i]);
    ov_clear(&vf);
    return out;
}

bool has_comment(const std::vector<std::string>& comments, const std::string& comment) {
    return std::find(comments.begin() + (comments.empty() ? 0 : 1), comments.end(), comment) != comments.end();
}

Bytes loop_chunk(std::uint32_t start, std::uint32_t end) {
    Bytes loop(8);
    bankwriter::put32(loop, 0, start);
    bankwriter::put32(loop, 4, end);
    return loop;
}

// What ogginfo finds wrong with a file (nothing without ogginfo).
std::string ogginfo_complaints(const std::string& path) {
#if defined(_WIN32)
    (void)path;
    return "";
#else
    if (!file_exists("/usr/bin/ogginfo")) return "";
    const ToolRun run = run_tool("/usr/bin/ogginfo", {path});
    return run.status == 0 && !has(run.out, "WARNING") && !has(run.out, "ERROR") ? "" : run.out;
#endif
}

TEST(KeepOriginal, VorbisBecomesAnOggFileThatDecodesToItsWav) {
    TempDir dir;
    const auto stereo = encode(2, 44100, 20000);
    const auto mono = encode(1, 22050, 9000);
    Sound looping = vorbis_sound("Death", 20000, stereo, 2);
    looping.chunks.push_back({3, loop_chunk(1000, 15000)});
    const Sound plain = vorbis_sound("caf\xe9.ogg", 9000, mono, 1, 22050);  // not UTF-8
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({looping, plain}, 15));

    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("wav"), dir.file("b.fsb")}).status);
    const ToolRun run = run_bankrip({"--keep-original", "-o", dir.file("o"), dir.file("b.fsb")});
    ASSERT_EQ(0, run.status) << run.err;
#if defined(_WIN32)
    // The name is in the ANSI code page, which the listing gives as UTF-8.
    EXPECT_EQ((std::vector<std::string>{"Death.ogg", "caf\xc3\xa9.ogg"}), list_dir(dir.file("o")));
#else
    EXPECT_EQ((std::vector<std::string>{"Death.ogg", "caf\xe9.ogg"}), list_dir(dir.file("o")));
#endif
    EXPECT_TRUE(has(run.out, console_text(dir.file("o/Death.ogg") + ".\n"))) << run.out;
    for (const auto& [ogg, wav] : {std::pair{"Death.ogg", "Death.wav"}, std::pair{"caf\xe9.ogg", "caf\xe9.wav"}}) {
        const LossyDecode d = decode_ogg(dir.file("o/") + ogg);
        EXPECT_TRUE(d.ok) << d.error;
        EXPECT_TRUE(d.data == wav_data(dir.file("wav/") + wav)) << ogg << ": " << d.data.size() << " bytes";
        EXPECT_EQ("", ogginfo_complaints(dir.file("o/") + ogg));
    }
    const std::vector<std::string> tags = ogg_comments(dir.file("o/Death.ogg"));
    ASSERT_LE(1u, tags.size());
    EXPECT_EQ(0u, tags[0].find("bankrip ")) << tags[0];
    EXPECT_TRUE(has_comment(tags, "TITLE=Death"));
    EXPECT_TRUE(has_comment(tags, "LOOPSTART=1000"));
    EXPECT_TRUE(has_comment(tags, "LOOPLENGTH=14001"));
    const std::vector<std::string> other = ogg_comments(dir.file("o/caf\xe9.ogg"));
    EXPECT_TRUE(has_comment(other, "TITLE=caf\xef\xbf\xbd.ogg"));
    EXPECT_EQ(2u, other.size()) << "no loop tags";

    // The listing names the files and the format; --no-loops keeps no tags.
    const ToolRun json = run_bankrip({"--json", "--list", "--keep-original", "-o", dir.file("l"), dir.file("b.fsb")});
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ("ogg", doc["banks"][0]["sounds"][0]["format"]);
    EXPECT_EQ(dir.file("l/Death.ogg"), doc["banks"][0]["sounds"][0]["output"]);
    EXPECT_TRUE(doc["banks"][0]["sounds"][0].contains("loop_start"));
    const ToolRun text = run_bankrip({"--list", "--keep-original", dir.file("b.fsb")});
    EXPECT_TRUE(has(text.out, console_text("-> Death.ogg\n"))) << text.out;
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "--no-loops", "-o", dir.file("n"), dir.file("b.fsb")}).status);
    EXPECT_FALSE(has_comment(ogg_comments(dir.file("n/Death.ogg")), "LOOPSTART=1000"));
}

// A bank cut inside a sound's data: the .ogg holds the frames the WAV holds,
// and keeps the loop only when it lies in them, as the WAV does.
TEST(KeepOriginal, ACutSoundKeepsItsLoopOnlyWhereTheFileHoldsIt) {
    TempDir dir;
    const auto e = encode(1, 44100, 40000);
    for (const auto& [name, loop_end, kept] : {std::tuple{"early", 5000u, true}, std::tuple{"late", 39000u, false}}) {
        Sound s = vorbis_sound(name, 40000, e);
        s.chunks.push_back({3, loop_chunk(100, loop_end)});
        Bytes bank = bankwriter::write_fsb5({s}, 15);
        bank.erase(bank.end() - static_cast<std::ptrdiff_t>(bank.size() / 3), bank.end());  // cut in the data
        const std::string path = dir.file(std::string(name) + ".fsb");
        write_file(path, bank);
        const ToolRun wav = run_bankrip({"-q", "--json", "-o", dir.file("wav"), path});
        const ToolRun ogg = run_bankrip({"-q", "--json", "--keep-original", "-o", dir.file("ogg"), path});
        EXPECT_EQ(1, ogg.status) << ogg.err;
        EXPECT_TRUE(has(ogg.err, "(it is truncated)")) << ogg.err;
        EXPECT_TRUE(has(ogg.err, "frames stored before it")) << ogg.err;
        const std::string file = dir.file("ogg/") + name + ".ogg";
        const LossyDecode d = decode_ogg(file);
        EXPECT_TRUE(d.ok) << d.error;
        const Bytes expected = wav_data(dir.file("wav/") + name + ".wav");
        EXPECT_LT(10000u, expected.size());
        EXPECT_TRUE(d.data == expected) << name << ": " << d.data.size() << " bytes, the WAV's " << expected.size();
        EXPECT_EQ("", ogginfo_complaints(file));
        EXPECT_EQ(kept, has_comment(ogg_comments(file), "LOOPSTART=100")) << name;
        const auto sound = nlohmann::json::parse(ogg.out)["banks"][0]["sounds"][0];
        EXPECT_EQ("written in part", sound["status"]);
        EXPECT_EQ(kept, sound.contains("loop_start")) << name;
        EXPECT_EQ(nlohmann::json::parse(wav.out)["banks"][0]["sounds"][0].contains("loop_start"), kept);
    }
}

TEST(KeepOriginal, MpegBecomesItsFramesAsStoredWithoutATagFrame) {
    const Bytes tagged = mpeg_fixture("layer3_tagged.mp3");
    const Bytes untagged = mpeg_fixture("layer3_untagged.mp3");
    if (tagged.empty() || untagged.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
    const std::vector<Bytes> frames = split_frames(tagged);
    TempDir dir;
    // Padded to 4 as FSB5 does; the bank counts the tag frame in the length.
    Sound s = mpeg_sound("Death.wav", frames, 4, frames.size() * 1152);
    s.chunks.push_back({3, loop_chunk(0, 5000)});
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({s}, 11));
    const ToolRun wav = run_bankrip({"-q", "--json", "-o", dir.file("wav"), dir.file("b.fsb")});
    const ToolRun run = run_bankrip({"-q", "--json", "--keep-original", "-o", dir.file("o"), dir.file("b.fsb")});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(std::vector<std::string>{"Death.mp3"}, list_dir(dir.file("o")));
    // lame -t writes the same audio frames without the tag.
    EXPECT_TRUE(read_file(dir.file("o/Death.mp3")) == untagged);
    const LossyDecode d = decode_mp3(dir.file("o/Death.mp3"));
    EXPECT_TRUE(d.ok) << d.error;
    Bytes expected = wav_data(dir.file("wav/Death.wav"));
    ASSERT_EQ(d.data.size() + 1152 * 4, expected.size()) << "the WAV ends in the silence the tag frame stands for";
    EXPECT_TRUE(std::equal(d.data.begin(), d.data.end(), expected.begin()));
    // MP3 has no loop; the listing tells of the sound's all the same.
    const auto sound = nlohmann::json::parse(run.out)["banks"][0]["sounds"][0];
    EXPECT_EQ("mp3", sound["format"]);
    EXPECT_TRUE(sound.contains("loop_start"));
}

// Six channels are three streams interleaved, which one .mp3 cannot be:
// written in the --format, the line says why.
TEST(KeepOriginal, MpegOfMoreThanTwoChannelsIsWrittenInTheFormat) {
    const Bytes stereo = mpeg_fixture("layer3_untagged.mp3");
    if (stereo.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
    const std::vector<Bytes> frames = split_frames(stereo);
    std::vector<Bytes> three;
    for (const Bytes& f : frames) three.insert(three.end(), 3, f);
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({mpeg_sound("surround", three, 16, frames.size() * 1152, 6)}, 11));
    const std::string why = "its MPEG data is several interleaved streams (more than two channels), which no .mp3 file holds";
    const ToolRun wav = run_bankrip({"--keep-original", "-o", dir.file("w"), dir.file("b.fsb")});
    EXPECT_EQ(0, wav.status) << wav.err;
    EXPECT_TRUE(has(wav.out, console_text("surround.wav. (as WAV: " + why + ")\n"))) << wav.out;
    EXPECT_EQ(std::vector<std::string>{"surround.wav"}, list_dir(dir.file("w")));
    const ToolRun flac = run_bankrip({"--keep-original", "--format", "flac", "-o", dir.file("f"), dir.file("b.fsb")});
    EXPECT_EQ(0, flac.status) << flac.err;
    EXPECT_TRUE(has(flac.out, console_text("surround.flac. (as FLAC: " + why + ")\n"))) << flac.out;
    const FlacDecode d = decode_flac(dir.file("f/surround.flac"));
    EXPECT_TRUE(d.ok);
    EXPECT_TRUE(d.data == wav_data(dir.file("w/surround.wav")));
    const ToolRun json = run_bankrip({"--json", "--list", "--keep-original", dir.file("b.fsb")});
    EXPECT_EQ("wav", nlohmann::json::parse(json.out)["banks"][0]["sounds"][0]["format"]);
}

// Each format's extension makes a name of its own; repeats are numbered
// within it as today, whichever sounds are picked.
TEST(KeepOriginal, NamesRepeatAcrossFormatsAsToday) {
    const Bytes untagged = mpeg_fixture("layer3_untagged.mp3");
    if (untagged.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
    const std::vector<Bytes> frames = split_frames(untagged);
    Sound pcm;
    pcm.name = "Death";
    pcm.frames = 100;
    pcm.data.assign(200, 3);
    pcm.flags = 0x10;  // FSB4: 16-bit mono
    TempDir dir;
    write_file(dir.file("b.fsb"),
               bankwriter::write_fsb4({mpeg_sound("Death", frames, 1, frames.size() * 1152), pcm,
                                       mpeg_sound("Death.wav", frames, 1, frames.size() * 1152)}));
    const ToolRun run = run_bankrip({"-q", "--keep-original", "-o", dir.file("o"), dir.file("b.fsb")});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"Death (2).mp3", "Death.mp3", "Death.wav"}), list_dir(dir.file("o")));
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-s", "2", "-o", dir.file("s"), dir.file("b.fsb")}).status);
    EXPECT_EQ(std::vector<std::string>{"Death (2).mp3"}, list_dir(dir.file("s")));
    const ToolRun list = run_bankrip({"--list", "--keep-original", dir.file("b.fsb")});
    EXPECT_TRUE(has(list.out, console_text("-> Death (2).mp3\n"))) << list.out;
    // Without the option, as before.
    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("w"), dir.file("b.fsb")}).status);
    EXPECT_EQ((std::vector<std::string>{"Death (2).wav", "Death (3).wav", "Death.wav"}), list_dir(dir.file("w")));
}

TEST(KeepOriginal, WhatMayBeReplacedAndAFullDisk) {
    TempDir dir;
    const auto e = encode(1, 44100, 150000);
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({vorbis_sound("small", 2000, e), vorbis_sound("big", 150000, e),
                                                          vorbis_sound("after", 2000, e)},
                                                         15));
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", dir.file("o"), dir.file("b.fsb")}).status);
    const Bytes first = read_file(dir.file("o/big.ogg"));
    // A previous run's file is replaced; a file of another kind is left alone.
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", dir.file("o"), dir.file("b.fsb")}).status);
    EXPECT_TRUE(first == read_file(dir.file("o/big.ogg")));
    write_file(dir.file("o/big.ogg"), Bytes{'R', 'I', 'F', 'F'});
    const ToolRun refused = run_bankrip({"-q", "--keep-original", "-o", dir.file("o"), dir.file("b.fsb")});
    EXPECT_EQ(1, refused.status);
    EXPECT_TRUE(has(refused.err, "a file that is not an Ogg file is in the way; not overwritten")) << refused.err;
    EXPECT_EQ((Bytes{'R', 'I', 'F', 'F'}), read_file(dir.file("o/big.ogg")));

#if !defined(_WIN32)
    // The file size limit stands in for a full disk: the big file fails,
    // nothing of it stays, and the next sound is written.
    const std::size_t small = read_file(dir.file("o/small.ogg")).size();
    ASSERT_LT(small + 4096, first.size());
    const ToolRun full = run_tool(BANKRIP_PATH, {"-q", "--keep-original", "-o", dir.file("full"), dir.file("b.fsb")}, "",
                                  small + 2048);
    EXPECT_EQ(1, full.status);
    EXPECT_TRUE(has(full.err, "big.ogg: writing failed: File too large; the incomplete file was removed")) << full.err;
    EXPECT_EQ((std::vector<std::string>{"after.ogg", "small.ogg"}), list_dir(dir.file("full")));
#endif
}

#if !defined(_WIN32)
// Signals at random moments leave only whole .ogg files, each decoding to
// the sound's frames.
TEST(KeepOriginal, SignalsAtAnyMomentLeaveOnlyCompleteOggFiles) {
    TempDir dir;
    const auto e = encode(1, 44100, 3000);
    std::vector<Sound> sounds;
    for (int i = 0; i < 300; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "s%03d", i);
        sounds.push_back(vorbis_sound(name, 3000, e));
    }
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5(sounds, 15));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", dir.file("whole"), dir.file("b.fsb")}).status);
    const auto full_run = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::srand(54321);
    int interrupted = 0;
    for (int i = 0; i < 8; ++i) {
        const std::string out = dir.file("out" + std::to_string(i));
        const auto delay = std::chrono::microseconds(std::rand() % (full_run.count() * 3 / 4 + 1));
        const ToolRun run = run_bankrip_signalled_after({"-q", "--keep-original", "-o", out, dir.file("b.fsb")}, delay, SIGTERM);
        ASSERT_TRUE(run.status == 0 || run.status == 128 + SIGTERM || run.status == -1) << run.status << run.err;
        if (run.status != 0) ++interrupted;
        if (!file_exists(out)) continue;
        for (const std::string& name : list_dir(out)) {
            ASSERT_TRUE(name.size() > 4 && name.compare(name.size() - 4, 4, ".ogg") == 0) << name;
            EXPECT_TRUE(read_file(out + "/" + name) == read_file(dir.file("whole/") + name)) << name;
        }
    }
    EXPECT_GT(interrupted, 0);
}
#endif


// A sound with nothing in it gets no file in any format: not a WAV header
// alone, not an .ogg of 0 frames, not an empty .mp3; it is said, and it is
// not a failure.
TEST(KeepOriginal, ASoundWithNothingInItGetsNoFileInAnyFormat) {
    const Bytes untagged = mpeg_fixture("layer3_untagged.mp3");
    if (untagged.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
    TempDir dir;
    Sound empty_pcm;
    empty_pcm.name = "nothing";
    Sound full;
    full.name = "full";
    full.frames = 2;
    full.data = {1, 2, 3, 4};
    write_file(dir.file("pcm.fsb"), bankwriter::write_fsb5({empty_pcm, full}, 2));
    Sound empty_mpeg = mpeg_sound("silent", {}, 4, 0);
    write_file(dir.file("mpeg.fsb"), bankwriter::write_fsb5({empty_mpeg}, 11));
    for (const std::string format : {"wav", "flac"}) {
        for (const bool keep : {false, true}) {
            std::vector<std::string> args{"--json", "--format", format, "-o", dir.file("o"), dir.file("pcm.fsb"),
                                          dir.file("mpeg.fsb")};
            if (keep) args.insert(args.begin(), "--keep-original");
            const ToolRun run = run_bankrip(args);
            EXPECT_EQ(0, run.status) << run.err;
            EXPECT_TRUE(has(run.err, "nothing." + format + ": it holds no audio; no file written")) << run.err;
            EXPECT_TRUE(has(run.err, "2 sounds with no audio, no file")) << run.err;
            EXPECT_EQ(std::vector<std::string>{"full." + format}, list_dir(dir.file("o/pcm")));
            EXPECT_TRUE(list_dir(dir.file("o/mpeg")).empty()) << format << keep;
            const auto doc = nlohmann::json::parse(run.out);
            EXPECT_EQ("empty", doc["banks"][0]["sounds"][0]["status"]);
            std::filesystem::remove_all(dir.file("o"));
        }
    }
}

}  // namespace
