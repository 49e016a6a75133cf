// A temporary file of the process's own: made so that no one else's file
// or link can stand in its place, and gone when closed, or when the
// process ends however it ends (POSIX: it has no name at all).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

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
    // Appends what lies between where reading stands and byte `upto` of
    // the file (nothing when reading is past it already); false when the
    // file holds fewer, with `out` as it was.
    bool read_up_to(std::uint64_t upto, std::vector<std::uint8_t>& out);

private:
    std::FILE* file_ = nullptr;
    std::uint64_t read_ = 0;  // bytes read since the rewind
};

}  // namespace soundlib
