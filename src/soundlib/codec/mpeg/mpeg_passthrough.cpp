#include "soundlib/codec/mpeg/mpeg_passthrough.h"

#include <vector>

#include "soundlib/codec/mpeg/mpeg_frame_header.h"

namespace soundlib {

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t padded(std::uint64_t end, std::uint32_t padding) { return (end + padding - 1) / padding * padding; }

// The file's frames, walked by their headers from `start`: every one must be
// of the target's layer, rate and channels, and they must fill the file to
// `end`. The first audio frame's offset, their count and their stored size
// (padded) come out; false with why not.
struct Survey {
    std::uint64_t first = 0, count = 0, bytes = 0;
};
bool survey_frames(BankFile& file, std::uint64_t start, std::uint64_t end, const EncodeTarget& t, Survey& s,
                   std::string& why) {
    Bytes frame(kMpegMaxFrameBytes);
    s = Survey{start, 0, 0};
    for (std::uint64_t pos = start; pos < end;) {
        MpegFrameHeader h;
        if (end - pos < 4 || !file.read_exact(pos, frame.data(), 4) || parse_mpeg_frame_header(frame.data(), h)) {
            why = "bytes that are not an MPEG frame at offset " + std::to_string(pos);
            return false;
        }
        if (h.layer != t.mpeg_layer) {
            why = "frames of layer " + std::string(h.layer == 2 ? "II" : "III") + ", not the sound's";
            return false;
        }
        if (h.sample_rate != t.rate || h.channels != t.channels) {
            why = "frames of other rates or channel modes";
            return false;
        }
        if (pos + h.length > end) {
            why = "a last frame cut short";
            return false;
        }
        if (pos == start) {
            file.read_exact(pos, frame.data(), h.length);
            if (is_mpeg_tag_frame(frame.data(), h)) {
                pos += h.length;
                s.first = pos;
                continue;
            }
        }
        s.bytes = padded(s.bytes + h.length, t.mpeg_padding);
        ++s.count;
        pos += h.length;
    }
    if (s.count == 0) {
        why = "no audio frames";
        return false;
    }
    return true;
}

// The frames go out in step with the samples the writer feeds (one frame
// per frame's worth of them), so only one frame is held at a time. The
// decoder feeds our reader the frames without their padding, one after the
// other, so frames whose main data begins in earlier ones (lame's bit
// reservoir) decode as in the file alone (the tests check it).
class MpegFramesCopy final : public SoundEncoder {
public:
    MpegFramesCopy(std::string path, const EncodeTarget& t, std::uint64_t file_size, std::uint64_t end,
                   const Survey& s)
        : path_(std::move(path)), t_(t), file_size_(file_size), end_(end), survey_(s) {
        spf_ = t.mpeg_layer == 3 && t.rate < 32000 ? 576 : 1152;
    }

    std::uint64_t stored_bytes() const override { return survey_.bytes; }
    // Every sample of the stored frames, as the MPEG encoder says it.
    std::uint64_t stored_frames(std::uint64_t) const override { return survey_.count * spf_; }
    const char* copies() const override { return "frames"; }

    void begin_pass(std::uint32_t) override {
        std::string ignored;
        file_ = std::make_unique<BankFile>();
        failed_ = file_->open(path_, &ignored) != BankFile::OpenError::none || file_->size() != file_size_;
        pos_ = survey_.first;
        made_ = 0;
        sent_ = 0;
        seen_ = 0;
    }
    bool encode(const double*, std::uint32_t frames, Bytes& out, std::uint32_t& bad) override {
        bad = 0;
        seen_ += frames;
        while (!failed_ && sent_ < survey_.count && sent_ * spf_ < seen_) put_frame(out);
        return !failed_;
    }
    void end_pass(Bytes& out) override {
        while (!failed_ && sent_ < survey_.count) put_frame(out);
        file_.reset();  // a bank may have thousands replaced
    }

private:
    void put_frame(Bytes& out) {
        std::uint8_t head[4];
        MpegFrameHeader h;
        if (end_ - pos_ < 4 || !file_->read_exact(pos_, head, 4) || parse_mpeg_frame_header(head, h) ||
            pos_ + h.length > end_) {
            failed_ = true;
            return;
        }
        const std::size_t at = out.size();
        out.resize(at + h.length);
        if (!file_->read_exact(pos_, out.data() + at, h.length)) {
            failed_ = true;
            out.resize(at);
            return;
        }
        const std::uint64_t end = padded(made_ + h.length, t_.mpeg_padding);
        out.resize(out.size() + static_cast<std::size_t>(end - made_ - h.length), 0);
        made_ = end;
        pos_ += h.length;
        ++sent_;
    }

    std::string path_;
    EncodeTarget t_;
    std::uint64_t file_size_, end_;
    Survey survey_;
    std::uint32_t spf_ = 1152;
    std::unique_ptr<BankFile> file_;
    bool failed_ = false;
    std::uint64_t pos_ = 0, made_ = 0, sent_ = 0, seen_ = 0;
};

}  // namespace

void mp3_frames_range(BankFile& file, std::uint64_t& start, std::uint64_t& end) {
    start = 0;
    end = file.size();
    std::uint8_t id3[10];
    if (end >= 10 && file.read_exact(0, id3, 10) && id3[0] == 'I' && id3[1] == 'D' && id3[2] == '3') {
        const std::uint64_t body = (std::uint64_t{id3[6] & 0x7Fu} << 21) | (std::uint64_t{id3[7] & 0x7Fu} << 14) |
                                   (std::uint64_t{id3[8] & 0x7Fu} << 7) | (id3[9] & 0x7Fu);
        start = 10 + body + ((id3[5] & 0x10) ? 10 : 0);
    }
    std::uint8_t tag[3];
    if (end >= start + 128 && file.read_exact(end - 128, tag, 3) && tag[0] == 'T' && tag[1] == 'A' && tag[2] == 'G') {
        end -= 128;
    }
}

std::unique_ptr<SoundEncoder> make_mpeg_passthrough(const std::string& path, const EncodeTarget& target,
                                                    std::string& why_not) {
    BankFile file;
    if (file.open(path, &why_not) != BankFile::OpenError::none) return nullptr;
    std::uint64_t start = 0, end = 0;
    mp3_frames_range(file, start, end);
    Survey s;
    if (!survey_frames(file, start, end, target, s, why_not)) return nullptr;
    return std::make_unique<MpegFramesCopy>(path, target, file.size(), end, s);
}

}  // namespace soundlib
