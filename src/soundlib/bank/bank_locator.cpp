#include "soundlib/bank/bank_locator.h"

#include <algorithm>
#include <cstring>

#include "soundlib/bank/bank_probe.h"
#include "soundlib/bank/bank_scan.h"
#include "soundlib/io/bytes.h"

namespace soundlib {

namespace {

// The smallest main header of any family: shorter files cannot be a bank,
// encrypted or not.
constexpr std::uint64_t kSmallestBank = 0x18;

std::string at(std::uint64_t offset) { return "offset " + std::to_string(offset); }

std::string bytes_text(std::uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The first byte at or after `from` (and before `end`) that is not zero;
// `end` when there is none. Padding of any length costs one pass.
std::uint64_t skip_zeros(BankFile& file, std::uint64_t from, std::uint64_t end) {
    std::uint8_t buffer[16384];
    for (std::uint64_t pos = from; pos < end;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, end - pos));
        const std::size_t got = file.read_at(pos, buffer, want);
        if (got == 0) return pos;
        for (std::size_t i = 0; i < got; ++i) {
            if (buffer[i] != 0) return pos + i;
        }
        pos += got;
    }
    return end;
}

// Said of an encrypted-looking bank when keys were tried; never the keys.
std::string no_key_fits(std::size_t n) {
    return n == 1 ? "the key given does not fit" : "none of the " + std::to_string(n) + " keys given fits";
}

bool magic_at(BankFile& file, std::uint64_t offset, std::uint64_t end) {
    std::uint8_t magic[4];
    return offset + 4 <= end && file.read_exact(offset, magic, 4) && is_bank_magic(magic);
}

// Reads the banks that follow each other from `start` up to `end`: each one
// ends where its own header says, and the next begins there (after zero
// padding, if any). What is left that is not padding is noted.
class SequenceReader {
public:
    SequenceReader(BankFile& file, std::vector<BankPart>& parts, NoteLog& log)
        : file_(file), parts_(parts), log_(log) {}

