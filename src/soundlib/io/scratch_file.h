// A temporary file of the process's own: made so that no one else's file
// or link can stand in its place, and gone when closed, or when the
// process ends however it ends (POSIX: it has no name at all).
#pragma once

#include <cstddef>
#include <cstdio>

namespace soundlib {

class ScratchFile {
public:
    ScratchFile() = default;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile();

    bool open();
    bool write(const void* data, std::size_t size);
    // Back to the first byte, for reading what was written.
    bool rewind();
    // Exactly `size` bytes, or false.
    bool read(void* data, std::size_t size);

private:
    std::FILE* file_ = nullptr;
};

}  // namespace soundlib
