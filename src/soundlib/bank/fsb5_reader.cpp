// FSB5 banks: a main header, one packed 64-bit header per subsound with
// optional chunks, a name table, then the data region. The four parts add up
// to the file.
#include <string>

#include "soundlib/bank/bank_reader.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

constexpr std::uint32_t kHeaderSizeV1 = 0x3C;
constexpr std::uint32_t kHeaderSizeV0 = 0x40;
constexpr std::uint32_t kMaxNameBytes = 255;

constexpr std::uint32_t kFlagPcm16BigEndian = 0x01;
constexpr std::uint32_t kFlagAdpcmNotInterleaved = 0x02;

// Chunk types we use; every other one is skipped by its size.
constexpr std::uint32_t kChunkChannels = 1;
constexpr std::uint32_t kChunkFrequency = 2;
constexpr std::uint32_t kChunkLoop = 3;
constexpr std::uint32_t kChunkDspCoefficients = 7;
constexpr std::uint32_t kChunkVorbisSetup = 11;

constexpr std::uint32_t kFrequencies[] = {4000,  8000,  11000, 11025, 16000, 22050,
                                          24000, 32000, 44100, 48000, 96000};
constexpr std::uint32_t kChannelCounts[] = {1, 2, 6, 8};

Codec codec_from_number(std::uint32_t n) {
    static constexpr Codec kCodecs[] = {
        Codec::unknown, Codec::pcm8,     Codec::pcm16, Codec::pcm24,  Codec::pcm32, Codec::pcmfloat,
        Codec::gcadpcm, Codec::imaadpcm, Codec::vag,   Codec::hevag,  Codec::xma,   Codec::mpeg,
        Codec::celt,    Codec::atrac9,   Codec::xwma,  Codec::vorbis, Codec::fadpcm, Codec::opus};
    return n < std::size(kCodecs) ? kCodecs[n] : Codec::unknown;
}

std::string where(std::uint32_t index) { return "subsound " + std::to_string(index) + ": "; }

}  // namespace

