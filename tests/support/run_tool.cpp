#include "support/run_tool.h"

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
    const BOOL started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
    CloseHandle(out_write);
    CloseHandle(err_write);
    CloseHandle(null_in);
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

#include <csignal>
#include <cstdlib>

namespace {

ToolRun run(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
            unsigned long file_size_limit, const std::string& marker, int signal_number) {
    ToolRun run;
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        if (file_size_limit != 0) {
            signal(SIGXFSZ, SIG_IGN);  // a failing write instead of a killed process
            const rlimit limit{file_size_limit, file_size_limit};
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
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
                if (signal_number != 0 && i == 0 && run.out.find(marker) != std::string::npos) {
                    kill(pid, signal_number);
                    signal_number = 0;
                }
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

ToolRun run_tool(const std::string& program, const std::vector<std::string>& args, const std::string& cwd,
                 unsigned long file_size_limit) {
    return run(program, args, cwd, file_size_limit, "", 0);
}

ToolRun run_bankrip_interrupted(const std::vector<std::string>& args, const std::string& marker, int signal_number) {
    return run(BANKRIP_PATH, args, "", 0, marker, signal_number);
}

#endif

ToolRun run_bankrip(const std::vector<std::string>& args, const std::string& cwd) {
    return run_tool(BANKRIP_PATH, args, cwd);
}
