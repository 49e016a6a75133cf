// The line that ends a run of the options form.
#pragma once

#include <cstdint>
#include <string>

struct RunCounts {
    std::uint64_t written = 0;  // whole or in part
    std::uint64_t in_part = 0;
    std::uint64_t not_written = 0;
    std::uint64_t empty = 0;         // no audio in them, so no file
    std::uint64_t listed = 0;
    std::uint64_t bytes = 0;
    std::uint64_t banks = 0;         // banks read
    std::uint64_t unreadable = 0;    // files named that could not be read as banks
    std::uint64_t passed_over = 0;   // files in folders that hold no bank
};

// "bankrip: 1,204 sounds (312.5 MiB) from 37 banks in 4.2 s; 2 not written"
std::string summary_line(const RunCounts& counts, double seconds, bool listing);

// 1204 -> "1,204".
std::string with_thousands(std::uint64_t n);
