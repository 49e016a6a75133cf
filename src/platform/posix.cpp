#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

std::string system_error() { return std::strerror(errno); }

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

// The file being written, for the interrupt handler: plain memory that a
// signal handler may read. Set once the file is ours to write, cleared when
// it is closed.
char unfinished_path[4096];
volatile std::sig_atomic_t unfinished_known = 0;

void set_unfinished(const std::string& path) {
    unfinished_known = 0;
    if (path.size() >= sizeof unfinished_path) return;
    std::memcpy(unfinished_path, path.c_str(), path.size() + 1);
    unfinished_known = 1;
}

// Only async-signal-safe calls from here on.
void say(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') ++n;
    (void)!::write(2, text, n);
}

extern "C" void on_interrupt(int signal_number) {
    const char* name = signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "SIGHUP";
    say("bankrip: interrupted by ");
    say(name);
    if (unfinished_known) {
        unlink(unfinished_path);
        say("; the unfinished ");
        say(unfinished_path);
        say(" was removed");
    }
    say("; the files already written are kept\n");
    _exit(128 + signal_number);
}

const char* in_the_way(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder is in the way; left alone";
    if (S_ISFIFO(mode)) return "a FIFO is in the way; left alone";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device is in the way; left alone";
    if (S_ISSOCK(mode)) return "a socket is in the way; left alone";
    return "something that is not a regular file is in the way; left alone";
}

// A file we may overwrite: empty, or a WAV file as a previous run left it.
bool empty_or_wav(int fd, const struct stat& st) {
    if (st.st_size == 0) return true;
    char head[12];
    return pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
           std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace

std::string executable_folder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(n));
            const auto slash = path.rfind(kSeparator);
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);  // the link was cut off: try a larger buffer
    }
}

void enter_directory(const std::string& folder) { (void)chdir(folder.c_str()); }

bool is_relative(const std::string& path) { return path.empty() || path[0] != kSeparator; }

std::string full_path(const std::string& path) {
    if (!is_relative(path)) return path;
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return path;
        buffer.resize(buffer.size() * 2);
    }
    std::string folder = buffer.data();
    if (folder.empty() || folder.back() != kSeparator) folder += kSeparator;
    return folder + path;
}

bool can_create_files_in(const std::string& folder, std::string& error) {
    if (access(folder.c_str(), W_OK | X_OK) == 0) return true;
    error = system_error();
    return false;
}

bool make_directories(const std::string& path, std::string& error) {
    struct stat st {};
    std::string bare = path;  // "file/" would not stat as the file it names
    while (bare.size() > 1 && bare.back() == kSeparator) bare.pop_back();
    if (stat(bare.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        error = "it is a file, not a folder";
        return false;
    }
    // Create each missing level from the top down.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != kSeparator) continue;
        const std::string level = path.substr(0, i);
        if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
            error = system_error();
            return false;
        }
    }
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "could not be created as a directory";
        return false;
    }
    return true;
}

void remove_file(const std::string& path) {
    // Only what we wrote ourselves: an output path may name a device.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) (void)unlink(path.c_str());
}

FileId file_id(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void remove_unfinished_file_on_interrupt() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, s);  // one handler at a time
    }
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

OutputFile::~OutputFile() {
    if (is_open()) close();
}

bool OutputFile::create(const std::string& path, const FileId& keep) {
    // Not following a link, and not blocking on a FIFO; reading and writing,
    // to look at what is there before emptying it.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        struct stat st {};
        const int err = errno;
        if (err == ELOOP && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            error_ = "a symbolic link is in the way; not followed";
        } else {
            error_ = std::string("cannot create the file: ") + std::strerror(err);
        }
        return false;
    }
    struct stat st {};
    const char* refusal = nullptr;
    if (fstat(fd, &st) != 0) {
        refusal = "cannot look at the file in the way";
    } else if (!S_ISREG(st.st_mode)) {
        refusal = in_the_way(st.st_mode);
    } else if (keep.known && static_cast<std::uint64_t>(st.st_dev) == keep.device &&
               static_cast<std::uint64_t>(st.st_ino) == keep.file) {
        refusal = "it is the bank being read; not overwritten";
    } else if (!empty_or_wav(fd, st)) {
        refusal = "a file that is not a WAV file is in the way; not overwritten";
    }
    if (refusal) {
        error_ = refusal;
        ::close(fd);
        return false;
    }
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    set_unfinished(path);
    // Only a file with something in it: ext4 takes truncating as a sign of
    // a file being replaced, and then writes the new one out at close,
    // which makes the close of a fresh file wait for the disk.
    if (st.st_size > 0 && ftruncate(fd, 0) != 0) {
        error_ = "cannot empty the file: " + system_error();
        unfinished_known = 0;
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_of(handle_), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = system_error();
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_of(handle_), p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = system_error();
            return false;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::close() {
    if (!is_open()) return true;
    const int r = ::close(fd_of(handle_));
    handle_ = kClosed;
    unfinished_known = 0;
    if (r != 0) {
        error_ = system_error();
        return false;
    }
    return true;
}

}  // namespace platform
