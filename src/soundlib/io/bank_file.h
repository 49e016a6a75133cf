// Random access to a bank on disk through one small buffer.
//
// Every read names its offset, so readers and decoders of different
// subsounds can share the file; reads past the end are short, never wrong.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace soundlib {

class BankFile {
public:
    enum class OpenError { none, not_found, other };

    BankFile() = default;
    ~BankFile();
    BankFile(const BankFile&) = delete;
    BankFile& operator=(const BankFile&) = delete;

    // On failure, *error_text holds the system's reason.
    OpenError open(const std::string& path, std::string* error_text);

    std::uint64_t size() const { return size_; }

    // Reads up to len bytes at offset; returns the count read (short at the
    // end of the file or on an I/O error).
    std::size_t read_at(std::uint64_t offset, void* dst, std::size_t len);

    // True when all len bytes were read.
    bool read_exact(std::uint64_t offset, void* dst, std::size_t len) {
        return read_at(offset, dst, len) == len;
    }

private:
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;  // where the FILE stands, to skip needless seeks
};

// A window of the bank: one subsound's stored data.
struct DataRange {
    BankFile* file = nullptr;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;

    // Reads up to len bytes at pos within the range; short at its end.
    std::size_t read_at(std::uint64_t pos, void* dst, std::size_t len) const {
        if (pos >= size) return 0;
        if (len > size - pos) len = static_cast<std::size_t>(size - pos);
        return file->read_at(offset + pos, dst, len);
    }
};

}  // namespace soundlib
