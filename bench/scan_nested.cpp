// What a scan (--scan) costs on the file that made it quadratic: FSB5
// "banks" nested in each other's chunks, so that the chunk chain of each runs
// through the chains of all those after it. For each size: the bytes the
// scan reads (the banks found, then every subsound header of each, as the
// tool reads them) and its CPU seconds, which must grow with the file, not
// with its square.
//   scan_nested [MiB...]   (default 1 2 4 8)
// Two files of each size: one long chain broken at its end, and chains
// broken every 48 banks (every probe then fails, after walking a few).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "soundlib/bank/bank_locator.h"

namespace {

struct Result {
    std::uint64_t bytes_read = 0;
    std::size_t banks = 0;
    double cpu_seconds = 0;
};

Result scan(const bankwriter::Bytes& bytes) {
    const std::clock_t start = std::clock();
    soundlib::BankFile file;
    file.open_memory(bytes.data(), bytes.size());
    std::vector<soundlib::BankPart> parts;
    std::vector<soundlib::BankNote> notes;
    soundlib::OpenOptions options;
    options.scan = true;
    soundlib::locate_banks(file, parts, notes, options);
    for (const soundlib::BankPart& part : parts) {
        std::vector<soundlib::SubsoundRecord> records;
        soundlib::walk_subsounds(file, part, records);
    }
    Result r;
    r.cpu_seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    r.bytes_read = file.bytes_read();
    r.banks = parts.size();
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(static_cast<std::size_t>(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty()) sizes = {1, 2, 4, 8};
    for (const std::size_t broken_every : {std::size_t{0}, std::size_t{48}}) {
        std::printf("nested FSB5 banks, chains broken %s\n", broken_every ? "every 48 banks" : "at the end only");
        std::printf("%8s %16s %14s %8s %10s\n", "MiB", "bytes read", "per file byte", "banks", "CPU s");
        for (const std::size_t mib : sizes) {
            const bankwriter::Bytes file = bankwriter::write_nested_fsb5(mib << 20, broken_every);
            const Result r = scan(file);
            std::printf("%8zu %16llu %14.2f %8zu %10.3f\n", mib, static_cast<unsigned long long>(r.bytes_read),
                        static_cast<double>(r.bytes_read) / static_cast<double>(file.size()), r.banks, r.cpu_seconds);
            std::fflush(stdout);
        }
    }
    return 0;
}
