#include "driver/operands.h"

#include <set>
#include <utility>

#include "platform/folders.h"
#include "platform/platform.h"

namespace {

constexpr char kSep = platform::kSeparator;

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return (last == '/' || last == kSep) ? folder + name : folder + kSep + name;
}

// "Music.bank" -> "Music": the last extension dropped, unless nothing
// would be left of the name.
std::string without_extension(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name;
    return name.substr(0, dot);
}

// The levels of a bank's folder: the folders on its way from the operand,
// then its own name without the extension.
std::vector<std::string> levels_of(std::vector<std::string> folders, const std::string& file_name) {
    folders.push_back(without_extension(file_name));
    return folders;
}

std::string lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The files below `folder`, depth first in name order; `relative` is the
// path from the folder operand. An explicit stack: no depth limit.
// Files and folders already taken, by identity.
using Seen = std::set<std::pair<std::uint64_t, std::uint64_t>>;

bool first_time(Seen& seen, const platform::FileId& id) {
    return !id.known || seen.insert({id.device, id.file}).second;
}

void walk(const std::string& root, std::vector<BankJob>& jobs, std::vector<OperandProblem>& problems, Seen& files,
          Seen& folders) {
    struct Pending {
        std::string relative;             // from the root, as a path
        std::vector<std::string> levels;  // the same, folder by folder
        bool via_link = false;
    };
    if (!first_time(folders, platform::file_id(root))) return;
    std::vector<Pending> pending{{}};
    while (!pending.empty()) {
        const Pending here = pending.back();
        pending.pop_back();
        const std::string folder = here.relative.empty() ? root : joined(root, here.relative);
        std::vector<platform::FolderEntry> entries;
        std::string error;
        if (!platform::list_folder(folder, entries, error)) {
            problems.push_back({folder, "cannot read the folder: " + error, jobs.size()});
            continue;
        }
        std::vector<Pending> subfolders;
        for (const auto& e : entries) {
            const std::string rel = here.relative.empty() ? e.name : here.relative + kSep + e.name;
            const bool via_link = here.via_link || e.link;
            if (e.kind == platform::EntryKind::regular_file) {
                if (first_time(files, e.id)) {
                    jobs.push_back({joined(root, rel), levels_of(here.levels, e.name), false, e.id, via_link});
                }
            } else if (e.kind == platform::EntryKind::folder && first_time(folders, e.id)) {
                subfolders.push_back({rel, here.levels, via_link});
                subfolders.back().levels.push_back(e.name);
            }
        }
        // Reversed onto the stack, so that they come out in name order.
        pending.insert(pending.end(), subfolders.rbegin(), subfolders.rend());
    }
}

std::string file_name_of(const std::string& path) {
    const auto slash = path.find_last_of(std::string("/") + kSep);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool named_like_a_bank(const std::string& path) {
    const std::string name = lowercase(file_name_of(path));
    if (ends_with(name, ".fsb") || ends_with(name, ".bank")) return true;
    const auto last_dot = name.rfind('.');
    return last_dot != std::string::npos && ends_with(name.substr(0, last_dot), ".fsb");
}

std::vector<BankJob> bank_jobs(const std::vector<std::string>& operands, std::vector<OperandProblem>& problems) {
    std::vector<std::string> expanded;
    for (const auto& operand : operands) {
        for (auto& path : platform::expand_wildcards(operand)) expanded.push_back(std::move(path));
    }
    std::vector<BankJob> jobs;
    bool any_folder = false;
    Seen files, folders;
    for (const auto& path : expanded) {
        switch (platform::entry_kind(path)) {
            case platform::EntryKind::folder:
                any_folder = true;
                walk(path, jobs, problems, files, folders);
                break;
            case platform::EntryKind::missing:
                problems.push_back({path, "no such file or folder", jobs.size()});
                break;
            default:
                jobs.push_back({path, levels_of({}, file_name_of(path)), true, {}});
                break;
        }
    }
    if (jobs.size() == 1 && !any_folder) jobs.front().levels.clear();  // one bank: straight into the output folder
    return jobs;
}
