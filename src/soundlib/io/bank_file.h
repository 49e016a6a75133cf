// Random access to the bytes of a bank: a file on disk, or memory the caller
// keeps alive (FMOD_OPENMEMORY).
//
// Every read names its offset, so readers and decoders of different
// subsounds can share the file; reads past the end are short, never wrong.
// Large reads go straight from the system into the caller's buffer; small
// ones (headers, packets, frames) are served from one small window so that
// walking a header table does not cost a system call per field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundlib/io/bank_cipher.h"

namespace soundlib {

class BankFile {
public:
    enum class OpenError { none, not_found, other };

    BankFile() = default;
    ~BankFile();
    BankFile(const BankFile&) = delete;
    BankFile& operator=(const BankFile&) = delete;

    // Opens without blocking (a FIFO never hangs the open); only a regular
    // file or a block device is accepted, and without `follow_links` not a
    // symbolic link (a reparse point on Windows) either. On failure,
    // *error_text holds the reason.
    OpenError open(const std::string& path, std::string* error_text, bool follow_links = true);

    // The system's identity of the open file: device and inode, or volume
    // serial number and file index.
    struct Identity {
        bool known = false;
        std::uint64_t device = 0;
        std::uint64_t file = 0;
    };
    const Identity& identity() const { return identity_; }

    // Reads from `size` bytes at `data`, which must outlive this object.
    void open_memory(const void* data, std::uint64_t size);

    // The same open file (or memory) as `other`, with its keys, through a
    // handle and a window of its own, for another thread: reads name their
    // offsets, so the two never disturb each other. False when the system
    // gives no second handle; *why (may be null) then says why not.
    bool open_same(const BankFile& other, std::string* why = nullptr);

    std::uint64_t size() const { return size_; }

    // Reads up to len bytes at offset; returns the count read (short at the
    // end of the file or on an I/O error).
    std::size_t read_at(std::uint64_t offset, void* dst, std::size_t len);

    static constexpr std::intptr_t kClosed = -1;

    // The system's handle on the file, for copies the system makes itself
    // (-1 for a bank in memory). Reads through it bypass decryption.
    std::intptr_t native_handle() const { return memory_ ? kClosed : handle_; }

    // True when all len bytes were read.
    bool read_exact(std::uint64_t offset, void* dst, std::size_t len) {
        return read_at(offset, dst, len) == len;
    }

    // Bytes handed out by reads so far, from the window or not: the work
    // done on the file, which tests hold to its size.
    std::uint64_t bytes_read() const { return bytes_read_; }

    // Bytes in an encrypted range are decrypted as they are read. Ranges are
    // added in file order as banks are found (each after the last one's
    // end; false for any other) and may be taken back while a key is tried.
    bool add_cipher(BankCipher cipher);
    void drop_last_cipher() { ciphers_.pop_back(); }
    bool encrypted() const { return !ciphers_.empty(); }
    // The range of the file a key decrypts holding `offset`; null when none.
    const BankCipher* cipher_at(std::uint64_t offset) const {
        for (const BankCipher& c : ciphers_) {
            if (offset >= c.start() && offset < c.end()) return &c;
        }
        return nullptr;
    }

private:
    // Reads straight from the system; short only at the end or on error.
    std::size_t read_direct(std::uint64_t offset, void* dst, std::size_t len);
    std::size_t read_plain(std::uint64_t offset, void* dst, std::size_t len);
    void decrypt(std::uint64_t offset, std::uint8_t* bytes, std::size_t len) const;
    void close();
    void close_handle();  // the system's part of close()
    static std::intptr_t duplicate_handle(std::intptr_t handle, std::string* why);  // kClosed on failure

    std::intptr_t handle_ = kClosed;  // a file descriptor, or a HANDLE on Windows
    const std::uint8_t* memory_ = nullptr;
    std::uint64_t size_ = 0;
    Identity identity_;

    std::vector<std::uint8_t> window_;  // the bytes at window_start_, for small reads
    std::uint64_t window_start_ = 0;
    std::size_t window_bytes_ = 0;  // raw bytes: decryption happens on the way out

    std::vector<BankCipher> ciphers_;  // in file order, not overlapping
    std::uint64_t bytes_read_ = 0;
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
