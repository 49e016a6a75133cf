#include <windows.h>

#include <algorithm>

#include "platform/folders.h"
#include "platform/windows_error.h"

namespace platform {

namespace {

EntryKind kind_of(const WIN32_FIND_DATAA& data) {
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::other;  // a link: not followed
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::folder;
    return EntryKind::regular_file;
}

// Calls `each` for every entry matching `pattern` but "." and "..".
template <typename Each>
bool find_all(const std::string& pattern, Each each) {
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") each(name, data);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return true;
}

// A file's identity as it is now, the file itself if it is a link.
FileId identity_of(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return {};
    return {true, info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

EntryKind entry_kind(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::other;
    return EntryKind::regular_file;
}

bool list_folder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    const std::string prefix = pattern;
    pattern += '*';
    const bool found = find_all(pattern, [&](const std::string& name, const WIN32_FIND_DATAA& data) {
        const EntryKind kind = kind_of(data);
        entries.push_back({name, kind, kind == EntryKind::regular_file ? identity_of(prefix + name) : FileId{}});
    });
    if (!found && GetLastError() != ERROR_FILE_NOT_FOUND) {
        error = system_error();
        return false;
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

std::vector<std::string> expand_wildcards(const std::string& operand) {
    const auto last_separator = operand.find_last_of("\\/:");
    const std::string folder = last_separator == std::string::npos ? "" : operand.substr(0, last_separator + 1);
    if (operand.find_first_of("*?", folder.size()) == std::string::npos) return {operand};
    std::vector<std::string> matches;
    find_all(operand, [&](const std::string& name, const WIN32_FIND_DATAA&) { matches.push_back(folder + name); });
    if (matches.empty()) return {operand};
    std::sort(matches.begin(), matches.end());
    return matches;
}

}  // namespace platform
