// The built bankrip run as a user runs it: files, bytes, console output and
// exit status.
#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "bank_writer.h"
#include "platform/platform.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint32_t u16(const Bytes& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }

Sound pcm(const std::string& name, std::uint32_t frames, std::uint32_t channels = 1, std::uint32_t flags = 0x10) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.channels = channels;
    s.flags = flags;
    const std::uint32_t width = (flags & 0x08) ? 1 : 2;
    s.data.resize(static_cast<std::size_t>(frames) * channels * width);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return s;
}

// A bank saved in a fresh folder, unpacked into dir/out.
struct Unpacked {
    TempDir dir;
    ToolRun run;
    std::string bank() const { return dir.file("bank.fsb"); }
    std::string out(const std::string& name = "") const { return dir.file("out/" + name); }
};

std::unique_ptr<Unpacked> unpack(const Bytes& bank) {
    auto u = std::make_unique<Unpacked>();
    write_file(u->bank(), bank);
    u->run = run_bankrip({u->bank(), u->out()});
    return u;
}

TEST(Tool, UsageTextByteForByte) {
    const ToolRun run = run_bankrip({});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(console_text("Usage : bankrip <fsb_name> [dest_dir]\n"
                           "           fsb_name  *.fsb\n"
                           "           dest_dir  \x8F\x6F\x97\xCD\x90\xE6\x28\x8F\xC8\x97\xAA\x89\xC2\x29\n"),
              run.out);
    EXPECT_EQ("", run.err);
}

TEST(Tool, MissingBankIsAFatalLibraryError) {
    TempDir dir;
    const ToolRun run = run_bankrip({dir.file("nothing.fsb"), dir.file("out")});
    EXPECT_EQ(console_text("FMOD error! (23) File not found. \n"), run.out);
    EXPECT_EQ(kExitMinusOne, run.status);
    EXPECT_EQ(0u, run.err.find("bankrip: " + dir.file("nothing.fsb") + ": ")) << run.err;
    EXPECT_FALSE(file_exists(dir.file("out")));  // nothing created on disk
}

TEST(Tool, NotABankIsUnsupportedAndSaysItMayBeEncrypted) {
    TempDir dir;
    write_file(dir.file("x.fsb"), Bytes(100, 0xA5));
    const ToolRun run = run_bankrip({dir.file("x.fsb")});
    EXPECT_EQ(console_text("FMOD error! (25) Unsupported file or audio format. \n"), run.out);
    EXPECT_EQ(kExitMinusOne, run.status);
    EXPECT_NE(std::string::npos, run.err.find("encrypted")) << run.err;
}

TEST(Tool, OldLibraryIsRefused) {
    const ToolRun run = run_tool(OLD_LIBRARY_BANKRIP_PATH, {"whatever.fsb"});
    EXPECT_EQ(console_text("Error!  You are using an old version of FMOD 00041102.  This program requires 00041103\n"),
              run.out);
    EXPECT_EQ(1, run.status);
}

TEST(Tool, WritesEachSubsoundWithItsOwnFormatAndProgress) {
    Sound mono = pcm("mono.ogg", 1000);
    mono.frequency = 22050;
    Sound stereo = pcm("stereo", 300, 2);
    stereo.frequency = 48000;
    auto u = unpack(bankwriter::write_fsb4({mono, stereo}));
    EXPECT_EQ(0, u->run.status) << u->run.err;
    EXPECT_EQ(console_text(u->out("mono.wav") + ".\n" + u->out("stereo") + ".\n"), u->run.out);
    EXPECT_EQ("", u->run.err);

    const Bytes a = read_file(u->out("mono.wav"));
    ASSERT_EQ(44u + 2000, a.size());
    EXPECT_EQ(2036u, u32(a, 4));
    EXPECT_EQ(1u, u16(a, 20));
    EXPECT_EQ(1u, u16(a, 22));
    EXPECT_EQ(22050u, u32(a, 24));
    EXPECT_EQ(44100u, u32(a, 28));
    EXPECT_EQ(2000u, u32(a, 40));
    EXPECT_EQ(mono.data, Bytes(a.begin() + 44, a.end()));

    const Bytes b = read_file(u->out("stereo"));
    EXPECT_EQ(2u, u16(b, 22));
    EXPECT_EQ(48000u, u32(b, 24));
    EXPECT_EQ(192000u, u32(b, 28));
    EXPECT_EQ(4u, u16(b, 32));
    EXPECT_EQ(stereo.data, Bytes(b.begin() + 44, b.end()));
}

