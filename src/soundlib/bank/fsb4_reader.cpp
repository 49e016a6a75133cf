// FSB3 (3.0, 3.1) and FSB4 banks: a fixed main header, one header per
// subsound (full, or basic after the first under bank flag 0x02), then the
// data region holding every subsound's data one after the other.
#include <string>

#include "soundlib/bank/bank_part.h"
#include "soundlib/bank/loop_rule.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

constexpr std::uint32_t kFsb3HeaderSize = 0x18;
constexpr std::uint32_t kFsb4HeaderSize = 0x30;
constexpr std::uint32_t kFullHeaderSize30 = 0x40;  // FSB3.0 lacks the distance fields
constexpr std::uint32_t kFullHeaderSize = 0x50;
constexpr std::uint32_t kBasicHeaderSize = 8;
constexpr std::uint32_t kNameBytes = 30;

// Bank flags.
constexpr std::uint32_t kBankBasicHeaders = 0x02;
constexpr std::uint32_t kBankPcm16BigEndian = 0x08;
constexpr std::uint32_t kBankAdpcmNotInterleaved = 0x10;
constexpr std::uint32_t kBankMpegPad4Align32 = 0x40;

// Subsound flags.
constexpr std::uint32_t kSub8Bits = 0x08;
constexpr std::uint32_t kSubStereo = 0x40;
constexpr std::uint32_t kSubUnsigned = 0x80;
constexpr std::uint32_t kSubMpeg = 0x200;
constexpr std::uint32_t kSubDuplicate = 0x8000;
constexpr std::uint32_t kSubMpegLayer2 = 0x40000;
constexpr std::uint32_t kSub32Bits = 0x200000;
constexpr std::uint32_t kSubImaAdpcm = 0x400000;
constexpr std::uint32_t kSubVag = 0x800000;
constexpr std::uint32_t kSubXma = 0x1000000;
constexpr std::uint32_t kSubGcAdpcm = 0x2000000;
constexpr std::uint32_t kSubCelt = 0x8000000;
constexpr std::uint32_t kSubMpegLayer3 = 0x10000000;

Codec codec_from_flags(std::uint32_t flags) {
    if (flags & (kSubMpeg | kSubMpegLayer2 | kSubMpegLayer3)) return Codec::mpeg;
    if (flags & kSubImaAdpcm) return Codec::imaadpcm;
    if (flags & kSubVag) return Codec::vag;
    if (flags & kSubXma) return Codec::xma;
    if (flags & kSubGcAdpcm) return Codec::gcadpcm;
    if (flags & kSubCelt) return Codec::celt;
    if (flags & kSub8Bits) return Codec::pcm8;
    if (flags & kSub32Bits) return Codec::pcm32;
    return Codec::pcm16;
}

std::string where(std::uint32_t index) { return "subsound " + std::to_string(index) + ": "; }

std::uint32_t full_header_size(const BankPart& part) {
    return part.family == BankFamily::fsb3 && part.version == 0x00030000 ? kFullHeaderSize30 : kFullHeaderSize;
}

bool basic_headers(const BankPart& part) { return (part.flags & kBankBasicHeaders) != 0; }

// What one header says. A basic header (subsound 1 and up under bank flag
// 0x02) gives length and size only; the rest is subsound 0's, `first`.
struct Parsed {
    SubsoundInfo info;           // data.offset not set: it depends on the subsounds before
    std::uint64_t entry_size = 0;  // step to the next header
    std::uint64_t stored_bytes = 0;
    bool duplicate = false;
};

BankReadError parse_subsound(BankFile& file, const BankPart& part, std::uint32_t i, std::uint64_t pos,
                             const Parsed* first, Parsed& out) {
    const std::uint64_t headers_end = part.data_start;
    const std::uint32_t full_size = full_header_size(part);
    SubsoundInfo& s = out.info;
    std::uint8_t h[kFullHeaderSize];
    std::uint64_t extra_offset;
    std::uint32_t flags;
    if (!first) {
        if (pos + full_size > headers_end || !file.read_exact(pos, h, full_size)) {
            return {FMOD_ERR_FILE_EOF, where(i) + "header runs past the end of the header region"};
        }
        out.entry_size = le16(h);
        if (out.entry_size < full_size || pos + out.entry_size > headers_end) {
            return {FMOD_ERR_FILE_BAD, where(i) + "header size " + std::to_string(out.entry_size) +
                                           " does not fit the header region"};
        }
        s = SubsoundInfo{};
        s.name = {pos + 2, kNameBytes};
        s.frames = le32(h + 0x20);
        out.stored_bytes = le32(h + 0x24);
        s.loop_start = le32(h + 0x28);
        s.loop_end = le32(h + 0x2C);
        flags = le32(h + 0x30);
        const std::int32_t frequency = static_cast<std::int32_t>(le32(h + 0x34));
        s.frequency = frequency > 0 ? static_cast<std::uint32_t>(frequency) : 0;
        s.channels = le16(h + 0x3E);
        if (s.channels == 0) s.channels = (flags & kSubStereo) ? 2 : 1;
        s.codec = codec_from_flags(flags);
        s.pcm8_signed = !(flags & kSubUnsigned);
        extra_offset = pos + full_size;
    } else {
        const std::uint64_t extra_size = first->entry_size - full_size;
        out.entry_size = kBasicHeaderSize + extra_size;
        if (pos + out.entry_size > headers_end || !file.read_exact(pos, h, kBasicHeaderSize)) {
            return {FMOD_ERR_FILE_EOF, where(i) + "header runs past the end of the header region"};
        }
        s = first->info;
        s.name = {};
        s.frames = le32(h);
        out.stored_bytes = le32(h + 4);
        s.loop_start = 0;
        s.loop_end = s.frames ? static_cast<std::uint32_t>(s.frames - 1) : 0;
        flags = 0;  // a basic entry cannot be a duplicate
        extra_offset = pos + kBasicHeaderSize;
    }
    s.setup = {extra_offset, pos + out.entry_size - extra_offset};
    out.duplicate = (flags & kSubDuplicate) != 0;
    s.pcm_big_endian = (part.flags & kBankPcm16BigEndian) != 0;
    s.adpcm_interleaved = !(part.flags & kBankAdpcmNotInterleaved);
    s.mpeg_frame_padding = mpeg_frame_padding(part, s.codec == Codec::mpeg ? s.channels : 1);
    if (s.channels > 255) s.problem = "more than 255 channels";
    s.loops = fsb4_sound_loops(s, flags, first != nullptr);
    return {};
}

}  // namespace

