// -j: sounds written on several workers give the same files, names, lines,
// JSON and summary as one worker; an interrupt leaves no worker's file
// behind; the library's second handles read a bank on threads of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <thread>

#include "bank_writer.h"
#include "driver/display_width.h"
#include "driver/status_line.h"
#include "soundlib/soundlib.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

Sound pcm(const std::string& name, std::uint32_t frames, std::uint32_t seed) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.data.resize(frames * 2u);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * seed + seed);
    return s;
}

// "s12": built without operator+ on a literal, which gcc 12 warns of wrongly.
std::string numbered(const char* prefix, std::uint32_t n) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%u", prefix, static_cast<unsigned>(n));
    return text;
}

// Every file below `folder` with its bytes, by relative path.
std::vector<std::pair<std::string, Bytes>> tree(const std::string& folder) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file()) continue;
        files.emplace_back(std::filesystem::relative(e.path(), folder).generic_string(), read_file(e.path().string()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string json_escaped(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// Text with one folder's path put for another (also as JSON writes it), and
// times taken out.
void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
}

std::string same_text(std::string text, const std::string& from, const std::string& to) {
    if (json_escaped(from) != from) replace_all(text, json_escaped(from), json_escaped(to));
    replace_all(text, from, to);
    return std::regex_replace(text, std::regex(" in [0-9.]+ s"), " in X s");
    return text;
}

// Banks of many sounds, of few, with repeated names, a loop, a sound cut
// short and one that cannot be decoded: every kind of outcome, in order.
void write_game(const TempDir& dir) {
    std::filesystem::create_directories(dir.file("game/Audio"));
    std::vector<Sound> many;
    for (std::uint32_t i = 0; i < 300; ++i) many.push_back(pcm(i % 7 ? std::string("step") : numbered("Step ", i), 500 + i, i + 1));
    write_file(dir.file("game/Audio/many.fsb"), bankwriter::write_fsb5(many, 2));
    Sound looping = pcm("loop", 4000, 3);
    Bytes loop(8);
    bankwriter::put32(loop, 0, 10);
    bankwriter::put32(loop, 4, 3000);
    looping.chunks.push_back({3, loop});
    Sound cut = pcm("cut", 1000, 5);
    cut.data.resize(300);
    write_file(dir.file("game/Audio/few.fsb"), bankwriter::write_fsb4({looping, pcm("x", 9, 2), cut}));
    for (int i = 0; i < 20; ++i) {
        write_file(dir.file(numbered("game/small", static_cast<std::uint32_t>(i)) + ".fsb"),
                   bankwriter::write_fsb5({pcm("a", 100 + 7 * static_cast<std::uint32_t>(i), 9)}, 2));
    }
    write_file(dir.file("game/readme.txt"), Bytes{'h', 'i'});
}

TEST(Jobs, ManyWorkersWriteWhatOneWrites) {
    TempDir dir;
    write_game(dir);
    for (const std::string& extra : {std::string(), std::string("--json")}) {
        std::vector<std::string> one{"-j", "1", "-o", dir.file("one"), dir.file("game")};
        std::vector<std::string> eight{"-j", "8", "-o", dir.file("eight"), dir.file("game")};
        if (!extra.empty()) {
            one.insert(one.begin(), extra);
            eight.insert(eight.begin(), extra);
        }
        const ToolRun a = run_bankrip(one);
        const ToolRun b = run_bankrip(eight);
        EXPECT_EQ(1, a.status) << a.err;
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.out, same_text(b.out, dir.file("eight"), dir.file("one"))) << extra;
        EXPECT_EQ(same_text(a.err, "", ""), same_text(b.err, dir.file("eight"), dir.file("one"))) << extra;
        const auto files = tree(dir.file("one"));
        EXPECT_EQ(300u + 3 + 20, files.size());
        EXPECT_TRUE(files == tree(dir.file("eight")));
        std::filesystem::remove_all(dir.file("one"));
        std::filesystem::remove_all(dir.file("eight"));
    }
}

TEST(Jobs, TheSharedCorpusIsWrittenTheSameByOneWorkerAndByEight) {
    const std::string corpus = CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no shared corpus beside the project";
    TempDir dir;
    const ToolRun a = run_bankrip({"-q", "-j", "1", "-o", dir.file("one"), corpus});
    const ToolRun b = run_bankrip({"-q", "-j", "8", "-o", dir.file("eight"), corpus});
    EXPECT_EQ(a.status, b.status);
    EXPECT_EQ(same_text(a.err, "", ""), same_text(b.err, dir.file("eight"), dir.file("one")));
    const auto one = tree(dir.file("one"));
    EXPECT_GT(one.size(), 300u);
    EXPECT_TRUE(one == tree(dir.file("eight")));
}

TEST(Jobs, UsageOfJobs) {
    for (const std::string bad : {"0", "-1", "257", "x", ""}) {
        const ToolRun run = run_bankrip({"-j", bad, "x.fsb"});
        EXPECT_EQ(2, run.status) << bad;
        EXPECT_NE(std::string::npos, run.err.find("--jobs takes a number from 1 to 256")) << run.err;
    }
}

// Names differing only in case, written by several workers at once: on a
// volume that folds case (Windows, and wine) they are numbered; elsewhere
// they are files of their own. Never one written over another.
TEST(Jobs, NamesTheVolumeFoldsAreNumberedBeforeAnyIsWritten) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("Boom", 5000, 1), pcm("boom", 5000, 2),
                                                          pcm("BOOM", 5000, 3)},
                                                         2));
    const ToolRun run = run_bankrip({"-q", "-j", "3", "-o", dir.file("o"), dir.file("b.fsb")});
    EXPECT_EQ(0, run.status) << run.err;
    const std::vector<std::string> files = list_dir(dir.file("o"));
    ASSERT_EQ(3u, files.size());