    // Reads the bank at `start` and the ones after it. `limit` bounds them
    // (a chunk's end or the file's); `where` names the place in messages.
    BankReadError read(std::uint64_t start, std::uint64_t limit, const std::string& where) {
        for (std::uint64_t pos = start;;) {
            BankPart part;
            BankReadError error = read_part_header(file_, pos, limit, part);
            if (error.code != FMOD_OK) {
                if (parts_.empty()) return error;
                log_.add("damaged banks", {"the bank at " + at(pos) + " is damaged (" + error.detail +
                                               "); the file is read up to it",
                                           true});
                return {};
            }
            parts_.push_back(part);
            if (part.end > limit) {
                log_.add("truncated banks",
                         {"the bank at " + at(pos) + " announces " + bytes_text(part.end - pos) + ", but " + where +
                              " ends after " + bytes_text(limit - pos) +
                              ": it is truncated, and sounds past the cut are lost",
                          true});
                return {};
            }
            if (part.end == limit) return {};
            const std::uint64_t next = skip_zeros(file_, part.end, limit);
            if (next == limit) return {};
            if (magic_at(file_, next, limit)) {
                pos = next;
                continue;
            }
            log_.add("stretches of unread bytes after banks",
                     {bytes_text(limit - part.end) + " at " + at(part.end) + " after the last bank of " + where +
                      " are neither padding nor another bank; they are not read"});
            return {};
        }
    }

private:
    BankFile& file_;
    std::vector<BankPart>& parts_;
    NoteLog& log_;
};

// The chunks of a RIFF "FEV " file, in file order. LIST chunks nest to any
// depth: the walk keeps the end of each open list on a stack of its own.
BankReadError read_fev(BankFile& file, std::vector<BankPart>& parts, NoteLog& log, std::vector<BankNote>& notes,
                       const OpenOptions& options, OpenReport& report) {
    std::uint8_t head[12];
    if (!file.read_exact(0, head, 12)) return {FMOD_ERR_FILE_EOF, "the file ends inside its RIFF header"};
    if (std::memcmp(head + 8, "FEV ", 4) != 0) {
        return {FMOD_ERR_FORMAT, "a RIFF file of form \"" + std::string(reinterpret_cast<char*>(head + 8), 4) +
                                     "\", not a bank"};
    }
    const std::uint64_t riff_end = 8 + static_cast<std::uint64_t>(le32(head + 4));
    const std::uint64_t size = file.size();
    const std::uint64_t end = std::min(riff_end, size);
    SequenceReader sequence(file, parts, log);
    bool sound_chunk = false;
    bool unreadable_sound = false;
    BankReadError first_error;
    std::string broken;

    std::vector<std::uint64_t> list_ends{end};
    std::uint64_t pos = 12;
    while (!list_ends.empty()) {
        if (pos + 8 > list_ends.back()) {
            pos = list_ends.back();
            list_ends.pop_back();
            if (!list_ends.empty()) pos += pos & 1;  // the pad byte after an odd list
            continue;
        }
        std::uint8_t ch[12];
        if (!file.read_exact(pos, ch, 8)) break;
        const std::uint64_t chunk_size = le32(ch + 4);
        const std::uint64_t data = pos + 8;
        const std::uint64_t chunk_end = data + chunk_size;
        // A chunk running past the end of a truncated file is cut by the
        // truncation; past the end of its list otherwise, it is damage.
        if (chunk_end > list_ends.back() && !(riff_end > size && chunk_end > size)) {
            broken = "the chunk \"" + std::string(reinterpret_cast<char*>(ch), 4) + "\" at " + at(pos) + " claims " +
                     bytes_text(chunk_size) + ", more than the list holding it";
            break;
        }
        if (std::memcmp(ch, "LIST", 4) == 0 && chunk_size >= 4) {
            list_ends.push_back(std::min(chunk_end, list_ends.back()));
            pos = data + 4;  // past the list's form type
            continue;
        }
        if (std::memcmp(ch, "SND ", 4) == 0) {
            sound_chunk = true;
            const std::uint64_t limit = std::min(chunk_end, size);
            // The bank starts at the first multiple of 32 (from the start of
            // the file) inside the chunk; look a little further before
            // calling the chunk unreadable. An encrypted bank is encrypted
            // from its own first byte; the padding before it is not.
            const std::uint64_t aligned = (data + 31) / 32 * 32;
            std::uint64_t start = aligned;
            if (!magic_at(file, start, limit)) start = skip_zeros(file, data, std::min(limit, data + 64));
            bool readable = magic_at(file, start, limit);
            if (!readable && !options.keys.empty() && aligned + kSmallestBank <= limit) {
                report.keys_tried = options.keys.size();
                if (decrypt_with_keys(file, options.keys, aligned, limit)) {
                    start = aligned;
                    readable = true;
                } else {
                    readable = start != aligned && start + kSmallestBank <= limit &&
                               decrypt_with_keys(file, options.keys, start, limit);
                }
            }
            if (readable) {
                const std::size_t before = parts.size();
                const BankReadError error =
                    sequence.read(start, limit, chunk_end > size ? "the file" : "its \"SND \" chunk");
                if (error.code != FMOD_OK) {
                    if (first_error.code == FMOD_OK) first_error = error;
                    log.add("damaged banks in \"SND \" chunks",
                            {"the bank in the \"SND \" chunk at " + at(pos) + " is damaged (" + error.detail + ")",
                             true});
                }
                if (parts.size() == before) unreadable_sound = true;
            } else {
                unreadable_sound = true;
                std::string why = "the \"SND \" chunk at " + at(pos) + " does not hold an FSB bank";
                if (aligned + kSmallestBank > limit) {
                    why += ": it is too small for one";
                } else {
                    report.maybe_encrypted = true;
                    why += ": it is probably encrypted";
                    if (!options.keys.empty()) why += " (" + no_key_fits(options.keys.size()) + ")";
                }
                log.add("\"SND \" chunks that do not hold an FSB bank", {why, true});
            }
        }
        if (chunk_end > size) break;  // a truncated file: noted below
        pos = chunk_end + (chunk_size & 1);
    }

    if (!broken.empty()) {
        if (!sound_chunk) return {FMOD_ERR_FILE_BAD, broken};
        log.add("broken chunks", {broken + "; the file is read up to it", true});
    }
    if (!sound_chunk && riff_end > size) {
        return {FMOD_ERR_FILE_EOF, "the file is truncated before any \"SND \" chunk: its RIFF header announces " +
                                       bytes_text(riff_end) + ", it has " + bytes_text(size)};
    }
    if (sound_chunk && parts.empty()) {
        // Nothing to read at all: the reasons (each kind said a few times at
        // most) become the failure.
        log.finish();
        std::string why;
        for (const BankNote& n : notes) why += (why.empty() ? "" : "; ") + n.text;
        notes.clear();
        return {first_error.code != FMOD_OK ? first_error.code : FMOD_ERR_FORMAT, why};
    }
    report.maybe_encrypted = false;  // something was read: the file is not refused
    if (riff_end > size) {
        log.add("truncations", {"the file is truncated: its RIFF header announces " + bytes_text(riff_end) +
                                    ", it has " + bytes_text(size),
                                unreadable_sound});
    } else if (riff_end < size && skip_zeros(file, riff_end, size) != size) {
        log.add("stretches of bytes after the RIFF file", {bytes_text(size - riff_end) + " at " + at(riff_end) +
                                                               " after the end of the RIFF file are not read"});
    }
    if (!sound_chunk) {
        log.add("event-only files",
                {"this file holds no audio (no \"SND \" chunk), only event data; its sounds are in other files of "
                 "the game: .bank files, or the .fsb banks beside an .fev file"});
    }
    return {};
}

// Banks anywhere in the file; an encrypted file is tried whole with each key.
BankReadError scan_file(BankFile& file, std::vector<BankPart>& parts, NoteLog& log, const OpenOptions& options,
                        OpenReport& report) {
    scan_for_banks(file, parts, log);
    for (std::size_t k = 0; parts.empty() && k < options.keys.size(); ++k) {
        if (options.keys[k].empty()) continue;
        report.keys_tried = options.keys.size();
        for (const bool reverse : {true, false}) {
            if (!file.add_cipher(BankCipher(options.keys[k], reverse, 0, 0, file.size()))) break;
            scan_for_banks(file, parts, log);
            if (!parts.empty()) break;
            file.drop_last_cipher();
        }
    }
    if (!parts.empty()) return {};
    report.maybe_encrypted = file.size() >= kSmallestBank;
    std::string why = "no FSB3, FSB4 or FSB5 bank anywhere in the file";
    if (report.keys_tried) why += " (" + no_key_fits(report.keys_tried) + ")";
    return {FMOD_ERR_FORMAT, why};
}

// A bare bank (or banks back to back) from the first byte, encrypted with
// one of the keys.
BankReadError read_encrypted(BankFile& file, std::vector<BankPart>& parts, NoteLog& log,
                             const OpenOptions& options, OpenReport& report) {
    const std::uint64_t size = file.size();
    if (size >= kSmallestBank && !options.keys.empty()) {
        report.keys_tried = options.keys.size();
        if (decrypt_with_keys(file, options.keys, 0, size)) {
            return SequenceReader(file, parts, log).read(0, size, "the file");
        }
    }
    report.maybe_encrypted = size >= kSmallestBank;
    std::string why = "no FSB3, FSB4 or FSB5 magic at the start of the file; it is not a bank, or an encrypted one";
    if (report.keys_tried) why += " (" + no_key_fits(report.keys_tried) + ")";
    return {FMOD_ERR_FORMAT, why};
}

}  // namespace

