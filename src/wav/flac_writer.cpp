// FLAC through libFLAC's stream encoder: the WAV's samples, losslessly, with
// the sound's name as TITLE and its loop as LOOPSTART / LOOPLENGTH.
#include "wav/flac_writer.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "wav/utf8.h"

namespace {

// The level of flac's own default.
constexpr unsigned kCompressionLevel = 5;
// Samples are handed to the encoder this many frames at a time, so the
// conversion buffer stays small whatever the read.
constexpr std::size_t kFramesPerBatch = 4096;

constexpr std::uint8_t kVorbisCommentType = 4;
constexpr std::uint8_t kPaddingType = 1;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put_be24(std::uint8_t* p, std::size_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 16);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v);
}

void put_le32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool starts_with(const std::uint8_t* p, std::size_t n, const char* prefix) {
    const std::size_t k = std::strlen(prefix);
    return n >= k && std::memcmp(p, prefix, k) == 0;
}

class FlacWriter final : public SoundWriter {
public:
    ~FlacWriter() override {
        if (encoder_) FLAC__stream_encoder_delete(encoder_);
        if (comments_) FLAC__metadata_object_delete(comments_);
    }

    bool begin(platform::OutputFile& file, const SoundShape& shape) override {
        file_ = &file;
        shape_ = shape;
        bytes_per_sample_ = shape.bits / 8;
        encoder_ = FLAC__stream_encoder_new();
        comments_ = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
        if (!encoder_ || !comments_ || !add_tag("TITLE", utf8_or_replacement(shape.title))) {
            error_ = "not enough memory for the FLAC encoder";
            return false;
        }
        if (shape.loops) {
            add_tag("LOOPSTART", std::to_string(shape.loop_start));
            add_tag("LOOPLENGTH", std::to_string(std::uint64_t{shape.loop_end} - shape.loop_start + 1));
        }
        FLAC__StreamMetadata* blocks[] = {comments_};
        FLAC__stream_encoder_set_channels(encoder_, static_cast<unsigned>(shape.channels));
        FLAC__stream_encoder_set_bits_per_sample(encoder_, static_cast<unsigned>(shape.bits));
        FLAC__stream_encoder_set_sample_rate(encoder_, shape.sample_rate);
        FLAC__stream_encoder_set_compression_level(encoder_, kCompressionLevel);
        // The streamable subset stops at 24 bits and 655,350 Hz; beyond, a
        // whole FLAC file all the same.
        FLAC__stream_encoder_set_streamable_subset(encoder_, shape.bits <= 24 && shape.sample_rate <= 655350);
        FLAC__stream_encoder_set_total_samples_estimate(encoder_, shape.frames);
        FLAC__stream_encoder_set_metadata(encoder_, blocks, 1);
        const FLAC__StreamEncoderInitStatus status =
            FLAC__stream_encoder_init_stream(encoder_, on_write, on_seek, on_tell, nullptr, this);
        if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
            if (error_.empty()) error_ = std::string("the FLAC encoder refused the sound: ") +
                                         FLAC__StreamEncoderInitStatusString[status];
            return false;
        }
        samples_.resize(kFramesPerBatch * static_cast<std::size_t>(shape.channels));
        return true;
    }

    bool write(const std::uint8_t* data, std::size_t bytes) override {
        const std::size_t frame_bytes = static_cast<std::size_t>(bytes_per_sample_) * shape_.channels;
        while (bytes >= frame_bytes) {
            const std::size_t frames = std::min(kFramesPerBatch, bytes / frame_bytes);
            convert(data, frames * shape_.channels);
            if (!FLAC__stream_encoder_process_interleaved(encoder_, samples_.data(), static_cast<unsigned>(frames))) {
                return failed();
            }
            data += frames * frame_bytes;
            bytes -= frames * frame_bytes;
        }
        return true;
    }

    bool end(std::uint64_t frames) override {
        if (!FLAC__stream_encoder_finish(encoder_)) return failed();
        loop_written_ = shape_.loops && std::uint64_t{shape_.loop_end} < frames;
        if (shape_.loops && !loop_written_ && !drop_loop_tags()) return false;
        return true;
    }

    std::uint64_t bytes() const override { return end_; }
    bool loop_written() const override { return loop_written_; }

