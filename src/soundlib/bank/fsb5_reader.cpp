// FSB5 banks: a main header, one packed 64-bit header per subsound with
// optional chunks, a name table, then the data region. The four parts add up
// to the bank.
#include <string>

#include "soundlib/bank/bank_part.h"
#include "soundlib/bank/fsb5_codes.h"
#include "soundlib/bank/loop_rule.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

constexpr std::uint32_t kHeaderSizeV1 = 0x3C;
constexpr std::uint32_t kHeaderSizeV0 = 0x40;
constexpr std::uint32_t kMaxNameBytes = 255;

constexpr std::uint32_t kFlagPcm16BigEndian = 0x01;
constexpr std::uint32_t kFlagAdpcmNotInterleaved = 0x02;

using namespace fsb5;

Codec codec_from_number(std::uint32_t n) {
    static constexpr Codec kCodecs[] = {
        Codec::unknown, Codec::pcm8,     Codec::pcm16, Codec::pcm24,  Codec::pcm32, Codec::pcmfloat,
        Codec::gcadpcm, Codec::imaadpcm, Codec::vag,   Codec::hevag,  Codec::xma,   Codec::mpeg,
        Codec::celt,    Codec::atrac9,   Codec::xwma,  Codec::vorbis, Codec::fadpcm, Codec::opus};
    return n < std::size(kCodecs) ? kCodecs[n] : Codec::unknown;
}

std::string where(std::uint32_t index) { return "subsound " + std::to_string(index) + ": "; }

// Parses subsound i's header at `pos`; s.data.offset is left relative to the
// data region. `next` is where the following header starts. With
// `chunk_budget`, at most that many chunks are read (it counts them down);
// the subsound's chunks beyond it are not looked at.
BankReadError parse_subsound(BankFile& file, const BankPart& part, std::uint32_t i, std::uint64_t pos,
                             SubsoundInfo& s, std::uint64_t& next, std::uint32_t* chunk_budget = nullptr) {
    const std::uint64_t headers_end = part.names_start;
    std::uint8_t word[8];
    if (pos + 8 > headers_end || !file.read_exact(pos, word, 8)) {
        return {FMOD_ERR_FILE_EOF, where(i) + "header runs past the end of the header region"};
    }
    pos += 8;
    const std::uint64_t packed = le64(word);
    s = SubsoundInfo{};
    s.codec = codec_from_number(part.codec);
    bool more = packed & 1;
    const std::uint32_t frequency_code = (packed >> 1) & 0x0F;
    s.frequency = frequency_code < std::size(kFrequencies) ? kFrequencies[frequency_code] : 0;
    s.channels = kChannelCounts[(packed >> 5) & 0x03];
    s.data.offset = ((packed >> 7) & 0x07FFFFFF) * 32;
    s.frames = packed >> 34;
    s.loop_end = s.frames ? static_cast<std::uint32_t>(s.frames - 1) : 0;
    bool has_loop_chunk = false;

    while (more) {
        if (chunk_budget && (*chunk_budget)-- == 0) {
            *chunk_budget = 0;
            break;
        }
        std::uint8_t cw[4];
        if (pos + 4 > headers_end || !file.read_exact(pos, cw, 4)) {
            return {FMOD_ERR_FILE_EOF, where(i) + "chunk runs past the end of the header region"};
        }
        const std::uint32_t chunk = le32(cw);
        more = chunk & 1;
        const std::uint32_t size = (chunk >> 1) & 0x00FFFFFF;
        const std::uint32_t type = chunk >> 25;
        const std::uint64_t payload = pos + 4;
        if (payload + size > headers_end) {
            return {FMOD_ERR_FILE_EOF,
                    where(i) + "chunk of type " + std::to_string(type) + " runs past the end of the header region"};
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
            has_loop_chunk = true;
        } else if (type == kChunkDspCoefficients || type == kChunkVorbisSetup) {
            s.setup = {payload, size};
        }
        pos = payload + size;
    }
    next = pos;

    if (part.names_bytes != 0) {
        std::uint8_t off[4];
        if (!file.read_exact(part.names_start + 4ull * i, off, 4)) {
            return {FMOD_ERR_FILE_EOF, where(i) + "name offset cannot be read"};
        }
        const std::uint64_t name_offset = le32(off);
        if (name_offset >= part.names_bytes) {
            return {FMOD_ERR_FILE_BAD,
                    where(i) + "name offset " + std::to_string(name_offset) + " lies outside the name table"};
        }
        const std::uint64_t room = part.names_bytes - name_offset;
        s.name = {part.names_start + name_offset, room < kMaxNameBytes ? room : kMaxNameBytes};
    }

    s.pcm_big_endian = (part.flags & kFlagPcm16BigEndian) != 0;
    s.pcm8_signed = false;
    s.adpcm_interleaved = !(part.flags & kFlagAdpcmNotInterleaved);
    s.mpeg_frame_padding = mpeg_frame_padding(part, s.channels);
    if (s.channels == 0) s.problem = "the header gives 0 channels";
    s.loops = fsb5_sound_loops(s, has_loop_chunk);
    return {};
}

}  // namespace

