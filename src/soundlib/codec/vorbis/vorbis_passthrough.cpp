#include "soundlib/codec/vorbis/vorbis_passthrough.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <vector>

#include "soundlib/codec/vorbis/vorbis_encoder.h"
#include "soundlib/codec/vorbis/vorbis_setup.h"
#include "soundlib/io/bank_file.h"

namespace soundlib {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The packets of an Ogg file's one logical stream, in order. Any page of
// another stream, or a gap in the stream, is a failure.
class OggPackets {
public:
    OggPackets() {
        ogg_sync_init(&sync_);
    }
    ~OggPackets() {
        ogg_sync_clear(&sync_);
        if (stream_open_) ogg_stream_clear(&stream_);
    }
    OggPackets(const OggPackets&) = delete;
    OggPackets& operator=(const OggPackets&) = delete;

    bool open(const std::string& path, std::string& why) {
        return file_.open(path, &why) == BankFile::OpenError::none;
    }
    std::uint64_t size() const { return file_.size(); }

    // The next packet; false at the end of the file, or with why on failure.
    bool next(ogg_packet& op, std::string& why) {
        for (;;) {
            if (stream_open_) {
                const int r = ogg_stream_packetout(&stream_, &op);
                if (r == 1) return true;
                if (r < 0) {
                    why = "a gap in its Ogg stream";
                    return false;
                }
            }
            ogg_page page;
            const int got = ogg_sync_pageout(&sync_, &page);
            if (got < 0) {
                why = "bytes that are not an Ogg page";
                return false;
            }
            if (got == 0) {
                if (pos_ >= file_.size()) return false;
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kRead, file_.size() - pos_));
                char* buffer = ogg_sync_buffer(&sync_, static_cast<long>(n));
                if (!buffer || !file_.read_exact(pos_, buffer, n)) {
                    why = "it cannot be read";
                    return false;
                }
                ogg_sync_wrote(&sync_, static_cast<long>(n));
                pos_ += n;
                continue;
            }
            if (!stream_open_) {
                ogg_stream_init(&stream_, ogg_page_serialno(&page));
                stream_open_ = true;
            } else if (ogg_page_serialno(&page) != stream_.serialno) {
                why = "more than one logical Ogg stream";
                return false;
            }
            if (ogg_stream_pagein(&stream_, &page) != 0) {
                why = "an Ogg page out of place";
                return false;
            }
        }
    }

private:
    static constexpr std::size_t kRead = 1 << 16;
    BankFile file_;
    std::uint64_t pos_ = 0;
    ogg_sync_state sync_{};
    ogg_stream_state stream_{};
    bool stream_open_ = false;
};

// The three headers read in, the decoder's view of them, and the set-up
// header's bytes.
struct Headers {
    vorbis_info vi{};
    vorbis_comment vc{};
    Bytes setup;
    Headers() {
        vorbis_info_init(&vi);
        vorbis_comment_init(&vc);
    }
    ~Headers() {
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    }
    Headers(const Headers&) = delete;
    Headers& operator=(const Headers&) = delete;

    bool read(OggPackets& ogg, std::string& why) {
        for (int i = 0; i < 3; ++i) {
            ogg_packet op;
            if (!ogg.next(op, why) || vorbis_synthesis_headerin(&vi, &vc, &op) != 0) {
                if (why.empty()) why = "its Vorbis headers do not read";
                return false;
            }
            if (i == 2) setup.assign(op.packet, op.packet + op.bytes);
        }
        return true;
    }
};

// What the survey learns: enough to write the header before the packets.
struct Survey {
    std::uint64_t bytes = 0;
    std::uint64_t packets = 0;
    std::uint32_t crc = 0;
};

// Packets go out in step with the samples the writer feeds, so only one is
// held at a time; the file is open only while they are written.
class VorbisPacketsCopy final : public SoundEncoder {
public:
    VorbisPacketsCopy(std::string path, std::uint64_t file_size, const Survey& s, VorbisSeekTable seek,
                      std::uint64_t frames)
        : path_(std::move(path)), file_size_(file_size), survey_(s), seek_(std::move(seek)), frames_(frames) {}

    std::uint64_t stored_bytes() const override { return survey_.bytes; }
    std::vector<std::uint8_t> setup() const override { return seek_.chunk(survey_.crc, frames_); }
    std::uint32_t setup_chunk() const override { return 11; }
    const char* copies() const override { return "packets"; }

