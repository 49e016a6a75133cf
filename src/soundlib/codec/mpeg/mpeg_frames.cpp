#include "soundlib/codec/mpeg/mpeg_frames.h"

#include <algorithm>
#include <cstring>

namespace soundlib {

namespace {

// The padding is learned on this many frames: enough for the lengths of
// constant-bitrate frames at 44.1 kHz, which alternate, to tell any two
// paddings apart.
constexpr int kLearnFrames = 64;
// How far past a frame that does not read right the learning walk looks
// for the next one, and how far from the first frame it goes in all: what
// learning costs is bounded, whatever the data holds.
constexpr std::uint64_t kLearnResyncBytes = 4 * kMpegMaxFrameBytes;
constexpr std::uint64_t kLearnBytes = kLearnFrames * kMpegMaxFrameBytes;
constexpr std::size_t kScanBytes = 4096;

std::string layer_name(int version, int layer) {
    const char* v = version == 10 ? "MPEG-1" : version == 20 ? "MPEG-2" : "MPEG-2.5";
    return std::string(v) + (layer == 2 ? " layer II" : " layer III");
}

// Layer III main data a frame holds, for the bit reservoir of later ones.
std::uint32_t main_data_bytes(const MpegFrameHeader& h) {
    if (h.layer != 3) return 0;
    const std::uint32_t overhead = 4 + (h.crc ? 2 : 0) + h.side_info;
    return h.length > overhead ? h.length - overhead : 0;
}

bool sync_at(const std::uint8_t* b) { return b[0] == 0xFF && (b[1] & 0xE0) == 0xE0; }

}  // namespace

std::vector<std::uint32_t> mpeg_stream_channels(std::uint32_t channels) {
    std::vector<std::uint32_t> streams;
    for (std::uint32_t c = 0; c < channels; c += 2) streams.push_back(std::min<std::uint32_t>(2, channels - c));
    return streams;
}

MpegFrames::MpegFrames(DataRange data, std::uint32_t channels, std::uint32_t rate, std::uint32_t padding_hint)
    : data_(data),
      stream_channels_(mpeg_stream_channels(channels)),
      rate_(rate),
      padding_hint_(padding_hint ? padding_hint : 1),
      frame_(kMpegMaxFrameBytes),
      unit_lengths_(stream_channels_.size()) {}

std::string MpegFrames::where(std::uint64_t pos) const {
    return "byte " + std::to_string(pos) + " of the subsound's data (file offset " +
           std::to_string(data_.offset + pos) + ")";
}

FMOD_RESULT MpegFrames::learn(std::string& detail) {
    if (!tried_) {
        tried_ = true;
        learned_ = find_layout(problem_) == FMOD_OK;
    }
    detail = problem_;
    return learned_ ? FMOD_OK : FMOD_ERR_FILE_BAD;
}

FMOD_RESULT MpegFrames::find_layout(std::string& detail) {
    if (stream_channels_.empty()) {
        detail = "the subsound has no channels";
        return FMOD_ERR_FILE_BAD;
    }
    std::uint64_t first = 0;
    MpegFrameHeader h;
    if (!find_first_frame(first, h, detail)) return FMOD_ERR_FILE_BAD;
    // A stream that disagrees with its subsound from the first frame on is
    // not damaged here and there: it cannot be decoded at all.
    if ((rate_ != 0 && h.sample_rate != rate_) || h.channels != stream_channels_[0]) {
        detail = "the first MPEG frame (at " + where(first) + ") has " + std::to_string(h.channels) +
                 " channel(s) at " + std::to_string(h.sample_rate) + " Hz; the subsound's first stream " +
                 std::to_string(stream_channels_[0]) + " at " + std::to_string(rate_) + " Hz";
        return FMOD_ERR_FILE_BAD;
    }
    layout_.version = h.version;
    layout_.layer = h.layer;
    layout_.sample_rate = h.sample_rate;
    layout_.samples = h.samples;
    layout_.first_frame = first;
    layout_.padding = learn_padding(first);
    layout_.unit_bytes = std::max<std::uint64_t>(1, (after(first, h.length) - first) * streams());
    std::uint64_t next = 0;
    if (first == 0 && tag_unit(0, next)) {
        layout_.tagged = true;
        layout_.sound_start = next;
    }
    return FMOD_OK;
}

// The first header that another one of the same kind follows where one of
// the paddings puts it, or nothing but padding. At the start of the data in
// any sound not damaged there; damage before it is passed over.
bool MpegFrames::find_first_frame(std::uint64_t& first, MpegFrameHeader& h, std::string& detail) {
    std::uint8_t head[4];
    std::string first_problem;
    if (data_.read_at(0, head, 4) == 4) {
        if (const char* why = parse_mpeg_frame_header(head, h)) {
            first_problem = std::string("no MPEG frame header at ") + where(0) + ": " + why;
        }
    }
    const auto followed = [&](std::uint64_t pos) {
        for (const std::uint32_t p : kMpegPaddings) {
            const std::uint64_t end = pos + h.length;
            if (ends_after(end, p)) return true;
            const std::uint64_t next = (end + p - 1) / p * p;
            MpegFrameHeader n;
            if (data_.read_at(next, head, 4) == 4 && !parse_mpeg_frame_header(head, n) && n.layer == h.layer &&
                n.version == h.version) {
                return true;
            }
        }
        return false;
    };
    // Through the data a buffer at a time: only a sync word is looked at
    // more closely.
    std::vector<std::uint8_t> buffer(kScanBytes);
    for (std::uint64_t start = 0; start + 4 <= data_.size;) {
        const std::size_t got = data_.read_at(start, buffer.data(), buffer.size());
        if (got < 4) break;
        std::size_t i = 0;
        for (; i + 4 <= got; ++i) {
            if (!sync_at(&buffer[i]) || parse_mpeg_frame_header(&buffer[i], h)) continue;
            if (followed(start + i)) {
                first = start + i;
                return true;
            }
        }
        start += i;  // the last three bytes are looked at again with the next piece
    }
    detail = first_problem.empty() ? "the subsound's data holds no MPEG frame" : first_problem;
    return false;
}

// True when nothing but padding follows a frame that ends at `end`: no room
// for another header past the padding, or zero bytes up to the end.
bool MpegFrames::ends_after(std::uint64_t end, std::uint32_t padding) {
    const std::uint64_t next = (end + padding - 1) / padding * padding;
    return next >= data_.size || data_.size - next < 4 || only_zeros_from(end);
}

bool MpegFrames::only_zeros_from(std::uint64_t pos) {
    if (!zeros_known_) {
        // Where the zero bytes at the end of the data begin, read backwards
        // once: every question after that is a comparison.
        zeros_known_ = true;
        std::uint8_t buffer[kScanBytes];
        std::uint64_t at = data_.size;
        while (at > 0) {
            const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, at));
            if (data_.read_at(at - want, buffer, want) != want) break;  // unreadable: not padding
            std::size_t zeros = 0;
            while (zeros < want && buffer[want - 1 - zeros] == 0) ++zeros;
            at -= zeros;
            if (zeros < want) break;
        }
        zeros_start_ = at;
    }
    return pos >= zeros_start_;
}

