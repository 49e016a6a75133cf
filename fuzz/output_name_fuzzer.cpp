// libFuzzer target: output names for any subsound names and indexes, the
// options form's bank folder names (numbered too) and the printable form of
// any text. Checks what must hold whatever the naming rules: a name is a
// single, short, printable path component, and no name is given twice in a
// run; under Windows' rules it is no device and does not end in a dot or a
// space; printed text holds no control character.
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

// No C0 control, DEL or C1 control as UTF-8; outside Windows' rules no
// byte 0x80..0x9F but inside a well-formed UTF-8 character.
bool printable(const std::string& text, bool windows) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) return false;
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (b == 0xC2 && next >= 0x80 && next < 0xA0) return false;
        if (windows || b < 0x80 || b >= 0xA0) continue;
        // A continuation byte: its character's lead is at most 3 bytes back.
        std::size_t lead = i;
        while (lead > 0 && i - lead < 3 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80) --lead;
        const auto l = static_cast<unsigned char>(text[lead]);
        const std::size_t length = l >= 0xF0 && l < 0xF5 ? 4 : l >= 0xE0 && l < 0xF0 ? 3 : l >= 0xC2 && l < 0xE0 ? 2 : 0;
        if (length == 0 || lead + length <= i) return false;
    }
    return true;
}

bool acceptable(const std::string& name, bool windows) {
    if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
    if (windows && (name.back() == '.' || name.back() == ' ' || device(name))) return false;
    if (name.find_first_of("/\\") != std::string::npos) return false;
    return printable(name, windows);
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
        // The same text as a bank's folder, with the number of a repeat.
        const std::string folder = bank_folder_name(subsound_name, used.windows_rules);
        const std::string numbered = numbered_folder_name(folder, static_cast<unsigned>(index % 100000));
        if (!acceptable(folder, used.windows_rules) || !acceptable(numbered, used.windows_rules)) std::abort();
        if (!printable(printable_name(subsound_name, used.windows_rules), used.windows_rules)) std::abort();
    }
    return 0;
}
