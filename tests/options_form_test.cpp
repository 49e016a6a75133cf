// The options form run as a person types it: options, folders, names ending
// in .wav, loops, listings, the summary and the exit statuses.
#include <gtest/gtest.h>

#include <chrono>

#include <algorithm>
#include <filesystem>
#include <cctype>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "bank_writer.h"
#include "driver/sound_selection.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "wav/output_name.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

Sound pcm(const std::string& name, std::uint32_t frames) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.data.resize(frames * 2u);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * 13 + 1);
    return s;
}

Bytes loop_chunk(std::uint32_t start, std::uint32_t end) {
    Bytes p(8);
    bankwriter::put32(p, 0, start);
    bankwriter::put32(p, 4, end);
    return p;
}

std::string lines_of(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != '\r') out += c;
    }
    return out;
}

TEST(OptionsForm, HelpVersionAndUsageErrors) {
    const ToolRun help = run_bankrip({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("Usage: bankrip [OPTION]..."));
    EXPECT_NE(std::string::npos, help.out.find("bankrip <fsb_name> [dest_dir]"));
    for (const unsigned char c : help.out) EXPECT_LT(c, 0x80) << "the help is ASCII";
    EXPECT_EQ(help.out, run_bankrip({"-h"}).out);

    const ToolRun version = run_bankrip({"-V"});
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.out.find("bankrip "));
    EXPECT_NE(std::string::npos, version.out.find("libmpg123 "));
    EXPECT_NE(std::string::npos, version.out.find("libvorbis "));

    for (const auto& [args, line] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--bogus", "x.fsb"}, "bankrip: unknown option '--bogus'; try 'bankrip --help'\n"},
             {{"-qz", "x.fsb"}, "bankrip: unknown option '-z'; try 'bankrip --help'\n"},
             {{"x.fsb", "-o"}, "bankrip: option '-o' needs a value; try 'bankrip --help'\n"},  // an option after the bank
             {{"-q", "x.fsb", "-o"}, "bankrip: option '-o' needs a value; try 'bankrip --help'\n"},
             {{"-q", "--output"}, "bankrip: option '--output' needs a value; try 'bankrip --help'\n"},
             {{"--json=yes", "x"}, "bankrip: option '--json' takes no value; try 'bankrip --help'\n"},
             {{"-q"}, "bankrip: no bank or folder given; try 'bankrip --help'\n"},
             {{"-s", "9-3", "x"}, "bankrip: the range 9-3 of --sound runs backwards; try 'bankrip --help'\n"}}) {
        if (line.empty()) continue;
        TempDir dir;
        const ToolRun run = run_bankrip(args, dir.path());
        EXPECT_EQ(2, run.status) << line;
        EXPECT_EQ(console_text(line), run.err);
        EXPECT_EQ("", run.out);
        EXPECT_TRUE(list_dir(dir.path()).empty()) << "nothing written";
    }
}

TEST(OptionsForm, RelativePathsFromTheCurrentFolderAndWavNames) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    write_file(dir.file("in/bank.fsb"), bankwriter::write_fsb5({pcm("Death", 10), pcm("step.ogg", 4), pcm("", 2)}, 2));
    const ToolRun run = run_bankrip({"-o", "out/x", "in/bank.fsb"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"Death.wav", "step.wav", "subsound_0002.wav"}), list_dir(dir.file("out/x")));
    EXPECT_EQ(44u + 20, read_file(dir.file("out/x/Death.wav")).size()) << "no smpl chunk without a loop";
    // Progress as in the first form, then the summary.
    const char sep = std::filesystem::path::preferred_separator;
    EXPECT_NE(std::string::npos, lines_of(run.out).find(std::string("out") + "/x" + sep + "Death.wav.\n")) << run.out;
    EXPECT_NE(std::string::npos, run.err.find("bankrip: 3 sounds (")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(" from 1 bank in ")) << run.err;

    // Without -o: the current folder. A path starting with '-' after "--".
    write_file(dir.file("-odd.fsb"), bankwriter::write_fsb5({pcm("a", 2)}, 2));
    const ToolRun quiet = run_bankrip({"-q", "--", "-odd.fsb"}, dir.path());
    EXPECT_EQ(0, quiet.status) << quiet.err;
    EXPECT_EQ("", quiet.out);
    EXPECT_TRUE(file_exists(dir.file("a.wav")));
}

TEST(OptionsForm, LoopingSoundsCarryASmplChunk) {
    TempDir dir;
    Sound looping = pcm("music", 5000);
    looping.chunks.push_back({3, loop_chunk(100, 3999)});
    Sound whole = pcm("whole", 5000);
    whole.chunks.push_back({3, loop_chunk(0, 4999)});  // the default of every sound: no loop
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({looping, whole}, 2));
    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("o"), dir.file("b.fsb")}).status);
    const Bytes a = read_file(dir.file("o/music.wav"));
    ASSERT_EQ(44u + 10000 + 68, a.size());
    EXPECT_EQ(a.size() - 8, u32(a, 4));
    EXPECT_EQ(10000u, u32(a, 40));
    const std::size_t smpl = 44 + 10000;
    EXPECT_EQ(Bytes({'s', 'm', 'p', 'l'}), Bytes(a.begin() + smpl, a.begin() + smpl + 4));
    EXPECT_EQ(60u, u32(a, smpl + 4));
    EXPECT_EQ(1000000000u / 44100, u32(a, smpl + 16));
    EXPECT_EQ(1u, u32(a, smpl + 36));        // one loop
    EXPECT_EQ(0u, u32(a, smpl + 44 + 4));    // forward
    EXPECT_EQ(100u, u32(a, smpl + 44 + 8));  // first frame
    EXPECT_EQ(3999u, u32(a, smpl + 44 + 12)); // last frame, included
    EXPECT_EQ(44u + 10000, read_file(dir.file("o/whole.wav")).size());

    ASSERT_EQ(0, run_bankrip({"-q", "--no-loops", "-o", dir.file("n"), dir.file("b.fsb")}).status);
    EXPECT_EQ(44u + 10000, read_file(dir.file("n/music.wav")).size());
    // The first form never adds a chunk: callers read its files as header plus samples.
    ASSERT_EQ(0, run_bankrip({dir.file("b.fsb"), dir.file("seed")}).status);
    EXPECT_EQ(44u + 10000, read_file(dir.file("seed/music")).size());
}