BankReadError read_fsb4_header(BankFile& file, BankPart& part) {
    std::uint8_t head[kFsb4HeaderSize];
    if (part.start + kFsb3HeaderSize > part.limit || !file.read_exact(part.start, head, kFsb3HeaderSize)) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank header"};
    }
    const bool fsb4 = head[3] == '4';
    part.family = fsb4 ? BankFamily::fsb4 : BankFamily::fsb3;
    part.version = le32(head + 0x10);
    if (fsb4 ? part.version != 0x00040000 : (part.version != 0x00030000 && part.version != 0x00030001)) {
        return {FMOD_ERR_VERSION, std::string(fsb4 ? "FSB4" : "FSB3") + " version " +
                                      std::to_string(part.version >> 16) + "." +
                                      std::to_string(part.version & 0xFFFF) + " is not one we read"};
    }
    const std::uint32_t header_size = fsb4 ? kFsb4HeaderSize : kFsb3HeaderSize;
    if (part.start + header_size > part.limit || !file.read_exact(part.start, head, header_size)) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank header"};
    }
    const std::int32_t count = static_cast<std::int32_t>(le32(head + 4));
    const std::uint64_t headers_bytes = le32(head + 8);
    const std::uint64_t data_bytes = le32(head + 0x0C);
    part.flags = le32(head + 0x14);
    part.headers_start = part.start + header_size;
    part.names_start = part.names_bytes = 0;
    part.data_start = part.headers_start + headers_bytes;
    part.data_end = part.data_start + data_bytes;
    part.end = part.data_end;
    if (count < 0) return {FMOD_ERR_FILE_BAD, "negative subsound count " + std::to_string(count)};
    part.count = static_cast<std::uint32_t>(count);
    if (part.data_start > part.limit) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank's headers: they announce " +
                                       std::to_string(part.data_start - part.start) + " bytes, " +
                                       std::to_string(part.limit - part.start) + " are there"};
    }
    if (static_cast<std::uint64_t>(part.count) * kBasicHeaderSize > headers_bytes) {
        return {FMOD_ERR_FILE_BAD, std::to_string(part.count) + " subsounds cannot fit in " +
                                       std::to_string(headers_bytes) + " bytes of subsound headers"};
    }
    return {};
}

BankReadError walk_fsb4(BankFile& file, const BankPart& part, std::vector<SubsoundRecord>& records) {
    std::uint64_t pos = part.headers_start;
    std::uint64_t running = part.data_start;
    Parsed first, current;
    for (std::uint32_t i = 0; i < part.count; ++i) {
        Parsed& p = i == 0 ? first : current;
        BankReadError error = parse_subsound(file, part, i, pos, i > 0 && basic_headers(part) ? &first : nullptr, p);
        if (error.code != FMOD_OK) return error;
        const auto header = static_cast<std::uint32_t>(pos - part.headers_start);
        if (p.duplicate && i > 0) {
            // It shares the data of the subsound before it.
            records.push_back({header, records.back().data, records.back().size});
        } else {
            if (running + p.stored_bytes > part.data_end) {
                return {FMOD_ERR_FILE_EOF, where(i) + "data (" + std::to_string(p.stored_bytes) +
                                               " bytes at offset " + std::to_string(running - part.start) +
                                               ") reaches past the end of the bank's data"};
            }
            records.push_back({header, static_cast<std::uint32_t>(running - part.data_start),
                               static_cast<std::uint32_t>(p.stored_bytes)});
            running += p.stored_bytes;
            if (part.flags & kBankMpegPad4Align32) {
                running = part.data_start + ((running - part.data_start + 31) / 32) * 32;
            }
        }
        pos += p.entry_size;
    }
    return {};
}

SubsoundInfo describe_fsb4(BankFile& file, const BankPart& part, std::uint32_t i, const SubsoundRecord& record) {
    Parsed first, p;
    const bool basic = i > 0 && basic_headers(part);
    if ((basic && parse_subsound(file, part, 0, part.headers_start, nullptr, first).code != FMOD_OK) ||
        parse_subsound(file, part, i, part.headers_start + record.header, basic ? &first : nullptr, p).code !=
            FMOD_OK) {
        SubsoundInfo s;
        s.problem = "its header could not be read again";
        return s;
    }
    p.info.data = {part.data_start + record.data, record.size};
    return p.info;
}

}  // namespace soundlib
