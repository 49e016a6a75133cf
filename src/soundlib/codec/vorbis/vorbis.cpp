#include "soundlib/codec/vorbis/vorbis.h"

#include <vorbis/codec.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <memory>
#include <vector>

#include "soundlib/codec/float_to_s16.h"
#include "soundlib/codec/vorbis/vorbis_decoder_setup.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

std::string hex32(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", v);
    return text;
}

std::string vorbis_error_text(int code) {
    switch (code) {
        case OV_ENOTAUDIO: return "not an audio packet";
        case OV_EBADPACKET: return "a malformed packet";
        case OV_EINVAL: return "decoder state invalid";
        default: return "error " + std::to_string(code);
    }
}

class VorbisSource final : public FrameSource {
public:
    VorbisSource(DataRange data, std::uint32_t channels, std::uint32_t block_long,
                 std::shared_ptr<const VorbisDecoderSetup> setup)
        : data_(data),
          channels_(channels),
          unit_frames_(std::max<std::uint32_t>(block_long / 2, 1)),
          setup_(std::move(setup)) {
        damage_.unit_name = "packets";
    }

    ~VorbisSource() override { stop_synthesis(); }

    VorbisSource(const VorbisSource&) = delete;
    VorbisSource& operator=(const VorbisSource&) = delete;

    // Readies the synthesis.
    bool open(std::string& detail) {
        if (!start_synthesis()) {
            detail = "libvorbis could not start decoding with the rebuilt Vorbis headers";
            return false;
        }
        return true;
    }

    std::uint32_t max_unit_frames() const override { return unit_frames_; }

    std::uint64_t seek(std::uint64_t frame) override {
        if (frame >= produced_) return produced_;  // decoding on reaches it
        // Vorbis blocks overlap, so going back means starting over.
        stop_synthesis();
        start_synthesis();
        position_ = 0;
        produced_ = 0;
        packet_number_ = 3;
        ended_ = false;
        last_block_ = 0;
        silence_owed_ = 0;
        restarted_ = false;
        return 0;
    }

    FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) override {
        frames = 0;
        if (!running_) {
            detail = "libvorbis could not restart decoding";
            return FMOD_ERR_INTERNAL;
        }
        for (;;) {
            if (silence_owed_ > 0) {  // for packets lost to damage
                const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(silence_owed_, unit_frames_));
                std::memset(out, 0, std::size_t{n} * channels_ * 2);
                silence_owed_ -= n;
                frames = n;
                produced_ += n;
                return FMOD_OK;
            }
            float** pcm = nullptr;
            const int ready = vorbis_synthesis_pcmout(&dsp_, &pcm);
            if (ready > 0) {
                const std::uint32_t n = std::min<std::uint32_t>(static_cast<std::uint32_t>(ready), unit_frames_);
                planes_to_s16(pcm, channels_, n, out);
                vorbis_synthesis_read(&dsp_, static_cast<int>(n));
                frames = n;
                produced_ += n;
                return FMOD_OK;
            }
            if (ended_) return FMOD_OK;
            const FMOD_RESULT r = next_packet(detail);
            if (r != FMOD_OK) return r;
        }
    }

