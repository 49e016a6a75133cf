// WAV replacements: 8, 16, 24 and 32-bit integer or 32-bit float PCM, the
// loop from a "smpl" chunk. Frames are read where they lie, so a rewind
// costs nothing.
#include <algorithm>
#include <cstring>

#include "soundlib/codec/pcm/pcm_samples.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/io/bytes.h"
#include "soundlib/replace/replacement_input.h"

namespace soundlib {

namespace {

constexpr std::uint16_t kWavePcm = 1;
constexpr std::uint16_t kWaveFloat = 3;
constexpr std::uint16_t kWaveExtensible = 0xFFFE;

class WavReplacement final : public ReplacementInput {
public:
    bool open(const std::string& path, std::string& why) {
        InputShape s;
        std::string open_why;
        if (file_.open(path, &open_why) != BankFile::OpenError::none) {
            why = open_why;
            return false;
        }
        BankFile& f = file_;
        const std::uint64_t size = f.size();
        std::uint8_t head[12];
        if (!f.read_exact(0, head, 12) || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
            why = "not a WAV file (it does not start as one: \"RIFF\", a size, \"WAVE\")";
            return false;
        }
        const std::uint64_t riff_end = 8 + static_cast<std::uint64_t>(le32(head + 4));
        if (riff_end > size) {
            why = "cut short, or its header lies about its size: it announces " + std::to_string(riff_end) +
                  " bytes, the file has " + std::to_string(size);
            return false;
        }
        bool have_format = false, have_data = false;
        std::uint16_t tag = 0;
        std::uint64_t data_bytes = 0;
        std::uint32_t block = 0;
        for (std::uint64_t pos = 12; pos + 8 <= riff_end;) {
            std::uint8_t ch[8];
            if (!f.read_exact(pos, ch, 8)) break;
            const std::uint64_t chunk_size = le32(ch + 4);
            const std::uint64_t body = pos + 8;
            if (body + chunk_size > riff_end) {
                why = "its \"" + std::string(reinterpret_cast<char*>(ch), 4) + "\" chunk announces " +
                      std::to_string(chunk_size) + " bytes, more than the file holds: it is cut short or lies about "
                      "its size";
                return false;
            }
            if (std::memcmp(ch, "fmt ", 4) == 0 && chunk_size >= 16) {
                std::uint8_t fmt[40] = {};
                f.read_exact(body, fmt, static_cast<std::size_t>(std::min<std::uint64_t>(chunk_size, sizeof fmt)));
                tag = le16(fmt);
                s.channels = le16(fmt + 2);
                s.rate = le32(fmt + 4);
                block = le16(fmt + 12);
                s.bits = le16(fmt + 14);
                if (tag == kWaveExtensible && chunk_size >= 40) tag = le16(fmt + 24);
                have_format = true;
            } else if (std::memcmp(ch, "data", 4) == 0) {
                data_offset_ = body;
                data_bytes = chunk_size;
                have_data = true;
            } else if (std::memcmp(ch, "smpl", 4) == 0 && chunk_size >= 36 + 24) {
                std::uint8_t smpl[60];
                f.read_exact(body, smpl, sizeof smpl);
                if (le32(smpl + 28) >= 1) {
                    s.has_loop = true;
                    s.loop_start = le32(smpl + 36 + 8);
                    s.loop_end = le32(smpl + 36 + 12);
                }
            }
            pos = body + chunk_size + (chunk_size & 1);
        }
        if (!have_format) {
            why = "a WAV file without a format (\"fmt \") chunk";
            return false;
        }
        if (!have_data) {
            why = "a WAV file without a \"data\" chunk";
            return false;
        }
        if (s.channels == 0) {
            why = "its format says 0 channels";
            return false;
        }
        if (tag == kWaveFloat) {
            if (s.bits != 32) {
                why = std::to_string(s.bits) + "-bit float samples; only 32-bit float is taken";
                return false;
            }
            s.is_float = true;
        } else if (tag != kWavePcm) {
            why = "its samples are not PCM or float (format " + std::to_string(tag) + ")";
            return false;
        } else if (s.bits != 8 && s.bits != 16 && s.bits != 24 && s.bits != 32) {
            why = std::to_string(s.bits) + "-bit samples; 8, 16, 24 and 32-bit are taken";
            return false;
        }
        if (s.rate == 0) {
            why = "its format says a rate of 0 Hz";
            return false;
        }
        const std::uint32_t frame_bytes = s.channels * static_cast<std::uint32_t>(s.bits / 8);
        if (block != frame_bytes) {
            why = "its format gives " + std::to_string(block) + " bytes a frame where " +
                  std::to_string(s.channels) + " channels of " + std::to_string(s.bits) + " bits take " +
                  std::to_string(frame_bytes);
            return false;
        }
        if (data_bytes % frame_bytes != 0) {
            why = "its \"data\" chunk (" + std::to_string(data_bytes) + " bytes) does not hold whole frames of " +
                  std::to_string(frame_bytes) + " bytes";
            return false;
        }
        s.frames = data_bytes / frame_bytes;
        if (s.has_loop && (s.loop_start > s.loop_end || s.loop_end >= s.frames)) {
            why = "its \"smpl\" loop (" + std::to_string(s.loop_start) + " to " + std::to_string(s.loop_end) +
                  ") does not lie inside its " + std::to_string(s.frames) + " frames";
            return false;
        }
        s.format = InputFormat::wav;
        frame_bytes_ = frame_bytes;
        shape_ = s;
        return true;
    }

    // Exact: every integer and float sample is a double.
    bool read(std::uint32_t count, std::vector<double>& out) override {
        const std::uint32_t sample_bytes = static_cast<std::uint32_t>(shape_.bits / 8);
        const std::uint64_t n64 = std::min<std::uint64_t>(count, shape_.frames - std::min(pos_, shape_.frames));
        if (n64 != count) return false;
        const std::size_t n = static_cast<std::size_t>(count) * shape_.channels;
        raw_.resize(n * sample_bytes);
        if (!file_.read_exact(data_offset_ + pos_ * frame_bytes_, raw_.data(), raw_.size())) return false;
        pos_ += count;
        pcm_samples_to_double(raw_.data(), n, shape_.bits, shape_.is_float, out);
        return true;
    }

    bool rewind() override {
        pos_ = 0;
        return true;
    }

private:
    BankFile file_;
    std::uint64_t data_offset_ = 0;
    std::uint32_t frame_bytes_ = 0;
    std::uint64_t pos_ = 0;
    std::vector<std::uint8_t> raw_;
};

}  // namespace

std::unique_ptr<ReplacementInput> open_wav_replacement(const std::string& path, std::string& why) {
    auto wav = std::make_unique<WavReplacement>();
    if (!wav->open(path, why)) return nullptr;
    return wav;
}

}  // namespace soundlib