TEST(Tool, OneDotPerReadOfAQuarterMillionFrames) {
    // 2 chunks and a tail of 100 frames; exactly one chunk; one frame short of it.
    auto u = unpack(bankwriter::write_fsb4(
        {pcm("a", 2 * 262144 + 100, 1, 0x08), pcm("b", 262144, 1, 0x08), pcm("c", 262143, 1, 0x08)}));
    EXPECT_EQ(0, u->run.status) << u->run.err;
    EXPECT_EQ(console_text(u->out("a") + "...\n" + u->out("b") + ".\n" + u->out("c") + ".\n"), u->run.out);
    const Bytes a = read_file(u->out("a"));
    ASSERT_EQ(44u + 2 * 262144 + 100, a.size());
    Bytes expected = pcm("a", 2 * 262144 + 100, 1, 0x08).data;
    for (auto& byte : expected) byte ^= 0x80;  // signed 8-bit becomes unsigned
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), a.begin() + 44));
}

TEST(Tool, EmptySubsoundGetsAHeaderOnlyFile) {
    auto u = unpack(bankwriter::write_fsb5({pcm("silence.wav", 0), pcm("x", 4)}, 2));
    EXPECT_EQ(0, u->run.status) << u->run.err;
    EXPECT_EQ(console_text(u->out("silence.wav") + "\n" + u->out("x") + ".\n"), u->run.out);
    const Bytes a = read_file(u->out("silence.wav"));
    ASSERT_EQ(44u, a.size());
    EXPECT_EQ(36u, u32(a, 4));
    EXPECT_EQ(0u, u32(a, 40));
}

TEST(Tool, OddDataGetsThePadByte) {
    auto u = unpack(bankwriter::write_fsb4({pcm("odd.raw", 3001, 1, 0x08)}));
    const Bytes a = read_file(u->out("odd.wav"));
    ASSERT_EQ(44u + 3001 + 1, a.size());
    EXPECT_EQ(3001u, u32(a, 40));
    EXPECT_EQ(a.size() - 8, u32(a, 4));
    EXPECT_EQ(0, a.back());
}

TEST(Tool, FloatSamplesGetFormatTagThree) {
    Sound f = pcm("f", 10, 2);
    f.data.resize(80);
    auto u = unpack(bankwriter::write_fsb5({f}, 5));
    const Bytes a = read_file(u->out("f"));
    EXPECT_EQ(3u, u16(a, 20));
    EXPECT_EQ(32u, u16(a, 34));
    EXPECT_EQ(8u, u16(a, 32));
}

TEST(Tool, NamesStayInsideTheDestinationAndNeverOverwriteEachOther) {
    auto u = unpack(bankwriter::write_fsb5(
        {pcm("../evil.wav", 2), pcm("same.wav", 2), pcm("same.ogg", 2), pcm("", 2), pcm("..", 2)}, 2));
    EXPECT_EQ(0, u->run.status) << u->run.err;
    EXPECT_EQ((std::vector<std::string>{".._evil.wav", "same (2).wav", "same.wav", "subsound_0003.wav",
                                        "subsound_0004.wav"}),
              list_dir(u->out()));
    EXPECT_EQ((std::vector<std::string>{"bank.fsb", "out"}), list_dir(u->dir.path()));
}

TEST(Tool, OnlyEmptyFilesAndWavFilesInTheWayAreOverwritten) {
    TempDir dir;
    write_file(dir.file("bank.fsb"),
               bankwriter::write_fsb5({pcm("wav.ogg", 2), pcm("empty", 2), pcm("other", 2)}, 2));
    std::filesystem::create_directory(dir.file("out"));
    Bytes previous(100, 0);
    std::copy_n("RIFF", 4, previous.begin());
    std::copy_n("WAVE", 4, previous.begin() + 8);
    write_file(dir.file("out/wav.wav"), previous);
    write_file(dir.file("out/empty"), {});
    write_file(dir.file("out/other"), Bytes(5000, 1));
    const ToolRun run = run_bankrip({dir.file("bank.fsb"), dir.file("out")});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(48u, read_file(dir.file("out/wav.wav")).size());
    EXPECT_EQ(48u, read_file(dir.file("out/empty")).size());
    EXPECT_EQ(Bytes(5000, 1), read_file(dir.file("out/other")));
    EXPECT_EQ(console_text("bankrip: " + dir.file("out/other") +
                           ": a file that is not a WAV file is in the way; not overwritten\n"
                           "bankrip: 1 of 3 sounds not written\n"),
              run.err);
}

