#include "soundlib/bank/bank_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "soundlib/bank/fsb5_codes.h"
#include "soundlib/bank/fsb5_header.h"
#include "soundlib/bank/loop_rule.h"
#include "soundlib/codec/mpeg/mpeg_encoder.h"
#include "soundlib/codec/pcm/pcm_samples.h"
#include "soundlib/codec/mpeg/mpeg_passthrough.h"
#include "soundlib/codec/vorbis/vorbis_passthrough.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t align32(std::uint64_t v) { return (v + 31) / 32 * 32; }

// ---- the bank's PCM formats -----------------------------------------------

const char* stored_format_text(Codec c) {
    switch (c) {
        case Codec::pcm8: return "8-bit";
        case Codec::pcm16: return "16-bit";
        case Codec::pcm24: return "24-bit";
        case Codec::pcm32: return "32-bit integer";
        default: return "32-bit float";
    }
}


constexpr std::uint32_t kBlockFrames = 4096;

// The distinct channels, rates and set-up CRCs of the bank's Vorbis sounds
// (of its first few thousand, a few dozen at most): what tells its encoder.
std::vector<EncodeTarget::OtherSetup> other_vorbis_setups(Bank& bank) {
    std::vector<EncodeTarget::OtherSetup> out;
    for (int i = 0; i < std::min(bank.count(), 4096) && out.size() < 32; ++i) {
        const SubsoundInfo info = bank.info(i);
        std::uint8_t crc[4];
        if (info.problem || info.codec != Codec::vorbis || info.setup.size < 4 ||
            !bank.file().read_exact(info.setup.offset, crc, 4)) {
            continue;
        }
        const EncodeTarget::OtherSetup s{info.channels, info.frequency, le32(crc)};
        if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
    }
    return out;
}
constexpr std::size_t kCopyBuffer = 1 << 20;

std::string sound_text(Bank& bank, int index) {
    const std::string name = bank.name(index);
    return "sound " + std::to_string(index) + (name.empty() ? "" : " (" + name + ")");
}

// Whether the file decodes to the sound's own samples. A file of whole
// units (MP3 frames) may end up to a unit away from the sound's length: the
// sound ends inside its last frame, or its bank gives it frames of silence
// past the ones it stores (which a file of the stored frames leaves out).
bool holds_own_samples(Bank& bank, int index, const SubsoundInfo& info, ReplacementInput& input) {
    const InputShape& shape = input.shape();
    const std::uint64_t apart = shape.frames > info.frames ? shape.frames - info.frames : info.frames - shape.frames;
    if (shape.channels != info.channels || shape.rate != info.frequency || apart > shape.unit_fill) return false;
    FMOD_RESULT code = FMOD_OK;
    PcmStream* stream = bank.stream(index, code);
    if (!stream || code != FMOD_OK) return false;
    stream->seek(0);
    const std::uint32_t frame_bytes = stream->format().frame_bytes();
    Bytes decoded(static_cast<std::size_t>(kBlockFrames) * frame_bytes);
    std::vector<double> mine, theirs;
    for (std::uint64_t at = 0; at < info.frames;) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockFrames, info.frames - at));
        const auto in_file = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, shape.frames - std::min(at, shape.frames)));
        std::size_t delivered = 0;
        const FMOD_RESULT rr = stream->read(decoded.data(), std::size_t{n} * frame_bytes, delivered);
        if ((rr != FMOD_OK && rr != FMOD_ERR_FILE_EOF) || delivered != std::size_t{n} * frame_bytes) return false;
        if (in_file == 0) {
            theirs.clear();
        } else if (!input.read(in_file, theirs)) {
            return false;
        }
        theirs.resize(std::size_t{n} * shape.channels, 0.0);  // the silence past the file's frames
        pcm_samples_to_double(decoded.data(), std::size_t{n} * shape.channels, stream->format().bits,
                              stream->format().format == FMOD_SOUND_FORMAT_PCMFLOAT, mine);
        if (mine != theirs) return false;
        at += n;
    }
    return true;
}

// ---- the output ----------------------------------------------------------

// One stretch of the output: bytes of the input copied, bytes made here, or
// a replaced sound's samples; encrypted when its bank is.
struct Piece {
    enum Kind { copy, literal, samples } kind = copy;
    std::uint64_t src = 0;
    std::uint64_t size = 0;  // copy: bytes; samples: bytes of samples, then `pad` zeros
    Bytes bytes;
    int sound = -1;
    std::uint64_t pad = 0;
    const BankCipher* cipher = nullptr;
    std::uint64_t cipher_origin = 0;  // where key position 0 falls in the output
};

std::uint64_t piece_size(const Piece& p) {
    switch (p.kind) {
        case Piece::copy: return p.size;
        case Piece::literal: return p.bytes.size();
        case Piece::samples: return p.size + p.pad;
    }
    return 0;
}

}  // namespace

