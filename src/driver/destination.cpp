#include "driver/destination.h"

#include <cstdio>

#include "platform/platform.h"

std::string destination_text(const char* argument) {
    std::string text = argument ? argument : "";
    if (!text.empty() && text.back() != platform::kSeparator) text += platform::kSeparator;
    return text;
}

bool prepare_destination(const std::string& destination) {
    if (destination.empty()) return true;
    std::string error;
    if (platform::make_directories(destination, error)) return true;
    std::fprintf(stderr, "bankrip: cannot create the destination directory %s: %s\n", destination.c_str(),
                 error.c_str());
    return false;
}