TEST(Tool, LinksFifosAndTheBankItselfAreNeverWritten) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("out"));
    const std::string o = "bankrip: " + dir.file("out/");
    std::vector<Sound> sounds;
    std::string refusals;
#if !defined(_WIN32)
    // Windows has no FIFOs, and making symbolic links there takes a privilege.
    write_file(dir.file("victim.txt"), Bytes(3, 'v'));
    std::filesystem::create_symlink(dir.file("victim.txt"), dir.file("out/boom.wav"));
    std::filesystem::create_symlink(dir.file("nowhere.txt"), dir.file("out/dangling.wav"));
    ASSERT_EQ(0, mkfifo(dir.file("out/pipe").c_str(), 0600));
    sounds = {pcm("boom.ogg", 2), pcm("dangling.x", 2), pcm("pipe", 2)};
    refusals = o + "boom.wav: a symbolic link is in the way; not followed\n" + o +
               "dangling.wav: a symbolic link is in the way; not followed\n" + o +
               "pipe: a FIFO is in the way; left alone\n";
#endif
    // The bank lies in the destination, and a sound is named like it.
    sounds.push_back(pcm("b.ogg", 2));
    sounds.push_back(pcm("ok", 2));
    write_file(dir.file("out/b.wav"), bankwriter::write_fsb5(sounds, 2));
    const Bytes bank = read_file(dir.file("out/b.wav"));
    const ToolRun run = run_bankrip({dir.file("out/b.wav"), dir.file("out")});
    EXPECT_EQ(1, run.status);
#if !defined(_WIN32)
    EXPECT_EQ(Bytes(3, 'v'), read_file(dir.file("victim.txt")));
    EXPECT_FALSE(file_exists(dir.file("nowhere.txt")));
#endif
    EXPECT_EQ(bank, read_file(dir.file("out/b.wav")));
    EXPECT_TRUE(file_exists(dir.file("out/ok")));
    EXPECT_EQ(console_text(refusals + o + "b.wav: it is the bank being read; not overwritten\n" + "bankrip: " +
                           std::to_string(sounds.size() - 1) + " of " + std::to_string(sounds.size()) +
                           " sounds not written\n"),
              run.err);
}

TEST(Tool, TheBankMustBeAFileAndAFifoNeverHangsTheRun) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no FIFOs";
#else
    TempDir dir;
    ASSERT_EQ(0, mkfifo(dir.file("pipe.fsb").c_str(), 0600));
    const ToolRun run = run_bankrip({dir.file("pipe.fsb"), dir.file("out")});
    EXPECT_EQ(255, run.status);
    EXPECT_NE(std::string::npos, run.err.find("not a regular file")) << run.err;
#endif
}

TEST(Tool, ARateThatDoesNotFitTheHeaderIsRefused) {
    Sound fast = pcm("fast", 2);
    fast.frequency = 0x80000000u;
    auto u = unpack(bankwriter::write_fsb5({fast, pcm("ok", 2)}, 2));
    EXPECT_EQ(1, u->run.status);
    EXPECT_NE(std::string::npos, u->run.err.find("2147483648 Hz with frames of 2 bytes does not fit")) << u->run.err;
    EXPECT_FALSE(file_exists(u->out("fast")));
    EXPECT_TRUE(file_exists(u->out("ok")));
}

TEST(Tool, AnInterruptedRunRemovesTheUnfinishedFileAndKeepsTheFinishedOnes) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no signals; its Ctrl-C reaches only programs that share a console with the sender";
#else
    TempDir dir;
    // 64 chunks to go when the signal is sent at the first one.
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("done", 10), pcm("big", 64 * 262144, 2)}, 2));
    const ToolRun run =
        run_bankrip_interrupted({dir.file("bank.fsb"), dir.file("out")}, dir.file("out/big") + ".", SIGINT);
    EXPECT_EQ(128 + SIGINT, run.status);
    EXPECT_EQ("bankrip: interrupted by SIGINT; the unfinished " + dir.file("out/big") +
                  " was removed; the files already written are kept\n",
              run.err);
    EXPECT_EQ((std::vector<std::string>{"done"}), list_dir(dir.file("out")));
