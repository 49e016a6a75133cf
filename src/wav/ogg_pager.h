// Packets into Ogg pages, page for page as libogg's ogg_stream_packetin and
// ogg_stream_pageout / ogg_stream_flush make them (the same bytes), with
// the page CRC computed at memory speed: libogg's own CRC runs at about
// 1.6 GB/s, which alone would make an .ogg take longer than copying it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct OggPage {
    const std::uint8_t* header = nullptr;
    std::size_t header_bytes = 0;
    const std::uint8_t* body = nullptr;
    std::size_t body_bytes = 0;
};

class OggPager {
public:
    explicit OggPager(std::uint32_t serial) : serial_(serial) {}

    // One packet, copied in; the first one begins the stream, and
    // `last` ends it. May throw std::bad_alloc.
    void packet_in(const std::uint8_t* data, std::size_t bytes, std::int64_t granule, bool last);

    // The next page into `page`, valid until the next call: with `flush`
    // as ogg_stream_flush (whatever is held), otherwise as
    // ogg_stream_pageout (only a page that is due). False when there is none.
    bool page_out(bool flush, OggPage& page);

private:
    bool make_page(bool force, OggPage& page);

    std::uint32_t serial_;
    std::uint32_t page_number_ = 0;
    bool begun_ = false;  // the first page is out
    bool ended_ = false;  // the last packet is in
    std::vector<std::uint8_t> body_;
    std::size_t body_returned_ = 0;  // bytes at the front already paged out
    // Each segment's lacing value, 0x100 added where a packet begins, and
    // the granule position of the packet it belongs to, from first_segment_.
    std::vector<std::uint16_t> lacing_;
    std::vector<std::int64_t> granules_;
    std::size_t first_segment_ = 0;
    std::int64_t granule_ = 0;  // the last packet's
    std::uint8_t header_[27 + 255] = {};
};
