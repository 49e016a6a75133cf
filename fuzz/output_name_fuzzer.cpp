// libFuzzer target: output names for any subsound names and indexes. Checks
// what must hold whatever the naming rules: a name is a single, short,
// printable path component, and no name is given twice in a run.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "wav/output_name.h"

namespace {

bool acceptable(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
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
    std::set<std::string> given;
    while (input.remaining_bytes() > 0) {
        const int index = input.ConsumeIntegralInRange<int>(0, 0x7FFFFFFF);
        const std::string subsound_name = input.ConsumeRandomLengthString(1024);
        const std::string name = output_name(subsound_name.c_str(), index, used);
        if (!acceptable(name) || !given.insert(name).second) std::abort();
    }
    return 0;
}
