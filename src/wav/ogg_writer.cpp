// Ogg Vorbis: the bank's packets exactly as stored, between the headers a
// decoder needs and on pages whose granule positions give the sound's
// frames (paged as libogg pages them).
#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "wav/buffered_file.h"
#include "wav/ogg_pager.h"
#include "wav/stored_writers.h"
#include "wav/utf8.h"

#ifndef BANKRIP_VERSION
#define BANKRIP_VERSION "unknown"
#endif

namespace {

constexpr char kVendor[] = "bankrip " BANKRIP_VERSION ", Vorbis packets as the bank stores them";

void put_le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void put_string(std::vector<std::uint8_t>& out, const std::string& text) {
    put_le32(out, static_cast<std::uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

// The comment header: our vendor string, the name, the loop when kept.
std::vector<std::uint8_t> comment_header(const SoundShape& shape) {
    std::vector<std::string> comments{"TITLE=" + utf8_or_replacement(shape.title)};
    if (shape.loops) {
        comments.push_back("LOOPSTART=" + std::to_string(shape.loop_start));
        comments.push_back("LOOPLENGTH=" + std::to_string(std::uint64_t{shape.loop_end} - shape.loop_start + 1));
    }
    std::vector<std::uint8_t> packet{3, 'v', 'o', 'r', 'b', 'i', 's'};
    put_string(packet, kVendor);
    put_le32(packet, static_cast<std::uint32_t>(comments.size()));
    for (const std::string& c : comments) put_string(packet, c);
    packet.push_back(1);  // the framing bit
    return packet;
}

// The stream's serial number: any will do for a file of one stream; one
// that follows from the sound keeps the file the same from run to run and
// tells apart the streams of files put end to end.
std::uint32_t serial_of(const SoundShape& shape) {
    std::uint32_t h = 2166136261u;  // FNV-1a
    for (const char c : shape.title + '\n' + std::to_string(shape.frames)) {
        h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return h & 0x7FFFFFFF;
}

class OggWriter final : public SoundWriter {
public:
    bool begin(platform::OutputFile& file, const SoundShape& shape) override {
        out_.emplace(file);
        shape_ = shape;
        if (!shape.vorbis_identification || !shape.vorbis_setup) {
            error_ = "the Vorbis headers are missing";
            return false;
        }
        return guarded([&] {
            stream_.emplace(serial_of(shape));
            comments_ = comment_header(shape);
            // The identification header alone on the first page, the other
            // two on pages of their own: the audio starts on a fresh page.
            stream_->packet_in(shape.vorbis_identification, shape.vorbis_identification_bytes, 0, false);
            pages(true);
            stream_->packet_in(comments_.data(), comments_.size(), 0, false);
            return finish_call();
        });
    }

    bool write(const std::uint8_t*, std::size_t) override {
        error_ = "an Ogg Vorbis file takes Vorbis packets, not decoded samples";
        return false;
    }

    bool write_unit(const std::uint8_t* data, std::size_t bytes, std::uint32_t frames) override {
        return guarded([&] {
            add_unit(data, bytes, frames);
            return finish_call();
        });
    }

    // The packets lie back to back: a page's body is a piece of them, and
    // the batch's pages go to the file in one write.
    bool write_units(const std::uint8_t* data, const unsigned int* sizes, const unsigned int* frames,
                     std::size_t count) override {
        return guarded([&] {
            for (std::size_t i = 0; i < count; data += sizes[i], ++i) add_unit(data, sizes[i], frames[i]);
            return finish_call();
        });
    }

    bool end(std::uint64_t) override {
        return guarded([&] {
            // No audio packet: the set-up ends the stream.
            if (!setup_in_) put_setup(true);
            if (holding_) release_held(true);
            pages(true);
            return drain() && out_->flush();
        });
    }

    std::uint64_t bytes() const override { return out_ ? out_->bytes() : 0; }
    bool loop_written() const override { return shape_.loops; }

private:
    template <typename Work>
    bool guarded(Work work) {
        try {
            return work();
        } catch (const std::bad_alloc&) {
            error_ = "not enough memory for the Ogg stream";
            return false;
        }
    }

    // Each packet is held (where the caller put it, which stays until the
    // next call) until the next one comes, so that the last one can carry
    // the end of the stream.
    void add_unit(const std::uint8_t* data, std::size_t bytes, std::uint32_t frames) {
        if (!setup_in_) put_setup(false);
        if (holding_) release_held(false);
        held_ = data;
        held_bytes_ = bytes;
        held_frames_ = frames;
        holding_ = true;
    }

    // The set-up lies in the library's cache, which outlives the file.
    void put_setup(bool last) {
        setup_in_ = true;
        stream_->packet_in(shape_.vorbis_setup, shape_.vorbis_setup_bytes, 0, last);
        pages(true);
    }

    void release_held(bool last) {
        granule_ += held_frames_;
        // The last packet's position is the sound's length: a decoder
        // trims what its block gives past it.
        const std::uint64_t position = last ? std::min<std::uint64_t>(granule_, shape_.frames) : granule_;
        holding_ = false;
        stream_->packet_in(held_, held_bytes_, static_cast<std::int64_t>(position), last);
        pages(last);
    }

    // The pages that are full, or with `all` every page the stream holds,
    // gathered for drain(): headers copied, bodies where they lie.
    void pages(bool all) {
        OggPage page;
        while (stream_->page_out(all, page)) {
            pending_.push_back({nullptr, headers_.size(), page.header_bytes});
            headers_.insert(headers_.end(), page.header, page.header + page.header_bytes);
            for (std::size_t i = 0; i < page.pieces; ++i) {
                pending_.push_back({page.body[i].data, 0, page.body[i].bytes});
            }
        }
    }

    bool drain() {
        if (pending_.empty()) return true;
        pieces_.clear();
        for (const Pending& p : pending_) {
            pieces_.push_back({p.data ? p.data : headers_.data() + p.header_at, p.bytes});
        }
        pending_.clear();
        headers_.clear();
        return out_->put_pieces(pieces_.data(), pieces_.size());
    }

    // The pages written, and what the stream still holds of the caller's
    // packets copied: they may go once the call returns.
    bool finish_call() {
        if (!drain()) return false;
        stream_->keep_held();
        return true;
    }

    struct Pending {
        const std::uint8_t* data;  // null for a header
        std::size_t header_at;     // in headers_
        std::size_t bytes;
    };

    std::optional<BufferedFile> out_;
    SoundShape shape_;
    std::optional<OggPager> stream_;
    std::vector<std::uint8_t> comments_;
    std::vector<Pending> pending_;
    std::vector<std::uint8_t> headers_;
    std::vector<platform::OutputFile::Piece> pieces_;
    bool setup_in_ = false;
    const std::uint8_t* held_ = nullptr;
    std::size_t held_bytes_ = 0;
    std::uint32_t held_frames_ = 0;
    bool holding_ = false;
    std::uint64_t granule_ = 0;  // frames of the packets released so far
};

}  // namespace

std::unique_ptr<SoundWriter> make_ogg_writer() { return std::make_unique<OggWriter>(); }