// The padding that explains the first frames best: walked with each one,
// the most frames followed right where it puts them by another frame (or
// by the end). Where several do equally well (frames whose lengths are
// multiples of all of them), the bank's own says.
std::uint32_t MpegFrames::learn_padding(std::uint64_t first) {
    std::uint32_t best = padding_hint_;
    std::int64_t best_links = -1;
    for (const std::uint32_t p : kMpegPaddings) {
        const std::int64_t n = links(first, p);
        if (n > best_links || (n == best_links && p == padding_hint_)) {
            best = p;
            best_links = n;
        }
    }
    layout_.padding = best;
    return best;
}

std::uint32_t MpegFrames::links(std::uint64_t first, std::uint32_t padding) {
    layout_.padding = padding;
    std::uint32_t n = 0;
    std::uint64_t pos = first;
    std::size_t s = 0;
    bool linked = false;  // pos is where the frame before puts the next one
    std::string ignored;
    for (int frames = 0; frames < kLearnFrames; ++frames) {
        MpegFrameHeader h;
        if (read_frame(pos, s, h, nullptr, ignored) == FMOD_OK) {
            if (linked) ++n;
            if (ends_after(pos + h.length, padding)) return n + 1;
            linked = true;
            pos = after(pos, h.length);
            s = (s + 1) % streams();
        } else {
            // Damage, or a padding that is not this stream's: on to the
            // next unit nearby, unlinked.
            linked = false;
            pos = resync(pos, std::min(pos + kLearnResyncBytes, first + kLearnBytes));
            if (pos >= data_.size) break;
            s = 0;
        }
    }
    return n;
}

bool MpegFrames::tag_unit(std::uint64_t pos, std::uint64_t& next) {
    std::string ignored;
    for (std::size_t s = 0; s < streams(); ++s) {
        MpegFrameHeader h;
        if (read_frame(pos, s, h, frame_.data(), ignored) != FMOD_OK || !is_mpeg_tag_frame(frame_.data(), h)) {
            return false;
        }
        pos = after(pos, h.length);
    }
    next = pos;
    return true;
}

