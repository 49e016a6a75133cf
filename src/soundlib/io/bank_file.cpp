#include "soundlib/io/bank_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace soundlib {

namespace {

// Reads below this size go through the window; larger ones bypass it.
constexpr std::size_t kSmallRead = 4096;
constexpr std::size_t kWindowBytes = 64 * 1024;

}  // namespace

BankFile::~BankFile() { close(); }

void BankFile::close() {
    if (handle_ != kClosed) close_handle();
    handle_ = kClosed;
    memory_ = nullptr;
    size_ = 0;
    identity_ = {};
    window_bytes_ = 0;
    ciphers_.clear();
}

void BankFile::open_memory(const void* data, std::uint64_t size) {
    close();
    memory_ = static_cast<const std::uint8_t*>(data);
    size_ = data ? size : 0;
}

bool BankFile::open_same(const BankFile& other, std::string* why) {
    close();
    if (other.handle_ != kClosed) {
        handle_ = duplicate_handle(other.handle_, why);
        if (handle_ == kClosed) return false;
    }
    memory_ = other.memory_;
    size_ = other.size_;
    identity_ = other.identity_;
    ciphers_ = other.ciphers_;
    return true;
}

#if defined(_WIN32)

namespace {
std::string windows_error_text(DWORD code);
}  // namespace

std::intptr_t BankFile::duplicate_handle(std::intptr_t handle, std::string* why) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(handle), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        if (why) *why = windows_error_text(GetLastError());
        return kClosed;
    }
    return reinterpret_cast<std::intptr_t>(copy);
}

namespace {

std::string windows_error_text(DWORD code) {
    char text[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

}  // namespace

void BankFile::close_handle() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

BankFile::OpenError BankFile::open(const std::string& path, std::string* error_text, bool follow_links) {
    close();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           follow_links ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (error_text) *error_text = windows_error_text(err);
        return (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) ? OpenError::not_found
                                                                             : OpenError::other;
    }
    LARGE_INTEGER size{};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(h, &info);
    if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !follow_links) {
        if (error_text) *error_text = "a symbolic link; not followed";
        CloseHandle(h);
        return OpenError::other;
    }
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) || size.QuadPart < 0) {
        if (error_text) *error_text = "not a regular file";
        CloseHandle(h);
        return OpenError::other;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    if (known) {
        identity_ = {true, info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    }
    return OpenError::none;
}

std::size_t BankFile::read_direct(std::uint64_t offset, void* dst, std::size_t len) {
    auto* p = static_cast<std::uint8_t*>(dst);
    std::size_t done = 0;
    while (done < len) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(len - done, 0x40000000));
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), p + done, part, &got, &at) || got == 0) break;
        done += got;
    }
    return done;
}

#else

void BankFile::close_handle() { ::close(static_cast<int>(handle_)); }

std::intptr_t BankFile::duplicate_handle(std::intptr_t handle, std::string* why) {
    const int fd = fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0);
    if (fd < 0 && why) *why = std::strerror(errno);  // "Too many open files", mostly
    return fd < 0 ? kClosed : fd;
}

BankFile::OpenError BankFile::open(const std::string& path, std::string* error_text, bool follow_links) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (follow_links ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int err = errno;
        if (error_text) *error_text = err == ELOOP && !follow_links ? "a symbolic link; not followed" : std::strerror(err);
        return (err == ENOENT || err == ENOTDIR) ? OpenError::not_found : OpenError::other;
    }
    // A directory, FIFO, socket or character device opens too, but has no
    // bank to read (and a FIFO would block the first read).
    struct stat st {};
    const bool stated = fstat(fd, &st) == 0;
    if (!stated || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        if (error_text) *error_text = stated && S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
        ::close(fd);
        return OpenError::other;
    }
    const off_t end = lseek(fd, 0, SEEK_END);  // st_size is 0 for a block device
    if (end < 0) {
        if (error_text) *error_text = std::strerror(errno);
        ::close(fd);
        return OpenError::other;
    }
    (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    handle_ = fd;
    size_ = static_cast<std::uint64_t>(end);
    identity_ = {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return OpenError::none;
}

std::size_t BankFile::read_direct(std::uint64_t offset, void* dst, std::size_t len) {
    auto* p = static_cast<std::uint8_t*>(dst);
    std::size_t done = 0;
    while (done < len) {
        const ssize_t n = pread(static_cast<int>(handle_), p + done, len - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

#endif

std::size_t BankFile::read_at(std::uint64_t offset, void* dst, std::size_t len) {
    const std::size_t got = read_plain(offset, dst, len);
    bytes_read_ += got;
    if (!ciphers_.empty()) decrypt(offset, static_cast<std::uint8_t*>(dst), got);
    return got;
}

bool BankFile::add_cipher(BankCipher cipher) {
    if (cipher.start() >= cipher.end() || (!ciphers_.empty() && cipher.start() < ciphers_.back().end())) return false;
    ciphers_.push_back(std::move(cipher));
    return true;
}

void BankFile::decrypt(std::uint64_t offset, std::uint8_t* bytes, std::size_t len) const {
    // The first range ending after `offset`, then every one the read reaches.
    auto c = std::upper_bound(ciphers_.begin(), ciphers_.end(), offset,
                              [](std::uint64_t at, const BankCipher& range) { return at < range.end(); });
    for (; c != ciphers_.end() && c->start() < offset + len; ++c) {
        const std::uint64_t from = std::max(offset, c->start());
        const std::uint64_t to = std::min(offset + len, c->end());
        c->decrypt(bytes + (from - offset), from, static_cast<std::size_t>(to - from));
    }
}

std::size_t BankFile::read_plain(std::uint64_t offset, void* dst, std::size_t len) {
    if (offset >= size_ || len == 0) return 0;
    if (len > size_ - offset) len = static_cast<std::size_t>(size_ - offset);
    if (memory_) {
        std::memcpy(dst, memory_ + offset, len);
        return len;
    }
    if (handle_ == kClosed) return 0;
    if (len >= kSmallRead) return read_direct(offset, dst, len);

    const bool inside = offset >= window_start_ && offset - window_start_ + len <= window_bytes_;
    if (!inside) {
        if (window_.empty()) window_.resize(kWindowBytes);
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, size_ - offset));
        window_start_ = offset;
        window_bytes_ = read_direct(offset, window_.data(), want);
        if (window_bytes_ < len) {  // a failing read: give what there is
            std::memcpy(dst, window_.data(), window_bytes_);
            const std::size_t got = window_bytes_;
            window_bytes_ = 0;
            return got;
        }
    }
    std::memcpy(dst, window_.data() + (offset - window_start_), len);
    return len;
}

}  // namespace soundlib
