// What the options form must never hide: a listing that could not be
// written, a selection that picks nothing, a value of -s that does not read,
// a bank named that is not there, memory running out, signals of every kind,
// and a loop that lies past what a cut sound holds.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "soundlib/soundlib.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

Sound pcm(const std::string& name, std::uint32_t frames) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.data.resize(frames * 2u);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return s;
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(OptionsFormFailures, SoundValuesThatLookLikeIndicesMustReadAsIndices) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    for (const std::string value : {"0-", "-1", "1,,0", "3-", "12345678901234567890", "2147483648"}) {
        const ToolRun run = run_bankrip({"-q", "-s", value, "-o", dir.file("out"), dir.file("b.fsb")});
        EXPECT_EQ(2, run.status) << value;
        EXPECT_TRUE(has(run.err, "--sound '" + value + "' is not a list of indices")) << run.err;
        EXPECT_FALSE(file_exists(dir.file("out"))) << value;
    }
    const ToolRun big = run_bankrip({"-q", "-s", "99999999999", "-o", dir.file("out"), dir.file("b.fsb")});
    EXPECT_TRUE(has(big.err, "no sound has an index above 2147483647")) << big.err;
    // The largest index there can be reads, and picks nothing here.
    const ToolRun largest = run_bankrip({"-q", "-s", "2147483647", "-o", dir.file("out"), dir.file("b.fsb")});
    EXPECT_EQ(1, largest.status) << largest.err;
}

TEST(OptionsFormFailures, ASelectionThatPicksNothingIsSaid) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    const ToolRun none = run_bankrip({"-q", "-s", "Death", "-s", "1", "-s", "5-9", "-o", dir.file("o"), dir.file("b.fsb")});
    EXPECT_EQ(1, none.status);
    EXPECT_TRUE(has(none.err, "bankrip: --sound 'Death' picked no sound of the banks read")) << none.err;
    EXPECT_TRUE(has(none.err, "bankrip: --sound '5-9' picked no sound")) << none.err;
    EXPECT_FALSE(has(none.err, "--sound '1'")) << "this one picked b: " << none.err;
    EXPECT_EQ(std::vector<std::string>{"b.wav"}, list_dir(dir.file("o")));

    const ToolRun listed = run_bankrip({"-l", "-s", "a", dir.file("b.fsb")});
    EXPECT_EQ(0, listed.status) << listed.err;
}

TEST(OptionsFormFailures, EveryOperandNamedIsInTheJson) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("a", 2)}, 2));
    const ToolRun run = run_bankrip({"--json", "--list", dir.file("missing.fsb"), dir.file("b.fsb")});
    EXPECT_EQ(1, run.status);
    const auto doc = nlohmann::json::parse(run.out);
    ASSERT_EQ(2u, doc["banks"].size()) << run.out;
    EXPECT_EQ(dir.file("missing.fsb"), doc["banks"][0]["path"]);
    EXPECT_EQ("no such file or folder", doc["banks"][0]["error"]);
    EXPECT_TRUE(doc["banks"][0]["sounds"].empty());
    EXPECT_EQ(1u, doc["banks"][1]["sounds"].size());
}

// A sound cut short by the end of its data keeps no loop that lies past the
// frames its file holds: not in the file, not in the JSON.
TEST(OptionsFormFailures, ALoopPastWhatWasWrittenIsLeftOut) {
    TempDir dir;
    Sound kept = pcm("kept", 1000);
    kept.loop_start = 100;  // FSB4: in the header, looping by its flag
    kept.loop_end = 900;
    kept.flags |= 0x02;
    Bytes loop(8);
    bankwriter::put32(loop, 0, 100);
    bankwriter::put32(loop, 4, 900);
    kept.chunks.push_back({3, loop});  // FSB5: a loop chunk
    Sound cut = kept;
    cut.name = "cut";
    cut.data.resize(132);  // 66 frames
    write_file(dir.file("b.fsb"), bankwriter::write_fsb4({cut, kept}));
    write_file(dir.file("c.fsb"), bankwriter::write_fsb5({kept, cut}, 2));
    for (const std::string bank : {"b.fsb", "c.fsb"}) {
        const ToolRun run = run_bankrip({"--json", "-o", dir.file("out-" + bank), dir.file(bank)});
        EXPECT_EQ(1, run.status) << run.err;
        const Bytes file = read_file(dir.file("out-" + bank + "/cut.wav"));
        ASSERT_GE(file.size(), 44u);
        EXPECT_EQ(file.size() - 8, u32(file, 4));
        EXPECT_EQ(file.size() - 44, u32(file, 40)) << bank << ": no smpl chunk after the data";
        EXPECT_EQ(44u + 2000 + 68, read_file(dir.file("out-" + bank + "/kept.wav")).size());
        const auto doc = nlohmann::json::parse(run.out);
        for (const auto& sound : doc["banks"][0]["sounds"]) {
            const bool whole = sound["name"] == "kept";
            EXPECT_EQ(whole, sound.contains("loop_start")) << bank << " " << sound.dump();
        }
    }
}

