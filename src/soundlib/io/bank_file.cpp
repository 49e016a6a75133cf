#include "soundlib/io/bank_file.h"

#include <cerrno>
#include <cstring>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace soundlib {

namespace {

bool seek_to(std::FILE* f, std::uint64_t offset) {
#if defined(_WIN32)
    return _fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
    return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

BankFile::~BankFile() {
    if (file_) std::fclose(file_);
}

BankFile::OpenError BankFile::open(const std::string& path, std::string* error_text) {
    errno = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        int err = errno;
        if (error_text) *error_text = std::strerror(err);
        return (err == ENOENT || err == ENOTDIR) ? OpenError::not_found : OpenError::other;
    }
    bool sized = false;
#if !defined(_WIN32)
    // A directory or a device opens too, but has no bank to read.
    struct stat st {};
    if (fstat(fileno(file_), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error_text) *error_text = S_ISDIR(st.st_mode) ? "is a directory" : "not a regular file";
        std::fclose(file_);
        file_ = nullptr;
        return OpenError::other;
    }
#endif
#if defined(_WIN32)
    if (_fseeki64(file_, 0, SEEK_END) == 0) {
        __int64 end = _ftelli64(file_);
        sized = end >= 0;
        size_ = sized ? static_cast<std::uint64_t>(end) : 0;
    }
#else
    if (fseeko(file_, 0, SEEK_END) == 0) {
        off_t end = ftello(file_);
        sized = end >= 0;
        size_ = sized ? static_cast<std::uint64_t>(end) : 0;
    }
#endif
    if (!sized || std::ferror(file_)) {
        if (error_text) *error_text = "not a regular file";
        std::fclose(file_);
        file_ = nullptr;
        return OpenError::other;
    }
    position_ = size_;
    return OpenError::none;
}

std::size_t BankFile::read_at(std::uint64_t offset, void* dst, std::size_t len) {
    if (!file_ || offset >= size_ || len == 0) return 0;
    if (len > size_ - offset) len = static_cast<std::size_t>(size_ - offset);
    if (offset != position_) {
        if (!seek_to(file_, offset)) {
            position_ = UINT64_MAX;
            return 0;
        }
        position_ = offset;
    }
    std::size_t got = std::fread(dst, 1, len, file_);
    if (got != len) {
        std::clearerr(file_);
        position_ = UINT64_MAX;  // unknown after a failed read
    } else {
        position_ += got;
    }
    return got;
}

}  // namespace soundlib
