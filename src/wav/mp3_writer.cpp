// MP3: the sound's frames as stored, back to back. It carries no loop (the
// format has no standard place for one).
#include <optional>

#include "wav/buffered_file.h"
#include "wav/stored_writers.h"

namespace {

class Mp3Writer final : public SoundWriter {
public:
    bool begin(platform::OutputFile& file, const SoundShape&) override {
        out_.emplace(file);
        return true;
    }

    bool write(const std::uint8_t*, std::size_t) override {
        error_ = "an .mp3 file takes MPEG frames, not decoded samples";
        return false;
    }

    bool write_unit(const std::uint8_t* data, std::size_t bytes, std::uint32_t) override {
        return out_->put(data, bytes);
    }

    // The frames are back to back already: one write.
    bool write_units(const std::uint8_t* data, const unsigned int* sizes, const unsigned int*,
                     std::size_t count) override {
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) bytes += sizes[i];
        return out_->put(data, bytes);
    }

    bool end(std::uint64_t) override { return out_->flush(); }

    std::uint64_t bytes() const override { return out_ ? out_->bytes() : 0; }
    bool loop_written() const override { return false; }

private:
    std::optional<BufferedFile> out_;
};

}  // namespace

std::unique_ptr<SoundWriter> make_mp3_writer() { return std::make_unique<Mp3Writer>(); }
