#include "soundlib/codec/vorbis/vorbis_packets.h"

#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>

#include "soundlib/codec/vorbis/vorbis.h"
#include "soundlib/codec/vorbis/vorbis_packet_blocks.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

class VorbisPackets final : public StoredUnits {
public:
    VorbisPackets(DataRange data, std::uint64_t length, const VorbisBlocksByFirstByte& block_of_first_byte)
        : data_(data), length_(length), block_of_first_byte_(block_of_first_byte) {
        damage_.unit_name = "packets";
    }

    FMOD_RESULT next(std::uint8_t* out, std::size_t room, std::size_t& bytes, std::uint32_t& frames,
                     std::string& detail) override {
        bytes = 0;
        frames = 0;
        Walk w = walk_;
        const FMOD_RESULT r = step(w, out, room, bytes, frames, detail, true);
        if (r == FMOD_ERR_INVALID_PARAM) return r;  // stays next
        walk_ = w;
        if (r == FMOD_OK) ++given_;
        return r;
    }

    void restart() override {
        walk_ = Walk{};
        given_ = 0;
    }

    std::uint64_t frames_held() override {
        Walk w;
        std::size_t bytes = 0;
        std::uint32_t frames = 0;
        std::string ignored;
        while (step(w, nullptr, 0, bytes, frames, ignored, false) == FMOD_OK) {
        }
        return std::min(w.produced, length_);
    }

protected:
    // Packets that read right, taken straight from one read of the data
    // into out and moved down over their lengths, as step() gives them; it
    // stops before anything step() has more to say about.
    std::size_t run_of_units(std::uint8_t* out, std::size_t room, std::uint32_t* sizes, std::uint32_t* frames,
                             std::size_t most, std::size_t& used) override {
        used = 0;
        Walk& w = walk_;
        if (w.ended || w.position >= data_.size) return 0;
        const std::uint64_t want =
            std::min<std::uint64_t>({room, data_.size - w.position, most * std::uint64_t{2 + kMaxStoredUnitBytes}});
        const std::size_t got = data_.read_at(w.position, out, static_cast<std::size_t>(want));
        std::size_t count = 0;
        std::size_t in = 0;  // the next packet's length, in out
        while (count < most && !(w.given_any && w.produced + w.lost >= length_)) {
            if (got < 2 || in > got - 2) break;
            const std::size_t length = le16(out + in);
            if (length == 0 || length > data_.size - w.position - 2 || length > got - in - 2) break;
            const long block = block_of_first_byte_[out[in + 2]];
            if (block <= 0) break;
            std::memmove(out + used, out + in + 2, length);
            sizes[count] = static_cast<std::uint32_t>(length);
            if (w.packet == damage_counted_) ++damage_counted_;
            ++w.packet;
            frames[count] = add_audio_packet(w, block);
            w.position += 2 + length;
            in += 2 + length;
            used += length;
            ++count;
        }
        return count;
    }

private:
    struct Walk {
        std::uint64_t position = 0;   // byte of the next packet's length in the data
        std::uint64_t packet = 0;     // packets walked, damaged ones included
        std::uint64_t produced = 0;   // frames the packets given so far add up to
        std::uint64_t lost = 0;       // frames the packets left out stood for
        std::uint32_t last_block = 0; // block size of the last packet given, 0 before the first
        bool given_any = false;
        bool ended = false;
    };