    void begin_pass(std::uint32_t) override {
        ogg_ = std::make_unique<OggPackets>();
        headers_ = std::make_unique<Headers>();
        std::string why;
        failed_ = !ogg_->open(path_, why) || ogg_->size() != file_size_ || !headers_->read(*ogg_, why) ||
                  crc32(headers_->setup.data(), headers_->setup.size()) != survey_.crc;
        made_ = 0;
        sent_ = 0;
        seen_ = 0;
    }
    bool encode(const double*, std::uint32_t frames, Bytes& out, std::uint32_t& bad) override {
        bad = 0;
        seen_ += frames;
        const std::uint64_t upto = frames_ ? survey_.bytes * seen_ / frames_ : survey_.bytes;
        while (!failed_ && sent_ < survey_.packets && made_ < upto) put_packet(out);
        return !failed_;
    }
    void end_pass(Bytes& out) override {
        while (!failed_ && sent_ < survey_.packets) put_packet(out);
        headers_.reset();
        ogg_.reset();  // a bank may have thousands replaced
    }

private:
    void put_packet(Bytes& out) {
        ogg_packet op;
        std::string why;
        if (!ogg_->next(op, why) || op.bytes > 0xFFFF) {
            failed_ = true;
            return;
        }
        out.push_back(static_cast<std::uint8_t>(op.bytes & 0xFF));
        out.push_back(static_cast<std::uint8_t>(op.bytes >> 8));
        out.insert(out.end(), op.packet, op.packet + op.bytes);
        made_ += 2 + static_cast<std::uint64_t>(op.bytes);
        ++sent_;
    }

    std::string path_;
    std::uint64_t file_size_;
    Survey survey_;
    VorbisSeekTable seek_;
    std::uint64_t frames_;
    std::unique_ptr<OggPackets> ogg_;
    std::unique_ptr<Headers> headers_;
    bool failed_ = false;
    std::uint64_t made_ = 0, sent_ = 0, seen_ = 0;
};

}  // namespace

std::unique_ptr<SoundEncoder> make_vorbis_passthrough(const std::string& path, const EncodeTarget& target,
                                                      std::string& why_not) {
    OggPackets ogg;
    Headers headers;
    if (!ogg.open(path, why_not) || !headers.read(ogg, why_not)) return nullptr;
    if (headers.vi.channels != static_cast<int>(target.channels) || headers.vi.rate != static_cast<long>(target.rate)) {
        why_not = "its Vorbis headers give other channels or another rate";
        return nullptr;
    }
    Survey s;
    s.crc = crc32(headers.setup.data(), headers.setup.size());
    VorbisSetupCache cache;
    const VorbisSetup* known = vorbis_family_setup(target, s.crc, cache, why_not);
    if (!known) return nullptr;
    // Readers make the identification header from the set-up's block sizes.
    if (vorbis_info_blocksize(&headers.vi, 0) != static_cast<int>(known->block_short) ||
        vorbis_info_blocksize(&headers.vi, 1) != static_cast<int>(known->block_long)) {
        why_not = "its block sizes are not the ones its set-up is regenerated with";
        return nullptr;
    }
    // The packets, with the frames each adds; the stream must start at
    // frame 0 (the first page's position says so) and its last position is
    // its length, which the bank's header gives.
    VorbisSeekTable seek(target.rate);
    long previous = 0;
    std::uint64_t reached = 0;
    std::int64_t last_granule = -1;
    bool first_page = true;
    ogg_packet op;
    while (ogg.next(op, why_not)) {
        if (op.bytes > 0xFFFF) {
            why_not = "a packet longer than a bank's 16-bit length holds";
            return nullptr;
        }
        const long block = vorbis_packet_blocksize(&headers.vi, &op);
        if (block <= 0) {
            why_not = "a packet that is not Vorbis audio";
            return nullptr;
        }
        const std::uint64_t adds = previous ? static_cast<std::uint64_t>(previous + block) / 4 : 0;
        seek.add_packet(s.bytes, adds);
        reached += adds;
        previous = block;
        s.bytes += 2 + static_cast<std::uint64_t>(op.bytes);
        ++s.packets;
        if (op.granulepos >= 0) {
            // A page's last packet but the stream's: its position must be
            // where decoding from frame 0 stands.
            if (first_page && !op.e_o_s && static_cast<std::uint64_t>(op.granulepos) != reached) {
                why_not = "its stream does not start at frame 0";
                return nullptr;
            }
            first_page = false;
            last_granule = op.granulepos;
        }
    }
    if (!why_not.empty()) return nullptr;
    if (s.packets == 0 || last_granule < 0 || static_cast<std::uint64_t>(last_granule) > reached ||
        static_cast<std::uint64_t>(last_granule) != target.frames) {
        why_not = "its last position is not the length it decodes to";
        return nullptr;
    }
    return std::make_unique<VorbisPacketsCopy>(path, ogg.size(), s, std::move(seek),
                                               static_cast<std::uint64_t>(last_granule));
}

}  // namespace soundlib