TEST(OptionsForm, FoldersAndSeveralBanksGetAFolderEach) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("game/Audio/deep"));
    write_file(dir.file("game/Audio/Music.bank"), bankwriter::write_fev({bankwriter::write_fsb5({pcm("x", 2)}, 2)}));
    write_file(dir.file("game/Audio/deep/sfx.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    write_file(dir.file("game/readme.txt"), Bytes(300, 'r'));
    write_file(dir.file("solo.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
#if !defined(_WIN32)
    std::filesystem::create_directory_symlink(dir.file("game/Audio"), dir.file("game/loop"));  // Audio again: read once
#endif
    const ToolRun run = run_bankrip({"-q", "-o", "out", "game", "solo.fsb"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(file_exists(dir.file("out/Audio/Music/x.wav")));
    EXPECT_TRUE(file_exists(dir.file("out/Audio/deep/sfx/x.wav")));
    EXPECT_TRUE(file_exists(dir.file("out/solo/x.wav")));
    EXPECT_EQ((std::vector<std::string>{"Audio", "solo"}), list_dir(dir.file("out")));
    EXPECT_NE(std::string::npos, run.err.find("3 sounds")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("from 3 banks")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("1 file without a bank passed over")) << run.err;

    // Two banks that would share a folder do not: the later one is numbered.
    std::filesystem::create_directories(dir.file("b"));
    write_file(dir.file("b/solo.bank"), bankwriter::write_fev({bankwriter::write_fsb5({pcm("x", 2)}, 2)}));
    ASSERT_EQ(0, run_bankrip({"-q", "-o", "two", "solo.fsb", "b/solo.bank"}, dir.path()).status);
    EXPECT_EQ((std::vector<std::string>{"solo", "solo (2)"}), list_dir(dir.file("two")));
}

// The Windows console leaves wildcards to the program; elsewhere the shell
// has expanded them before the tool starts.
TEST(OptionsForm, WildcardsInOperands) {
    TempDir dir;
    write_file(dir.file("a.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    write_file(dir.file("b.fsb"), bankwriter::write_fsb4({pcm("y", 2)}));
    write_file(dir.file("c.txt"), Bytes(10, 't'));
    const ToolRun run = run_bankrip({"-q", "-o", "out", "*.fsb"}, dir.path());
#if defined(_WIN32)
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"a", "b"}), list_dir(dir.file("out")));
#else
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("*.fsb: no such file or folder")) << run.err;
#endif
}

TEST(OptionsForm, AFileThatCannotBeReadIsReportedAndTheOthersGoOn) {
    TempDir dir;
    write_file(dir.file("good.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    write_file(dir.file("junk.fsb"), Bytes(100, 0xA5));
    const ToolRun run = run_bankrip({"-q", "-o", "out", "missing.fsb", "junk.fsb", "good.fsb"}, dir.path());
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(file_exists(dir.file("out/good/x.wav")));
    EXPECT_NE(std::string::npos, run.err.find("bankrip: missing.fsb: no such file or folder")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("bankrip: junk.fsb: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("2 files could not be read")) << run.err;
}

TEST(OptionsForm, SoundSelectionKeepsEachSoundsName) {
    TempDir dir;
    write_file(dir.file("b.fsb"),
               bankwriter::write_fsb5({pcm("a", 2), pcm("a", 2), pcm("b", 2), pcm("c", 2), pcm("d", 2)}, 2));
    ASSERT_EQ(0, run_bankrip({"-q", "-s", "1", "-s", "3-4", "--sound=b", "-o", "o", "b.fsb"}, dir.path()).status);
    // Sound 1 is the second "a": named as it is in a full run.
    EXPECT_EQ((std::vector<std::string>{"a (2).wav", "b.wav", "c.wav", "d.wav"}), list_dir(dir.file("o")));
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// -s by the file's name and by pattern; a value that picks nothing says
// what it could have meant.
TEST(OptionsForm, SoundsArePickedByFileNameAndPatternAndMissesGetAHint) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("vo_hello.wav", 2), pcm("vo_bye", 2),
                                                          pcm("rabbit_scream", 2), pcm("rabbit_scream", 2)},
                                                         2));
    ASSERT_EQ(0, run_bankrip({"-q", "-s", "vo_*", "-s", "rabbit_scream (2).wav", "-o", "o", "b.fsb"}, dir.path()).status);
    EXPECT_EQ((std::vector<std::string>{"rabbit_scream (2).wav", "vo_bye.wav", "vo_hello.wav"}), list_dir(dir.file("o")));
    ASSERT_EQ(0, run_bankrip({"-q", "-s", "[r]*", "-s", "vo_b?e.wav", "-o", "p", "b.fsb"}, dir.path()).status);
    EXPECT_EQ((std::vector<std::string>{"rabbit_scream (2).wav", "rabbit_scream.wav", "vo_bye.wav"}),
              list_dir(dir.file("p")));

    const ToolRun missed = run_bankrip({"-q", "-l", "-s", "rabit_scream", "-s", "12", "-s", "xyzzy*", "b.fsb"}, dir.path());
    EXPECT_EQ(1, missed.status);
    EXPECT_TRUE(has(missed.err, "--sound 'rabit_scream' picked no sound of the banks read; the closest name is "
                                "'rabbit_scream'")) << missed.err;
    EXPECT_TRUE(has(missed.err, "--sound '12' picked no sound of the banks read; the sounds are numbered 0 to 3"))
        << missed.err;
    EXPECT_TRUE(has(missed.err, "--sound 'xyzzy*' picked no sound")) << missed.err;

    EXPECT_TRUE(matches_pattern("a*b*c", "axxbyyc"));
    EXPECT_FALSE(matches_pattern("a*b*c", "axxbyy"));
    EXPECT_TRUE(matches_pattern("[!x]?", "ab"));
    EXPECT_TRUE(matches_pattern("[a-c]", "b"));
    EXPECT_TRUE(matches_pattern("[", "["));
    const std::string many(2000, 'a');
    EXPECT_FALSE(matches_pattern("*a*a*a*a*a*a*a*b", many.c_str())) << "and quickly";
}

// The summary's time counts the last workers' sounds.
TEST(OptionsForm, TheSummaryTimeIsTheWholeRunWithWorkers) {
    TempDir dir;
    std::vector<Sound> sounds;
    for (const char* name : {"sa", "sb", "sc", "sd", "se", "sf", "sg", "sh"}) sounds.push_back(pcm(name, 3000000));
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5(sounds, 2));
    const auto start = std::chrono::steady_clock::now();
    const ToolRun run = run_bankrip({"-q", "-j", "4", "-o", "o", "b.fsb"}, dir.path());
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(0, run.status) << run.err;
    const auto at = run.err.find(" in ");
    ASSERT_NE(std::string::npos, at) << run.err;
    const double said = std::stod(run.err.substr(at + 4));
    if (took >= 0.2) {
        EXPECT_GE(said, took / 2 - 0.05) << run.err;
    }
    EXPECT_LE(said, took + 0.05) << run.err;
}

#if !defined(_WIN32)
// Links in a walked folder are followed, to files and to folders; each
// bank is read once however many links reach it, and a cycle ends.
TEST(OptionsForm, AWalkFollowsLinksAndReadsEachBankOnce) {
    TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.file("real"));
    fs::create_directories(dir.file("walk/sub"));
    write_file(dir.file("real/a.fsb"), bankwriter::write_fsb5({pcm("a", 2)}, 2));
    write_file(dir.file("real/b.fsb"), bankwriter::write_fsb5({pcm("b", 2)}, 2));
    fs::create_symlink("../real/a.fsb", dir.file("walk/a1.fsb"));
    fs::create_symlink("../real/a.fsb", dir.file("walk/a2.fsb"));
    fs::create_directory_symlink("../../real", dir.file("walk/sub/real"));
    fs::create_directory_symlink("..", dir.file("walk/sub/up"));
    fs::create_symlink("/nonexistent.fsb", dir.file("walk/broken.fsb"));
    const ToolRun run = run_bankrip({"--json", "-o", dir.file("o"), dir.file("walk")});
    EXPECT_EQ(0, run.status) << run.err;
    const auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(2u, doc["banks"].size()) << run.out;
    EXPECT_TRUE(file_exists(dir.file("o/a1/a.wav")));
    EXPECT_TRUE(file_exists(dir.file("o/sub/real/b/b.wav")));
    EXPECT_FALSE(fs::exists(dir.file("o/a2")));
    EXPECT_TRUE(fs::is_symlink(dir.file("walk/a1.fsb"))) << "nothing is written through a link";
}
#endif

// A file with its bank further in: read when named, as --scan would; in a
// walk, passed over with a hint that names it.
TEST(OptionsForm, ABankFurtherInIsReadWhenNamedAndHintedInAWalk) {
    TempDir dir;
    Bytes archive(1000, 0x5A);
    const Bytes bank = bankwriter::write_fsb5({pcm("inside", 2)}, 2);
    archive.insert(archive.end(), bank.begin(), bank.end());
    std::filesystem::create_directories(dir.file("game"));
    write_file(dir.file("game/data.pak"), archive);
    const ToolRun named = run_bankrip({"-o", "o", "game/data.pak"}, dir.path());
    EXPECT_EQ(0, named.status) << named.err;
    EXPECT_TRUE(file_exists(dir.file("o/inside.wav")));
    EXPECT_TRUE(has(named.err, "data.pak: no bank at its start; the banks found further in are read")) << named.err;
    const ToolRun walked = run_bankrip({"-o", "w", "game"}, dir.path());
    EXPECT_EQ(0, walked.status) << walked.err;
    const std::string pak = std::string("game") + static_cast<char>(std::filesystem::path::preferred_separator) + "data.pak";
    EXPECT_TRUE(has(walked.err, "passed over, with no bank at their start but a bank's magic further in: " + pak +
                                    "; --scan looks inside them"))
        << walked.err;
    EXPECT_FALSE(has(run_bankrip({"--scan", "-o", "s", "game"}, dir.path()).err, "passed over"));
}

// Operands in JSON and listings in the order given, unreadable ones where
// they stand.
TEST(OptionsForm, OperandsKeepTheirCommandLineOrder) {
    TempDir dir;
    write_file(dir.file("z.fsb"), bankwriter::write_fsb5({pcm("z", 2)}, 2));
    write_file(dir.file("a.fsb"), bankwriter::write_fsb5({pcm("a", 2)}, 2));
    const ToolRun run = run_bankrip({"--json", "-l", "z.fsb", "missing.fsb", "a.fsb"}, dir.path());
    EXPECT_EQ(1, run.status);
    const auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(3u, doc["banks"].size()) << run.out;
    EXPECT_EQ("z.fsb", doc["banks"][0]["path"]);
    EXPECT_EQ("missing.fsb", doc["banks"][1]["path"]);
    EXPECT_TRUE(doc["banks"][1].contains("error"));
    EXPECT_EQ("a.fsb", doc["banks"][2]["path"]);
}

// -o naming a file: said once; no line names a file that was never written.
TEST(OptionsForm, AnOutputThatIsAFileListsNoFiles) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    write_file(dir.file("afile"), Bytes{1});
    const ToolRun run = run_bankrip({"-o", "afile", "b.fsb"}, dir.path());
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(has(run.err, "it is a file, not a folder")) << run.err;
    EXPECT_FALSE(has(run.out, "a.wav")) << run.out;
    EXPECT_FALSE(has(run.err, "a.wav")) << run.err;
}

TEST(OptionsForm, ListingWritesNothingAndJsonIsOneDocument) {
    TempDir dir;
    Sound looping = pcm("loop\x01me", 5000);
    looping.chunks.push_back({3, loop_chunk(100, 3999)});
    Sound bad_utf8 = pcm("caf\xE9", 10);
    bad_utf8.frequency = 22050;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({looping, bad_utf8}, 2));

    const ToolRun list = run_bankrip({"-l", "b.fsb"}, dir.path());
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_EQ((std::vector<std::string>{"b.fsb"}), list_dir(dir.path()));
    EXPECT_EQ("b.fsb: 2 sounds\n"
              "     0  loop_me  PCM16  1 ch  44100 Hz  5000 frames  0:00.113  loop 100-3999  -> loop_me.wav\n"
              "     1  caf\xE9  PCM16  1 ch  22050 Hz  10 frames  0:00.000  -> caf\xE9.wav\n",
              lines_of(list.out));
    EXPECT_NE(std::string::npos, list.err.find("bankrip: 2 sounds listed from 1 bank in ")) << list.err;

    const ToolRun json = run_bankrip({"--json", "--list", "b.fsb"}, dir.path());
    EXPECT_EQ(0, json.status) << json.err;
    const auto doc = nlohmann::json::parse(json.out);
    ASSERT_EQ(1u, doc["banks"].size());
    const auto& sounds = doc["banks"][0]["sounds"];
    ASSERT_EQ(2u, sounds.size());
    EXPECT_EQ("loop\x01me", sounds[0]["name"]);
    EXPECT_EQ("PCM16", sounds[0]["codec"]);
    EXPECT_EQ(5000, sounds[0]["frames"]);
    EXPECT_EQ(100, sounds[0]["loop_start"]);
    EXPECT_EQ(4000, sounds[0]["loop_end"]) << "exclusive";
    EXPECT_EQ("listed", sounds[0]["status"]);
    EXPECT_EQ("loop_me.wav", sounds[0]["output"]);
    EXPECT_FALSE(sounds[1].contains("loop_start"));
    EXPECT_EQ("caf\xEF\xBF\xBD", sounds[1]["name"]) << "invalid UTF-8 becomes U+FFFD";
    EXPECT_EQ("636166e9", sounds[1]["name_hex"]);
    EXPECT_EQ(22050, sounds[1]["rate"]);

    // Writing with --json: progress on standard error, the document on standard output.
    const ToolRun written = run_bankrip({"--json", "-o", "o", "b.fsb"}, dir.path());
    EXPECT_EQ(0, written.status) << written.err;
    const auto doc2 = nlohmann::json::parse(written.out);
    EXPECT_EQ("written", doc2["banks"][0]["sounds"][1]["status"]);
    EXPECT_NE(std::string::npos, written.err.find("loop_me.wav."));
    EXPECT_TRUE(file_exists(dir.file("o/loop_me.wav")));
}

