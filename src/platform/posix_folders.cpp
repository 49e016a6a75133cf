#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/folders.h"

namespace platform {

namespace {

EntryKind kind_of(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::regular_file;
    if (S_ISDIR(mode)) return EntryKind::folder;
    return EntryKind::other;
}

}  // namespace

EntryKind entry_kind(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return EntryKind::missing;
    return kind_of(st.st_mode);
}

bool list_folder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& error) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        error = std::strerror(errno);
        return false;
    }
    const int fd = dirfd(dir);
    int failure = 0;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) {
            failure = errno;
            break;
        }
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        // The entry itself: a symbolic link is not followed. One that went
        // away since it was listed is no loss; one that cannot be looked at
        // (a folder without the right to enter it) is.
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            failure = errno;
            break;
        }
        // Reading through a link is safe (only writing through one is not):
        // it counts as what it leads to, and the walk keeps a bank or a
        // folder reached twice, or a cycle, from being read again.
        const bool link = S_ISLNK(st.st_mode);
        if (link && fstatat(fd, e->d_name, &st, 0) != 0) {
            entries.push_back({name, EntryKind::other, FileId{}, true});  // leads nowhere
            continue;
        }
        const FileId id{true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
        entries.push_back({name, kind_of(st.st_mode), id, link});
    }
    closedir(dir);
    if (failure != 0) {
        error = std::strerror(failure);
        entries.clear();
        return false;
    }
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

std::vector<std::string> expand_wildcards(const std::string& operand) { return {operand}; }

}  // namespace platform
