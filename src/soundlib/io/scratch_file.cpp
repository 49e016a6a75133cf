#include "soundlib/io/scratch_file.h"

#if defined(_WIN32)
#include <windows.h>

#include <cwchar>
#endif

namespace soundlib {

ScratchFile::~ScratchFile() {
    if (file_) std::fclose(file_);
}

bool ScratchFile::open() {
    if (file_) return true;
#if defined(_WIN32)
    // The user's own temporary folder; GetTempFileName makes the file, so
    // its name is ours, and "D" removes it when it is closed.
    wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameW(dir, L"bkr", 0, name) == 0) return false;
    file_ = _wfopen(name, L"w+bD");
    if (!file_) DeleteFileW(name);
#else
    file_ = std::tmpfile();
#endif
    return file_ != nullptr;
}

bool ScratchFile::write(const void* data, std::size_t size) {
    return file_ && std::fwrite(data, 1, size, file_) == size;
}

bool ScratchFile::rewind() {
    read_ = 0;
    return file_ && std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0;
}

bool ScratchFile::read(void* data, std::size_t size) {
    if (!file_ || std::fread(data, 1, size, file_) != size) return false;
    read_ += size;
    return true;
}

bool ScratchFile::read_up_to(std::uint64_t upto, std::vector<std::uint8_t>& out) {
    if (upto <= read_) return true;
    const auto n = static_cast<std::size_t>(upto - read_);
    const std::size_t at = out.size();
    out.resize(at + n);
    if (!read(out.data() + at, n)) {
        out.resize(at);
        return false;
    }
    return true;
}

}  // namespace soundlib
