#include "wav/ogg_pager.h"

#include <algorithm>

#include "wav/ogg_crc.h"

namespace {

void put_le(std::uint8_t* out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

void OggPager::packet_in(const std::uint8_t* data, std::size_t bytes, std::int64_t granule, bool last) {
    // What was paged out goes before more comes in; so do the segments.
    if (body_returned_ != 0) {
        body_.erase(body_.begin(), body_.begin() + static_cast<std::ptrdiff_t>(body_returned_));
        body_returned_ = 0;
    }
    if (first_segment_ != 0) {
        lacing_.erase(lacing_.begin(), lacing_.begin() + static_cast<std::ptrdiff_t>(first_segment_));
        granules_.erase(granules_.begin(), granules_.begin() + static_cast<std::ptrdiff_t>(first_segment_));
        first_segment_ = 0;
    }
    body_.insert(body_.end(), data, data + bytes);
    // 255 for each full segment, then the rest (0 when the length is a
    // multiple of 255); the segments before the last one carry the
    // previous packet's position, as libogg gives them.
    const std::size_t segments = bytes / 255 + 1;
    const std::size_t start = lacing_.size();
    lacing_.resize(start + segments, 255);
    granules_.resize(start + segments, granule_);
    lacing_.back() = static_cast<std::uint16_t>(bytes % 255);
    granules_.back() = granule;
    granule_ = granule;
    lacing_[start] |= 0x100;
    if (last) ended_ = true;
}

bool OggPager::page_out(bool flush, OggPage& page) {
    const bool held = lacing_.size() > first_segment_;
    // The last packet is in, or the stream's first page is due: a page
    // whatever its size.
    const bool force = flush || (ended_ && held) || (held && !begun_);
    return make_page(force, page);
}

bool OggPager::make_page(bool force, OggPage& page) {
    const std::size_t held = lacing_.size() - first_segment_;
    const std::size_t most = std::min<std::size_t>(held, 255);
    if (most == 0) return false;
    const std::uint16_t* lacing = lacing_.data() + first_segment_;
    const std::int64_t* granules = granules_.data() + first_segment_;
    std::size_t segments = 0;
    std::int64_t granule = -1;  // no packet ends on the page
    if (!begun_) {
        // The first page holds the first packet alone.
        granule = 0;
        for (; segments < most; ++segments) {
            if ((lacing[segments] & 0xFF) < 255) {
                ++segments;
                break;
            }
        }
    } else {
        // Pages of about 4096 bytes that end where a packet does, and
        // hold at least four packets unless one is very large.
        std::size_t bytes = 0;
        int packets_done = 0, packet_just_done = 0;
        for (; segments < most; ++segments) {
            if (bytes > 4096 && packet_just_done >= 4) {
                force = true;
                break;
            }
            bytes += lacing[segments] & 0xFF;
            if ((lacing[segments] & 0xFF) < 255) {
                granule = granules[segments];
                packet_just_done = ++packets_done;
            } else {
                packet_just_done = 0;
            }
        }
        if (segments == 255) force = true;
    }
    if (!force) return false;

    std::uint8_t* h = header_;
    h[0] = 'O', h[1] = 'g', h[2] = 'g', h[3] = 'S';
    h[4] = 0;  // the format's version
    h[5] = 0;
    if ((lacing[0] & 0x100) == 0) h[5] |= 0x01;   // continues a packet
    if (!begun_) h[5] |= 0x02;                    // the stream's first page
    if (ended_ && held == segments) h[5] |= 0x04;  // its last
    begun_ = true;
    put_le(h + 6, static_cast<std::uint64_t>(granule), 8);
    put_le(h + 14, serial_, 4);
    put_le(h + 18, page_number_++, 4);
    put_le(h + 22, 0, 4);  // the CRC, counted with zeros here
    h[26] = static_cast<std::uint8_t>(segments);
    std::size_t body_bytes = 0;
    for (std::size_t i = 0; i < segments; ++i) {
        h[27 + i] = static_cast<std::uint8_t>(lacing[i] & 0xFF);
        body_bytes += h[27 + i];
    }
    page.header = h;
    page.header_bytes = 27 + segments;
    page.body = body_.data() + body_returned_;
    page.body_bytes = body_bytes;
    first_segment_ += segments;
    body_returned_ += body_bytes;
    const std::uint32_t crc = ogg_crc(ogg_crc(0, page.header, page.header_bytes), page.body, page.body_bytes);
    put_le(h + 22, crc, 4);
    return true;
}