TEST(OptionsForm, ExitStatusOneWhenASoundIsNotWritten) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    std::filesystem::create_directories(dir.file("o"));
    write_file(dir.file("o/b.wav"), Bytes(10, 'x'));  // not ours: left alone
    const ToolRun run = run_bankrip({"-q", "-o", "o", "b.fsb"}, dir.path());
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("bankrip: 1 sound (")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(console_text("; 1 not written\n"))) << run.err;
}

TEST(OptionsForm, KeysAreTriedInTurnAndNeverShown) {
    TempDir dir;
    const std::string key = "s3cr3t-k3y";
    write_file(dir.file("e.fsb"), bankwriter::encrypt(bankwriter::write_fsb5({pcm("a", 2)}, 2), key));
    write_file(dir.file("p.fsb"), bankwriter::write_fsb4({pcm("b", 2)}));
    const ToolRun refused = run_bankrip({"-q", "-o", "o", "-k", "wrong", "e.fsb"}, dir.path());
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find("does not fit")) << refused.err;
    EXPECT_EQ(std::string::npos, refused.err.find("wrong"));

    const ToolRun listed = run_bankrip({"--json", "-l", "-k", "wrong", "--key=" + key, "e.fsb", "p.fsb"}, dir.path());
    EXPECT_EQ(0, listed.status) << listed.err;
    EXPECT_EQ(std::string::npos, (listed.out + listed.err).find(key));
    const auto doc = nlohmann::json::parse(listed.out);
    EXPECT_EQ(true, doc["banks"][0]["encrypted"]);
    EXPECT_FALSE(doc["banks"][1].contains("encrypted"));
    EXPECT_EQ("a", doc["banks"][0]["sounds"][0]["name"]);

    const ToolRun written = run_bankrip({"-q", "-o", "o", "-k", key, "e.fsb"}, dir.path());
    EXPECT_EQ(0, written.status) << written.err;
    EXPECT_TRUE(file_exists(dir.file("o/a.wav")));
}

