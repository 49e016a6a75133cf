// libFuzzer target: output names for any subsound names and indexes. Checks
// what must hold whatever the naming rules: a name is a single, short,
// printable path component, and no name is given twice in a run; under
// Windows' rules it is no device and does not end in a dot or a space.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "wav/output_name.h"

namespace {

bool device(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char* d : {"CON", "PRN", "AUX", "NUL"}) {
        if (base == d) return true;
    }
    return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

bool acceptable(const std::string& name, bool windows) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    if (windows && (name.back() == '.' || name.back() == ' ' || device(name))) return false;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    UsedNames used;
    used.windows_rules = input.ConsumeBool();
    std::set<std::string> given;
    while (input.remaining_bytes() > 0) {
        const int index = input.ConsumeIntegralInRange<int>(0, 0x7FFFFFFF);
        const std::string subsound_name = input.ConsumeRandomLengthString(1024);
        const std::string name = output_name(subsound_name.c_str(), index, used);
        if (!acceptable(name, used.windows_rules) || !given.insert(name).second) std::abort();
    }
    return 0;
}