BankReadError locate_banks(BankFile& file, std::vector<BankPart>& parts, std::vector<BankNote>& notes,
                           const OpenOptions& options, OpenReport* report) {
    OpenReport unused;
    OpenReport& r = report ? *report : unused;
    r = OpenReport{};
    NoteLog log(notes);
    BankReadError error;
    std::uint8_t magic[4] = {};
    if (options.scan) {
        error = scan_file(file, parts, log, options, r);
    } else if (!file.read_exact(0, magic, 4)) {
        return {FMOD_ERR_FORMAT, "the file is too short to be a bank (" + bytes_text(file.size()) + ")"};
    } else if (std::memcmp(magic, "RIFF", 4) == 0) {
        error = read_fev(file, parts, log, notes, options, r);
    } else if (is_bank_magic(magic)) {
        error = SequenceReader(file, parts, log).read(0, file.size(), "the file");
    } else {
        error = read_encrypted(file, parts, log, options, r);
    }
    log.finish();
    return error;
}

BankReadError read_bank(BankFile& file, std::vector<SubsoundInfo>& subsounds) {
    std::vector<BankPart> parts;
    std::vector<BankNote> notes;
    BankReadError error = locate_banks(file, parts, notes);
    subsounds.clear();
    std::vector<SubsoundRecord> records;
    for (const BankPart& part : parts) {
        if (error.code != FMOD_OK) break;
        records.clear();
        error = walk_subsounds(file, part, records);
        for (std::uint32_t i = 0; error.code == FMOD_OK && i < records.size(); ++i) {
            subsounds.push_back(describe_subsound(file, part, i, records[i]));
        }
    }
    return error;
}

}  // namespace soundlib