BankReadError read_fsb5_header(BankFile& file, BankPart& part) {
    std::uint8_t head[kHeaderSizeV0];
    if (part.start + kHeaderSizeV1 > part.limit || !file.read_exact(part.start, head, kHeaderSizeV1)) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank header"};
    }
    part.family = BankFamily::fsb5;
    part.version = le32(head + 4);
    if (part.version > 1) {
        return {FMOD_ERR_VERSION, "FSB5 version " + std::to_string(part.version) + " is not one we read"};
    }
    const std::uint32_t header_size = part.version == 1 ? kHeaderSizeV1 : kHeaderSizeV0;
    part.count = le32(head + 8);
    const std::uint64_t headers_bytes = le32(head + 0x0C);
    part.names_bytes = le32(head + 0x10);
    const std::uint64_t data_bytes = le32(head + 0x14);
    part.codec = le32(head + 0x18);
    // Where version 0 keeps its flags is not known; without them it reads as
    // little-endian and interleaved, the common case.
    part.flags = part.version == 1 ? le32(head + 0x20) : 0;

    part.headers_start = part.start + header_size;
    part.names_start = part.headers_start + headers_bytes;
    part.data_start = part.names_start + part.names_bytes;
    part.data_end = part.data_start + data_bytes;
    part.end = part.data_end;
    if (part.data_start > part.limit) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank's headers: they announce " +
                                       std::to_string(part.data_start - part.start) + " bytes, " +
                                       std::to_string(part.limit - part.start) + " are there"};
    }
    if (static_cast<std::uint64_t>(part.count) * 8 > headers_bytes) {
        return {FMOD_ERR_FILE_BAD, std::to_string(part.count) + " subsounds cannot fit in " +
                                       std::to_string(headers_bytes) + " bytes of subsound headers"};
    }
    if (part.names_bytes != 0 && static_cast<std::uint64_t>(part.count) * 4 > part.names_bytes) {
        return {FMOD_ERR_FILE_BAD, "the name table is too small for " + std::to_string(part.count) + " names"};
    }
    return {};
}

BankReadError walk_fsb5(BankFile& file, const BankPart& part, std::vector<SubsoundRecord>& records,
                        std::uint32_t* chunk_budget) {
    const std::uint64_t data_bytes = part.data_end - part.data_start;
    std::uint64_t pos = part.headers_start;
    std::uint64_t previous = 0;
    SubsoundInfo s;
    for (std::uint32_t i = 0; i < part.count; ++i) {
        std::uint64_t next = 0;
        BankReadError error = parse_subsound(file, part, i, pos, s, next, chunk_budget);
        if (error.code != FMOD_OK) return error;
        // Each subsound's data runs up to the next one's, the last to the end
        // of the data region.
        if (s.data.offset > data_bytes) {
            return {FMOD_ERR_FILE_EOF, where(i) + "data offset " + std::to_string(s.data.offset) +
                                           " lies past the end of the data region"};
        }
        if (s.data.offset < previous) return {FMOD_ERR_FILE_BAD, where(i) + "data offsets are out of order"};
        if (i > 0) records.back().size = static_cast<std::uint32_t>(s.data.offset - previous);
        previous = s.data.offset;
        records.push_back({static_cast<std::uint32_t>(pos - part.headers_start),
                           static_cast<std::uint32_t>(s.data.offset),
                           static_cast<std::uint32_t>(data_bytes - s.data.offset)});
        if (chunk_budget && *chunk_budget == 0) return {};  // what was asked for is read
        pos = next;
    }
    return {};
}

SubsoundInfo describe_fsb5(BankFile& file, const BankPart& part, std::uint32_t i, const SubsoundRecord& record) {
    SubsoundInfo s;
    std::uint64_t next = 0;
    if (parse_subsound(file, part, i, part.headers_start + record.header, s, next).code != FMOD_OK) {
        s = SubsoundInfo{};
        s.problem = "its header could not be read again";
        return s;
    }
    s.data = {part.data_start + record.data, record.size};
    return s;
}

}  // namespace soundlib