bool BankRebuild::check(Bank& bank, std::string& why) {
    if (bank.scanned()) {
        why = "its banks were found by scanning inside another file; such a file cannot be rebuilt";
        return false;
    }
    std::uint8_t magic[4] = {};
    bank.file().read_exact(0, magic, 4);
    const bool riff = std::memcmp(magic, "RIFF", 4) == 0;
    if (!riff && bank.parts().size() > 1) {
        why = "it holds banks back to back (a Unity resource file); rebuilding those is not built";
        return false;
    }
    if (bank.parts().empty()) {
        why = "it holds no bank to rebuild";
        return false;
    }
    // A RIFF file shorter than its header says: its chunks may run past the
    // cut, which only the cut excuses, so the file cannot be written whole.
    std::uint8_t riff_size[4] = {};
    if (riff && (!bank.file().read_exact(4, riff_size, 4) ||
                 8 + std::uint64_t{le32(riff_size)} > bank.file().size())) {
        why = "it is truncated: a truncated bank cannot be rebuilt";
        return false;
    }
    for (const BankPart& part : bank.parts()) {
        if (part.end > part.limit || part.end > bank.file().size()) {
            why = "it is truncated: a truncated bank cannot be rebuilt";
            return false;
        }
    }
    return true;
}

bool BankRebuild::plan(Bank& bank, const std::map<int, std::pair<std::string, std::string>>& files,
                       std::vector<std::string>& errors) {
    bank_ = &bank;
    decisions_.clear();
    replacements_.clear();
    std::string why;
    if (!check(bank, why)) {
        errors.push_back(why);
        return false;
    }
    std::vector<double> theirs;
    Bytes scratch;
    std::vector<EncodeTarget::OtherSetup> vorbis_setups;  // read at the first Vorbis sound replaced
    bool vorbis_setups_read = false;
    for (int index = 0; index < bank.count(); ++index) {
        SoundDecision d;
        d.index = index;
        const auto given = files.find(index);
        if (given == files.end()) {
            decisions_.push_back(d);
            continue;
        }
        d.file = given->second.second;
        const std::string where = d.file + ": ";
        Replacement r;
        r.shown = given->second.second;
        r.input = open_replacement(given->second.first, why);
        if (!r.input) {
            errors.push_back(where + why);
            decisions_.push_back(d);
            continue;
        }
        r.shape = r.input->shape();
        r.info = bank.info(index);
        const InputShape& wav = r.shape;
        // The same samples as the sound's own: the sound stays as stored.
        const bool same = !r.info.problem && holds_own_samples(bank, index, r.info, *r.input);
        if (same) {
            decisions_.push_back(d);
            continue;
        }
        const BankPart& part = bank.parts()[static_cast<std::size_t>(
            std::upper_bound(bank.parts().begin(), bank.parts().end(), static_cast<std::uint32_t>(index),
                             [](std::uint32_t i, const BankPart& p) { return i < p.first_index; }) -
            bank.parts().begin() - 1)];
        const std::uint32_t in_part = static_cast<std::uint32_t>(index) - part.first_index;
        const bool basic = part.family != BankFamily::fsb5 && in_part > 0 && (part.flags & 0x02);
        // A new sound, in the sound's own codec: one this bank's header can hold.
        EncodeTarget target;
        target.codec = r.info.codec;
        target.channels = wav.channels;
        target.frames = wav.frames;
        target.pcm_big_endian = r.info.pcm_big_endian;
        target.pcm8_signed = r.info.pcm8_signed;
        target.adpcm_interleaved = r.info.adpcm_interleaved;
        target.whole_multiple = part.family == BankFamily::fsb5 ? 32 : 1;
        target.rate = wav.rate;
        target.old_channels = r.info.channels;
        target.old_rate = r.info.frequency;
        target.old_setup.resize(static_cast<std::size_t>(std::min<std::uint64_t>(r.info.setup.size, 4)));
        bank.file().read_exact(r.info.setup.offset, target.old_setup.data(), target.old_setup.size());
        if (r.info.codec == Codec::vorbis) {
            if (!vorbis_setups_read) vorbis_setups = other_vorbis_setups(bank);
            vorbis_setups_read = true;
            target.bank_setups = vorbis_setups;
        }
        const bool described = r.info.codec != Codec::mpeg || describe_mpeg_sound(r.info, bank.file(), target, why);
        // Across two channels the padding changes: the family's, or 16.
        if (r.info.codec == Codec::mpeg && (wav.channels > 2) != (r.info.channels > 2)) {
            target.mpeg_padding = mpeg_frame_padding(part, wav.channels);
        }
        // An .mp3 or .ogg the sound's codec stores as it is goes in so.
        std::string not_copied;
        if (described && r.info.codec == Codec::mpeg && wav.format == InputFormat::mp3) {
            r.encoder = make_mpeg_passthrough(given->second.first, target, not_copied);
        } else if (r.info.codec == Codec::vorbis && wav.format == InputFormat::ogg) {
            r.encoder = make_vorbis_passthrough(given->second.first, target, not_copied);
        }
        if (described && !r.encoder) r.encoder = make_sound_encoder(target, why);
        if (!r.encoder) {
            errors.push_back(where + "it would replace " + sound_text(bank, index) + ", a " +
                             codec_name(r.info.codec) + " sound: " + why);
            decisions_.push_back(d);
            continue;
        }
        std::string refused;
        if (wav.channels > 255) {
            refused = std::to_string(wav.channels) + " channels; a bank's sound holds at most 255";
        } else if (basic && (wav.channels != r.info.channels || wav.rate != r.info.frequency)) {
            refused = std::to_string(wav.channels) + " channels at " + std::to_string(wav.rate) +
                      " Hz, but this bank gives every sound the rate and channels of its first: " +
                      std::to_string(r.info.channels) + " channels at " + std::to_string(r.info.frequency) +
                      " Hz would fit";
        } else if (part.family != BankFamily::fsb5 && in_part == 0 && (part.flags & 0x02) && part.count > 1 &&
                   (wav.channels != r.info.channels || wav.rate != r.info.frequency)) {
            refused = std::to_string(wav.channels) + " channels at " + std::to_string(wav.rate) +
                      " Hz, but the other sounds of this bank take their rate and channels from this one: " +
                      std::to_string(r.info.channels) + " channels at " + std::to_string(r.info.frequency) +
                      " Hz would fit";
        } else if (part.family != BankFamily::fsb5 && wav.rate > 0x7FFFFFFF) {
            refused = "a rate of " + std::to_string(wav.rate) + " Hz, more than the bank's header holds";
        } else if (basic && wav.has_loop) {
            refused = "a loop, which this bank's short headers cannot hold";
        } else if (part.family == BankFamily::fsb5 && wav.frames >= (std::uint64_t{1} << 30)) {
            refused = "more frames than the bank's header holds";
        } else if (r.encoder->stored_bytes() > 0xFFFFFFF0u) {
            refused = "more than 4 GiB of samples";
        } else if (part.family != BankFamily::fsb5 && r.info.setup.size < r.encoder->setup().size()) {
            // FSB3 and FSB4 keep the set-up in the header, whose size stays.
            refused = std::to_string(wav.channels) + " channels, but the header of " + sound_text(bank, index) +
                      " holds the codec set-up of " + std::to_string(r.info.channels) + ": " +
                      std::to_string(r.info.channels) + " channels would fit";
        }
        if (refused.empty() && part.family != BankFamily::fsb5) {
            // A duplicate shares the data of the sound before it.
            const auto& recs = bank.records();
            const auto idx = static_cast<std::size_t>(index);
            const bool shares = (idx > 0 && recs[idx - 1].data == recs[idx].data && recs[idx].size != 0 &&
                                 in_part > 0) ||
                                (idx + 1 < recs.size() && in_part + 1 < part.count &&
                                 recs[idx + 1].data == recs[idx].data && recs[idx].size != 0);
            if (shares) refused = "the sound shares its data with another (a duplicate); replacing it is not built";
        }
        if (!refused.empty()) {
            errors.push_back(where + "it has " + refused + " (" + sound_text(bank, index) + ")");
            decisions_.push_back(d);
            continue;
        }
        // A lossless codec must store every sample exactly.
        bool exact = true;
        std::uint64_t bad = 0;
        if (r.encoder->exact() && !r.input->rewind()) {
            errors.push_back(where + "its samples cannot be read again from its start");
            decisions_.push_back(d);
            continue;
        }
        for (std::uint64_t at = 0; r.encoder->exact() && exact && at < wav.frames; at += kBlockFrames) {
            const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockFrames, wav.frames - at));
            if (!r.input->read(n, theirs)) {
                errors.push_back(where + "its samples cannot be read");
                exact = false;
                bad = ~std::uint64_t{0};
                break;
            }
            std::uint32_t bad_frame = 0;
            scratch.clear();
            if (!r.encoder->encode(theirs.data(), n, scratch, bad_frame)) {
                exact = false;
                bad = at + bad_frame;
            }
        }
        if (!exact) {
            if (bad != ~std::uint64_t{0}) {
                errors.push_back(where + "its " + input_format_text(wav) + " samples do not all fit the " +
                                 stored_format_text(r.info.codec) + " samples " + sound_text(bank, index) +
                                 " is stored in (frame " + std::to_string(bad) +
                                 " is the first that does not); convert it to " + stored_format_text(r.info.codec) +
                                 " first");
            }
            decisions_.push_back(d);
            continue;
        }
        // Loop: the file's own, else the old one when it still fits, else none.
        if (wav.has_loop) {
            r.loops = true;
            r.loop_start = wav.loop_start + r.encoder->lead();
            r.loop_end = wav.loop_end + r.encoder->lead();
        } else if (r.info.loops && r.info.loop_end < std::min(wav.frames, r.encoder->stored_frames(wav.frames))) {
            r.loops = true;
            r.loop_start = r.info.loop_start;
            r.loop_end = r.info.loop_end;
        }
        if (r.loops && part.family == BankFamily::fsb5) {
            SubsoundInfo check;
            check.frames = wav.frames + r.encoder->lead();
            check.loop_start = r.loop_start;
            check.loop_end = r.loop_end;
            if (!fsb5_sound_loops(check, true)) {
                errors.push_back(where + "its loop (" + std::to_string(r.loop_start) + " to " +
                                 std::to_string(r.loop_end) + ") covers the whole sound, or all but its last " +
                                 "1,152 frames at most, which an FSB5 bank takes as no loop (" +
                                 sound_text(bank, index) + ")");
                decisions_.push_back(d);
                continue;
            }
        }
        if (r.loops) r.encoder->loop_from(r.loop_start);
        d.replaced = true;
        if (const char* units = r.encoder->copies()) d.copied = units;
        if (d.copied.empty()) d.not_copied = not_copied;
        decisions_.push_back(d);
        r.path = given->second.first;
        r.input.reset();
        if (part.family == BankFamily::fsb5) {
            fsb5::SampleHeader h;
            const Bytes* peak = nullptr;
            if (fsb5::read_sample_header(bank.file(), part.headers_start + bank.records()[static_cast<std::size_t>(index)].header,
                                         part.names_start, h)) {
                peak = fsb5::find_chunk(h, fsb5::kChunkPeak);
            }
            r.measure_peak = peak && peak->size() >= 4;
        }
        replacements_.emplace(index, std::move(r));
    }
    return errors.empty();
}

