// Bank sounds of real Vorbis packets (stock libvorbisenc) and of the MPEG
// streams Debian's encoders made at build time (tests/CMakeLists.txt), for
// the tests of sounds written as stored.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/vorbis/vorbis_setup.h"
#include "support/temp_dir.h"
#include "vorbis_encoder.h"

namespace stored_sounds {

using bankwriter::Bytes;

// `frames` of a tone per channel at libvorbisenc's quality 0.3, which the
// library's table knows at the usual rates.
inline bankwriter::VorbisEncoding encode(std::uint32_t channels, std::uint32_t rate, std::uint32_t frames) {
    bankwriter::VorbisEncoding e;
    bankwriter::encode_vorbis(channels, rate, 0.3f, frames,
                              [&](std::uint32_t c, std::uint32_t f) {
                                  return static_cast<float>(0.3 * std::sin(0.05 * (c + 1) * f));
                              },
                              e);
    return e;
}

// An FSB5 sound of the packets, with their set-up's CRC in chunk 11.
inline bankwriter::Sound vorbis_sound(const std::string& name, std::uint32_t frames,
                                      const bankwriter::VorbisEncoding& e, std::uint32_t channels = 1,
                                      std::uint32_t rate = 44100) {
    bankwriter::Sound s;
    s.name = name;
    s.channels = channels;
    s.frequency = rate;
    s.frames = frames;
    s.data = bankwriter::vorbis_packet_data(e.packets);
    s.chunks.push_back({11, bankwriter::vorbis_setup_chunk(soundlib::crc32(e.setup.data(), e.setup.size()))});
    return s;
}

// The frames packet i adds as libvorbis decodes: a quarter of its block and
// of the one before, none for the first.
inline std::uint32_t packet_frames(const bankwriter::VorbisEncoding& e, std::size_t i) {
    return i == 0 ? 0 : e.block_sizes[i - 1] / 4 + e.block_sizes[i] / 4;
}

// A stream made at build time; empty when the encoders were missing.
inline Bytes mpeg_fixture(const std::string& name) { return read_file(std::string(MPEG_FIXTURES_DIR) + "/" + name); }

// A stream's frames, walked by their headers as the encoder wrote them.
inline std::vector<Bytes> split_frames(const Bytes& stream) {
    std::vector<Bytes> frames;
    soundlib::MpegFrameHeader h;
    for (std::size_t pos = 0; pos + 4 <= stream.size(); pos += h.length) {
        if (soundlib::parse_mpeg_frame_header(&stream[pos], h) || pos + h.length > stream.size()) break;
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                            stream.begin() + static_cast<std::ptrdiff_t>(pos + h.length));
    }
    return frames;
}

// A sound of these frames, each followed by zeros up to a multiple of
// `padding`; the flags say MPEG stereo to FSB3/FSB4 banks.
inline bankwriter::Sound mpeg_sound(const std::string& name, const std::vector<Bytes>& frames, std::size_t padding,
                                    std::uint64_t length, std::uint32_t channels = 2) {
    bankwriter::Sound s;
    s.name = name;
    s.channels = channels;
    s.frames = static_cast<std::uint32_t>(length);
    s.flags = 0x200 | 0x40;
    for (const Bytes& f : frames) {
        s.data.insert(s.data.end(), f.begin(), f.end());
        while (s.data.size() % padding) s.data.push_back(0);
    }
    return s;
}

}  // namespace stored_sounds
