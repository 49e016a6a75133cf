#include "driver/destination.h"

#include <cstdio>
#include <memory>

#include "platform/platform.h"
#include "wav/case_fold.h"
#include "wav/console.h"
#include "wav/output_name.h"

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
        console_write(stderr, "bankrip: cannot write into " + printable_name(folder) +
                                  ", where files go when no destination is given: " + printable_name(error) + "\n");
        return false;
    }
    if (platform::make_directories(destination, error) && platform::can_create_files_in(destination, error)) {
        return true;
    }
    console_write(stderr, "bankrip: cannot write into the destination folder " +
                              printable_name(platform::full_path(destination)) + ": " + printable_name(error) +
                              printable_name(relative_path_note(destination, program_folder)) + "\n");
    return false;
}

bool open_destination(platform::OutputFolder& folder, const std::string& destination) {
    std::string error;
    if (folder.open(destination, error)) return true;
    console_write(stderr, "bankrip: cannot open the destination folder " +
                              printable_name(platform::full_path(destination.empty() ? "." : destination)) + ": " +
                              printable_name(error) + "\n");
    return false;
}

std::string relative_path_note(const std::string& argument, const std::string& program_folder) {
    if (program_folder.empty() || !platform::is_relative(argument)) return "";
    return "; relative paths are taken from bankrip's own folder, " + program_folder +
           ", not from the folder it was started in";
}

std::string BankFolders::key(const std::string& path) const {
    return fold_case ? folded_case(path, UsedNames::WINDOWS_RULES) : path;
}

std::string BankFolders::listed(const std::vector<std::string>& levels) {
    std::string path;
    for (std::size_t i = 0; i + 1 < levels.size(); ++i) path += bank_folder_name(levels[i]) + platform::kSeparator;
    const std::string name = bank_folder_name(levels.back());
    for (unsigned n = 1;; ++n) {
        const std::string candidate = path + numbered_folder_name(name, n);
        if (taken_.insert(key(candidate)).second) return candidate + platform::kSeparator;
    }
}

bool BankFolders::open(const platform::OutputFolder& root, const std::vector<std::string>& levels,
                       platform::OutputFolder& folder, std::string& below, std::string& error) {
    using Child = platform::OutputFolder::Child;
    // The levels on the way are held only until the next one is open. They
    // are shared by the banks below them, whatever spelling reaches them.
    std::unique_ptr<platform::OutputFolder> above;
    const platform::OutputFolder* parent = &root;
    below.clear();
    for (std::size_t i = 0; i + 1 < levels.size(); ++i) {
        const std::string name = bank_folder_name(levels[i]);
        below += name;
        auto next = std::make_unique<platform::OutputFolder>();
        const Child child = next->open_child(*parent, name, error);
        if (child != Child::opened && child != Child::taken) return false;
        below += platform::kSeparator;
        above = std::move(next);
        parent = above.get();
    }
    const std::string name = bank_folder_name(levels.back());
    for (unsigned n = 1;; ++n) {
        const std::string numbered = numbered_folder_name(name, n);
        if (taken_.count(key(below + numbered))) continue;
        const Child child = folder.open_child(*parent, numbered, error);
        // Something else there, or a folder the volume lists under another
        // spelling: another bank's, or not the run's at all.
        if (child == Child::not_a_folder || child == Child::taken) continue;
        if (child != Child::opened) {
            below += numbered;
            return false;
        }
        const platform::FileId id = folder.id();
        if (!opened_.insert({id.device, id.file}).second) continue;
        below += numbered;
        taken_.insert(key(below));
        below += platform::kSeparator;
        return true;
    }
}