#endif
}

TEST(Tool, DestinationArgumentForms) {
    TempDir dir;
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("x.wav", 2)}, 2));
    // Created with its parents; a trailing separator is not doubled.
    ToolRun run = run_bankrip({dir.file("bank.fsb"), dir.file("a/b/c/")});
    EXPECT_EQ(console_text(dir.file("a/b/c/x.wav") + ".\n"), run.out);
    EXPECT_TRUE(file_exists(dir.file("a/b/c/x.wav")));
    // A third argument changes nothing.
    run = run_bankrip({dir.file("bank.fsb"), dir.file("d"), "ignored"});
    EXPECT_EQ(console_text(dir.file("d/x.wav") + ".\n"), run.out);
}

TEST(Tool, RelativePathsAreTakenFromTheExecutablesFolder) {
    // A copy of the tool in a folder of its own, started from another one.
    TempDir dir;
    std::filesystem::create_directories(dir.file("tool/banks"));
    std::filesystem::create_directories(dir.file("elsewhere"));
    const std::string tool = dir.file("tool/bankrip") + kExecutableSuffix;
    std::filesystem::copy_file(BANKRIP_PATH, tool);
    write_file(dir.file("tool/banks/b.fsb"), bankwriter::write_fsb5({pcm("x.wav", 2)}, 2));

    ToolRun run = run_tool(tool, {"banks/b.fsb", "out"}, dir.file("elsewhere"));
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(console_text(std::string("out") + platform::kSeparator + "x.wav.\n"), run.out);
    EXPECT_TRUE(file_exists(dir.file("tool/out/x.wav")));
    // Without a destination (or with an empty one) files land beside the tool.
    run = run_tool(tool, {"banks/b.fsb", ""}, dir.file("elsewhere"));
    EXPECT_EQ(console_text("x.wav.\n"), run.out);
    EXPECT_TRUE(file_exists(dir.file("tool/x.wav")));
    EXPECT_TRUE(list_dir(dir.file("elsewhere")).empty());
    // A bank that is not there is reported with the path tried and the rule.
    run = run_tool(tool, {"b.fsb"}, dir.file("elsewhere"));
    EXPECT_EQ(kExitMinusOne, run.status);
    EXPECT_EQ(0u, run.err.find("bankrip: " + dir.file("tool/b.fsb") + ": ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("relative paths are taken from bankrip's own folder, " +
                                              dir.file("tool/") + ", not from the folder it was started in"))
        << run.err;
}

TEST(Tool, BankWithoutSubsoundsPrintsAndWritesNothing) {
    auto u = unpack(bankwriter::write_fsb5({}, 2));
    EXPECT_EQ(0, u->run.status);
    EXPECT_EQ("", u->run.out);
    EXPECT_FALSE(file_exists(u->out()));
}

TEST(Tool, UnsupportedCodecIsReportedAndLeavesNoFile) {
    Sound vag = pcm("vag_sound", 28);
    vag.flags = 0x1000000;  // XMA
    auto u = unpack(bankwriter::write_fsb4({pcm("before", 4), vag, pcm("after", 4)}));
    EXPECT_EQ(1, u->run.status);
    EXPECT_EQ(console_text(u->out("before") + ".\n" + u->out("vag_sound") + ".\n" + u->out("after") + ".\n"),
              u->run.out);
    EXPECT_EQ(console_text("bankrip: " + u->out("vag_sound") +
                           ": Unsupported file or audio format. (codec XMA is not decoded by this version); no file "
                           "written\nbankrip: 1 of 3 sounds not written\n"),
              u->run.err);
    EXPECT_EQ((std::vector<std::string>{"after", "before"}), list_dir(u->out()));
}

