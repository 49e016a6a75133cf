#include "driver/destination.h"

#include <cstdio>

#include "platform/platform.h"

std::string destination_text(const char* argument) {
    std::string text = argument ? argument : "";
    if (!text.empty() && text.back() != platform::kSeparator) text += platform::kSeparator;
    return text;
}

bool prepare_destination(const std::string& destination, const std::string& program_folder) {
    std::string error;
    if (destination.empty()) {
        // Files go to the current folder, which is bankrip's own unless it
        // could not be entered.
        if (platform::can_create_files_in(".", error)) return true;
        const std::string folder = program_folder.empty() ? platform::full_path(".") : program_folder;
        std::fprintf(stderr, "bankrip: cannot write into %s, where files go when no destination is given: %s\n",
                     folder.c_str(), error.c_str());
        return false;
    }
    if (platform::make_directories(destination, error) && platform::can_create_files_in(destination, error)) {
        return true;
    }
    std::fprintf(stderr, "bankrip: cannot write into the destination folder %s: %s%s\n",
                 platform::full_path(destination).c_str(), error.c_str(),
                 relative_path_note(destination, program_folder).c_str());
    return false;
}

bool open_destination(platform::OutputFolder& folder, const std::string& destination) {
    std::string error;
    if (folder.open(destination, error)) return true;
    std::fprintf(stderr, "bankrip: cannot open the destination folder %s: %s\n",
                 platform::full_path(destination.empty() ? "." : destination).c_str(), error.c_str());
    return false;
}

std::string relative_path_note(const std::string& argument, const std::string& program_folder) {
    if (program_folder.empty() || !platform::is_relative(argument)) return "";
    return "; relative paths are taken from bankrip's own folder, " + program_folder +
           ", not from the folder it was started in";
}