TEST(OptionsForm, ScanFindsBanksInsideOtherDataAndSaysWhere) {
    TempDir dir;
    Bytes archive(3000, 0x5A);
    const Bytes first = bankwriter::write_fsb4({pcm("one", 4)});
    archive.insert(archive.end(), first.begin(), first.end());
    archive.insert(archive.end(), 77, 0x11);
    const std::size_t second_at = archive.size();
    const Bytes second = bankwriter::write_fsb5({pcm("two", 4)}, 2);
    archive.insert(archive.end(), second.begin(), second.end());
    write_file(dir.file("game.pak"), archive);

    // Named, it is looked inside as --scan would, and that is said.
    const ToolRun named = run_bankrip({"-q", "-l", "game.pak"}, dir.path());
    EXPECT_EQ(0, named.status) << named.err;
    EXPECT_NE(std::string::npos, named.err.find("no bank at its start; the banks found further in are read"));
    const ToolRun listed = run_bankrip({"--scan", "--json", "-l", "game.pak"}, dir.path());
    EXPECT_EQ(0, listed.status) << listed.err;
    const auto sounds = nlohmann::json::parse(listed.out)["banks"][0]["sounds"];
    ASSERT_EQ(2u, sounds.size());
    EXPECT_EQ(3000, sounds[0]["bank_offset"]);
    EXPECT_EQ(second_at, sounds[1]["bank_offset"].get<std::size_t>());
    const ToolRun text = run_bankrip({"--scan", "-l", "game.pak"}, dir.path());
    EXPECT_NE(std::string::npos, lines_of(text.out).find("  bank at offset 3000 (0xbb8):\n     0  one")) << text.out;
    EXPECT_EQ(0, run_bankrip({"-q", "--scan", "-o", "o", "game.pak"}, dir.path()).status);
    EXPECT_EQ((std::vector<std::string>{"one.wav", "two.wav"}), list_dir(dir.file("o")));
}

