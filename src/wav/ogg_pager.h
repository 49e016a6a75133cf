// Packets into Ogg pages, page for page as libogg's ogg_stream_packetin and
// ogg_stream_pageout / ogg_stream_flush make them (the same bytes), with
// the page CRC computed at memory speed: libogg's own CRC runs at about
// 1.6 GB/s, which alone would make an .ogg take longer than copying it.
//
// Unlike libogg it copies nothing it need not: a page's body is handed out
// as the pieces of the packets where they lie, so that a stream of stored
// packets goes from the read buffer to the file in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct OggPiece {
    const std::uint8_t* data;
    std::size_t bytes;
};

struct OggPage {
    const std::uint8_t* header = nullptr;
    std::size_t header_bytes = 0;
    const OggPiece* body = nullptr;  // the body's bytes, in order, in pieces
    std::size_t pieces = 0;
    std::size_t body_bytes = 0;
};

class OggPager {
public:
    explicit OggPager(std::uint32_t serial) : serial_(serial) {}

    // One packet, left where it is: its bytes must stay there until the
    // pages holding it are out, or keep_held() has copied them. The first
    // packet begins the stream, and `last` ends it. May throw std::bad_alloc.
    void packet_in(const std::uint8_t* data, std::size_t bytes, std::int64_t granule, bool last);

    // The next page into `page`: with `flush` as ogg_stream_flush (whatever
    // is held), otherwise as ogg_stream_pageout (only a page that is due).
    // False when there is none. The header and the list of pieces are valid
    // until the next call; the pieces' bytes lie where the packets do (or in
    // the pager's copies, until the next keep_held()).
    bool page_out(bool flush, OggPage& page);

    // Copies the bytes of the packets not yet paged out into the pager's own
    // memory, for when the caller's are about to go. May throw std::bad_alloc.
    void keep_held();

private:
    // A packet, or what is left of it when a page ended inside it.
    struct Held {
        const std::uint8_t* data;
        std::size_t bytes;
        std::int64_t granule;
        bool continued;  // its start is on an earlier page
    };
    bool make_page(bool force, OggPage& page);

    std::uint32_t serial_;
    std::uint32_t page_number_ = 0;
    bool begun_ = false;  // the first page is out
    bool ended_ = false;  // the last packet is in
    std::vector<Held> held_;
    std::size_t first_held_ = 0;  // held_ before it are paged out
    std::vector<std::uint8_t> kept_;  // keep_held()'s copies
    std::vector<OggPiece> body_;
    std::uint8_t header_[27 + 255] = {};
};