TEST(Tool, ShortDataKeepsWhatWasReadWithTruthfulSizes) {
    Sound s = pcm("short", 100);
    s.data.resize(60);  // 30 of the 100 frames
    auto u = unpack(bankwriter::write_fsb4({s, pcm("next", 2)}));
    EXPECT_EQ(1, u->run.status);
    EXPECT_NE(std::string::npos, u->run.err.find("the stored data ends at frame 30 of 100")) << u->run.err;
    const Bytes a = read_file(u->out("short"));
    ASSERT_EQ(44u + 60, a.size());
    EXPECT_EQ(60u, u32(a, 40));
    EXPECT_EQ(96u, u32(a, 4));
    EXPECT_TRUE(file_exists(u->out("next")));
}

TEST(Tool, ABankCutShortInItsDataKeepsWhatIsThere) {
    const Bytes whole = bankwriter::write_fsb5({pcm("a", 64), pcm("b", 64), pcm("c", 64)}, 2);
    // Cut 40 bytes into b's data (each sound's data is 128 bytes, padded to 32).
    auto u = unpack(Bytes(whole.begin(), whole.end() - 128 - 88));
    EXPECT_EQ(1, u->run.status);
    EXPECT_EQ(console_text(u->out("a") + ".\n" + u->out("b") + ".\n" + u->out("c") + ".\n"), u->run.out);
    EXPECT_EQ(44u + 128, read_file(u->out("a")).size());
    const Bytes b = read_file(u->out("b"));
    ASSERT_EQ(44u + 40, b.size());
    EXPECT_EQ(40u, u32(b, 40));
    EXPECT_FALSE(file_exists(u->out("c")));
    EXPECT_NE(std::string::npos, u->run.err.find("b: Error loading file. (the file ends inside this sound's data"))
        << u->run.err;
    EXPECT_NE(std::string::npos, u->run.err.find("c: Error loading file. (the file ends before this sound's data"))
        << u->run.err;
    EXPECT_NE(std::string::npos, u->run.err.find("it is truncated, and sounds past the cut are lost")) << u->run.err;
    EXPECT_NE(std::string::npos, u->run.err.find("bankrip: 1 of 3 sounds not written, 1 written in part"))
        << u->run.err;
}

TEST(Tool, FramesWiderThanSixtyFourBytesAreRefused) {
    Sound wide = pcm("wide", 2, 17);
    wide.data.resize(2 * 17 * 4);
    auto u = unpack(bankwriter::write_fsb5({wide, pcm("ok", 2)}, 5));
    EXPECT_EQ(1, u->run.status);
    EXPECT_NE(std::string::npos, u->run.err.find("68 bytes")) << u->run.err;
    EXPECT_FALSE(file_exists(u->out("wide")));
    EXPECT_TRUE(file_exists(u->out("ok")));
}

TEST(Tool, WideFramesWithinTheLimitUseALargerBuffer) {
    Sound eight = pcm("eight", 262144 + 3, 8);  // 16-byte frames, more than one chunk
    auto u = unpack(bankwriter::write_fsb5({eight}, 2));
    EXPECT_EQ(0, u->run.status) << u->run.err;
    EXPECT_EQ(console_text(u->out("eight") + "..\n"), u->run.out);
    const Bytes a = read_file(u->out("eight"));
    EXPECT_EQ(eight.data, Bytes(a.begin() + 44, a.end()));
}

TEST(Tool, FileThatCannotBeCreatedIsReportedAndTheRunGoesOn) {
    TempDir dir;
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    std::filesystem::create_directories(dir.file("out/a"));  // a folder where the file should go
    const ToolRun run = run_bankrip({dir.file("bank.fsb"), dir.file("out")});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(console_text(dir.file("out/a") + "\n" + dir.file("out/b") + ".\n"), run.out);
    EXPECT_EQ(console_text("bankrip: " + dir.file("out/a") + ": cannot create the file: " +
                           system_text(SystemError::name_is_a_folder) + "\nbankrip: 1 of 2 sounds not written\n"),
              run.err);
    EXPECT_TRUE(file_exists(dir.file("out/b")));
}

TEST(Tool, NameTheSystemCannotHoldIsACreationFailure) {
    TempDir dir;
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("what?.wav", 2), pcm("b", 2)}, 2));
    const ToolRun run = run_bankrip({dir.file("bank.fsb"), dir.file("out")});
#if defined(_WIN32)
    // "?" is reserved in Windows file names.
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(0u, run.err.find("bankrip: " + dir.file("out/what?.wav") + ": cannot create the file: ")) << run.err;
    EXPECT_EQ((std::vector<std::string>{"b"}), list_dir(dir.file("out")));