// A truncated bank whose data holds something that reads as a bank was
// dropped by the scan without a word (status 0). Now the scan saves what it
// can of it, as a run without --scan does, says so, and ends with status 1;
// the bank inside its data is read too.
TEST(OptionsForm, ScanReportsATruncatedBankAndSavesWhatItCan) {
    TempDir dir;
    const Bytes inner = bankwriter::write_fsb4({pcm("inner", 6)});
    Sound holder = pcm("holder", 0);
    holder.data = inner;
    holder.data.resize(inner.size() + 400, 0x33);
    holder.frames = static_cast<std::uint32_t>(holder.data.size() / 2);
    Bytes bank = bankwriter::write_fsb5({pcm("whole", 8), holder}, 2);
    bank.resize(bank.size() - 200);  // cut inside the holder's data, after the inner bank
    write_file(dir.file("cut.fsb"), bank);

    const ToolRun plain = run_bankrip({"-o", "plain", "cut.fsb"}, dir.path());
    const ToolRun scanned = run_bankrip({"--scan", "-o", "scanned", "cut.fsb"}, dir.path());
    EXPECT_EQ(1, plain.status) << plain.err;
    EXPECT_EQ(1, scanned.status) << scanned.err;
    for (const ToolRun* run : {&plain, &scanned}) {
        EXPECT_NE(std::string::npos, run->err.find("truncated")) << run->err;
        EXPECT_NE(std::string::npos, run->err.find("1 written in part")) << run->err;
    }
    EXPECT_EQ((std::vector<std::string>{"holder.wav", "whole.wav"}), list_dir(dir.file("plain")));
    EXPECT_EQ((std::vector<std::string>{"holder.wav", "inner.wav", "whole.wav"}), list_dir(dir.file("scanned")));
    for (const char* wav : {"holder.wav", "whole.wav"}) {
        EXPECT_EQ(read_file(dir.file(std::string("plain/") + wav)), read_file(dir.file(std::string("scanned/") + wav)))
            << wav;
    }
    EXPECT_EQ(44u + 6 * 2, read_file(dir.file("scanned/inner.wav")).size());
}

