// WAV: the 44-byte header, the samples as decoded, a pad byte after an odd
// data size, then a "smpl" chunk for a looping sound when asked for one.
#include <cstring>

#include "wav/smpl_chunk.h"
#include "wav/sound_writer.h"
#include "wav/wav_header.h"
#include "wav/wav_writer.h"

namespace {

class WavWriter final : public SoundWriter {
public:
    explicit WavWriter(bool loop_chunk) : loop_chunk_(loop_chunk) {}

    bool begin(platform::OutputFile& file, const SoundShape& shape) override {
        file_ = &file;
        shape_ = shape;
        block_align_ = wav_block_align(shape.channels, shape.bits);
        trailing_ = shape.loops && loop_chunk_ ? SMPL_CHUNK_BYTES : 0;
        expected_ = static_cast<std::uint32_t>(std::uint64_t{shape.frames} * static_cast<std::uint64_t>(block_align_));
        std::memcpy(header_, wav_header, WAV_HEADER_BYTES);
        patch_wav_header(header_, shape.channels, shape.bits, expected_, shape.sample_rate, shape.is_float, trailing_);
        return file.write(header_, WAV_HEADER_BYTES);
    }

    bool write(const std::uint8_t* data, std::size_t bytes) override {
        data_ += bytes;
        return file_->write(data, bytes);
    }

    bool end(std::uint64_t frames) override {
        const auto data_bytes = static_cast<std::uint32_t>(data_);
        if (data_bytes & 1) {
            const unsigned char pad = 0;
            if (!file_->write(&pad, 1)) return false;
        }
        loop_written_ = trailing_ != 0 && std::uint64_t{shape_.loop_end} < frames;
        if (loop_written_) {
            std::uint8_t smpl[SMPL_CHUNK_BYTES];
            make_smpl_chunk(smpl, shape_.sample_rate, shape_.loop_start, shape_.loop_end);
            if (!file_->write(smpl, sizeof smpl)) return false;
        }
        const std::uint32_t trailing = loop_written_ ? trailing_ : 0;
        bytes_ = WAV_HEADER_BYTES + std::uint64_t{data_bytes} + (data_bytes & 1) + trailing;
        // The sizes tell the truth about what reached the file.
        if (data_bytes == expected_ && trailing == trailing_) return true;
        patch_wav_sizes(header_, data_bytes, trailing);
        return file_->write_at(0, header_, WAV_HEADER_BYTES);
    }

    std::uint64_t bytes() const override { return bytes_; }
    bool loop_written() const override { return loop_written_; }

private:
    const bool loop_chunk_;
    platform::OutputFile* file_ = nullptr;
    SoundShape shape_;
    int block_align_ = 0;
    std::uint32_t trailing_ = 0;
    std::uint32_t expected_ = 0;
    std::uint64_t data_ = 0;
    std::uint64_t bytes_ = 0;
    bool loop_written_ = false;
    std::uint8_t header_[WAV_HEADER_BYTES];
};

}  // namespace

std::unique_ptr<SoundWriter> make_wav_writer(bool loop_chunk) { return std::make_unique<WavWriter>(loop_chunk); }