FMOD_RESULT MpegFrames::read_frame(std::uint64_t pos, std::size_t s, MpegFrameHeader& h, std::uint8_t* body,
                                   std::string& detail) {
    std::uint8_t head[4];
    if (data_.read_at(pos, head, 4) != 4) {
        detail = pos + 4 > data_.size ? "the data ends inside the frame header at " + where(pos)
                                      : "the bank file could not be read at " + where(pos);
        return FMOD_ERR_FILE_BAD;
    }
    if (const char* why = parse_mpeg_frame_header(head, h)) {
        detail = std::string("no MPEG frame header at ") + where(pos) + ": " + why;
        return FMOD_ERR_FILE_BAD;
    }
    if (h.layer != layout_.layer || h.version != layout_.version) {
        detail = "the frame at " + where(pos) + " is " + layer_name(h.version, h.layer) + ", the first frame " +
                 layer_name(layout_.version, layout_.layer);
        return FMOD_ERR_FILE_BAD;
    }
    if (h.sample_rate != layout_.sample_rate) {
        detail = "the frame at " + where(pos) + " has a sample rate of " + std::to_string(h.sample_rate) +
                 " Hz, the subsound " + std::to_string(layout_.sample_rate) + " Hz";
        return FMOD_ERR_FILE_BAD;
    }
    if (h.channels != stream_channels_[s]) {
        std::uint32_t channels = 0;
        for (const std::uint32_t c : stream_channels_) channels += c;
        detail = "the frame at " + where(pos) + " has " + std::to_string(h.channels) +
                 " channel(s) where the subsound's layout of " + std::to_string(channels) + " wants " +
                 std::to_string(stream_channels_[s]);
        return FMOD_ERR_FILE_BAD;
    }
    if (h.length > data_.size - pos) {
        detail = "the frame at " + where(pos) + " runs past the end of the subsound's data";
        return FMOD_ERR_FILE_BAD;
    }
    if (body) {
        std::copy(head, head + 4, body);
        if (data_.read_at(pos + 4, body + 4, h.length - 4) != h.length - 4) {
            detail = "the bank file could not be read at " + where(pos + 4);
            return FMOD_ERR_FILE_BAD;
        }
    }
    return FMOD_OK;
}

// Reads the headers of the unit at pos: true when every stream's frame is
// there, with pos then where the next unit starts and *main (when asked)
// the least main data of its frames.
bool MpegFrames::unit_headers(std::uint64_t& pos, std::uint32_t* main, std::string& detail) {
    std::uint64_t at = pos;
    std::uint32_t main_bytes = UINT32_MAX;
    for (std::size_t s = 0; s < streams(); ++s) {
        MpegFrameHeader h;
        if (read_frame(at, s, h, nullptr, detail) != FMOD_OK) return false;
        main_bytes = std::min(main_bytes, main_data_bytes(h));
        if (main) unit_lengths_[s] = h.length;
        at = after(at, h.length);
    }
    pos = at;
    if (main) *main = main_bytes;
    return true;
}

FMOD_RESULT MpegFrames::step(std::uint64_t& pos, Unit* unit) {
    // The bank counts a tag frame in the sound's length: past the last frame
    // stands one more unit, of silence, taking no bytes.
    const auto tag_unit_at_end = [&] {
        pos = kPastTheData;
        if (unit) unit->silent = true;
        return FMOD_OK;
    };
    if (pos >= data_.size || data_.size - pos < 4) {
        return layout_.tagged && pos <= data_.size ? tag_unit_at_end() : FMOD_ERR_FILE_EOF;
    }
    std::string why;
    std::uint64_t at = pos;
    std::uint32_t main = 0;
    if (!unit_headers(at, &main, why)) {
        if (layout_.tagged && only_zeros_from(pos)) return tag_unit_at_end();
        // A long stretch of damage is asked about once per unit: the last
        // answer is kept.
        if (pos < resync_from_ || pos >= resync_to_) {
            resync_from_ = pos;
            resync_to_ = resync(pos, data_.size);
        }
        const std::uint64_t good = resync_to_;
        const std::uint64_t gap = good - pos;
        if (unit) unit->damage = why;
        if (gap * 2 >= layout_.unit_bytes || good >= data_.size || data_.size - good < 4) {
            pos = gap >= 2 * layout_.unit_bytes ? pos + layout_.unit_bytes : good;
            if (unit) unit->silent = true;
            return FMOD_OK;
        }
        at = good;
        if (unit) unit->frames_at = at;
        unit_headers(at, &main, why);  // reads right: resync found it so
    } else if (unit) {
        unit->frames_at = pos;
    }
    pos = at;
    if (unit) unit->main = main;
    return FMOD_OK;
}

std::uint32_t MpegFrames::clean_length(const std::uint8_t* head) {
    // Frames of one stream mostly repeat one or two headers: the last one
    // taken is not parsed again.
    if (clean_length_ == 0 || !std::equal(head, head + 4, clean_head_)) {
        MpegFrameHeader h;
        if (streams() != 1 || parse_mpeg_frame_header(head, h) || h.layer != layout_.layer ||
            h.version != layout_.version || h.sample_rate != layout_.sample_rate ||
            h.channels != stream_channels_[0]) {
            return 0;
        }
        std::copy(head, head + 4, clean_head_);
        clean_length_ = h.length;
    }
    return clean_length_;
}