// The files below a folder, as paths relative to it, sorted.
std::vector<std::string> tree_of(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        found.push_back(std::filesystem::relative(e.path(), folder).generic_string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(OptionsForm, OnlyABankWithSoundsTakesAFolderName) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g"));
    write_file(dir.file("g/n.bank"), bankwriter::write_fev({}));  // events only: sorts first
    write_file(dir.file("g/n.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    const ToolRun run = run_bankrip({"-q", "-o", "out", "g"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"n", "n/x.wav"}), tree_of(dir.file("out")));
    // A listing names the folder the same way.
    const ToolRun listed = run_bankrip({"--json", "-l", "-o", "o", "g"}, dir.path());
    const auto doc = nlohmann::json::parse(listed.out);
    const char sep = std::filesystem::path::preferred_separator;
    EXPECT_EQ(std::string("o") + sep + "n" + sep + "x.wav", doc["banks"][1]["sounds"][0]["output"]);
}

TEST(OptionsForm, AWalkedFileNamedLikeABankThatDoesNotOpenIsReported) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g"));
    write_file(dir.file("g/locked.fsb"), bankwriter::encrypt(bankwriter::write_fsb5({pcm("a", 2)}, 2), "k3y"));
    write_file(dir.file("g/cut.BANK"), Bytes(40, 0));
    write_file(dir.file("g/x360.fsb.xen"), Bytes(64, 0x33));
    write_file(dir.file("g/notes.txt"), Bytes(64, 0x33));
    write_file(dir.file("g/fsb"), Bytes(64, 0x33));
    write_file(dir.file("g/ok.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    const ToolRun run = run_bankrip({"-q", "-o", "out", "g"}, dir.path());
    EXPECT_EQ(1, run.status) << run.err;
    const char sep = std::filesystem::path::preferred_separator;
    const std::string g = std::string("g") + sep;
    EXPECT_NE(std::string::npos, run.err.find("bankrip: " + g + "locked.fsb: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("to give its key, use --key")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("bankrip: " + g + "cut.BANK: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("bankrip: " + g + "x360.fsb.xen: ")) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find("notes.txt")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("2 files without a bank passed over")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("3 files could not be read")) << run.err;
    EXPECT_TRUE(file_exists(dir.file("out/ok/x.wav")));
}

TEST(OptionsForm, BankFolderNamesNeverLeaveTheDestination) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g/a"));
    std::filesystem::create_directories(dir.file("g/b"));
    std::filesystem::create_directories(dir.file("out"));
    write_file(dir.file("boom.wav"), Bytes(44, 0));  // beside the destination: must stay as it is
    write_file(dir.file("g/...fsb"), bankwriter::write_fsb4({pcm("boom", 2)}));
    write_file(dir.file("g/..fsb"), bankwriter::write_fsb4({pcm("boom", 2)}));
    // Windows drops the trailing space of ".. " and would take it as "..".
    write_file(dir.file("g/.. .fsb"), bankwriter::write_fsb4({pcm("boom", 2)}));
    // Names of 252 bytes, and 255 with " (2)": beyond Windows' 260-byte
    // paths, so shorter there.
    const std::string n252(UsedNames::WINDOWS_RULES ? 60 : 252, 'n');
    write_file(dir.file("g/a/" + n252 + ".x"), bankwriter::write_fsb4({pcm("boom", 2)}));
    write_file(dir.file("g/b/" + n252 + ".x"), bankwriter::write_fsb4({pcm("boom", 2)}));
    const ToolRun run = run_bankrip({"-q", "-o", "out", "g/a", "g/b", "g"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(Bytes(44, 0), read_file(dir.file("boom.wav")));
    EXPECT_EQ((std::vector<std::string>{"boom.wav", "g", "out"}), list_dir(dir.path()));
    EXPECT_TRUE(file_exists(dir.file("out/" + n252 + "/boom.wav")));
    EXPECT_TRUE(file_exists(dir.file("out/" + std::string(UsedNames::WINDOWS_RULES ? 60 : 251, 'n') + " (2)/boom.wav")));
    EXPECT_TRUE(file_exists(dir.file("out/__/boom.wav")));
    EXPECT_TRUE(file_exists(dir.file("out/_/boom.wav")));
#if defined(_WIN32)
    EXPECT_TRUE(file_exists(dir.file("out/___/boom.wav")));
#else
    EXPECT_TRUE(file_exists(dir.file("out/.. /boom.wav")));
#endif
}

// A volume that ignores case takes Music and music as one folder: the
// second bank is numbered there, by the folder's identity.
TEST(OptionsForm, TwoBanksNeverShareAFolderWhateverTheVolumeFolds) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g"));
    write_file(dir.file("g/Music.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    write_file(dir.file("g/music.bank"), bankwriter::write_fev({bankwriter::write_fsb5({pcm("x", 2)}, 2)}));
    const ToolRun run = run_bankrip({"-q", "-o", "out", "g/Music.fsb", "g/music.bank"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    const bool folds = file_exists(dir.file("g/MUSIC.FSB"));
    const std::vector<std::string> expected{"Music", folds ? "music (2)" : "music"};
    EXPECT_EQ(expected, list_dir(dir.file("out")));
}

// The bank file "bank" in the folder that is also the destination stands
// where its folder would be: the folder is numbered.
TEST(OptionsForm, AnExtensionlessBankInsideTheDestinationGetsANumberedFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("d"));
    write_file(dir.file("d/bank"), bankwriter::write_fsb4({pcm("x", 2)}));
    write_file(dir.file("d/y.fsb"), bankwriter::write_fsb4({pcm("y", 2)}));
    const ToolRun run = run_bankrip({"-q", "-o", "d", "d"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"bank", "bank (2)", "bank (2)/x.wav", "y", "y.fsb", "y/y.wav"}),
              tree_of(dir.file("d")));
}

#if !defined(_WIN32)
TEST(OptionsForm, LinksInsideTheDestinationAreNotFollowed) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g/Audio"));
    std::filesystem::create_directories(dir.file("out"));
    std::filesystem::create_directories(dir.file("elsewhere"));
    write_file(dir.file("g/Audio/Music.bank"), bankwriter::write_fev({bankwriter::write_fsb5({pcm("m", 2)}, 2)}));
    write_file(dir.file("g/sfx.fsb"), bankwriter::write_fsb4({pcm("s", 2)}));
    write_file(dir.file("g/ok.fsb"), bankwriter::write_fsb4({pcm("k", 2)}));
    std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("out/Audio"));  // a level on the way
    std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("out/sfx"));    // the bank's own
    const ToolRun run = run_bankrip({"-q", "-o", "out", "g"}, dir.path());
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_TRUE(list_dir(dir.file("elsewhere")).empty());
    EXPECT_NE(std::string::npos, run.err.find("bankrip: out/Audio: a symbolic link is in the way; not followed"))
        << run.err;
    EXPECT_NE(std::string::npos, run.err.find("bankrip: out/sfx: a symbolic link is in the way; not followed"))
        << run.err;
    EXPECT_NE(std::string::npos, run.err.find("; 2 not written")) << run.err;
    EXPECT_TRUE(file_exists(dir.file("out/ok/k.wav")));
}

TEST(OptionsForm, TheDestinationIsOpenedOnceForEveryBank) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("elsewhere"));
    std::vector<Sound> sounds;
    for (int i = 0; i < 2000; ++i) sounds.push_back(pcm(std::string(100, 's') + std::to_string(i), 8));
    write_file(dir.file("a.fsb"), bankwriter::write_fsb5(sounds, 2));
    write_file(dir.file("b.fsb"), bankwriter::write_fsb4({pcm("b", 2)}));
    const ToolRun run = run_bankrip_until({"-o", dir.file("out"), dir.file("a.fsb"), dir.file("b.fsb")}, "\n", [&] {
        std::filesystem::rename(dir.file("out"), dir.file("out.old"));
        std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("out"));
    });
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(list_dir(dir.file("elsewhere")).empty()) << list_dir(dir.file("elsewhere")).size() << " files";
    EXPECT_EQ(2000u, list_dir(dir.file("out.old/a")).size());
    EXPECT_TRUE(file_exists(dir.file("out.old/b/b.wav")));
}

