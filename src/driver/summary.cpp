#include "driver/summary.h"

#include <cstdio>

namespace {

std::string counted(std::uint64_t n, const char* one, const char* many) {
    return with_thousands(n) + " " + (n == 1 ? one : many);
}

std::string size_text(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024ull * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    } else if (bytes < 1024ull * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024));
    } else {
        std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1024.0 * 1024 * 1024));
    }
    return text;
}

}  // namespace

std::string with_thousands(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string summary_line(const RunCounts& c, double seconds, bool listing) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f s", seconds);
    std::string line = "bankrip: ";
    if (listing) {
        line += counted(c.listed, "sound", "sounds") + " listed";
    } else {
        line += counted(c.written, "sound", "sounds") + " (" + size_text(c.bytes) + ")";
    }
    line += " from " + counted(c.banks, "bank", "banks") + " in " + time;
    if (c.passed_over) line += "; " + counted(c.passed_over, "file", "files") + " without a bank passed over";
    if (c.unreadable) line += "; " + counted(c.unreadable, "file", "files") + " could not be read";
    if (c.not_written) line += "; " + with_thousands(c.not_written) + " not written";
    if (c.in_part) line += "; " + with_thousands(c.in_part) + " written in part";
    if (c.empty) line += "; " + counted(c.empty, "sound", "sounds") + " with no audio, no file";
    return line;
}