    // One packet of the walk w: into out when `body`, else its first byte
    // only (which holds its mode, so its block size). Damaged packets are
    // passed over; the damage counted once, on the walk from the start.
    FMOD_RESULT step(Walk& w, std::uint8_t* out, std::size_t room, std::size_t& bytes, std::uint32_t& frames,
                     std::string& detail, bool body) {
        for (;;) {
            if (w.ended || (w.given_any && w.produced + w.lost >= length_)) {
                w.ended = true;
                return FMOD_ERR_FILE_EOF;
            }
            std::uint8_t length_bytes[2];
            if (w.position + 2 > data_.size) return end_of_packets(w, detail);
            if (data_.read_at(w.position, length_bytes, 2) != 2) return read_failure(w.position, detail);
            const std::size_t length = le16(length_bytes);
            if (length == 0) return end_of_packets(w, detail);  // the padding starts
            const std::uint64_t left = data_.size - w.position - 2;
            if (length > left) {
                detail = "the Vorbis packet at byte " + std::to_string(w.position) +
                         " of the subsound's data claims " + std::to_string(length) + " bytes, but only " +
                         std::to_string(left) + " remain";
                w.ended = true;
                return FMOD_ERR_FILE_BAD;
            }
            std::uint8_t first = 0;
            if (body) {
                if (length > room) {
                    bytes = length;
                    return FMOD_ERR_INVALID_PARAM;
                }
                if (data_.read_at(w.position + 2, out, length) != length) return read_failure(w.position + 2, detail);
                first = out[0];
            } else if (data_.read_at(w.position + 2, &first, 1) != 1) {
                return read_failure(w.position + 2, detail);
            }
            const long block = block_of_first_byte_[first];
            const std::uint64_t at = w.position;
            w.position += 2 + length;
            const std::uint64_t number = w.packet++;
            if (block <= 0) {
                // Not an audio packet of this set-up: left out, so that the
                // frames of the others stay what a decoder makes of them.
                // Where the sound ends still counts what it stood for, as
                // the decoder's silence for it does: a block like the last.
                w.lost += w.last_block / 2;
                if (body && number == damage_counted_) {
                    ++damage_counted_;
                    if (damage_.units == 0) {
                        damage_.first = "the Vorbis packet at byte " + std::to_string(at) +
                                        " of the subsound's data (" +
                                        (block == OV_ENOTAUDIO ? "not an audio packet" : "a malformed packet") + ")";
                    }
                    ++damage_.units;
                }
                continue;
            }
            if (body && number == damage_counted_) ++damage_counted_;
            frames = add_audio_packet(w, block);
            bytes = length;
            return FMOD_OK;
        }
    }

    // An audio packet of `block` samples given on the walk: the frames it
    // adds, a quarter of its block and of the one before (none for the first).
    static std::uint32_t add_audio_packet(Walk& w, long block) {
        const auto size = static_cast<std::uint32_t>(block);
        const std::uint32_t frames = w.last_block == 0 ? 0 : w.last_block / 4 + size / 4;
        w.last_block = size;
        w.produced += frames;
        w.given_any = true;
        return frames;
    }

    // The packets end (the data or its zero padding): short of the sound's
    // length, that is reported as the decoder reports it.
    FMOD_RESULT end_of_packets(Walk& w, std::string& detail) const {
        w.ended = true;
        if (w.produced + w.lost >= length_ || (length_ == 0 && w.given_any)) return FMOD_ERR_FILE_EOF;
        detail = "the stored data ends at frame " + std::to_string(w.produced) + " of " + std::to_string(length_);
        return FMOD_ERR_FILE_BAD;
    }

    FMOD_RESULT read_failure(std::uint64_t at, std::string& detail) const {
        detail = "the bank file could not be read at offset " + std::to_string(data_.offset + at);
        return FMOD_ERR_FILE_BAD;
    }

    DataRange data_;
    std::uint64_t length_;
    const VorbisBlocksByFirstByte& block_of_first_byte_;  // the cache's, read only
    Walk walk_;
    std::uint64_t damage_counted_ = 0;  // packets looked at for damage, from the first
};

}  // namespace

StoredChoice make_vorbis_packets(const SubsoundInfo& info, BankFile& file, CodecCache& cache) {
    StoredChoice choice;
    VorbisSetupFound found = find_vorbis_setup(info, file, cache, choice.code, choice.detail, false);
    if (!found.setup) return choice;
    const auto key = std::tuple(info.channels, info.frequency, found.setup->crc);
    const std::lock_guard<std::mutex> held(cache.lock);  // the cache is shared; what it holds stays put
    auto stored = cache.vorbis_stored.find(key);
    if (stored == cache.vorbis_stored.end()) {
        CodecCache::VorbisStored made;
        if (!vorbis_blocks_by_first_byte(*found.setup, info.channels, made.blocks)) {
            choice.code = FMOD_ERR_FORMAT;
            choice.detail = "the rebuilt Vorbis setup header does not read back";
            return choice;
        }
        made.identification = vorbis_identification_header(info.channels, info.frequency, found.setup->block_short,
                                                           found.setup->block_long);
        stored = cache.vorbis_stored.emplace(key, std::move(made)).first;
    }
    choice.identification = &stored->second.identification;
    choice.setup = &found.setup->packet;
    choice.units = std::make_unique<VorbisPackets>(DataRange{&file, info.data.offset, info.data.size}, info.frames,
                                                   stored->second.blocks);
    return choice;
}

}  // namespace soundlib