#else
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"b", "what?.wav"}), list_dir(dir.file("out")));
#endif
}

TEST(Tool, UnusableDestinationIsReportedOnceBeforeTheSounds) {
    TempDir dir;
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    write_file(dir.file("plain"), Bytes(1, 0));
    // Below a file, and a file itself.
    ToolRun run = run_bankrip({dir.file("bank.fsb"), dir.file("plain/sub")});
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(console_text(dir.file("plain/sub/a") + "\n" + dir.file("plain/sub/b") + "\n"), run.out);
    EXPECT_EQ(console_text("bankrip: cannot write into the destination folder " + dir.file("plain/sub/") + ": " +
                           system_text(SystemError::parent_is_a_file) + "\nbankrip: 2 of 2 sounds not written\n"),
              run.err);
    run = run_bankrip({dir.file("bank.fsb"), dir.file("plain")});
    EXPECT_EQ(console_text("bankrip: cannot write into the destination folder " + dir.file("plain/") +
                           ": it is a file, not a folder\nbankrip: 2 of 2 sounds not written\n"),
              run.err);
}

TEST(Tool, FailedWriteRemovesTheIncompleteFileAndKeepsTheOthers) {
    // A file size limit as `ulimit -f` sets it stands in for a full disk: the
    // write fails (no SIGXFSZ ends the run), and the next sound may fit.
#if defined(_WIN32)
    GTEST_SKIP() << "Windows has no per-process file size limit to stand in for a full disk";
#endif
    TempDir dir;
    write_file(dir.file("bank.fsb"),
               bankwriter::write_fsb5({pcm("small", 100), pcm("big", 5000), pcm("after", 100)}, 2));
    const ToolRun run = run_tool(BANKRIP_PATH, {dir.file("bank.fsb"), dir.file("out")}, "", 4096);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ("bankrip: " + dir.file("out/big") +
                  ": writing failed: File too large; the incomplete file was removed\n"
                  "bankrip: 1 of 3 sounds not written\n",
              run.err);
    EXPECT_EQ((std::vector<std::string>{"after", "small"}), list_dir(dir.file("out")));
}

// Output files are made new and renamed into place, so another name for a
// file in the way (a hard link from outside) keeps what it held.
TEST(Tool, HardLinksFromOutsideAreReplacedNotWrittenThrough) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("out"));
    Bytes wav(60, 7);
    std::copy_n("RIFF", 4, wav.begin());
    std::copy_n("WAVE", 4, wav.begin() + 8);
    write_file(dir.file("outside.wav"), wav);
    write_file(dir.file("outside-empty"), {});
    std::error_code error;
    std::filesystem::create_hard_link(dir.file("outside.wav"), dir.file("out/x.wav"), error);
    if (error) GTEST_SKIP() << "no hard links here: " << error.message();
    std::filesystem::create_hard_link(dir.file("outside-empty"), dir.file("out/y"));
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("x.ogg", 10), pcm("y", 10)}, 2));
    const ToolRun run = run_bankrip({dir.file("bank.fsb"), dir.file("out")});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(wav, read_file(dir.file("outside.wav")));
    EXPECT_EQ(Bytes{}, read_file(dir.file("outside-empty")));
    EXPECT_EQ(44u + 20, read_file(dir.file("out/x.wav")).size());
    EXPECT_EQ(44u + 20, read_file(dir.file("out/y")).size());
}

// Sounds the volume cannot tell apart by name (Windows ignores case and
// trailing dots and spaces) never land in one file; device names reach a
// file, not the device.
TEST(Tool, NamesTheVolumeFoldsTogetherGetFilesOfTheirOwn) {
    auto u = unpack(bankwriter::write_fsb5(
        {pcm("Boom", 2), pcm("boom", 2), pcm("BOOM", 2), pcm("CON", 2), pcm("nul.ogg", 2), pcm("a ", 2)}, 2));
    EXPECT_EQ(0, u->run.status) << u->run.err;
#if defined(_WIN32)
    EXPECT_EQ((std::vector<std::string>{"BOOM (3)", "Boom", "_CON", "_nul.wav", "a_", "boom (2)"}),
              list_dir(u->out()));
    EXPECT_NE(std::string::npos, u->run.out.find(u->out("boom (2)") + ".")) << u->run.out;
#else
    EXPECT_EQ((std::vector<std::string>{"BOOM", "Boom", "CON", "a ", "boom", "nul.wav"}), list_dir(u->out()));
#endif
}