private:
    bool add_tag(const char* name, const std::string& value) {
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        return FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name, value.c_str()) &&
               FLAC__metadata_object_vorbiscomment_append_comment(comments_, entry, false);
    }

    // Decoded samples are little-endian; 8-bit ones unsigned, as WAV has them.
    void convert(const std::uint8_t* p, std::size_t count) {
        FLAC__int32* out = samples_.data();
        switch (bytes_per_sample_) {
            case 1:
                for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<FLAC__int32>(p[i]) - 128;
                break;
            case 2:
                for (std::size_t i = 0; i < count; ++i, p += 2) {
                    out[i] = static_cast<std::int16_t>(p[0] | (p[1] << 8));
                }
                break;
            case 3:
                for (std::size_t i = 0; i < count; ++i, p += 3) {
                    const std::uint32_t u = p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
                    out[i] = static_cast<FLAC__int32>(u << 8) >> 8;
                }
                break;
            default:
                for (std::size_t i = 0; i < count; ++i, p += 4) out[i] = static_cast<FLAC__int32>(le32(p));
                break;
        }
    }

    bool failed() {
        if (error_.empty()) {
            error_ = std::string("the FLAC encoder failed: ") +
                     FLAC__stream_encoder_get_resolved_state_string(encoder_);
        }
        return false;
    }

    // What libFLAC writes before the first audio frame is kept, to mend it
    // in place when the loop tags must go.
    FLAC__StreamEncoderWriteStatus put(const FLAC__byte* buffer, std::size_t bytes, unsigned samples) {
        const bool ok = at_ == end_ ? file_->write(buffer, bytes) : file_->write_at(at_, buffer, bytes);
        if (!ok) {
            error_ = file_->error();
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
        if (samples == 0 && !audio_started_ && at_ == head_.size()) head_.insert(head_.end(), buffer, buffer + bytes);
        if (samples != 0) audio_started_ = true;
        at_ += bytes;
        end_ = std::max(end_, at_);
        return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
    }

    // A sound cut short keeps no loop that lies past its frames: the
    // comment block is written again without the loop tags, and the bytes
    // they took become a padding block, so nothing after it moves.
    bool drop_loop_tags() {
        std::size_t at = 4;  // after "fLaC"
        while (at + 4 <= head_.size()) {
            const std::uint8_t kind = head_[at] & 0x7F;
            const bool last = (head_[at] & 0x80) != 0;
            const std::size_t length = (head_[at + 1] << 16) | (head_[at + 2] << 8) | head_[at + 3];
            if (at + 4 + length > head_.size()) break;
            if (kind == kVorbisCommentType) return rewrite_comments(at, length, last);
            at += 4 + length;
        }
        error_ = "the FLAC comment block was not found to take the loop out";
        return false;
    }

    bool rewrite_comments(std::size_t at, std::size_t length, bool last) {
        const std::uint8_t* body = head_.data() + at + 4;
        std::vector<std::uint8_t> kept;
        std::size_t p = 4 + le32(body);  // the vendor string stays
        kept.assign(body, body + p);
        const std::size_t count_at = kept.size();
        kept.resize(kept.size() + 4);
        std::uint32_t count = 0;
        const std::uint32_t total = le32(body + p);
        p += 4;
        for (std::uint32_t i = 0; i < total && p + 4 <= length; ++i) {
            const std::size_t n = le32(body + p);
            if (p + 4 + n > length) break;
            if (!starts_with(body + p + 4, n, "LOOPSTART=") && !starts_with(body + p + 4, n, "LOOPLENGTH=")) {
                kept.insert(kept.end(), body + p, body + p + 4 + n);
                ++count;
            }
            p += 4 + n;
        }
        put_le32(kept.data() + count_at, count);
        if (kept.size() + 4 > length) {
            error_ = "the FLAC comment block has no room to take the loop out";
            return false;
        }
        std::vector<std::uint8_t> block(4 + length, 0);
        block[0] = kVorbisCommentType;
        put_be24(block.data() + 1, kept.size());
        std::copy(kept.begin(), kept.end(), block.begin() + 4);
        std::uint8_t* padding = block.data() + 4 + kept.size();
        padding[0] = static_cast<std::uint8_t>(kPaddingType | (last ? 0x80 : 0));
        put_be24(padding + 1, length - kept.size() - 4);
        if (file_->write_at(at, block.data(), block.size())) return true;
        error_ = file_->error();
        return false;
    }

    static FLAC__StreamEncoderWriteStatus on_write(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                                   size_t bytes, uint32_t samples, uint32_t, void* self) {
        return static_cast<FlacWriter*>(self)->put(buffer, bytes, samples);
    }
    static FLAC__StreamEncoderSeekStatus on_seek(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* self) {
        static_cast<FlacWriter*>(self)->at_ = offset;
        return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamEncoderTellStatus on_tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* self) {
        *offset = static_cast<FlacWriter*>(self)->at_;
        return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
    }

    platform::OutputFile* file_ = nullptr;
    SoundShape shape_;
    int bytes_per_sample_ = 0;
    FLAC__StreamEncoder* encoder_ = nullptr;
    FLAC__StreamMetadata* comments_ = nullptr;
    std::vector<FLAC__int32> samples_;
    std::vector<std::uint8_t> head_;
    bool audio_started_ = false;
    std::uint64_t at_ = 0;
    std::uint64_t end_ = 0;
    bool loop_written_ = false;
};

}  // namespace

std::unique_ptr<SoundWriter> make_flac_writer() { return std::make_unique<FlacWriter>(); }

bool flac_can_hold(const SoundShape& shape, std::string& why) {
    if (shape.is_float) {
        why = "FLAC holds no float samples";
    } else if (shape.bits < 8 || shape.bits > 32 || shape.bits % 8 != 0) {
        why = "FLAC holds no samples of " + std::to_string(shape.bits) + " bits";
    } else if (shape.channels < 1 || shape.channels > static_cast<int>(FLAC__MAX_CHANNELS)) {
        why = "FLAC holds at most " + std::to_string(FLAC__MAX_CHANNELS) + " channels";
    } else if (shape.sample_rate < 1 || shape.sample_rate > FLAC__MAX_SAMPLE_RATE) {
        why = "FLAC holds no sample rate of " + std::to_string(shape.sample_rate) + " Hz";
    } else {
        return true;
    }
    return false;
}