#if defined(_WIN32)
    EXPECT_EQ((std::vector<std::string>{"BOOM (3).wav", "Boom.wav", "boom (2).wav"}), files);
#endif
}

TEST(Jobs, TheStatusLineSaysHowFarTheRunIs) {
    StatusLine line(4);
    line.begin_bank("Audio/Music.bank", 2);
    line.sound_done(3 * 1024 * 1024);
    const std::string text = line.text(200);
    EXPECT_EQ(0u, text.find("bankrip: 0/4 files, 1 sound, 3.0 MiB")) << text;
    EXPECT_NE(std::string::npos, text.find("Audio/Music.bank")) << text;
    // A narrow terminal: the line fits, the bank's name giving way first.
    const std::string narrow = line.text(40);
    EXPECT_LT(narrow.size(), 40u);
    EXPECT_EQ(0u, narrow.find("bankrip: 0/4 files")) << narrow;
}

// On an 80-column terminal a long bank name keeps both ends (the folder it
// is in, and its own name), cut between characters, never inside one.
TEST(Jobs, TheStatusLineCutsALongBankNameInItsMiddle) {
    StatusLine line(4);
    const std::string name = "Game/Data/Audio/\xE5\x8A\xB9\xE6\x9E\x9C\xE9\x9F\xB3/very_long_folder_name_here/"
                             "Character_Voices_English.bank";
    line.begin_bank(name, 2);
    const std::string text = line.text(80);
    EXPECT_LT(display_width(text), 80u) << text;
    EXPECT_NE(std::string::npos, text.find("Game/")) << text;
    EXPECT_NE(std::string::npos, text.find("_English.bank")) << text;
    EXPECT_NE(std::string::npos, text.find("...")) << text;
    for (std::size_t width = 0; width < 40; ++width) {
        const std::string cut = cut_middle(name, width);
        EXPECT_LE(display_width(cut), width) << cut;
        for (std::size_t i = 0; i < cut.size(); ++i) {
            // A UTF-8 continuation byte always follows its lead byte.
            if ((static_cast<unsigned char>(cut[i]) & 0xC0) == 0x80) {
                ASSERT_GT(i, 0u);
                EXPECT_GE(static_cast<unsigned char>(cut[i - 1]), 0x80u) << "a character cut: " << cut;
            }
        }
    }
    // Wide characters take two columns.
    EXPECT_EQ(6u, display_width("\xE5\x8A\xB9\xE6\x9E\x9C\xE9\x9F\xB3"));
    EXPECT_EQ("ab...yz", cut_middle("abcdefghijklmnopqrstuvwxyz", 7));
}