bool MpegFrames::step_clean(std::uint64_t& pos, std::uint32_t& length) {
    if (streams() != 1 || pos >= data_.size || data_.size - pos < 4) return false;
    std::uint8_t head[4];
    if (data_.read_at(pos, head, 4) != 4) return false;
    const std::uint32_t n = clean_length(head);
    if (n == 0 || n > data_.size - pos) return false;
    length = n;
    pos = after(pos, length);
    return true;
}

// The first place after `from` and before `limit` (frame starts keep to
// the padding) where a unit reads right and is followed by another one or
// by nothing but padding; the end of the data when there is none.
std::uint64_t MpegFrames::resync(std::uint64_t from, std::uint64_t limit) {
    const std::uint32_t p = layout_.padding;
    limit = std::min(limit, data_.size);
    std::uint8_t buffer[kScanBytes];
    std::uint64_t pos = (from + p) / p * p;
    std::string ignored;
    while (pos < limit && pos + 4 <= data_.size) {
        const std::size_t got = data_.read_at(pos, buffer, sizeof buffer);
        if (got < 4) break;
        for (std::size_t i = 0; i + 4 <= got && pos + i < limit; i += p) {
            if (!sync_at(&buffer[i])) continue;
            std::uint64_t next = pos + i;
            if (!unit_headers(next, nullptr, ignored)) continue;
            std::uint64_t after_next = next;
            if (next + 4 > data_.size || only_zeros_from(next) || unit_headers(after_next, nullptr, ignored)) {
                return pos + i;
            }
        }
        pos += (got - 3 + p - 1) / p * p;
    }
    return data_.size;
}

MpegFrameWalk::MpegFrameWalk(const SubsoundInfo& info, BankFile& file)
    : frames_({&file, info.data.offset, info.data.size}, info.channels, info.frequency, info.mpeg_frame_padding) {}

bool MpegFrameWalk::next(MpegFrameSpan& frame) {
    if (taken_ < unit_.size()) {
        frame = unit_[taken_++];
        return true;
    }
    if (failed_) return false;
    if (!started_) {
        started_ = true;
        if (frames_.learn(problem_) != FMOD_OK) {
            failed_ = true;
            return false;
        }
        pos_ = frames_.layout().sound_start;
    }
    for (;;) {
        if (frames_.only_zeros_from(pos_)) return false;  // padding up to the end
        if (const std::uint64_t at = pos_; frames_.step_clean(pos_, frame.size)) {
            ++units_;
            frame.offset = at;
            frame.stream = 0;
            return true;
        }
        MpegFrames::Unit u;
        if (frames_.step(pos_, &u) != FMOD_OK) return false;
        ++units_;
        if (!u.damage.empty()) {
            if (damaged_ == 0) first_damage_ = u.damage;
            ++damaged_;
        }
        if (u.silent) continue;
        unit_.clear();
        taken_ = 0;
        std::uint64_t at = u.frames_at;
        for (std::size_t s = 0; s < frames_.streams(); ++s) {
            const std::uint32_t length = frames_.unit_lengths()[s];
            unit_.push_back({at, length, static_cast<std::uint32_t>(s)});
            at = frames_.after(at, length);
        }
        frame = unit_[taken_++];
        return true;
    }
}

std::size_t MpegFrameWalk::clean_run(std::uint8_t* out, std::size_t room, std::uint32_t* sizes, std::size_t most,
                                     std::size_t& used) {
    used = 0;
    if (!started_ || failed_ || taken_ < unit_.size() || frames_.streams() != 1 || most == 0) return 0;
    const std::uint64_t start = pos_;
    const DataRange& data = frames_.data();
    if (start >= data.size) return 0;
    // No more than the frames asked for can take (each padded to at most 32).
    const std::uint64_t want = std::min<std::uint64_t>({room, data.size - start, most * (kMpegMaxFrameBytes + 32)});
    const std::size_t got = data.read_at(start, out, static_cast<std::size_t>(want));
    // Frames are moved down over the padding between them as they are taken.
    std::size_t count = 0;
    std::uint64_t at = start;  // the next frame, in the data
    while (count < most && !frames_.only_zeros_from(at)) {
        const std::size_t in = static_cast<std::size_t>(at - start);
        if (got < 4 || in > got - 4) break;
        const std::uint32_t length = frames_.clean_length(out + in);
        if (length == 0 || length > data.size - at || length > got - in) break;
        if (in != used) std::memmove(out + used, out + in, length);
        sizes[count++] = length;
        used += length;
        at = frames_.after(at, length);
    }
    pos_ = at;
    units_ += count;
    return count;
}

}  // namespace soundlib
