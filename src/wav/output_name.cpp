#include "wav/output_name.h"

#include <cstdio>

namespace {

constexpr const char* kWav = ".wav";

bool ends_with_wav(const std::string& s) { return s.size() >= 4 && s.compare(s.size() - 4, 4, kWav) == 0; }

}  // namespace

std::string output_name(const char* subsound_name, int index, UsedNames& used) {
    std::string name(subsound_name);
    for (char& c : name) {
        if (c == '/' || c == '\\') c = '_';
    }
    if (name.empty() || name == "." || name == "..") {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "subsound_%04d.wav", index);
        name = fallback;
    } else if (const auto dot = name.rfind('.'); dot != std::string::npos) {
        name.replace(dot, std::string::npos, kWav);
    }
    std::string candidate = name;
    for (int k = 2; used.count(candidate) != 0; ++k) {
        const std::string number = " (" + std::to_string(k) + ")";
        candidate = ends_with_wav(name) ? name.substr(0, name.size() - 4) + number + kWav : name + number;
    }
    used.insert(candidate);
    return candidate;
}
