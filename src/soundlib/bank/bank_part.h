// One FSB bank inside a file, as far as its main header tells, and the small
// record kept per subsound so that any subsound can be described again later
// without keeping its description in memory.
//
// A file may hold several banks (back to back, or in the chunks of a .bank
// file); each is a part with its own bounds, and every offset here is
// absolute in the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "soundlib/bank/subsound_info.h"
#include "soundlib/io/bank_file.h"
#include "soundlib/soundlib.h"

namespace soundlib {

struct BankReadError {
    FMOD_RESULT code = FMOD_OK;
    std::string detail;
};

enum class BankFamily : std::uint8_t { fsb3, fsb4, fsb5 };

struct BankPart {
    BankFamily family = BankFamily::fsb5;
    std::uint32_t version = 0;
    std::uint32_t flags = 0;        // the bank flags of the main header
    std::uint32_t count = 0;        // subsounds
    std::uint32_t codec = 0;        // FSB5: the codec of every subsound
    std::uint64_t start = 0;        // the magic
    std::uint64_t end = 0;          // where the bank says it ends; may lie past `limit`
    std::uint64_t limit = 0;        // where its bytes really end: its chunk's end or the file's
    std::uint64_t headers_start = 0;
    std::uint64_t names_start = 0;  // FSB5 name table; its size is names_bytes
    std::uint64_t names_bytes = 0;
    std::uint64_t data_start = 0;
    std::uint64_t data_end = 0;     // as announced: data_start + data bytes
    std::uint32_t first_index = 0;  // of its first subsound among all of the file's
};

// Where one subsound's header and data lie, relative to the part's header
// and data regions (each at most 4 GiB, as their 32-bit sizes say).
struct SubsoundRecord {
    std::uint32_t header = 0;
    std::uint32_t data = 0;
    std::uint32_t size = 0;
};

// How the part's family pads each MPEG frame of a sound of `channels`
// (more than two: 16); the stream itself decides in the end (mpeg_frames.h).
std::uint32_t mpeg_frame_padding(const BankPart& part, std::uint32_t channels);

// True when the four bytes are the magic of a bank we read.
bool is_bank_magic(const std::uint8_t* bytes);

// Reads and checks the main header of the bank at `start`, whose bytes end at
// `limit` at the latest. Headers and name table must lie within the limit;
// the data may run past it (a truncated file), which describe() handles per
// subsound.
BankReadError read_part_header(BankFile& file, std::uint64_t start, std::uint64_t limit, BankPart& part);

// Walks every subsound header of the part and checks it, appending one
// record per subsound to `records`. With `chunk_budget`, the walk ends once
// that many FSB5 chunks are read (it counts them down): what a probe looks at
// then costs the same however long the chains of chunks are.
BankReadError walk_subsounds(BankFile& file, const BankPart& part, std::vector<SubsoundRecord>& records,
                             std::uint32_t* chunk_budget = nullptr);

// The whole description of subsound `i` of the part from its record. Data
// reaching past the part's limit is cut there, with `cut_short` set.
SubsoundInfo describe_subsound(BankFile& file, const BankPart& part, std::uint32_t i, const SubsoundRecord& record);

// The family readers behind these.
BankReadError read_fsb4_header(BankFile& file, BankPart& part);
BankReadError read_fsb5_header(BankFile& file, BankPart& part);
BankReadError walk_fsb4(BankFile& file, const BankPart& part, std::vector<SubsoundRecord>& records);
BankReadError walk_fsb5(BankFile& file, const BankPart& part, std::vector<SubsoundRecord>& records,
                        std::uint32_t* chunk_budget);
SubsoundInfo describe_fsb4(BankFile& file, const BankPart& part, std::uint32_t i, const SubsoundRecord& record);
SubsoundInfo describe_fsb5(BankFile& file, const BankPart& part, std::uint32_t i, const SubsoundRecord& record);

}  // namespace soundlib