TEST(OptionsForm, WhatTheWalkFoundIsReadOnlyAsItWasFound) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g/sub"));
    std::filesystem::create_directories(dir.file("secret"));
    std::vector<Sound> sounds;
    for (int i = 0; i < 2000; ++i) sounds.push_back(pcm(std::string(100, 's') + std::to_string(i), 8));
    write_file(dir.file("g/a.fsb"), bankwriter::write_fsb5(sounds, 2));
    write_file(dir.file("g/b.fsb"), bankwriter::write_fsb4({pcm("b", 2)}));
    write_file(dir.file("g/sub/c.fsb"), bankwriter::write_fsb4({pcm("c", 2)}));
    write_file(dir.file("secret/b.fsb"), bankwriter::write_fsb4({pcm("secret", 2)}));
    write_file(dir.file("secret/c.fsb"), bankwriter::write_fsb4({pcm("secret", 2)}));
    const ToolRun run = run_bankrip_until({"-o", dir.file("out"), dir.file("g")}, "\n", [&] {
        // The bank swapped for a link, and a folder on its way.
        std::filesystem::remove(dir.file("g/b.fsb"));
        std::filesystem::create_symlink(dir.file("secret/b.fsb"), dir.file("g/b.fsb"));
        std::filesystem::rename(dir.file("g/sub"), dir.file("g/sub.old"));
        std::filesystem::create_directory_symlink(dir.file("secret"), dir.file("g/sub"));
    });
    EXPECT_EQ(1, run.status) << run.err;
    for (const auto& f : tree_of(dir.file("out"))) EXPECT_EQ(std::string::npos, f.find("secret")) << f;
    EXPECT_NE(std::string::npos, run.err.find("g/b.fsb: a symbolic link; not followed")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("g/sub/c.fsb: it is no longer the file found when its folder was walked"))
        << run.err;
    EXPECT_NE(std::string::npos, run.err.find("2 files could not be read")) << run.err;
}

// Names that hold anything reach the terminal only through the printable
// form: no control character on either stream, in either form.
void expect_printable(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        EXPECT_TRUE(c >= 0x20 || c == '\n') << "byte " << int(c) << " at " << i << " in " << text;
        EXPECT_NE(0x7F, c);
        EXPECT_FALSE(c >= 0x80 && c < 0xA0 && (i == 0 || static_cast<unsigned char>(text[i - 1]) == 0xC2))
            << "C1 at " << i << " in " << text;
    }
}