namespace {

// Lays out one FSB bank of the file: its rebuilt header regions, then its
// data, as pieces. `out_start` is where the bank begins in the output.
struct PartLayout {
    std::vector<Piece> pieces;
    std::uint64_t size = 0;
};

}  // namespace

bool BankRebuild::reopen(Replacement& r, std::string& error) {
    std::string why;
    r.input = open_replacement(r.path, why);
    if (!r.input) {
        error = r.shown + ": " + why;
        return false;
    }
    if (!(r.input->shape() == r.shape)) {
        r.input.reset();
        error = r.shown + ": it changed while the bank was rebuilt";
        return false;
    }
    return true;
}

bool BankRebuild::write(ByteSink& out, std::string& error) {
    Bank& bank = *bank_;
    // Encoders that fit their set-up to the samples see them all first: a
    // pass over the file, as the header with the set-up comes before the data.
    // The same pass measures the peak a header keeps.
    std::vector<double> samples;
    for (auto& [index, r] : replacements_) {
        if (!r.encoder->surveys() && !r.measure_peak) continue;
        for (std::uint32_t pass = 0; pass < std::max<std::uint32_t>(1, r.encoder->survey_passes()); ++pass) {
            if (!reopen(r, error)) return false;
            for (std::uint64_t at = 0; at < r.shape.frames; at += kBlockFrames) {
                const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockFrames, r.shape.frames - at));
                if (!r.input->read(n, samples)) {
                    error = r.shown + ": its samples cannot be read again";
                    return false;
                }
                if (pass == 0) {
                    for (const double x : samples) r.peak = std::max(r.peak, std::abs(x));
                }
                if (r.encoder->surveys()) r.encoder->survey(samples.data(), n);
            }
            if (r.encoder->surveys()) r.encoder->end_survey();
            r.input.reset();
        }
    }
    BankFile& file = bank.file();
    const auto& records = bank.records();
    std::vector<Piece> pieces;
    std::uint64_t out_pos = 0;
    auto add = [&](Piece p) {
        out_pos += piece_size(p);
        pieces.push_back(std::move(p));
    };
    auto copy = [&](std::uint64_t from, std::uint64_t to, const BankCipher* cipher, std::uint64_t origin) {
        if (to <= from) return;
        // Runs of sounds kept as stored are one piece: one copy, not one per sound.
        if (!pieces.empty() && pieces.back().kind == Piece::copy && pieces.back().src + pieces.back().size == from &&
            pieces.back().cipher == cipher && pieces.back().cipher_origin == origin) {
            pieces.back().size += to - from;
            out_pos += to - from;
            return;
        }
        Piece p;
        p.kind = Piece::copy;
        p.src = from;
        p.size = to - from;
        p.cipher = cipher;
        p.cipher_origin = origin;
        add(std::move(p));
    };
    auto literal = [&](Bytes bytes, const BankCipher* cipher, std::uint64_t origin) {
        Piece p;
        p.kind = Piece::literal;
        p.bytes = std::move(bytes);
        p.cipher = cipher;
        p.cipher_origin = origin;
        add(std::move(p));
    };

    // One part: header regions rebuilt in memory, data as pieces.
    auto lay_out_part = [&](const BankPart& part) -> bool {
        const BankCipher* cipher = file.cipher_at(part.start);
        const std::uint64_t origin = out_pos + (cipher ? cipher->origin() - part.start : 0);
        const std::uint64_t first = part.first_index;
        auto replaced = [&](std::uint32_t i) -> Replacement* {
            const auto it = replacements_.find(static_cast<int>(first + i));
            return it == replacements_.end() ? nullptr : &it->second;
        };
        const std::uint64_t old_data_bytes = part.data_end - part.data_start;
        // A duplicate shares the data of the sound before it; a sound after
        // one with no data starts where that one does, but shares nothing.
        auto duplicate_of_previous = [&](std::uint32_t i) {
            return i > 0 && records[first + i - 1].data == records[first + i].data && records[first + i - 1].size != 0;
        };
        // New data slots, in order.
        std::vector<std::uint64_t> slot(part.count), sample_bytes(part.count, 0), pad(part.count, 0);
        for (std::uint32_t i = 0; i < part.count; ++i) {
            const SubsoundRecord& rec = records[first + i];
            if (Replacement* r = replaced(i)) {
                sample_bytes[i] = r->encoder->stored_bytes();
                const bool last = i + 1 == part.count;
                const bool aligned = part.family == BankFamily::fsb5 || (part.flags & 0x40);
                if (aligned && (!last || old_data_bytes % 32 == 0)) pad[i] = align32(sample_bytes[i]) - sample_bytes[i];
                slot[i] = sample_bytes[i] + pad[i];
            } else if (part.family == BankFamily::fsb5) {
                slot[i] = rec.size;
            } else {
                // Up to the next sound's data (or the end of the data region).
                std::uint64_t next = old_data_bytes;
                for (std::uint32_t j = i + 1; j < part.count; ++j) {
                    if (records[first + j].data > rec.data) {
                        next = records[first + j].data;
                        break;
                    }
                }
                slot[i] = duplicate_of_previous(i) ? 0 : next - rec.data;
            }
        }
        std::uint64_t new_data_bytes = 0;
        std::vector<std::uint64_t> new_offset(part.count);
        for (std::uint32_t i = 0; i < part.count; ++i) {
            const bool shared = part.family != BankFamily::fsb5 && duplicate_of_previous(i) && !replaced(i);
            new_offset[i] = shared ? new_offset[i - 1] : new_data_bytes;
            new_data_bytes += slot[i];
        }
        if (new_data_bytes > 0xFFFFFFFFu) {
            error = "the rebuilt bank's data would pass 4 GiB";
            return false;
        }

        Bytes head(static_cast<std::size_t>(part.data_start - part.start));
        if (!file.read_exact(part.start, head.data(), head.size())) {
            error = "the bank's headers cannot be read again";
            return false;
        }
        const std::uint64_t hs = part.headers_start - part.start;
        if (part.family == BankFamily::fsb5) {
            // Sample headers one by one; the name table as it is.
            Bytes headers;
            const std::uint64_t headers_end = part.names_start;
            for (std::uint32_t i = 0; i < part.count; ++i) {
                const std::uint64_t at = part.headers_start + records[first + i].header;
                const std::uint64_t next =
                    i + 1 < part.count ? part.headers_start + records[first + i + 1].header : headers_end;
                fsb5::SampleHeader h;
                if (!fsb5::read_sample_header(file, at, headers_end, h)) {
                    error = sound_text(bank, static_cast<int>(first + i)) + ": its header cannot be read again";
                    return false;
                }
                if (new_offset[i] % 32 != 0 || new_offset[i] / 32 > fsb5::kOffsetMask) {
                    error = "the rebuilt bank's data offsets do not fit its headers";
                    return false;
                }
                Replacement* r = replaced(i);
                if (!r) {
                    // As stored, with its data offset moved.
                    Bytes raw(static_cast<std::size_t>(next - at));
                    file.read_exact(at, raw.data(), raw.size());
                    std::uint64_t word = le64(raw.data());
                    word = fsb5::with_field(word, fsb5::kOffsetShift, fsb5::kOffsetMask, new_offset[i] / 32);
                    put64(raw.data(), word);
                    headers.insert(headers.end(), raw.begin(), raw.end());
                    continue;
                }
                const InputShape& wav = r->shape;
                const std::uint64_t frames = r->encoder->stored_frames(wav.frames);
                std::uint64_t word = h.word;
                word = (word & ((std::uint64_t{1} << fsb5::kFramesShift) - 1)) | (frames << fsb5::kFramesShift);
                word = fsb5::with_field(word, fsb5::kOffsetShift, fsb5::kOffsetMask, new_offset[i] / 32);
                // Rate and channels: the code when it can say them and no chunk does.
                const auto set_code_or_chunk = [&](std::uint32_t type, std::uint32_t value, const std::uint32_t* table,
                                                   std::size_t table_size, int shift, std::uint64_t mask,
                                                   std::size_t payload_bytes) {
                    if (Bytes* c = fsb5::find_chunk(h, type)) {
                        // One too short to say a value (readers pass it over) is made to.
                        if (c->size() < payload_bytes) c->resize(payload_bytes, 0);
                        if (payload_bytes == 1) {
                            (*c)[0] = static_cast<std::uint8_t>(value);
                        } else {
                            put32(c->data(), value);
                        }
                        return;
                    }
                    for (std::size_t k = 0; k < table_size; ++k) {
                        if (table[k] == value) {
                            word = fsb5::with_field(word, shift, mask, k);
                            return;
                        }
                    }
                    Bytes payload(payload_bytes);
                    if (payload_bytes == 1) {
                        payload[0] = static_cast<std::uint8_t>(value);
                    } else {
                        put32(payload.data(), value);
                    }
                    h.chunks.emplace_back(type, std::move(payload));
                };
                set_code_or_chunk(fsb5::kChunkChannels, wav.channels, fsb5::kChannelCounts,
                                  std::size(fsb5::kChannelCounts), fsb5::kChannelShift, fsb5::kChannelMask, 1);
                set_code_or_chunk(fsb5::kChunkFrequency, wav.rate, fsb5::kFrequencies, std::size(fsb5::kFrequencies),
                                  fsb5::kFrequencyShift, fsb5::kFrequencyMask, 4);
                const Bytes setup = r->encoder->setup();
                if (!setup.empty()) {
                    if (Bytes* c = fsb5::find_chunk(h, r->encoder->setup_chunk())) {
                        *c = setup;
                    } else {
                        h.chunks.emplace_back(r->encoder->setup_chunk(), setup);
                    }
                }
                if (Bytes* peak = fsb5::find_chunk(h, fsb5::kChunkPeak); peak && r->measure_peak) {
                    const float value = static_cast<float>(r->peak);
                    std::uint32_t bits;
                    std::memcpy(&bits, &value, 4);
                    put32(peak->data(), bits);
                }
                Bytes* loop = fsb5::find_chunk(h, fsb5::kChunkLoop);
                if (r->loops || loop) {
                    Bytes payload(8);
                    put32(payload.data(), r->loops ? r->loop_start : 0);
                    put32(payload.data() + 4,
                          r->loops ? r->loop_end : static_cast<std::uint32_t>(frames ? frames - 1 : 0));
                    if (loop && loop->size() >= 8) {
                        std::copy(payload.begin(), payload.end(), loop->begin());
                    } else if (!loop) {
                        h.chunks.emplace_back(fsb5::kChunkLoop, std::move(payload));
                    }
                }
                h.word = word;
                Bytes made = fsb5::serialize(h);
                headers.insert(headers.end(), made.begin(), made.end());
                // What followed its chunks (padding) stays.
                const std::uint64_t tail_from = at + h.bytes;
                if (next > tail_from) {
                    Bytes tail(static_cast<std::size_t>(next - tail_from));
                    file.read_exact(tail_from, tail.data(), tail.size());
                    headers.insert(headers.end(), tail.begin(), tail.end());
                }
            }
            const std::uint64_t old_headers_bytes = part.names_start - part.headers_start;
            // Keep the data region where the authoring tool puts it, on a
            // multiple of 32 from the bank's start, when it was there.
            const std::uint64_t old_data_at = part.data_start - part.start;
            std::uint64_t new_data_at = hs + headers.size() + part.names_bytes;
            if (old_data_at % 32 == 0 && new_data_at % 32 != 0 && headers.size() != old_headers_bytes) {
                headers.resize(headers.size() + static_cast<std::size_t>(align32(new_data_at) - new_data_at), 0);
            }
            Bytes names(head.begin() + static_cast<std::ptrdiff_t>(part.names_start - part.start), head.end());
            head.resize(static_cast<std::size_t>(hs));
            head.insert(head.end(), headers.begin(), headers.end());
            head.insert(head.end(), names.begin(), names.end());
            if (headers.size() > 0xFFFFFFFFu) {
                error = "the rebuilt headers would pass 4 GiB";
                return false;
            }
            put32(head.data() + 0x0C, static_cast<std::uint32_t>(headers.size()));
            put32(head.data() + 0x14, static_cast<std::uint32_t>(new_data_bytes));
        } else {
            put32(head.data() + 0x0C, static_cast<std::uint32_t>(new_data_bytes));
            for (std::uint32_t i = 0; i < part.count; ++i) {
                Replacement* r = replaced(i);
                if (!r) continue;
                std::uint8_t* h = head.data() + hs + records[first + i].header;
                const InputShape& wav = r->shape;
                const auto frames = static_cast<std::uint32_t>(r->encoder->stored_frames(wav.frames));
                const bool basic = i > 0 && (part.flags & 0x02);
                const auto stored = static_cast<std::uint32_t>(sample_bytes[i]);
                // The set-up in the header's extra data, which the plan saw is large enough.
                const Bytes setup = r->encoder->setup();
                const std::uint64_t setup_at = r->info.setup.offset - (part.headers_start + records[first + i].header);
                std::copy(setup.begin(), setup.end(), h + setup_at);
                if (basic) {
                    put32(h, frames);
                    put32(h + 4, stored);
                    continue;
                }
                put32(h + 0x20, frames);
                put32(h + 0x24, stored);
                std::uint32_t flags = le32(h + 0x30) & ~0x07u;
                flags |= r->loops ? 0x02u : 0x01u;
                if (flags & 0x60) flags = (flags & ~0x60u) | (wav.channels == 1 ? 0x20u : wav.channels == 2 ? 0x40u : 0u);
                put32(h + 0x28, r->loops ? r->loop_start : 0);
                put32(h + 0x2C, r->loops ? r->loop_end : (frames ? frames - 1 : 0));
                put32(h + 0x30, flags);
                put32(h + 0x34, wav.rate);
                put16(h + 0x3E, wav.channels);
            }
        }
        literal(std::move(head), cipher, origin);
        for (std::uint32_t i = 0; i < part.count; ++i) {
            if (slot[i] == 0) continue;
            if (replaced(i)) {
                Piece p;
                p.kind = Piece::samples;
                p.sound = static_cast<int>(first + i);
                p.size = sample_bytes[i];
                p.pad = pad[i];
                p.cipher = cipher;
                p.cipher_origin = origin;
                add(std::move(p));
            } else {
                const std::uint64_t from = part.data_start + records[first + i].data;
                copy(from, from + slot[i], cipher, origin);
            }
        }
        return true;
    };

    const std::uint64_t size = file.size();
    std::uint8_t magic[4] = {};
    file.read_exact(0, magic, 4);
    const auto& parts = bank.parts();
    if (std::memcmp(magic, "RIFF", 4) != 0) {
        const BankPart& part = parts.front();
        copy(0, part.start, nullptr, 0);
        if (!lay_out_part(part)) return false;
        const BankCipher* cipher = file.cipher_at(part.end);
        copy(part.end, size, cipher, cipher ? 0 : 0);
    } else {
        std::uint8_t head[12];
        file.read_exact(0, head, 12);
        const std::uint64_t riff_end = std::min<std::uint64_t>(8 + std::uint64_t{le32(head + 4)}, size);
        literal(Bytes(head, head + 12), nullptr, 0);
        const std::size_t riff_piece = 0;
        std::size_t next_part = 0;
        for (std::uint64_t pos = 12; pos + 8 <= riff_end;) {
            std::uint8_t ch[8];
            file.read_exact(pos, ch, 8);
            const std::uint64_t chunk_size = le32(ch + 4);
            const std::uint64_t data = pos + 8;
            const std::uint64_t end = std::min(data + chunk_size, riff_end);
            const std::uint64_t padded = std::min(end + (chunk_size & 1), riff_end);
            const bool holds_part = next_part < parts.size() && parts[next_part].start >= data &&
                                    parts[next_part].start < end;
            if (!holds_part) {
                if (next_part < parts.size() && parts[next_part].start < padded) {
                    error = "its bank lies inside a \"" + std::string(reinterpret_cast<char*>(ch), 4) +
                            "\" chunk, not a top-level \"SND \" one; rebuilding that is not built";
                    return false;
                }
                copy(pos, padded, nullptr, 0);
                pos = padded;
                continue;
            }
            if (std::memcmp(ch, "SND ", 4) != 0) {
                error = "its bank lies inside a chunk other than \"SND \"; rebuilding that is not built";
                return false;
            }
            const std::size_t header_piece = pieces.size();
            literal(Bytes(ch, ch + 8), nullptr, 0);
            const std::uint64_t chunk_out = out_pos;
            std::uint64_t at = data;
            bool first_part = true;
            while (next_part < parts.size() && parts[next_part].start < end) {
                const BankPart& part = parts[next_part];
                if (first_part && part.start == align32(data)) {
                    // The bank on a multiple of 32 from the start of the file.
                    literal(Bytes(static_cast<std::size_t>(align32(out_pos) - out_pos), 0), nullptr, 0);
                } else {
                    copy(at, part.start, nullptr, 0);
                }
                first_part = false;
                if (!lay_out_part(part)) return false;
                at = part.end;
                ++next_part;
            }
            copy(at, end, nullptr, 0);
            const std::uint64_t new_chunk_size = out_pos - chunk_out;
            if (new_chunk_size > 0xFFFFFFFFu) {
                error = "the rebuilt \"SND \" chunk would pass 4 GiB";
                return false;
            }
            put32(pieces[header_piece].bytes.data() + 4, static_cast<std::uint32_t>(new_chunk_size));
            if (new_chunk_size & 1) literal(Bytes(1, 0), nullptr, 0);
            pos = padded;
        }
        if (out_pos - 8 > 0xFFFFFFFFu) {
            error = "the rebuilt file would pass 4 GiB";
            return false;
        }
        put32(pieces[riff_piece].bytes.data() + 4, static_cast<std::uint32_t>(out_pos - 8));
        copy(riff_end, size, nullptr, 0);
    }

    // Out it goes, through one buffer.
    Bytes buffer(kCopyBuffer);
    std::uint64_t written = 0;
    bool system_copy_unsupported = false;
    auto emit = [&](std::uint8_t* p, std::size_t n, const Piece& piece) -> bool {
        if (piece.cipher) {
            BankCipher::encrypt(p, n, piece.cipher->key(), piece.cipher->reverses_bits(), written - piece.cipher_origin);
        }
        if (!out.write(p, n)) {
            error = "the rebuilt bank cannot be written";
            return false;
        }
        written += n;
        return true;
    };
    for (Piece& piece : pieces) {
        if (piece.kind == Piece::literal) {
            if (!emit(piece.bytes.data(), piece.bytes.size(), piece)) return false;
        } else if (piece.kind == Piece::copy) {
            // Stored bytes of a bank read without a key go as they are: the
            // system copies them where it can, the way cp does.
            if (!file.encrypted() && file.native_handle() != BankFile::kClosed && !system_copy_unsupported) {
                bool unsupported = false;
                if (out.copy(file, piece.src, piece.size, unsupported)) {
                    written += piece.size;
                    continue;
                }
                if (!unsupported) {
                    error = "the rebuilt bank cannot be written";
                    return false;
                }
                system_copy_unsupported = true;
            }
            for (std::uint64_t at = 0; at < piece.size;) {
                const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), piece.size - at));
                if (!file.read_exact(piece.src + at, buffer.data(), n)) {
                    error = "the bank cannot be read again at offset " + std::to_string(piece.src + at);
                    return false;
                }
                if (!emit(buffer.data(), n, piece)) return false;
                at += n;
            }
        } else {
            Replacement& r = replacements_.at(piece.sound);
            if (!reopen(r, error)) return false;
            SoundEncoder& encoder = *r.encoder;
            Bytes block;
            std::uint64_t made = 0;
            auto put = [&]() {
                if (made + block.size() > piece.size) {
                    error = r.shown + ": its encoding came out longer than planned";
                    return false;
                }
                made += block.size();
                return block.empty() || emit(block.data(), block.size(), piece);
            };
            for (std::uint32_t pass = 0; pass < encoder.passes(); ++pass) {
                encoder.begin_pass(pass);
                if (!r.input->rewind()) {
                    error = r.shown + ": its samples cannot be read again";
                    return false;
                }
                for (std::uint64_t at = 0; at < r.shape.frames; at += kBlockFrames) {
                    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBlockFrames, r.shape.frames - at));
                    // An encoder that copies the file's units needs only the count.
                    if (encoder.copies()) {
                        samples.assign(std::size_t{n} * r.shape.channels, 0.0);
                    } else if (!r.input->read(n, samples)) {
                        error = r.shown + ": its samples cannot be read again";
                        return false;
                    }
                    block.clear();
                    std::uint32_t bad_frame = 0;
                    if (!encoder.encode(samples.data(), n, block, bad_frame)) {
                        error = r.shown + ": it changed while the bank was rebuilt";
                        return false;
                    }
                    if (!put()) return false;
                }
                block.clear();
                encoder.end_pass(block);
                if (!put()) return false;
            }
            if (made != piece.size) {
                error = r.shown + ": its encoding came out shorter than planned";
                return false;
            }
            r.input.reset();
            Bytes zeros(static_cast<std::size_t>(piece.pad), 0);
            if (!zeros.empty() && !emit(zeros.data(), zeros.size(), piece)) return false;
        }
    }
    return true;
}

}  // namespace soundlib
