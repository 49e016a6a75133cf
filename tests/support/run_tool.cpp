#include "support/run_tool.h"

#include <cstdlib>

#if defined(_WIN32)

#include <windows.h>

#include <thread>

namespace {

// One argument as the C runtime's parser reads it back: quoted when needed,
// with backslashes doubled only where they precede a quote.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string q = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, '\\');
    q += '"';
    return q;
}

void drain(HANDLE pipe, std::string& sink) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink.append(buffer, n);
}

}  // namespace

// Windows has no per-process file-size limit: file_size_limit is not honoured
// here (tests that need it skip).
ToolRun run_tool(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                 unsigned long) {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out_read, out_write, err_read, err_write;
    if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return run;
    if (!CreatePipe(&err_read, &err_write, &inherit, 0)) return run;
    SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
    HANDLE null_in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                 0, nullptr);

    std::string command_line = quoted(program);
    for (const auto& a : args) {
        command_line += ' ';
        command_line += quoted(a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null_in;
    startup.hStdOutput = out_write;
    startup.hStdError = err_write;
    PROCESS_INFORMATION process{};
    // Wine's CreateProcess now and then fails with ERROR_INTERNAL_ERROR when
    // many programs start in a row; a moment later the same call works.
    BOOL started = FALSE;
    DWORD start_error = 0;
    for (int attempt = 0; attempt < 10 && !started; ++attempt) {
        if (attempt > 0) Sleep(100);
        started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
        start_error = started ? 0 : GetLastError();
        if (!started && start_error != ERROR_INTERNAL_ERROR) break;
    }
    CloseHandle(out_write);
    CloseHandle(err_write);
    CloseHandle(null_in);
    if (!started) run.err = "cannot start " + program + ": error " + std::to_string(start_error);
    if (started) {
        std::thread err_reader(drain, err_read, std::ref(run.err));
        drain(out_read, run.out);
        err_reader.join();
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        run.status = static_cast<int>(code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(out_read);
    CloseHandle(err_read);
    return run;
}

#else

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>

namespace {

struct Hooks {
    unsigned long file_size_limit = 0;
    unsigned long memory_limit = 0;            // of the address space
    unsigned long open_files_limit = 0;        // as `ulimit -n`
    std::string marker;                        // looked for in standard output
    std::function<void(int pid)> at_marker;    // called once it is there
    bool close_output_at_marker = false;       // as `| head -1` does
    std::chrono::microseconds signal_after{-1};  // a signal after this long
    int signal_number = 0;
};

ToolRun run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
            Hooks hooks) {
    ToolRun run;
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return run;
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        // As from an interactive shell, whatever the test runner was started
        // with (a background job ignores SIGINT and SIGQUIT).
        for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // A test that ends the tool by a signal leaves no core file behind.
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (hooks.memory_limit != 0) {
            const rlimit limit{hooks.memory_limit, hooks.memory_limit};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (hooks.open_files_limit != 0) {
            const rlimit limit{hooks.open_files_limit, hooks.open_files_limit};
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        // As a shell's `ulimit -f`: the tool sees SIGXFSZ as it would there.
        if (hooks.file_size_limit != 0) {
            const rlimit limit{hooks.file_size_limit, hooks.file_size_limit};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open_count = 2;
    bool marker_seen = hooks.marker.empty();
    bool signalled = hooks.signal_number == 0;
    while (open_count > 0) {
        int timeout = -1;
        if (!signalled) {
            const auto due = started + hooks.signal_after - std::chrono::steady_clock::now();
            if (due <= std::chrono::microseconds(0)) {
                kill(pid, hooks.signal_number);
                signalled = true;
            } else {
                timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due).count());
            }
        }
        if (poll(fds, 2, timeout) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
                if (!marker_seen && i == 0 && run.out.find(hooks.marker) != std::string::npos) {
                    marker_seen = true;
                    if (hooks.at_marker) hooks.at_marker(pid);
                    if (hooks.close_output_at_marker) n = 0;
                }
            }
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return run;
}

}  // namespace

ToolRun run_tool(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                 unsigned long file_size_limit) {
    Hooks hooks;
    hooks.file_size_limit = file_size_limit;
    return run(program, args, cwd, hooks);
}

ToolRun run_bankrip_with_open_files_limit(const std::vector<std::string>& args, unsigned long files) {
    Hooks hooks;
    hooks.open_files_limit = files;
    return run(BANKRIP_PATH, with_test_jobs(args), "", hooks);
}

ToolRun run_bankrip_with_memory_limit(const std::vector<std::string>& args, unsigned long bytes) {
    Hooks hooks;
    hooks.memory_limit = bytes;
    return run(BANKRIP_PATH, with_test_jobs(args), "", hooks);
}

ToolRun run_bankrip_interrupted(const std::vector<std::string>& args, const std::string& marker, int signal_number) {
    Hooks hooks;
    hooks.marker = marker;
    hooks.at_marker = [signal_number](int pid) { kill(pid, signal_number); };
    return run(BANKRIP_PATH, with_test_jobs(args), "", hooks);
}

ToolRun run_bankrip_signalled_after(const std::vector<std::string>& args, std::chrono::microseconds delay,
                                    int signal_number) {
    Hooks hooks;
    hooks.signal_after = delay;
    hooks.signal_number = signal_number;
    return run(BANKRIP_PATH, with_test_jobs(args), "", hooks);
}

ToolRun run_bankrip_until(const std::vector<std::string>& args, const std::string& marker,
                          const std::function<void()>& at_marker) {
    Hooks hooks;
    hooks.marker = marker;
    hooks.at_marker = [at_marker](int) { at_marker(); };
    return run(BANKRIP_PATH, with_test_jobs(args), "", hooks);
}

ToolRun run_bankrip_closing_output(const std::vector<std::string>& args, const std::string& marker) {
    Hooks hooks;
    hooks.marker = marker;
    hooks.close_output_at_marker = true;
    return run(BANKRIP_PATH, with_test_jobs(args), "", hooks);
}

#endif

std::vector<std::string> with_test_jobs(const std::vector<std::string>& args) {
    const char* jobs = std::getenv("BANKRIP_TEST_JOBS");
    if (!jobs || !*jobs || args.empty() || args[0].empty() || args[0][0] != '-') return args;
    std::vector<std::string> given{"-j", jobs};
    given.insert(given.end(), args.begin(), args.end());
    return given;
}

ToolRun run_bankrip(const std::vector<std::string>& args, const std::string& cwd) {
    return run_tool(BANKRIP_PATH, with_test_jobs(args), cwd);
}