BankReadError read_fsb5(BankFile& file, std::vector<SubsoundInfo>& subsounds) {
    std::uint8_t head[kHeaderSizeV0];
    if (!file.read_exact(0, head, kHeaderSizeV1)) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank header"};
    }
    const std::uint32_t version = le32(head + 4);
    if (version > 1) return {FMOD_ERR_VERSION, "FSB5 version " + std::to_string(version) + " is not one we read"};
    const std::uint32_t header_size = version == 1 ? kHeaderSizeV1 : kHeaderSizeV0;
    const std::uint32_t count = le32(head + 8);
    const std::uint64_t headers_bytes = le32(head + 0x0C);
    const std::uint64_t names_bytes = le32(head + 0x10);
    const std::uint64_t data_bytes = le32(head + 0x14);
    const Codec codec = codec_from_number(le32(head + 0x18));
    // Where version 0 keeps its flags is not known; without them it reads as
    // little-endian and interleaved, the common case.
    const std::uint32_t flags = version == 1 ? le32(head + 0x20) : 0;

    const std::uint64_t headers_start = header_size;
    const std::uint64_t names_start = headers_start + headers_bytes;
    const std::uint64_t data_start = names_start + names_bytes;
    const std::uint64_t data_end = data_start + data_bytes;
    if (data_end > file.size()) {
        return {FMOD_ERR_FILE_EOF, "the bank is truncated: its headers announce " + std::to_string(data_end) +
                                       " bytes, the file has " + std::to_string(file.size())};
    }
    if (static_cast<std::uint64_t>(count) * 8 > headers_bytes) {
        return {FMOD_ERR_FILE_BAD, std::to_string(count) + " subsounds cannot fit in " +
                                       std::to_string(headers_bytes) + " bytes of subsound headers"};
    }
    if (names_bytes != 0 && static_cast<std::uint64_t>(count) * 4 > names_bytes) {
        return {FMOD_ERR_FILE_BAD, "the name table is too small for " + std::to_string(count) + " names"};
    }

    subsounds.clear();
    subsounds.reserve(count);
    std::uint64_t pos = headers_start;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t word[8];
        if (pos + 8 > names_start || !file.read_exact(pos, word, 8)) {
            return {FMOD_ERR_FILE_EOF, where(i) + "header runs past the end of the header region"};
        }
        pos += 8;
        const std::uint64_t packed = le64(word);
        SubsoundInfo s;
        s.codec = codec;
        bool more = packed & 1;
        const std::uint32_t frequency_code = (packed >> 1) & 0x0F;
        s.frequency = frequency_code < std::size(kFrequencies) ? kFrequencies[frequency_code] : 0;
        s.channels = kChannelCounts[(packed >> 5) & 0x03];
        s.data.offset = ((packed >> 7) & 0x07FFFFFF) * 32;  // relative until checked below
        s.frames = packed >> 34;
        s.loop_end = s.frames ? static_cast<std::uint32_t>(s.frames - 1) : 0;

        while (more) {
            std::uint8_t cw[4];
            if (pos + 4 > names_start || !file.read_exact(pos, cw, 4)) {
                return {FMOD_ERR_FILE_EOF, where(i) + "chunk runs past the end of the header region"};
            }
            const std::uint32_t chunk = le32(cw);
            more = chunk & 1;
            const std::uint32_t size = (chunk >> 1) & 0x00FFFFFF;
            const std::uint32_t type = chunk >> 25;
            const std::uint64_t payload = pos + 4;
            if (payload + size > names_start) {
                return {FMOD_ERR_FILE_EOF, where(i) + "chunk of type " + std::to_string(type) +
                                               " runs past the end of the header region"};
            }
            std::uint8_t p[8] = {};
            const std::size_t small = size < sizeof p ? size : sizeof p;
            if (!file.read_exact(payload, p, small)) {
                return {FMOD_ERR_FILE_EOF, where(i) + "chunk payload cannot be read"};
            }
            if (type == kChunkChannels && size >= 1) {
                s.channels = p[0];
            } else if (type == kChunkFrequency && size >= 4) {
                s.frequency = le32(p);
            } else if (type == kChunkLoop && size >= 8) {
                s.loop_start = le32(p);
                s.loop_end = le32(p + 4);
            } else if (type == kChunkDspCoefficients || type == kChunkVorbisSetup) {
                s.setup = {payload, size};
            }
            pos = payload + size;
        }

        if (names_bytes != 0) {
            std::uint8_t off[4];
            if (!file.read_exact(names_start + 4ull * i, off, 4)) {
                return {FMOD_ERR_FILE_EOF, where(i) + "name offset cannot be read"};
            }
            const std::uint64_t name_offset = le32(off);
            if (name_offset >= names_bytes) {
                return {FMOD_ERR_FILE_BAD, where(i) + "name offset " + std::to_string(name_offset) +
                                               " lies outside the name table"};
            }
            const std::uint64_t room = names_bytes - name_offset;
            s.name = {names_start + name_offset, room < kMaxNameBytes ? room : kMaxNameBytes};
        }

        s.pcm_big_endian = (flags & kFlagPcm16BigEndian) != 0;
        s.pcm8_signed = false;
        s.adpcm_interleaved = !(flags & kFlagAdpcmNotInterleaved);
        s.mpeg_frame_padding = s.channels > 2 ? 16 : 4;
        if (s.channels == 0) s.problem = "the header gives 0 channels";
        subsounds.push_back(s);
    }

    // Each subsound's data runs up to the next one's, the last to the end of
    // the data region.
    for (std::uint32_t i = 0; i < count; ++i) {
        SubsoundInfo& s = subsounds[i];
        const std::uint64_t start = s.data.offset;
        const std::uint64_t end = i + 1 < count ? subsounds[i + 1].data.offset : data_bytes;
        if (start > data_bytes) {
            return {FMOD_ERR_FILE_EOF, where(i) + "data offset " + std::to_string(start) +
                                           " lies past the end of the data region"};
        }
        if (end < start || end > data_bytes) {
            return {FMOD_ERR_FILE_BAD, where(i) + "data offsets are out of order"};
        }
        s.data = {data_start + start, end - start};
    }
    return {};
}

}  // namespace soundlib