#if !defined(_WIN32)
// Many small sounds with long names, so that the tool cannot run far ahead
// of a reader of its progress lines.
Bytes many_sounds(int count, std::uint32_t frames) {
    std::vector<Sound> sounds;
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d", i);
        sounds.push_back(pcm(std::string(100, 's') + name, frames));
    }
    return bankwriter::write_fsb5(sounds, 2);
}

// Whether a folder holds only complete WAV files of `frames` 16-bit mono frames.
void expect_only_complete_files(const std::string& folder, std::uint32_t frames) {
    for (const std::string& name : list_dir(folder)) {
        const Bytes b = read_file(folder + "/" + name);
        ASSERT_EQ(44u + 2 * frames, b.size()) << name;
        EXPECT_EQ(2 * frames, u32(b, 40)) << name;
        EXPECT_EQ(0, std::memcmp(b.data(), "RIFF", 4)) << name;
    }
}

TEST(Tool, ADestinationSwappedForALinkDuringTheRunStillGetsEveryFile) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("elsewhere"));
    constexpr int kCount = 3000;
    write_file(dir.file("bank.fsb"), many_sounds(kCount, 8));
    const ToolRun run = run_bankrip_until({dir.file("bank.fsb"), dir.file("out")}, "\n", [&] {
        std::filesystem::rename(dir.file("out"), dir.file("out.old"));
        std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("out"));
    });
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(list_dir(dir.file("elsewhere")).empty()) << list_dir(dir.file("elsewhere")).size() << " files";
    EXPECT_EQ(static_cast<std::size_t>(kCount), list_dir(dir.file("out.old")).size());
}

TEST(Tool, SignalsAtAnyMomentLeaveOnlyCompleteFiles) {
    TempDir dir;
    constexpr std::uint32_t kFrames = 50;
    write_file(dir.file("bank.fsb"), many_sounds(2000, kFrames));
    const auto start = std::chrono::steady_clock::now();
    const ToolRun whole = run_bankrip({dir.file("bank.fsb"), dir.file("whole")});
    ASSERT_EQ(0, whole.status) << whole.err;
    const auto full_run = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
    std::srand(12345);
    // The run's length varies with the machine's load, so the window the
    // signal falls in shrinks whenever a run ends before it arrives.
    auto window = full_run.count() * 3 / 4 + 1;
    int interrupted = 0;
    for (int i = 0; i < 100 && interrupted < 15; ++i) {
        const std::string out = dir.file("out" + std::to_string(i));
        const auto delay = std::chrono::microseconds(std::rand() % window);
        const ToolRun run = run_bankrip_signalled_after({dir.file("bank.fsb"), out}, delay, SIGTERM);
        // Killed outright (-1) only while starting, before any file is made.
        const bool early = run.status == -1 && (!file_exists(out) || list_dir(out).empty());
        ASSERT_TRUE(run.status == 0 || run.status == 128 + SIGTERM || early) << run.status << run.err;
        if (run.status != 0) ++interrupted;
        else window = window * 2 / 3 + 1;
        if (file_exists(out)) expect_only_complete_files(out, kFrames);
    }
    EXPECT_EQ(15, interrupted);
}

TEST(Tool, AClosedStandardOutputEndsTheRunAndRemovesTheUnfinishedFile) {
    TempDir dir;
    // Each sound takes 20 reads, with a progress dot after each.
    write_file(dir.file("bank.fsb"),
               bankwriter::write_fsb5({pcm("a", 20 * 262144), pcm("b", 20 * 262144), pcm("c", 20 * 262144)}, 2));
    const ToolRun run = run_bankrip_closing_output({dir.file("bank.fsb"), dir.file("out")}, dir.file("out/a"));
    EXPECT_EQ(128 + SIGPIPE, run.status);
    EXPECT_EQ(0u, run.err.find("bankrip: standard output was closed; the unfinished " + dir.file("out/")))
        << run.err;
    EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << run.err;
    expect_only_complete_files(dir.file("out"), 20 * 262144);
}
#endif

}  // namespace
