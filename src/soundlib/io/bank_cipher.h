// The byte scrambling some games put on their banks: each byte of a bank,
// counted from the bank's first byte, is XORed with the key's bytes in turn,
// and in the common variant its bits are then reversed (bit 0 becomes bit 7).
// Undone as bytes are read, so no decrypted copy of a bank is ever made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace soundlib {

class BankCipher {
public:
    // Bytes in [start, end) of the file; key position 0 falls on `origin`.
    BankCipher(std::string key, bool reverse_bits, std::uint64_t origin, std::uint64_t start, std::uint64_t end);

    std::uint64_t start() const { return start_; }
    std::uint64_t end() const { return end_; }
    const std::string& key() const { return key_; }
    bool reverses_bits() const { return reverse_; }
    std::uint64_t origin() const { return origin_; }

    // Decrypts in place the len bytes at p that were read at file offset
    // `offset` (all inside [start, end)).
    void decrypt(std::uint8_t* p, std::uint64_t offset, std::size_t len) const;

    // The inverse, for writing encrypted banks in tests and tools: `offset`
    // counts from the bank's first byte.
    static void encrypt(std::uint8_t* p, std::size_t len, const std::string& key, bool reverse_bits,
                        std::uint64_t offset = 0);

private:
    std::string key_;
    bool reverse_;
    std::uint64_t origin_, start_, end_;
};

}  // namespace soundlib