TEST(OptionsFormFailures, AKeyFileTooLargeToBeAKeyIsSaid) {
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::encrypt(bankwriter::write_fsb5({pcm("a", 2)}, 2), "key"));
    write_file(dir.file(".fsbkey"), Bytes(5000, 'k'));
    for (const bool options_form : {true, false}) {
        const ToolRun run = options_form ? run_bankrip({"-o", dir.file("out"), dir.file("b.fsb")})
                                         : run_bankrip({dir.file("b.fsb"), dir.file("out")});
        EXPECT_NE(0, run.status);
        EXPECT_TRUE(has(run.err, "the .fsbkey beside it is larger than 4096 bytes, so it was not taken as a key"))
            << run.err;
    }
}

#if !defined(_WIN32)

// Standard output to a full disk: the listing is the run's output, and
// losing it is an error.
TEST(OptionsFormFailures, AListingThatCannotBeWrittenIsAnError) {
    if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    TempDir dir;
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({pcm("a", 2), pcm("b", 2)}, 2));
    for (const std::string& options : std::vector<std::string>{"--list", "--json --list", "--json -q -o " + dir.file("out")}) {
        const ToolRun run =
            run_tool("/bin/sh", {"-c", std::string(BANKRIP_PATH) + " " + options + " " + dir.file("b.fsb") + " >/dev/full"});
        EXPECT_EQ(1, run.status) << options << ": " << run.err;
        EXPECT_TRUE(has(run.err, "bankrip: the listing could not be written to standard output: No space left on device\n"))
            << options << ": " << run.err;
    }
}

// Every signal whose default action ends the process removes the file being
// written first, then ends it the same way.
TEST(OptionsFormFailures, EverySignalThatEndsTheRunRemovesTheUnfinishedFile) {
    TempDir dir;
    write_file(dir.file("bank.fsb"), bankwriter::write_fsb5({pcm("done", 10), pcm("big", 48 * 262144)}, 2));
    const std::pair<int, std::string> signals[] = {{SIGQUIT, "SIGQUIT"},     {SIGALRM, "SIGALRM"},
                                                   {SIGUSR1, "SIGUSR1"},     {SIGUSR2, "SIGUSR2"},
                                                   {SIGXCPU, "SIGXCPU"},     {SIGVTALRM, "SIGVTALRM"},
                                                   {SIGPROF, "SIGPROF"},     {SIGRTMIN + 3, "signal"}};
    for (const auto& [number, name] : signals) {
        const std::string out = dir.file("out-" + std::to_string(number));
        // One worker: its progress line shows the sound being written.
        const ToolRun run = run_bankrip_interrupted({"-j", "1", "-o", out, dir.file("bank.fsb")}, "big.wav.", number);
        EXPECT_EQ(number, run.signal) << name << ": status " << run.status << " " << run.err;
        EXPECT_TRUE(has(run.err, "bankrip: interrupted by " + name)) << run.err;
        EXPECT_TRUE(has(run.err, "big.wav was removed; the files already written are kept\n")) << run.err;
        EXPECT_EQ(std::vector<std::string>{"done.wav"}, list_dir(out)) << name;
    }
    // The first ones keep their status, as scripts know it.
    const ToolRun term =
        run_bankrip_interrupted({"-j", "1", "-o", dir.file("t"), dir.file("bank.fsb")}, "big.wav.", SIGTERM);
    EXPECT_EQ(128 + SIGTERM, term.status);
    EXPECT_EQ(std::vector<std::string>{"done.wav"}, list_dir(dir.file("t")));
}

