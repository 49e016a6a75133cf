#include "soundlib/bank/bank_scan.h"

#include <algorithm>
#include <cstring>

#include "soundlib/bank/bank_probe.h"

namespace soundlib {

namespace {

// Finds magics going forward through the file, one block in memory.
class MagicFinder {
public:
    explicit MagicFinder(BankFile& file) : file_(file), block_(kBlockBytes) {}

    // The offset of the first magic at or after `from`; the file's size when
    // there is none.
    std::uint64_t next(std::uint64_t from) {
        const std::uint64_t size = file_.size();
        while (from + 4 <= size) {
            if (from < start_ || from + 4 > start_ + bytes_) fill(from);
            if (bytes_ < 4) break;
            const std::uint8_t* base = block_.data();
            const std::uint8_t* last = base + bytes_ - 3;  // a magic must start before it
            for (const std::uint8_t* p = base + (from - start_); p < last;) {
                p = static_cast<const std::uint8_t*>(std::memchr(p, 'F', static_cast<std::size_t>(last - p)));
                if (!p) break;
                if (is_bank_magic(p)) return start_ + static_cast<std::uint64_t>(p - base);
                ++p;
            }
            from = start_ + bytes_ - 3;  // the last three bytes may begin a magic
        }
        return size;
    }

private:
    static constexpr std::size_t kBlockBytes = 256 * 1024;

    void fill(std::uint64_t from) {
        start_ = from;
        bytes_ = file_.read_at(from, block_.data(), block_.size());
    }

    BankFile& file_;
    std::vector<std::uint8_t> block_;
    std::uint64_t start_ = 0;
    std::size_t bytes_ = 0;
};

}  // namespace

void scan_for_banks(BankFile& file, std::vector<BankPart>& parts, NoteLog& log) {
    const std::uint64_t size = file.size();
    MagicFinder finder(file);
    std::uint64_t cut = size;  // where the truncated bank read starts, if any
    for (std::uint64_t pos = finder.next(0); pos < size;) {
        BankPart part;
        // A bank without subsounds is more likely four bytes of chance.
        if (!bank_reads_at(file, pos, size, &part) || part.count == 0) {
            pos = finder.next(pos + 1);
            continue;
        }
        if (part.end <= size) {
            parts.push_back(part);
            pos = finder.next(part.end);
            continue;
        }
        // Announcing more bytes than the file has: the file's last bank, cut
        // short, read as far as it goes and reported, as without a scan. Or
        // a header that lies: the search goes on inside its data, so it
        // hides no bank there. Another such bank in there lies in the sounds
        // of the first, which run to the end of the file: reading it too
        // would write those bytes again for every one nested so.
        if (cut < size) {
            log.add("truncated banks inside a truncated bank",
                    {"the bank at offset " + std::to_string(part.start) + " runs past the end of the file too; it "
                         "lies in the data of the truncated bank at offset " + std::to_string(cut) +
                         " and is not read apart from it"});
            pos = finder.next(pos + 1);
            continue;
        }
        cut = part.start;
        parts.push_back(part);
        log.add("truncated banks",
                {"the bank at offset " + std::to_string(part.start) + " announces " +
                     std::to_string(part.end - part.start) + " bytes, but the file ends after " +
                     std::to_string(size - part.start) + ": it is truncated, and sounds past the cut are lost",
                 true});
        pos = finder.next(part.data_start);
    }
}

}  // namespace soundlib
