// FSB3 (3.0, 3.1) and FSB4 banks: a fixed main header, one header per
// subsound (full, or basic after the first under bank flag 0x02), then the
// data region holding every subsound's data one after the other.
#include <string>

#include "soundlib/bank/bank_reader.h"
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
constexpr std::uint32_t kBankMpegPad2 = 0x20;
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

std::string where(int index) { return "subsound " + std::to_string(index) + ": "; }

}  // namespace

BankReadError read_fsb3_fsb4(BankFile& file, std::vector<SubsoundInfo>& subsounds) {
    std::uint8_t head[kFsb4HeaderSize];
    if (!file.read_exact(0, head, kFsb3HeaderSize)) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank header"};
    }
    const bool fsb4 = head[3] == '4';
    const std::uint32_t version = le32(head + 0x10);
    const bool v30 = !fsb4 && version == 0x00030000;
    if (fsb4 ? version != 0x00040000 : (version != 0x00030000 && version != 0x00030001)) {
        return {FMOD_ERR_VERSION, std::string(fsb4 ? "FSB4" : "FSB3") + " version " + std::to_string(version >> 16) +
                        "." + std::to_string(version & 0xFFFF) + " is not one we read"};
    }
    const std::uint32_t header_size = fsb4 ? kFsb4HeaderSize : kFsb3HeaderSize;
    if (fsb4 && !file.read_exact(0, head, kFsb4HeaderSize)) {
        return {FMOD_ERR_FILE_EOF, "the file ends inside the bank header"};
    }
    const std::int32_t count = static_cast<std::int32_t>(le32(head + 4));
    const std::uint64_t headers_bytes = le32(head + 8);
    const std::uint64_t data_bytes = le32(head + 0x0C);
    const std::uint32_t bank_flags = le32(head + 0x14);

    const std::uint64_t headers_start = header_size;
    const std::uint64_t data_start = headers_start + headers_bytes;
    if (data_start + data_bytes > file.size()) {
        return {FMOD_ERR_FILE_EOF, "the bank is truncated: its headers announce " +
                                       std::to_string(data_start + data_bytes) + " bytes, the file has " +
                                       std::to_string(file.size())};
    }
    if (count < 0) return {FMOD_ERR_FILE_BAD, "negative subsound count " + std::to_string(count)};
    if (static_cast<std::uint64_t>(count) * kBasicHeaderSize > headers_bytes) {
        return {FMOD_ERR_FILE_BAD, std::to_string(count) + " subsounds cannot fit in " +
                                       std::to_string(headers_bytes) + " bytes of subsound headers"};
    }

    const std::uint32_t full_size = v30 ? kFullHeaderSize30 : kFullHeaderSize;
    const std::uint64_t headers_end = data_start;
    const std::uint64_t data_end = data_start + data_bytes;
    const bool basic = (bank_flags & kBankBasicHeaders) != 0;

    subsounds.clear();
    subsounds.reserve(static_cast<std::size_t>(count));

    std::uint64_t pos = headers_start;
    std::uint64_t running = data_start;
    std::uint64_t first_extra_size = 0;
    std::uint8_t h[kFullHeaderSize];
    for (int i = 0; i < count; ++i) {
        SubsoundInfo s;
        std::uint64_t entry_size;
        std::uint64_t extra_offset;
        std::uint64_t stored_bytes;
        std::uint32_t flags;
        if (i == 0 || !basic) {
            if (pos + full_size > headers_end || !file.read_exact(pos, h, full_size)) {
                return {FMOD_ERR_FILE_EOF, where(i) + "header runs past the end of the header region"};
            }
            entry_size = le16(h);
            if (entry_size < full_size || pos + entry_size > headers_end) {
                return {FMOD_ERR_FILE_BAD, where(i) + "header size " + std::to_string(entry_size) +
                                               " does not fit the header region"};
            }
            s.name = {pos + 2, kNameBytes};
            s.frames = le32(h + 0x20);
            stored_bytes = le32(h + 0x24);
            s.loop_start = le32(h + 0x28);
            s.loop_end = le32(h + 0x2C);
            flags = le32(h + 0x30);
            const std::int32_t frequency = static_cast<std::int32_t>(le32(h + 0x34));
            s.frequency = frequency > 0 ? static_cast<std::uint32_t>(frequency) : 0;
            s.channels = le16(h + 0x3E);
            if (s.channels == 0) s.channels = (flags & kSubStereo) ? 2 : 1;
            s.codec = codec_from_flags(flags);
            extra_offset = pos + full_size;
            if (i == 0) first_extra_size = entry_size - full_size;
        } else {
            // Basic header: length and size, then the codec's extra data; the
            // rest is the first subsound's.
            entry_size = kBasicHeaderSize + first_extra_size;
            if (pos + entry_size > headers_end || !file.read_exact(pos, h, kBasicHeaderSize)) {
                return {FMOD_ERR_FILE_EOF, where(i) + "header runs past the end of the header region"};
            }
            const SubsoundInfo& first = subsounds.front();
            s = first;
            s.name = {};
            s.frames = le32(h);
            stored_bytes = le32(h + 4);
            s.loop_start = 0;
            s.loop_end = s.frames ? static_cast<std::uint32_t>(s.frames - 1) : 0;
            flags = 0;  // a basic entry cannot be a duplicate
            extra_offset = pos + kBasicHeaderSize;
        }
        s.setup = {extra_offset, pos + entry_size - extra_offset};
        pos += entry_size;

        if ((flags & kSubDuplicate) && !subsounds.empty()) {
            s.data = subsounds.back().data;
        } else {
            if (running + stored_bytes > data_end) {
                return {FMOD_ERR_FILE_EOF, where(i) + "data (" + std::to_string(stored_bytes) +
                                               " bytes at offset " + std::to_string(running) +
                                               ") reaches past the end of the bank's data"};
            }
            s.data = {running, stored_bytes};
            running += stored_bytes;
            if (bank_flags & kBankMpegPad4Align32) {
                running = data_start + ((running - data_start + 31) / 32) * 32;
            }
        }

        s.pcm_big_endian = (bank_flags & kBankPcm16BigEndian) != 0;
        s.pcm8_signed = !(flags & kSubUnsigned);
        if (i > 0 && basic) s.pcm8_signed = subsounds.front().pcm8_signed;
        s.adpcm_interleaved = !(bank_flags & kBankAdpcmNotInterleaved);
        s.mpeg_frame_padding = (bank_flags & kBankMpegPad4Align32) ? 4 : (bank_flags & kBankMpegPad2) ? 2 : 1;
        if (s.codec == Codec::mpeg && s.channels > 2) s.mpeg_frame_padding = 16;
        if (s.channels > 255) s.problem = "more than 255 channels";
        subsounds.push_back(s);
    }
    return {};
}

}  // namespace soundlib