// Memory running out after the bank opened (the names of its sounds take
// more and more) fails the bank or the sound with a message; the JSON is
// still one whole document and the status 1, never an abort.
TEST(OptionsFormFailures, MemoryRunningOutIsReportedNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need an address space no limit allows";
#else
    TempDir dir;
    constexpr std::uint32_t kCount = 1 << 19;
    Bytes head = bankwriter::write_fsb5({}, 2);
    bankwriter::put32(head, 8, kCount);
    bankwriter::put32(head, 0x0C, kCount * 8);
    const std::string path = dir.file("many.fsb");
    write_file(path, head);
    std::filesystem::resize_file(path, head.size() + kCount * 8ull);  // zero headers: empty sounds
    // -s 0: one sound listed, every sound named.
    const std::vector<std::string> args{"--json", "--list", "-s", "0", path};
    auto enough = [&](unsigned long mib) { return run_bankrip_with_memory_limit(args, mib << 20).status == 0; };
    unsigned long low = 8, high = 1024;  // not enough, enough
    ASSERT_TRUE(enough(high));
    while (high - low > 2) {
        const unsigned long mid = (low + high) / 2;
        (enough(mid) ? high : low) = mid;
    }
    bool failed_after_opening = false;
    for (unsigned long mib = low; mib + 16 > low && mib > 8; --mib) {
        const ToolRun run = run_bankrip_with_memory_limit(args, mib << 20);
        ASSERT_EQ(0, run.signal) << mib << " MiB: " << run.err;
        if (run.out.empty()) continue;  // the run could not start at all
        EXPECT_EQ(1, run.status) << mib << " MiB: " << run.err;
        EXPECT_TRUE(has(run.err, "memory")) << mib << " MiB: " << run.err;
        EXPECT_FALSE(has(run.err, "terminate called")) << run.err;
        nlohmann::json doc;
        ASSERT_NO_THROW(doc = nlohmann::json::parse(run.out)) << mib << " MiB: " << run.out;
        failed_after_opening = failed_after_opening || !doc["banks"][0].contains("error");
    }
    EXPECT_TRUE(failed_after_opening) << "no limit let the bank open and then ran out";
#endif
}

#endif

// A bank cut short by an update after it was opened: the sounds whose
// headers can no longer be read have no format to give, and are failures
// of their own (never 44-byte files of 0 channels).
TEST(OptionsFormFailures, ASoundWhoseHeaderCannotBeReadAgainHasNoFormat) {
    TempDir dir;
    std::vector<Sound> sounds;
    for (int i = 0; i < 20000; ++i) sounds.push_back(pcm(std::string(1, static_cast<char>('a' + i % 26)), 100));
    const Bytes bank = bankwriter::write_fsb5(sounds, 2);
    write_file(dir.file("b.fsb"), bank);
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_Create(&system));
    ASSERT_EQ(FMOD_OK, FMOD_System_Init(system, 32, 0, nullptr));
    FMOD_SOUND* handle = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_CreateSound(system, dir.file("b.fsb").c_str(), FMOD_CREATESTREAM, nullptr, &handle));
    std::filesystem::resize_file(dir.file("b.fsb"), 100);  // the headers of all but the first sounds gone
    FMOD_SOUND* last = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(handle, 10000, &last));
    int channels = -1;
    EXPECT_EQ(FMOD_ERR_FILE_BAD, FMOD_Sound_GetFormat(last, nullptr, nullptr, &channels, nullptr));
    EXPECT_EQ(std::string("its header could not be read again"), soundlib_error_detail(last));
    FMOD_Sound_Release(handle);
    FMOD_System_Release(system);
}


// A rate no file can hold (0 Hz, or one a 32-bit field only just holds):
// refused with the reason, in every format; the listing gives the bank's
// own rate.
TEST(OptionsFormFailures, ARateNoFileCanHoldIsRefusedNotMadeUp) {
    TempDir dir;
    std::vector<Sound> sounds;
    for (const std::uint32_t rate : {0u, 0xFFFFFFFFu}) {
        Sound s = pcm(rate ? "huge" : "zero", 100);
        Bytes payload(4);
        bankwriter::put32(payload, 0, rate);
        s.chunks.push_back({2, payload});
        sounds.push_back(s);
    }
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5(sounds, 2));
    for (const char* format : {"wav", "flac"}) {
        const ToolRun run = run_bankrip({"--json", "--format", format, "-o", dir.file(format), dir.file("b.fsb")});
        EXPECT_EQ(1, run.status) << run.err;
        EXPECT_TRUE(has(run.err, "the bank gives it a sample rate of 0 Hz, which no file can hold; not written")) << run.err;
        EXPECT_TRUE(has(run.err, "a sample rate of 4294967295 Hz")) << run.err;
        EXPECT_TRUE(list_dir(dir.file(format)).empty());
        const auto doc = nlohmann::json::parse(run.out);
        EXPECT_EQ("not written", doc["banks"][0]["sounds"][0]["status"]);
    }
    const auto listed = nlohmann::json::parse(run_bankrip({"--json", "-l", dir.file("b.fsb")}).out);
    EXPECT_EQ(0, listed["banks"][0]["sounds"][0]["rate"]);
    EXPECT_EQ(4294967295u, listed["banks"][0]["sounds"][1]["rate"].get<std::uint64_t>());
}


