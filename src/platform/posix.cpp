#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

std::string system_error() { return std::strerror(errno); }

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

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

OutputFile::~OutputFile() {
    if (is_open()) ::close(fd_of(handle_));
}

bool OutputFile::create(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error_ = system_error();
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
    if (r != 0) {
        error_ = system_error();
        return false;
    }
    return true;
}

}  // namespace platform