// Two threads read two subsounds of one bank, each through its own handle,
// while the first handle is used too: the same bytes as one thread reading.
TEST(Jobs, SecondHandlesReadABankOnThreadsOfTheirOwn) {
    TempDir dir;
    std::vector<Sound> sounds;
    for (std::uint32_t i = 0; i < 6; ++i) sounds.push_back(pcm(numbered("s", i), 40000 + i, i + 3));
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5(sounds, 2));
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_Create(&system));
    ASSERT_EQ(FMOD_OK, FMOD_System_Init(system, 32, 0, nullptr));
    FMOD_SOUND* bank = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_CreateSound(system, dir.file("b.fsb").c_str(), FMOD_CREATESTREAM, nullptr, &bank));
    auto read_all = [](FMOD_SOUND* b, int index) {
        FMOD_SOUND* sub = nullptr;
        EXPECT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(b, index, &sub));
        std::vector<unsigned char> data(200000);
        unsigned int got = 0;
        FMOD_Sound_SeekData(sub, 0);
        FMOD_Sound_ReadData(sub, data.data(), static_cast<unsigned int>(data.size()), &got);
        data.resize(got);
        return data;
    };
    std::vector<std::vector<unsigned char>> alone;
    for (int i = 0; i < 6; ++i) alone.push_back(read_all(bank, i));
    std::vector<std::vector<unsigned char>> together(6);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        FMOD_SOUND* second = nullptr;
        ASSERT_EQ(FMOD_OK, soundlib_bank_duplicate(bank, &second));
        threads.emplace_back([&, t, second] {
            for (int i = t; i < 6; i += 2) together[static_cast<std::size_t>(i)] = read_all(second, i);
            FMOD_Sound_Release(second);
        });
    }
    const auto again = read_all(bank, 5);
    for (std::thread& th : threads) th.join();
    EXPECT_TRUE(again == alone[5]);
    EXPECT_TRUE(together == alone);
    FMOD_SOUND* none = nullptr;
    FMOD_SOUND* sub = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(bank, 0, &sub));
    EXPECT_EQ(FMOD_ERR_INVALID_HANDLE, soundlib_bank_duplicate(sub, &none));
    FMOD_Sound_Release(bank);
    FMOD_System_Release(system);
}

#if !defined(_WIN32)

// On a terminal: one status line, redrawn, instead of a line per sound
// (those only with -v); the summary on a line of its own.
TEST(Jobs, OnATerminalOneStatusLine) {
    if (!file_exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give the tool a terminal";
    TempDir dir;
    write_game(dir);
    const std::string tool = std::string(BANKRIP_PATH) + " -o " + dir.file("o") + " " + dir.file("game");
    const ToolRun quiet = run_tool("/usr/bin/script", {"-qec", tool, "/dev/null"});
    EXPECT_NE(std::string::npos, quiet.out.find("\rbankrip: ")) << quiet.out;
    EXPECT_NE(std::string::npos, quiet.out.find(" files, ")) << quiet.out;
    EXPECT_EQ(std::string::npos, quiet.out.find("loop.wav.")) << "no line per sound";
    EXPECT_NE(std::string::npos, quiet.out.find("bankrip: 323 sounds (")) << quiet.out;
    const ToolRun verbose = run_tool("/usr/bin/script", {"-qec", tool + " -v", "/dev/null"});
    EXPECT_NE(std::string::npos, verbose.out.find("loop.wav.")) << verbose.out;
}

// Signals at random moments of a run on four workers: no temporary file, no
// partial file, whatever moment the signal comes.
TEST(Jobs, AnInterruptRemovesEveryWorkersUnfinishedFile) {
    TempDir dir;
    std::vector<Sound> sounds;
    for (int i = 0; i < 300; ++i) sounds.push_back(pcm(numbered("s", static_cast<std::uint32_t>(i)), 8000, 7));
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5(sounds, 2));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(0, run_bankrip({"-q", "-j", "4", "-o", dir.file("whole"), dir.file("bank.fsb")}).status);
    const auto full = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::srand(4321);
    int interrupted = 0;
    for (int i = 0; i < 12; ++i) {
        const std::string out = dir.file(numbered("out", static_cast<std::uint32_t>(i)));
        const auto delay = std::chrono::microseconds(std::rand() % (full.count() * 3 / 4 + 1));
        const ToolRun run = run_bankrip_signalled_after({"-q", "-j", "4", "-o", out, dir.file("bank.fsb")}, delay,
                                                        SIGTERM);
        const bool early = run.status == -1 && (!file_exists(out) || list_dir(out).empty());
        ASSERT_TRUE(run.status == 0 || run.status == 128 + SIGTERM || early) << run.status << run.err;
        if (run.status != 0) ++interrupted;
        if (!file_exists(out)) continue;
        for (const std::string& name : list_dir(out)) {
            EXPECT_EQ(44u + 16000, read_file(out + "/" + name).size()) << name;
        }
    }
    EXPECT_GT(interrupted, 3);
}

#endif

}  // namespace