private:
    ogg_packet packet(const ByteVector& bytes, std::int64_t number) {
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(bytes.data());
        op.bytes = static_cast<long>(bytes.size());
        op.granulepos = -1;  // no end trimming here: the stream trims to the subsound's length
        op.packetno = number;
        return op;
    }

    bool start_synthesis() {
        if (vorbis_synthesis_init(&dsp_, setup_->info()) != 0) return false;
        if (vorbis_block_init(&dsp_, &block_) != 0) {
            vorbis_dsp_clear(&dsp_);
            return false;
        }
        running_ = true;
        return true;
    }

    void stop_synthesis() {
        if (!running_) return;
        vorbis_block_clear(&block_);
        vorbis_dsp_clear(&dsp_);
        running_ = false;
    }

    // Reads the packet at position_ and hands it to libvorbis; sets ended_
    // at the end of the stored packets (a zero length starts the padding).
    FMOD_RESULT next_packet(std::string& detail) {
        std::uint8_t length_bytes[2];
        if (position_ + 2 > data_.size) {
            ended_ = true;
            return FMOD_OK;
        }
        if (data_.read_at(position_, length_bytes, 2) != 2) return read_failure(position_, detail);
        const std::size_t length = le16(length_bytes);
        if (length == 0) {
            ended_ = true;
            return FMOD_OK;
        }
        const std::uint64_t left = data_.size - position_ - 2;
        if (length > left) {
            detail = "the Vorbis packet at byte " + std::to_string(position_) + " of the subsound's data claims " +
                     std::to_string(length) + " bytes, but only " + std::to_string(left) + " remain";
            return FMOD_ERR_FILE_BAD;
        }
        buffer_.resize(length);
        if (data_.read_at(position_ + 2, buffer_.data(), length) != length) {
            return read_failure(position_ + 2, detail);
        }
        ogg_packet op = packet(buffer_, packet_number_);
        const long size = vorbis_packet_blocksize(setup_->info(), &op);
        int r = vorbis_synthesis(&block_, &op);
        if (r == 0) r = vorbis_synthesis_blockin(&dsp_, &block_);
        if (r == 0 && size > 0) {
            // The first packet after a restart gives nothing; what it would
            // have given is owed as silence.
            if (restarted_) silence_owed_ += frames_between(last_block_, static_cast<std::uint32_t>(size));
            restarted_ = false;
            last_block_ = static_cast<std::uint32_t>(size);
            account(static_cast<std::uint64_t>(packet_number_ - 3), 1, false);
        } else {
            // A damaged packet: silence for what it would have given, and a
            // fresh start for the synthesis, which its neighbours overlap.
            account(static_cast<std::uint64_t>(packet_number_ - 3), 1, true,
                    "the Vorbis packet at byte " + std::to_string(position_) + " of the subsound's data (" +
                        (r != 0 ? vorbis_error_text(r) : vorbis_error_text(static_cast<int>(size))) + ")");
            const std::uint32_t lost = size > 0 ? static_cast<std::uint32_t>(size) : last_block_;
            silence_owed_ += frames_between(last_block_, lost);
            last_block_ = lost;
            vorbis_synthesis_restart(&dsp_);
            restarted_ = true;
        }
        position_ += 2 + length;
        ++packet_number_;
        return FMOD_OK;
    }

    // Frames a packet of block size `block` gives after one of `previous`
    // (none after no packet).
    static std::uint64_t frames_between(std::uint32_t previous, std::uint32_t block) {
        return previous == 0 || block == 0 ? 0 : previous / 4 + block / 4;
    }

    FMOD_RESULT read_failure(std::uint64_t at, std::string& detail) const {
        detail = "the bank file could not be read at offset " + std::to_string(data_.offset + at);
        return FMOD_ERR_FILE_BAD;
    }

    DataRange data_;
    std::uint32_t channels_;
    std::uint32_t unit_frames_;
    std::shared_ptr<const VorbisDecoderSetup> setup_;  // outlives the synthesis that reads it
    vorbis_dsp_state dsp_{};
    vorbis_block block_{};
    bool running_ = false;
    std::uint64_t position_ = 0;  // byte of the next packet's length in the data
    std::uint64_t produced_ = 0;  // frames given so far: the first frame of the next unit
    std::int64_t packet_number_ = 3;
    bool ended_ = false;
    std::vector<std::uint8_t> buffer_;  // one packet at a time
    std::uint32_t last_block_ = 0;      // block size of the last packet, 0 before the first
    std::uint64_t silence_owed_ = 0;    // frames of packets lost to damage, still to give
    bool restarted_ = false;            // the synthesis started afresh after damage
};

}  // namespace

std::int16_t vorbis_float_to_s16(float x) { return float_to_s16(x); }

VorbisSetupFound find_vorbis_setup(const SubsoundInfo& info, BankFile& file, CodecCache& cache, FMOD_RESULT& code,
                                   std::string& detail, bool with_decoder) {
    VorbisSetupFound found;
    code = FMOD_ERR_FORMAT;
    std::uint8_t crc_bytes[4];
    if (info.setup.size < 4 || !file.read_exact(info.setup.offset, crc_bytes, 4)) {
        detail = "the Vorbis subsound has no setup CRC (chunk 11), so its setup header cannot be rebuilt";
        return found;
    }
    const std::uint32_t crc = le32(crc_bytes);
    std::unique_lock<std::mutex> held(cache.lock);
    const VorbisSetup* setup = cache.vorbis.find(info.channels, info.frequency, crc);
    if (!setup) {
        const std::string what = "CRC " + hex32(crc) + " for " + std::to_string(info.channels) + " channels at " +
                                 std::to_string(info.frequency) + " Hz";
        detail = cache.vorbis.search_cut_short()
                     ? "the search for the Vorbis setup header with " + what +
                           " stopped: the bank's other sample rates used up the time it may take"
                     : "no Vorbis setup header matches " + what +
                           ": the bank was made by an encoder we cannot reproduce";
        return found;
    }
    // The block sizes are the ones of the encoder set-up that made this
    // setup header: 256 and 2048 for most banks, but stock libvorbisenc
    // picks others at low rates and the lowest qualities, and the packets
    // follow the encoder.
    if (with_decoder) {
        found.decoder = cache.vorbis_decoders.get(info.channels, info.frequency, *setup, detail);
        if (!found.decoder) return found;
    }
    held.unlock();  // what was made is only read from here on
    found.setup = setup;
    code = FMOD_OK;
    return found;
}

DecoderChoice make_vorbis_decoder(const SubsoundInfo& info, BankFile& file, CodecCache& cache) {
    DecoderChoice choice;
    VorbisSetupFound found = find_vorbis_setup(info, file, cache, choice.code, choice.detail, true);
    if (!found.setup) return choice;
    auto source = std::make_unique<VorbisSource>(DataRange{&file, info.data.offset, info.data.size},
                                                 info.channels, found.setup->block_long, std::move(found.decoder));
    if (!source->open(choice.detail)) {
        choice.code = FMOD_ERR_FORMAT;
        return choice;
    }
    choice.source = std::move(source);
    return choice;
}

}  // namespace soundlib
