// libFuzzer target: the container reader alone, from memory: find the banks
// of a file, walk and describe every subsound, and check that what it
// describes lies within the file; and the frames of MPEG subsounds as
// stored, which must lie in order within their data.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "soundlib/bank/bank_locator.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"

namespace {

using namespace soundlib;

// An empty span is none, wherever it says it starts.
bool within(const FileSpan& span, std::uint64_t size) {
    return span.size == 0 || (span.offset <= size && span.size <= size - span.offset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BankFile file;
    file.open_memory(data, size);

    // As it is, scanned for banks anywhere, and tried with keys.
    OpenOptions scan;
    scan.scan = true;
    OpenOptions keyed;
    keyed.keys = {"k", std::string("\x01\x02\x00", 3)};
    for (const OpenOptions& options : {OpenOptions{}, scan, keyed}) {
        BankFile each;
        each.open_memory(data, size);
        std::vector<BankPart> parts;
        std::vector<BankNote> notes;
        if (locate_banks(each, parts, notes, options).code != FMOD_OK) continue;
        for (const BankPart& p : parts) {
            // Headers and name table lie within the part's bytes, which lie within the file.
            if (p.start >= p.limit || p.limit > size || p.names_start + p.names_bytes > p.limit) std::abort();
        }
        if (notes.size() > 128) std::abort();  // counted, never one per oddity
    }

    std::vector<SubsoundInfo> subsounds;
    if (read_bank(file, subsounds).code != FMOD_OK) return 0;
    int walked = 0;
    for (const SubsoundInfo& s : subsounds) {
        if (!within(s.data, size) || !within(s.name, size) || !within(s.setup, size)) std::abort();
        if (!s.problem && (s.channels < 1 || s.channels > 255)) std::abort();
        if (s.codec != Codec::mpeg || s.problem || ++walked > 8) continue;
        MpegFrameWalk walk(s, file);
        std::uint64_t end = 0;
        MpegFrameSpan f;
        for (int n = 0; n < 256 && walk.next(f); ++n) {
            if (f.offset < end || f.offset > s.data.size || f.size < 4 || f.size > kMpegMaxFrameBytes ||
                f.size > s.data.size - f.offset) {
                std::abort();
            }
            end = f.offset + f.size;
        }
    }
    return 0;
}
