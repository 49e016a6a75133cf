// Runs a program as a user would and keeps what it printed.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct ToolRun {
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
    // The exit status: 0..255 on POSIX (-1 when it did not exit normally);
    // on Windows the whole exit code, so the tool's -1 stays -1.
    int status = -1;
    int signal = 0;  // POSIX: the signal that ended it, when one did
};

// Runs `program` with `args` in folder `cwd` (the current one when empty),
// with no standard input; a non-zero `file_size_limit` limits the size of
// files it writes, as `ulimit -f` does (POSIX only).
ToolRun run_tool(const std::string& program, const std::vector<std::string>& args, const std::string& cwd = "",
                 unsigned long file_size_limit = 0);

#if !defined(_WIN32)
// Runs the built bankrip with its address space limited to `bytes`, as
// `ulimit -v` does.
ToolRun run_bankrip_with_memory_limit(const std::vector<std::string>& args, unsigned long bytes);

// The same with at most `files` files open at once, as `ulimit -n` does.
ToolRun run_bankrip_with_open_files_limit(const std::vector<std::string>& args, unsigned long files);

// Runs the built bankrip and sends it `signal_number` as soon as its
// standard output holds `marker`, as a user pressing Ctrl-C would.
ToolRun run_bankrip_interrupted(const std::vector<std::string>& args, const std::string& marker, int signal_number);

// Runs the built bankrip and sends it `signal_number` once `delay` has passed.
ToolRun run_bankrip_signalled_after(const std::vector<std::string>& args, std::chrono::microseconds delay,
                                    int signal_number);

// Runs the built bankrip and calls `at_marker` as soon as its standard output
// holds `marker`; the run goes on.
ToolRun run_bankrip_until(const std::vector<std::string>& args, const std::string& marker,
                          const std::function<void()>& at_marker);

// Runs the built bankrip and stops reading its standard output (closing the
// pipe) as soon as it holds `marker`, as `bankrip ... | head -1` does.
ToolRun run_bankrip_closing_output(const std::vector<std::string>& args, const std::string& marker);
#endif

// The options form's arguments as the test run wants them: with the
// environment variable BANKRIP_TEST_JOBS set, "-j" and its value come first
// (a test's own -j, later, still wins), so that a build can run every test
// with several workers.
std::vector<std::string> with_test_jobs(const std::vector<std::string>& args);

// The built bankrip with the given arguments.
ToolRun run_bankrip(const std::vector<std::string>& args, const std::string& cwd = "");
