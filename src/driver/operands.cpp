#include "driver/operands.h"

#include <set>

#include "platform/folders.h"
#include "platform/platform.h"

namespace {

constexpr char kSep = platform::kSeparator;

std::string joined(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return (last == '/' || last == kSep) ? folder + name : folder + kSep + name;
}

// "Audio/Music.bank" -> "Audio/Music": the last extension dropped, unless
// nothing would be left of the name.
std::string without_extension(const std::string& relative) {
    const auto dot = relative.rfind('.');
    const auto slash = relative.find_last_of(std::string("/") + kSep);
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= name_start) return relative;
    return relative.substr(0, dot);
}

// The files below `folder`, depth first in name order; `relative` is the
// path from the folder operand. An explicit stack: no depth limit.
void walk(const std::string& root, std::vector<BankJob>& jobs, std::vector<OperandProblem>& problems) {
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        const std::string folder = relative.empty() ? root : joined(root, relative);
        std::vector<platform::FolderEntry> entries;
        std::string error;
        if (!platform::list_folder(folder, entries, error)) {
            problems.push_back({folder, "cannot read the folder: " + error});
            continue;
        }
        std::vector<std::string> subfolders;
        for (const auto& e : entries) {
            const std::string rel = relative.empty() ? e.name : relative + kSep + e.name;
            if (e.kind == platform::EntryKind::regular_file) {
                jobs.push_back({joined(root, rel), without_extension(rel), false});
            } else if (e.kind == platform::EntryKind::folder) {
                subfolders.push_back(rel);
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

std::vector<BankJob> bank_jobs(const std::vector<std::string>& operands, std::vector<OperandProblem>& problems) {
    std::vector<std::string> expanded;
    for (const auto& operand : operands) {
        for (auto& path : platform::expand_wildcards(operand)) expanded.push_back(std::move(path));
    }
    std::vector<BankJob> jobs;
    bool any_folder = false;
    for (const auto& path : expanded) {
        switch (platform::entry_kind(path)) {
            case platform::EntryKind::folder:
                any_folder = true;
                walk(path, jobs, problems);
                break;
            case platform::EntryKind::missing:
                problems.push_back({path, "no such file or folder"});
                break;
            default:
                jobs.push_back({path, without_extension(file_name_of(path)), true});
                break;
        }
    }
    if (jobs.size() == 1 && !any_folder) {
        jobs.front().folder.clear();  // one bank: straight into the output folder
        return jobs;
    }
    // Two banks must not share a folder (x.fsb and x.bank, or a/x.fsb and
    // b/x.fsb): a later one is numbered.
    std::set<std::string> taken;
    for (auto& job : jobs) {
        std::string folder = job.folder;
        for (int n = 2; !taken.insert(folder).second; ++n) folder = job.folder + " (" + std::to_string(n) + ")";
        job.folder = folder + kSep;
    }
    return jobs;
}
