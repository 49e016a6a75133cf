#include "wav/ogg_pager.h"

#include <algorithm>
#include <cstring>

#include "wav/ogg_crc.h"

namespace {

void put_le(std::uint8_t* out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A packet takes one lacing value per 255 bytes, then one for the rest (0
// when its length is a multiple of 255).
std::size_t segments_of(std::size_t bytes) { return bytes / 255 + 1; }

}  // namespace

void OggPager::packet_in(const std::uint8_t* data, std::size_t bytes, std::int64_t granule, bool last) {
    held_.push_back({data, bytes, granule, false});
    if (last) ended_ = true;
}

bool OggPager::page_out(bool flush, OggPage& page) {
    const bool held = held_.size() > first_held_;
    // The last packet is in, or the stream's first page is due: a page
    // whatever its size.
    const bool force = flush || (ended_ && held) || (held && !begun_);
    return make_page(force, page);
}

bool OggPager::make_page(bool force, OggPage& page) {
    if (first_held_ == held_.size()) return false;
    // The page takes the packets [first_held_, whole) and `partial` bytes
    // of the next one (whole full segments), with `segments` lacing values.
    std::size_t whole = first_held_;
    std::size_t partial = 0;
    std::size_t segments = 0;
    std::int64_t granule = -1;  // no packet ends on the page
    if (!begun_) {
        // The first page holds the first packet alone.
        granule = 0;
        const std::size_t n = segments_of(held_[whole].bytes);
        if (n <= 255) {
            segments = n;
            ++whole;
        } else {
            segments = 255;
            partial = 255 * 255;
        }
    } else {
        // Pages of about 4096 bytes that end where a packet does, and
        // hold at least four packets unless one is very large; at most
        // 255 lacing values, whatever that cuts.
        std::size_t bytes = 0;
        int packets_done = 0;
        for (; whole < held_.size(); ++whole) {
            if (bytes > 4096 && packets_done >= 4) {
                force = true;
                break;
            }
            const Held& p = held_[whole];
            const std::size_t n = segments_of(p.bytes);
            if (segments + n > 255) {
                partial = (255 - segments) * 255;
                segments = 255;
                break;
            }
            segments += n;
            bytes += p.bytes;
            granule = p.granule;
            ++packets_done;
        }
        if (segments == 255) force = true;
    }
    if (!force) return false;

    std::uint8_t* h = header_;
    h[0] = 'O', h[1] = 'g', h[2] = 'g', h[3] = 'S';
    h[4] = 0;  // the format's version
    h[5] = 0;
    if (held_[first_held_].continued) h[5] |= 0x01;
    if (!begun_) h[5] |= 0x02;                                  // the stream's first page
    if (ended_ && whole == held_.size() && partial == 0) h[5] |= 0x04;  // its last
    begun_ = true;
    put_le(h + 6, static_cast<std::uint64_t>(granule), 8);
    put_le(h + 14, serial_, 4);
    put_le(h + 18, page_number_++, 4);
    put_le(h + 22, 0, 4);  // the CRC, counted with zeros here
    h[26] = static_cast<std::uint8_t>(segments);

    body_.clear();
    std::size_t body_bytes = 0;
    std::uint8_t* lacing = h + 27;
    const auto take = [&](const std::uint8_t* data, std::size_t bytes, bool ends_packet) {
        const std::size_t full = bytes / 255;
        std::memset(lacing, 255, full);
        lacing += full;
        if (ends_packet) *lacing++ = static_cast<std::uint8_t>(bytes % 255);
        body_bytes += bytes;
        if (bytes == 0) return;
        // Packets that lie back to back make one piece.
        if (!body_.empty() && body_.back().data + body_.back().bytes == data) {
            body_.back().bytes += bytes;
        } else {
            body_.push_back({data, bytes});
        }
    };
    for (std::size_t i = first_held_; i < whole; ++i) take(held_[i].data, held_[i].bytes, true);
    if (partial != 0) {
        Held& p = held_[whole];
        take(p.data, partial, false);
        p.data += partial;
        p.bytes -= partial;
        p.continued = true;
    }
    first_held_ = whole;
    if (first_held_ == held_.size()) {
        held_.clear();
        first_held_ = 0;
    } else if (first_held_ >= 1024) {
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(first_held_));
        first_held_ = 0;
    }

    page.header = h;
    page.header_bytes = 27 + segments;
    page.body = body_.data();
    page.pieces = body_.size();
    page.body_bytes = body_bytes;
    std::uint32_t crc = ogg_crc(0, page.header, page.header_bytes);
    for (const OggPiece& piece : body_) crc = ogg_crc(crc, piece.data, piece.bytes);
    put_le(h + 22, crc, 4);
    return true;
}

void OggPager::keep_held() {
    std::size_t bytes = 0;
    for (std::size_t i = first_held_; i < held_.size(); ++i) bytes += held_[i].bytes;
    std::vector<std::uint8_t> copies(bytes);
    std::uint8_t* at = copies.data();
    for (std::size_t i = first_held_; i < held_.size(); ++i) {
        Held& p = held_[i];
        if (p.bytes != 0) std::memcpy(at, p.data, p.bytes);
        p.data = at;
        at += p.bytes;
    }
    kept_ = std::move(copies);
}
