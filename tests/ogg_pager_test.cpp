// Our Ogg pages against libogg's: the same packets through both give the
// same bytes, page for page, whatever the packets' sizes and however the
// pages are asked for; and the CRC, folded or by table, is libogg's.
#include <gtest/gtest.h>
#include <ogg/ogg.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "wav/ogg_crc.h"
#include "wav/ogg_pager.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Packet {
    std::size_t bytes;
    bool flush_after;  // the stream flushed after it, as for the headers
};

Bytes append_page(Bytes out, const std::uint8_t* h, std::size_t hn, const std::uint8_t* b, std::size_t bn) {
    out.insert(out.end(), h, h + hn);
    out.insert(out.end(), b, b + bn);
    return out;
}

Bytes append_page(Bytes out, const OggPage& page) {
    out.insert(out.end(), page.header, page.header + page.header_bytes);
    std::size_t body = 0;
    for (std::size_t i = 0; i < page.pieces; ++i) {
        out.insert(out.end(), page.body[i].data, page.body[i].data + page.body[i].bytes);
        body += page.body[i].bytes;
    }
    EXPECT_EQ(page.body_bytes, body);
    return out;
}

// The packets (filled from `seed`) as libogg pages them and as we do: the
// last one ends the stream, which is then flushed. Ours are left where they
// are, some back to back (one buffer of several packets, as a batch of
// stored packets is), and now and then the pager copies what it holds and
// the packets' memory is overwritten.
void expect_same_pages(const std::vector<Packet>& packets, unsigned seed) {
    std::mt19937 random(seed);
    ogg_stream_state os;
    ASSERT_EQ(ogg_stream_init(&os, 0x1234567), 0);
    OggPager ours(0x1234567);
    Bytes theirs_out, ours_out;
    std::int64_t granule = 0;
    // Packets in buffers of 64 KiB or their own size; a buffer is
    // scribbled over when the pager has copied what it held.
    std::deque<Bytes> buffers;
    std::size_t used = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (buffers.empty() || used + packets[i].bytes > buffers.back().size()) {
            buffers.emplace_back(std::max<std::size_t>(packets[i].bytes, 65536));
            used = 0;
        }
        std::uint8_t* at = buffers.back().data() + used;
        used += packets[i].bytes;
        Bytes data(packets[i].bytes);
        for (auto& b : data) b = static_cast<std::uint8_t>(random());
        std::copy(data.begin(), data.end(), at);
        granule += static_cast<std::int64_t>(random() % 2048);
        const bool last = i + 1 == packets.size();
        ogg_packet op{};
        op.packet = data.data();
        op.bytes = static_cast<long>(data.size());
        op.b_o_s = i == 0;
        op.e_o_s = last;
        op.granulepos = granule;
        op.packetno = static_cast<ogg_int64_t>(i);
        ASSERT_EQ(ogg_stream_packetin(&os, &op), 0);
        ours.packet_in(at, data.size(), granule, last);
        const bool flush = last || packets[i].flush_after;
        ogg_page page;
        while (flush ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
            theirs_out = append_page(std::move(theirs_out), page.header, static_cast<std::size_t>(page.header_len),
                                     page.body, static_cast<std::size_t>(page.body_len));
        }
        OggPage mine;
        while (ours.page_out(flush, mine)) ours_out = append_page(std::move(ours_out), mine);
        ASSERT_EQ(ours_out, theirs_out) << "after packet " << i << " of " << packets.size();
        if (random() % 7 == 0) {
            ours.keep_held();
            for (Bytes& b : buffers) std::fill(b.begin(), b.end(), 0xEE);
            buffers.clear();
        }
    }
    ogg_stream_clear(&os);
}

TEST(OggPager, PagesAsLiboggDoes) {
    // A Vorbis stream's shape: three headers, the first and third flushed,
    // then audio packets of a few hundred bytes.
    std::vector<Packet> vorbis{{30, true}, {60, false}, {3000, true}};
    for (int i = 0; i < 2000; ++i) vorbis.push_back({static_cast<std::size_t>(100 + i * 37 % 700), false});
    expect_same_pages(vorbis, 1);

    // Sizes at the lacing edges: empty packets, multiples of 255 and one
    // past, a set-up larger than a page, packets of the largest size.
    std::vector<Packet> edges{{0, false}, {255, false}, {254, false}, {256, false}, {510, true}, {0, false}};
    for (const std::size_t n : {65535, 65535, 1, 255 * 255, 255 * 255 + 1, 0, 0, 0, 0, 0, 4096, 4097}) {
        edges.push_back({n, false});
    }
    expect_same_pages(edges, 2);

    // Many tiny packets: pages end at 255 segments, not at 4096 bytes.
    expect_same_pages(std::vector<Packet>(3000, Packet{1, false}), 3);
    // One packet alone, and a stream that opens with a large packet.
    expect_same_pages({{17, false}}, 4);
    expect_same_pages({{70000, false}, {10, false}, {10, false}}, 5);

    // Random sizes, flushed now and then.
    std::mt19937 random(6);
    std::vector<Packet> mixed;
    for (int i = 0; i < 3000; ++i) {
        mixed.push_back({static_cast<std::size_t>(random() % (random() % 8 == 0 ? 9000 : 600)), random() % 50 == 0});
    }
    expect_same_pages(mixed, 7);
}

TEST(OggCrc, IsLiboggsAtEveryLengthAndStart) {
    std::mt19937 random(8);
    Bytes data(5000);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    // Through libogg: a page of header bytes 0..26 and the data as body.
    const auto libogg_crc = [&](std::size_t offset, std::size_t length) {
        std::uint8_t header[27] = {'O', 'g', 'g', 'S'};
        ogg_page page{header, sizeof header, data.data() + offset, static_cast<long>(length)};
        ogg_page_checksum_set(&page);
        return std::uint32_t{header[22]} | std::uint32_t{header[23]} << 8 | std::uint32_t{header[24]} << 16 |
               std::uint32_t{header[25]} << 24;
    };
    const std::uint8_t header[27] = {'O', 'g', 'g', 'S'};
    for (std::size_t length = 0; length <= 300; ++length) {
        for (const std::size_t offset : {0, 1, 7, 15}) {
            const std::uint32_t start = ogg_crc(0, header, sizeof header);
            ASSERT_EQ(ogg_crc(start, data.data() + offset, length), libogg_crc(offset, length))
                << length << " bytes at " << offset;
            ASSERT_EQ(ogg_crc_by_table(start, data.data() + offset, length), libogg_crc(offset, length));
        }
    }
    for (const std::size_t length : {255, 256, 257, 319, 320, 511, 512, 575, 1000, 4096, 4097, 4999}) {
        EXPECT_EQ(ogg_crc(ogg_crc(0, header, sizeof header), data.data(), length), libogg_crc(0, length));
    }
}

}  // namespace
