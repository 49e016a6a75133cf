// The bank-first form where it meets the options form and the system: an
// option after the bank, the program installed in a system folder, and the
// usage on a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "bank_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace {

using bankwriter::Sound;

Sound pcm(const std::string& name, std::uint32_t frames) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.data.resize(frames * 2u);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * 13 + 5);
    return s;
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Options after the bank are options, as if they came first: never a
// destination folder called "-o".
TEST(BankFirstForm, AnOptionAfterTheBankMakesTheRunTheOptionsForm) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("Boom", 10), pcm("step", 4)}, 2));
    const ToolRun run = run_bankrip({"b.fsb", "-o", "out"}, dir.path());
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ((std::vector<std::string>{"Boom.wav", "step.wav"}), list_dir(dir.file("out")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("-o")));
    // Joined, long, with a value after "=", and a value that is wrong.
    EXPECT_EQ(0, run_bankrip({"b.fsb", "-qoout2"}, dir.path()).status);
    EXPECT_EQ(2u, list_dir(dir.file("out2")).size());
    EXPECT_EQ(0, run_bankrip({"b.fsb", "--output=out3", "--format=flac"}, dir.path()).status);
    EXPECT_EQ((std::vector<std::string>{"Boom.flac", "step.flac"}), list_dir(dir.file("out3")));
    const ToolRun wrong = run_bankrip({"b.fsb", "-j", "0"}, dir.path());
    EXPECT_EQ(2, wrong.status);
    EXPECT_TRUE(has(wrong.err, "--jobs takes a number")) << wrong.err;
}

#if !defined(_WIN32)
// Installed in a system program folder, the bank-first form reads and
// writes relative to where it was started, and says so; nothing lands
// beside the program.
TEST(BankFirstForm, FromASystemFolderPathsAreTakenFromTheCurrentFolder) {
    const std::string folder = "/usr/local/bin";
    if (geteuid() != 0 || access(folder.c_str(), W_OK) != 0) GTEST_SKIP() << "cannot install into " << folder;
    TempDir dir;
    const std::string program = folder + "/bankrip-test-" + std::to_string(getpid());
    std::error_code error;
    std::filesystem::copy_file(BANKRIP_PATH, program, error);
    ASSERT_FALSE(error) << error.message();
    struct Removed {
        std::string path;
        ~Removed() { std::filesystem::remove(path); }
    } removed{program};
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("Boom", 10)}, 2));
    const auto before = list_dir(folder);

    const ToolRun here = run_tool(program, {"b.fsb"}, dir.path());
    EXPECT_EQ(0, here.status) << here.err;
    EXPECT_TRUE(file_exists(dir.file("Boom"))) << "the files go to the current folder";
    EXPECT_TRUE(has(here.err, "installed in /usr/local/bin/, so relative paths are taken from the current folder"))
        << here.err;
    EXPECT_EQ(here.err.find("installed in"), here.err.rfind("installed in")) << "said once";
    const ToolRun there = run_tool(program, {"b.fsb", "sub"}, dir.path());
    EXPECT_EQ(0, there.status) << there.err;
    EXPECT_TRUE(file_exists(dir.file("sub/Boom")));
    const ToolRun missing = run_tool(program, {"nothing.fsb"}, dir.path());
    EXPECT_NE(0, missing.status);
    EXPECT_FALSE(has(missing.err, "bankrip's own folder")) << missing.err;
    EXPECT_EQ(before, list_dir(folder)) << "nothing written beside the program";
}

// Without arguments, on a terminal: the usage in the terminal's encoding,
// and where the options form's help is.
TEST(BankFirstForm, TheUsageOnATerminalIsInItsEncodingAndNamesTheHelp) {
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to make a terminal";
    const std::string command =
        std::string("LANG=C.UTF-8 LC_ALL=C.UTF-8 script -qec '") + BANKRIP_PATH + "' /dev/null";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    EXPECT_TRUE(has(out, "dest_dir  \xE5\x87\xBA\xE5\x8A\x9B\xE5\x85\x88(\xE7\x9C\x81\xE7\x95\xA5\xE5\x8F\xAF)")) << out;
    EXPECT_TRUE(has(out, "bankrip --help")) << out;
    // Not on a terminal: byte for byte as ever, without the extra line.
    const ToolRun piped = run_bankrip({});
    EXPECT_FALSE(has(piped.out, "--help"));
    EXPECT_TRUE(has(piped.out, "\x8F\x6F\x97\xCD\x90\xE6"));
}
#endif

}  // namespace