// A sound of 0 channels is refused for what it is, in every format; never
// "FLAC holds at most 8 channels".
TEST(OptionsFormFailures, ASoundOfNoChannelsIsRefusedForWhatItIs) {
    TempDir dir;
    Sound none = pcm("none", 100);
    none.chunks.push_back({1, Bytes{0}});  // a channel-count chunk of 0
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5({none, pcm("fine", 10)}, 2));
    for (const char* format : {"wav", "flac"}) {
        const ToolRun run = run_bankrip({"--format", format, "-o", dir.file(format), dir.file("b.fsb")});
        EXPECT_EQ(1, run.status) << run.err;
        EXPECT_FALSE(has(run.err, "8 channels")) << run.err;
        EXPECT_TRUE(has(run.err, "channels")) << run.err;
        EXPECT_EQ(1u, list_dir(dir.file(format)).size()) << run.err;
    }
}


// A bank cut short: the sounds whose data it no longer reaches are said in
// one line with their count, not one line each; every sound's line that got
// no file says so.
TEST(OptionsFormFailures, ACutBankSaysOnceWhatItLost) {
    TempDir dir;
    std::vector<Sound> sounds;
    for (const char* name : {"a", "b", "c", "d", "e", "f", "g"}) sounds.push_back(pcm(name, 4000));
    Bytes bank = bankwriter::write_fsb5(sounds, 2);
    bank.resize(bank.size() - 5 * 8000 - 100);  // b ends in part, c to g are gone
    write_file(dir.file("cut.fsb"), bank);
    const ToolRun run = run_bankrip({"-o", dir.file("o"), dir.file("cut.fsb")});
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(has(run.err, "the file ends before the data of 5 sounds (it is truncated): c.wav, d.wav, e.wav and 2 more; "
                             "not written")) << run.err;
    EXPECT_FALSE(has(run.err, "e.wav: ")) << run.err;
    EXPECT_TRUE(has(run.out, console_text("e.wav (not written)\n"))) << run.out;
    EXPECT_TRUE(has(run.out, console_text("a.wav.\n"))) << run.out;
    EXPECT_EQ((std::vector<std::string>{"a.wav", "b.wav"}), list_dir(dir.file("o")));
}

#if !defined(_WIN32)
// Workers that cannot all be started (an address space too small for their
// stacks): the run goes on with those that did, says so once, and ends as
// a run of one worker would.
TEST(OptionsFormFailures, WorkersThatCannotStartLeaveTheRunToThoseThatDid) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need an address space no limit allows";
#else
    TempDir dir;
    std::vector<Sound> sounds;
    for (int i = 0; i < 30; ++i) sounds.push_back(pcm(std::string(2, static_cast<char>('a' + i % 26)) + std::to_string(i), 2000));
    write_file(dir.file("b.fsb"), bankwriter::write_fsb5(sounds, 2));
    const ToolRun run =
        run_bankrip_with_memory_limit({"--json", "-j", "256", "-o", dir.file("o"), dir.file("b.fsb")}, 200ul << 20);
    ASSERT_EQ(0, run.signal) << run.err;
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(has(run.err, "bankrip: the run goes on with ")) << run.err;
    EXPECT_TRUE(has(run.err, " of 256 workers: no more could be started (")) << run.err;
    EXPECT_EQ(run.err.find("workers: no more"), run.err.rfind("workers: no more"));
    nlohmann::json doc;
    ASSERT_NO_THROW(doc = nlohmann::json::parse(run.out)) << run.out;
    EXPECT_EQ(30u, doc["banks"][0]["sounds"].size());
    EXPECT_EQ(30u, list_dir(dir.file("o")).size());
#endif
}

// Few files may be open (ulimit -n): fewer banks are opened ahead, and what
// cannot be opened says why, never the library's bare "Error loading file.".
TEST(OptionsFormFailures, RunningOutOfFileHandlesSaysSo) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtime needs files of its own, which a limit this low takes away";
#endif
    TempDir dir;
    std::filesystem::create_directories(dir.file("g"));
    for (int i = 0; i < 30; ++i) {
        write_file(dir.file("g/b" + std::to_string(i) + ".fsb"), bankwriter::write_fsb5({pcm("a", 2000), pcm("b", 2000)}, 2));
    }
    const ToolRun enough = run_bankrip_with_open_files_limit({"-q", "-j", "8", "-o", dir.file("o"), dir.file("g")}, 24);
    EXPECT_EQ(0, enough.status) << enough.err;
    for (const unsigned long files : {10ul, 12ul, 16ul}) {
        const ToolRun run =
            run_bankrip_with_open_files_limit({"-q", "-j", "8", "-o", dir.file(std::to_string(files)), dir.file("g")}, files);
        EXPECT_EQ(0, run.signal) << run.err;
        EXPECT_FALSE(has(run.err, "Error loading file.")) << run.err;
        if (run.status != 0) {
            EXPECT_TRUE(has(run.err, "Too many open files")) << run.err;
        }
    }
}
#endif

}  // namespace