TEST(OptionsForm, ControlBytesInPathsAndNamesNeverReachTheTerminal) {
    TempDir dir;
    const std::string evil = "e\x1b]0;pwned\x07\x9b" "2J\xc2\x9b" "31m";
    std::filesystem::create_directories(dir.file("g" + evil));
    Bytes trailing = bankwriter::write_fsb4({pcm("c\xc2\x9b" "1", 2), pcm("r\x9b" "2", 2)});
    trailing.insert(trailing.end(), 100, 0x77);  // a note naming the file
    write_file(dir.file("g" + evil + "/b" + evil + ".fsb"), trailing);
    write_file(dir.file("n" + evil + ".fsb"), trailing);
    const std::vector<std::vector<std::string>> runs{
        {"-o", "out" + evil, "g" + evil, "missing" + evil},
        {"--json", "-o", "json" + evil, "g" + evil, "missing" + evil},
        {"-l", "g" + evil},
        {dir.file("n" + evil + ".fsb"), dir.file("first" + evil)},  // the first form
        {dir.file("missing" + evil + ".fsb"), dir.file("first" + evil)}};
    for (const auto& args : runs) {
        const ToolRun run = run_bankrip(args, dir.path());
        EXPECT_NE(std::string::npos, (run.out + run.err).find("e_]0;pwned__2J_31m")) << run.out << run.err;
        if (args[0] != "--json") expect_printable(run.out);
        expect_printable(run.err);
    }
    // The files are named by the same rule.
    EXPECT_EQ((std::vector<std::string>{"c_1", "r_2"}), list_dir(dir.file("first" + evil)));
    const ToolRun json = run_bankrip({"--json", "-l", "n" + evil + ".fsb"}, dir.path());
    expect_printable(json.out);
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_EQ("c\xc2\x9b" "1", doc["banks"][0]["sounds"][0]["name"]) << "escaped, not changed";
    EXPECT_EQ("c_1.wav", doc["banks"][0]["sounds"][0]["output"]);
}

#if !defined(_WIN32)
// A line break in a bank's file name: every line on standard error is one
// of the tool's own, in both forms; the note naming the file stays one line.
TEST(OptionsForm, ALineBreakInABanksNameNeverStartsALineOfItsOwn) {
    TempDir dir;
    Bytes trailing = bankwriter::write_fsb4({pcm("a", 2)});
    trailing.insert(trailing.end(), 100, 0x77);  // a note naming the file
    const std::string name = "x\nbankrip: fake.fsb";
    write_file(dir.file(name), trailing);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-o", dir.file("o"), dir.file(name)}, {"-l", "--json", dir.file(name)},
          {dir.file(name), dir.file("first")}}) {
        const ToolRun run = run_bankrip(args);
        std::size_t lines = 0;
        for (std::size_t at = 0, end; (end = run.err.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
            const std::string line = run.err.substr(at, end - at);
            EXPECT_NE(0u, line.find("bankrip: fake.fsb")) << run.err;
        }
        EXPECT_NE(std::string::npos, run.err.find("x_bankrip: fake.fsb")) << run.err;
        EXPECT_GT(lines, 0u);
    }
}
#endif

// A folder that can be listed but not entered: as root, which permission
// bits do not stop, the tool runs in a user namespace of its own, where it
// is nobody to the files here.
TEST(OptionsForm, AFolderThatCannotBeEnteredIsReported) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("g/locked"));
    write_file(dir.file("g/locked/x.fsb"), bankwriter::write_fsb4({pcm("x", 2)}));
    write_file(dir.file("g/ok.fsb"), bankwriter::write_fsb4({pcm("k", 2)}));
    namespace fs = std::filesystem;
    fs::permissions(dir.file("g/locked"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::vector<std::string> args{"-l", dir.file("g")};
    ToolRun run;
    if (geteuid() != 0) {
        run = run_bankrip(args);
    } else {
        std::vector<std::string> in_namespace{"--user", BANKRIP_PATH};
        in_namespace.insert(in_namespace.end(), args.begin(), args.end());
        run = run_tool("/usr/bin/unshare", in_namespace);
        if (run.err.find("unshare: ") == 0) {
            fs::permissions(dir.file("g/locked"), fs::perms::owner_all);
            GTEST_SKIP() << "root, and no user namespace to be someone else in: " << run.err;
        }
    }
    fs::permissions(dir.file("g/locked"), fs::perms::owner_all);
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("g/locked: cannot read the folder: Permission denied")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("1 sound listed from 1 bank")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("1 file could not be read")) << run.err;
}
#endif

// Every option of the help is in the manual page, and the other way round.
TEST(OptionsForm, HelpAndManualPageAgree) {
    std::ifstream page(std::string(SOURCE_DIR) + "/doc/bankrip.1");
    ASSERT_TRUE(page.good());
    std::stringstream text;
    text << page.rdbuf();
    // Unescape the roff hyphens and font changes so options read as typed.
    const std::string raw = text.str();
    std::string manual;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] == '-') {
            manual += '-';
            ++i;
        } else if (raw[i] == '\\' && i + 2 < raw.size() && raw[i + 1] == 'f') {
            i += 2;
        } else {
            manual += raw[i];
        }
    }
    const std::string help = run_bankrip({"--help"}).out;
    auto options_in = [](const std::string& s) {
        std::set<std::string> found;
        for (std::size_t i = 0; i + 2 < s.size(); ++i) {
            if (s[i] != '-' || (i > 0 && s[i - 1] != ' ' && s[i - 1] != '\n' && s[i - 1] != ',')) continue;
            std::size_t end = i + 1;
            if (s[end] == '-') ++end;
            const std::size_t name_start = end;
            while (end < s.size() && (std::isalnum(static_cast<unsigned char>(s[end])) || s[end] == '-')) ++end;
            if (end - name_start == 0) continue;
            if (name_start == i + 1 && end - name_start != 1) continue;  // a short option is one letter
            found.insert(s.substr(i, end - i));
        }
        return found;
    };
    const auto in_help = options_in(help);
    const auto in_manual = options_in(manual);
    EXPECT_GE(in_help.size(), 17u);  // every option, short and long
    for (const auto& o : in_help) EXPECT_TRUE(in_manual.count(o)) << o << " is in the help, not the manual page";
    for (const auto& o : in_manual) EXPECT_TRUE(in_help.count(o)) << o << " is in the manual page, not the help";
}

}  // namespace
