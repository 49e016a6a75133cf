// MP3 (and MP2) replacements, decoded by the very decoder of a bank's MPEG
// sounds with the file's frames as its data, so that the .mp3 an unpack
// keeps decodes to the sound's own samples. An ID3v2 tag before the frames
// and an ID3v1 tag after them are left out. A file holds whole frames: its
// length is theirs, which may pass the sound's by part of a frame.
#include <algorithm>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/codec/frame_source.h"
#include "soundlib/codec/mpeg/mpeg.h"
#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"
#include "soundlib/codec/mpeg/mpeg_passthrough.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/replace/replacement_input.h"

namespace soundlib {

namespace {

class Mp3Replacement final : public ReplacementInput {
public:
    bool open(const std::string& path, std::string& why) {
        std::string open_why;
        if (file_.open(path, &open_why) != BankFile::OpenError::none) {
            why = open_why;
            return false;
        }
        std::uint64_t start = 0, end = 0;
        mp3_frames_range(file_, start, end);
        std::uint8_t head[4];
        MpegFrameHeader h;
        if (start + 4 > end || !file_.read_exact(start, head, 4) || parse_mpeg_frame_header(head, h) != nullptr) {
            why = "not an MP3 file that can be read (no MPEG audio frame where its frames should start)";
            return false;
        }
        info_.codec = Codec::mpeg;
        info_.channels = h.channels;
        info_.frequency = h.sample_rate;
        info_.data = {start, end - start};
        // Its length: the units the decoder will give.
        MpegFrames frames(DataRange{&file_, start, end - start}, h.channels, h.sample_rate, 1);
        std::string detail;
        if (frames.learn(detail) != FMOD_OK) {
            why = detail;
            return false;
        }
        std::uint64_t units = 0;
        for (std::uint64_t pos = frames.layout().sound_start;; ++units) {
            MpegFrames::Unit unit;
            if (frames.step(pos, &unit) != FMOD_OK) break;
            if (!unit.damage.empty()) {
                why = "damaged MPEG frames (" + unit.damage + ")";
                return false;
            }
        }
        shape_.format = InputFormat::mp3;
        shape_.channels = h.channels;
        shape_.rate = h.sample_rate;
        shape_.frames = units * frames.layout().samples;
        shape_.unit_fill = frames.layout().samples - 1;
        info_.frames = shape_.frames;
        source_ = make_mpeg_source(info_, file_);
        return true;
    }

    bool read(std::uint32_t count, std::vector<double>& out) override {
        const std::uint32_t channels = shape_.channels;
        out.resize(std::size_t{count} * channels);
        std::size_t got = 0;
        const std::size_t want = out.size();
        while (got < want) {
            if (taken_ == held_frames_ * channels) {
                unit_.resize(std::size_t{source_->max_unit_frames()} * channels * 2);
                std::string detail;
                if (source_->decode(unit_.data(), held_frames_, detail) != FMOD_OK || held_frames_ == 0 ||
                    source_->damage().units > 0) {
                    return false;
                }
                taken_ = 0;
            }
            const std::size_t n = std::min(want - got, std::size_t{held_frames_} * channels - taken_);
            for (std::size_t i = 0; i < n; ++i) {
                const std::uint8_t* p = unit_.data() + 2 * (taken_ + i);
                out[got + i] = static_cast<std::int16_t>(p[0] | (p[1] << 8)) / 32768.0;
            }
            taken_ += n;
            got += n;
        }
        return true;
    }

    bool rewind() override {
        held_frames_ = 0;
        taken_ = 0;
        return source_->seek(0) == 0;
    }

private:
    BankFile file_;
    SubsoundInfo info_;
    std::unique_ptr<FrameSource> source_;
    std::vector<std::uint8_t> unit_;  // one decoded unit, 16-bit interleaved
    std::uint32_t held_frames_ = 0;
    std::size_t taken_ = 0;
};

}  // namespace

std::unique_ptr<ReplacementInput> open_mp3_replacement(const std::string& path, std::string& why) {
    auto mp3 = std::make_unique<Mp3Replacement>();
    if (!mp3->open(path, why)) return nullptr;
    return mp3;
}

}  // namespace soundlib
