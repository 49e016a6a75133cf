// Small writes gathered into large ones: a file of stored units is made of
// thousands of frames or pages of a few hundred bytes each. The buffer is
// page-aligned and large, as the decoded samples' is: the kernel copies out
// of such a buffer markedly faster.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

class BufferedFile {
public:
    explicit BufferedFile(platform::OutputFile& file)
        : file_(file), buffer_(static_cast<std::uint8_t*>(::operator new(kBytes, std::align_val_t{kAlign}))) {}

    bool put(const void* data, std::size_t n) {
        bytes_ += n;
        // What is large already goes as it is, after what is held.
        if (n >= kDirectBytes) return flush() && file_.write(data, n);
        if (held_ + n > kBytes && !flush()) return false;
        std::memcpy(buffer_.get() + held_, data, n);
        held_ += n;
        return true;
    }

    // Pieces that go in one gathering write, after what is held.
    bool put_pieces(const platform::OutputFile::Piece* pieces, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) bytes_ += pieces[i].size;
        return flush() && file_.write_pieces(pieces, count);
    }

    bool flush() {
        if (held_ == 0) return true;
        const bool ok = file_.write(buffer_.get(), held_);
        held_ = 0;
        return ok;
    }

    // Bytes put so far, written or still held.
    std::uint64_t bytes() const { return bytes_; }

private:
    static constexpr std::size_t kBytes = 1024 * 1024;
    static constexpr std::size_t kDirectBytes = 256 * 1024;
    static constexpr std::size_t kAlign = 4096;
    struct AlignedFree {
        void operator()(std::uint8_t* p) const { ::operator delete(p, std::align_val_t{kAlign}); }
    };
    platform::OutputFile& file_;
    std::unique_ptr<std::uint8_t, AlignedFree> buffer_;
    std::size_t held_ = 0;
    std::uint64_t bytes_ = 0;
};
