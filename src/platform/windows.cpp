#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/output_kind.h"
#include "platform/platform.h"
#include "platform/windows_error.h"

namespace platform {

std::string system_error() {
    char text[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   GetLastError(), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    // Without the line end and the full stop, to read like the POSIX texts.
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

namespace {

HANDLE handle_of(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

std::string text_of(DWORD code) {
    SetLastError(code);
    return system_error();
}

// The files being written, one slot each, for the console control handler,
// which runs on a thread of its own: set under the lock before the file
// exists, cleared under it once the file is renamed or removed.
SRWLOCK unfinished_lock = SRWLOCK_INIT;
struct Unfinished {
    bool claimed = false;
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string temporary;
    std::string shown;
};
Unfinished unfinished[kMostFilesAtOnce];
volatile bool status_line_shown = false;

class Locked {
public:
    Locked() { AcquireSRWLockExclusive(&unfinished_lock); }
    ~Locked() { ReleaseSRWLockExclusive(&unfinished_lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

[[noreturn]] void end_run(const std::string& why, UINT status) {
    AcquireSRWLockExclusive(&unfinished_lock);  // held until the process ends
    std::string text = std::string(status_line_shown ? "\n" : "") + "bankrip: " + why;
    // Files waiting for their names may be many: a few are named.
    constexpr int kNamed = 3;
    int removed = 0;
    for (Unfinished& u : unfinished) {
        if (u.temporary.empty()) continue;
        if (u.handle != INVALID_HANDLE_VALUE) CloseHandle(u.handle);
        DeleteFileA(u.temporary.c_str());
        if (removed < kNamed) text += (removed == 0 ? "; the unfinished " : ", ") + u.shown;
        ++removed;
    }
    if (removed > kNamed) {
        text += " and " + std::to_string(removed - kNamed) + (removed - kNamed == 1 ? " other file" : " other files");
    }
    if (removed == 1) text += " was removed";
    if (removed > 1) text += " were removed";
    text += "; the files already written are kept\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ExitProcess(status);
}

BOOL WINAPI on_interrupt(DWORD event) {
    // As a POSIX shell reports SIGINT (2) and SIGTERM (15).
    end_run("interrupted", event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 128 + 2 : 128 + 15);
}

// A file we may overwrite: empty, or one of the kind written under its
// name as a previous run left it.
bool empty_or_output(HANDLE h, const std::string& name) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) return false;
    if (size.QuadPart == 0) return true;
    unsigned char head[kKindHeadBytes];
    DWORD got = 0;
    return ReadFile(h, head, sizeof head, &got, nullptr) &&
           starts_like_output(name, head, got, static_cast<std::uint64_t>(size.QuadPart));
}

std::uint64_t index_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& info, const FileId& id) {
    return id.known && info.dwVolumeSerialNumber == id.device && index_of(info) == id.file;
}

// Whether what is at `path` may be replaced; `there` tells whether anything
// is. Never follows a link.
bool replaceable(const std::string& path, const FileId& keep, bool& there, std::string& error) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    there = attributes != INVALID_FILE_ATTRIBUTES;
    if (!there) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
        error = "cannot create the file: " + system_error();
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        error = "a symbolic link is in the way; not followed";
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "cannot create the file: " + text_of(ERROR_ACCESS_DENIED);
        return false;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const bool shared = GetLastError() == ERROR_SHARING_VIOLATION;
        error = "cannot create the file: " + system_error();
        // The bank may be open in a way that keeps others from reading it.
        const FileId there_id = shared ? file_id(path) : FileId{};
        if (there_id.known && keep.known && there_id.device == keep.device && there_id.file == keep.file) {
            error = "it is the bank being read; not overwritten";
        }
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    std::string refusal;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) {
        refusal = "a device is in the way; left alone";
    } else if (same_file(info, keep)) {
        refusal = "it is the bank being read; not overwritten";
    } else if (!empty_or_output(h, path)) {
        refusal = "a file that is not " + output_kind_with_article(path) + " file is in the way; not overwritten";
    }
    CloseHandle(h);
    if (refusal.empty()) return true;  // a hard link to it elsewhere stays as it is: the name is replaced
    error = refusal;
    return false;
}

// A name no file has: a counter and the process make it unique within the
// run, a clock between runs, and CREATE_NEW settles the rest.
std::string temporary_name(int attempt) {
    static std::atomic<unsigned> counter{0};  // workers make files at once
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    std::uint64_t mix = (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
                        static_cast<std::uint64_t>(now.QuadPart) ^ (static_cast<std::uint64_t>(++counter) << 20) ^
                        static_cast<std::uint64_t>(attempt);
    mix *= 0x9E3779B97F4A7C15ull;
    char text[32];
    std::snprintf(text, sizeof text, ".bankrip-%06x.tmp", static_cast<unsigned>(mix >> 40));
    return text;
}

// The path the system resolves a handle to, for comparing; empty when it
// cannot tell.
std::string final_path(HANDLE h) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleA(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

bool same_text_ignoring_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.data(),
                                                  static_cast<int>(a.size()), b.data(), static_cast<int>(b.size())) ==
                                       CSTR_EQUAL;
}

}  // namespace

std::uint64_t open_files_limit() { return 0; }  // handles are limited by memory alone

std::string executable_folder() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            std::string path(buffer.data(), n);
            const auto slash = path.rfind(kSeparator);
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

void enter_directory(const std::string& folder) { (void)SetCurrentDirectoryA(folder.c_str()); }

bool is_relative(const std::string& path) {
    const bool rooted = !path.empty() && (path[0] == '\\' || path[0] == '/');
    const bool drive = path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return !rooted && !drive;
}

std::string full_path(const std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (n == 0) return path;
        if (n < buffer.size()) return std::string(buffer.data(), n);
        buffer.resize(n);
    }
}

bool can_create_files_in(const std::string& folder, std::string& error) {
    // Asks for the right to add files, as creating one would; nothing is made.
    HANDLE h = CreateFileA(folder.c_str(), FILE_ADD_FILE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = system_error();
        return false;
    }
    CloseHandle(h);
    return true;
}

bool make_directories(const std::string& path, std::string& error) {
    std::string bare = path;  // a trailing separator would hide a file of that name
    while (bare.size() > 1 && (bare.back() == '\\' || bare.back() == '/')) bare.pop_back();
    std::string failure = "could not be created as a directory";
    if (GetFileAttributesA(bare.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Create each level from the top down. Levels that cannot be made
        // may still exist (a drive, a network share): only the end counts.
        for (std::size_t i = 1; i <= bare.size(); ++i) {
            if (i != bare.size() && bare[i] != '\\' && bare[i] != '/') continue;
            if (!CreateDirectoryA(bare.substr(0, i).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                failure = system_error();
            }
        }
    }
    const DWORD attributes = GetFileAttributesA(bare.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
    error = attributes == INVALID_FILE_ATTRIBUTES ? failure : "it is a file, not a folder";
    return false;
}

void remove_file(const std::string& path) {
    // Only what we wrote ourselves: an output path may name a device.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        (void)DeleteFileA(path.c_str());
    }
}

FileId file_id(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info);
    CloseHandle(h);
    if (!ok) return {};
    return {true, info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

void remove_unfinished_file_on_interrupt() { SetConsoleCtrlHandler(on_interrupt, TRUE); }

void note_status_line(bool shown) { status_line_shown = shown; }

bool run_is_ending() { return false; }  // the handler holds the lock to the end: nothing is made meanwhile

void end_run_for_closed_output() { end_run("standard output was closed", 128 + 13); }

OutputFolder::~OutputFolder() {
    if (is_open()) CloseHandle(handle_of(handle_));
}

bool OutputFolder::open(const std::string& path, std::string& error) {
    const std::string folder = path.empty() ? "." : path;
    // Without sharing deletion, the folder cannot be renamed or removed, so
    // its path keeps leading to it while the run lasts.
    HANDLE h = CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = h == INVALID_HANDLE_VALUE ? system_error() : "it is not a folder";
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return false;
    }
    adopt(reinterpret_cast<std::intptr_t>(h), info.dwVolumeSerialNumber, index_of(info));
    prefix_ = final_path(h);
    if (prefix_.empty()) prefix_ = full_path(folder);
    if (!prefix_.empty() && prefix_.back() != '\\') prefix_ += '\\';
    return true;
}

void OutputFolder::adopt(std::intptr_t handle, std::uint64_t device, std::uint64_t file) {
    if (is_open()) CloseHandle(handle_of(handle_));
    handle_ = handle;
    device_ = device;
    id_ = {true, device, file};
}

OutputFolder::Child OutputFolder::open_child(const OutputFolder& parent, const std::string& name,
                                             std::string& error) {
    if (!parent.is_open()) {
        error = "the folder it is in is not open";
        return Child::failed;
    }
    // The parent is held without sharing deletion, so its path leads to it;
    // the child itself is opened as what it is, a link not followed.
    const std::string path = parent.prefix_ + name;
    const bool made = CreateDirectoryA(path.c_str(), nullptr);
    if (!made && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = system_error();
        return Child::failed;
    }
    HANDLE h = CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info)) {
        error = system_error();
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        return Child::failed;
    }
    Child kind = Child::opened;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        error = "a symbolic link is in the way; not followed";
        kind = Child::link;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || GetFileType(h) != FILE_TYPE_DISK) {
        error = "something that is not a folder is in the way";
        kind = Child::not_a_folder;
    }
    const std::string resolved = final_path(h);
    if (kind == Child::opened && !resolved.empty() && !same_text_ignoring_case(resolved, path)) {
        error = "the folder is not where it was made; not followed";
        kind = Child::failed;
    }
    if (kind != Child::opened) {
        CloseHandle(h);
        return kind;
    }
    adopt(reinterpret_cast<std::intptr_t>(h), info.dwVolumeSerialNumber, index_of(info));
    prefix_ = resolved.empty() ? path : resolved;
    prefix_ += '\\';
    if (!made && !parent.listed_exactly(name)) {
        error = "the volume takes this name as that of a folder listed under another spelling";
        return Child::taken;
    }
    return Child::opened;
}

bool OutputFolder::holds_written(const std::string& name) const {
    if (!is_open()) return false;
    HANDLE h = CreateFileA((prefix_ + name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ours = GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                      info.dwVolumeSerialNumber == device_ && knows_written(index_of(info));
    CloseHandle(h);
    return ours;
}

bool OutputFolder::read_listing() const {
    if (!is_open()) return false;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((prefix_ + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    KeySet names;
    do {
        names.insert(text_key(data.cFileName));
    } while (FindNextFileA(find, &data));
    const bool whole = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    if (!whole) return false;
    listing_ = std::move(names);
    listing_read_ = true;
    return true;
}

bool OutputFolder::listed_exactly(const std::string& name) const {
    std::lock_guard<std::mutex> held(listing_lock_);
    const std::uint64_t key = text_key(name);
    if (listing_read_ && listing_.contains(key)) return true;
    // A folder that cannot be listed leaves it to the identities.
    if (!read_listing()) return true;
    return listing_.contains(key);
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::create(OutputFolder& folder, const std::string& name, const std::string& shown,
                        const FileId& keep) {
    discard();
    if (!folder.is_open()) {
        error_ = "cannot create the file: the destination folder is not open";
        return false;
    }
    bool there = false;
    // What the name reaches among this run's own files is settled when the
    // file takes it (commit), in the order of the sounds, so that which
    // names meet does not depend on how many files are written at once.
    if (!replaceable(folder.prefix_ + name, keep, there, error_)) return false;
    slot_ = claim_slot();
    if (slot_ < 0) {
        error_ = "cannot create the file: " + std::to_string(kMostFilesAtOnce) + " files are being written already";
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = folder.prefix_ + temporary_name(attempt);
        HANDLE h = INVALID_HANDLE_VALUE;
        {
            // The handler learns the name before the file exists.
            Locked locked;
            h = CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) {
                unfinished[slot_].handle = h;
                unfinished[slot_].temporary = temporary;
                unfinished[slot_].shown = shown;
            }
        }
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) continue;
            break;
        }
        handle_ = reinterpret_cast<std::intptr_t>(h);
        folder_ = &folder;
        name_ = name;
        temporary_ = temporary;
        keep_ = keep;
        // Made where the folder opened at the start is, whatever its path
        // leads to now.
        const std::string made = final_path(h);
        if (!made.empty() && !same_text_ignoring_case(made, temporary)) {
            discard();
            error_ = "the destination folder is no longer where it was; not written";
            return false;
        }
        return true;
    }
    error_ = "cannot create the file: " + system_error();
    Locked locked;
    release_slot();
    return false;
}

int OutputFile::claim_slot() {
    Locked locked;
    for (int i = 0; i < kMostFilesAtOnce; ++i) {
        if (!unfinished[i].claimed) {
            unfinished[i].claimed = true;
            return i;
        }
    }
    return -1;
}

// Under the lock.
void OutputFile::release_slot() {
    if (slot_ < 0) return;
    unfinished[slot_] = Unfinished{};
    slot_ = -1;
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle_of(handle_), p, part, &written, nullptr) || written == 0) {
            error_ = system_error();
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

bool OutputFile::write_pieces(const Piece* pieces, std::size_t count) {
    // No gathering write for ordinary files: copied into writes of about
    // a megabyte.
    constexpr std::size_t kStage = 1024 * 1024;
    std::vector<char> stage;
    stage.reserve(kStage);
    for (std::size_t i = 0; i < count; ++i) {
        const Piece& p = pieces[i];
        if (p.size >= kStage) {
            if ((!stage.empty() && !write(stage.data(), stage.size())) || !write(p.data, p.size)) return false;
            stage.clear();
            continue;
        }
        if (stage.size() + p.size > kStage) {
            if (!write(stage.data(), stage.size())) return false;
            stage.clear();
        }
        const char* from = static_cast<const char*>(p.data);
        stage.insert(stage.end(), from, from + p.size);
    }
    return stage.empty() || write(stage.data(), stage.size());
}

// Copies go through the caller's buffer here.
bool OutputFile::copy_from(std::intptr_t, std::uint64_t, std::uint64_t, bool& unsupported) {
    unsupported = true;
    return false;
}

bool OutputFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    LARGE_INTEGER at, end;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handle_of(handle_), LARGE_INTEGER{}, &end, FILE_CURRENT) ||
        !SetFilePointerEx(handle_of(handle_), at, nullptr, FILE_BEGIN)) {
        error_ = system_error();
        return false;
    }
    const bool ok = write(data, size);
    SetFilePointerEx(handle_of(handle_), end, nullptr, FILE_BEGIN);
    return ok;
}

bool OutputFile::close() {
    if (!is_open()) return !temporary_.empty();
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle_of(handle_), &info);
    BOOL closed = FALSE;
    {
        Locked locked;
        closed = CloseHandle(handle_of(handle_));
        unfinished[slot_].handle = INVALID_HANDLE_VALUE;  // the name stays, for the handler to remove
    }
    handle_ = kClosed;
    if (!closed || !known) {
        error_ = system_error();
        return false;
    }
    written_as_ = {true, info.dwVolumeSerialNumber, index_of(info)};
    return true;
}

bool OutputFile::commit() {
    if (temporary_.empty() || !close()) {
        discard();
        return false;
    }
    const std::string path = folder_->prefix_ + name_;
    bool there = false;
    if (replaceable(path, keep_, there, error_)) {
        if (there && folder_->holds_written(name_)) {
            error_ = "the volume takes this name as that of a file this run wrote already; not overwritten";
        } else if (there && !folder_->listed_exactly(name_)) {
            error_ = "the volume takes this name as that of another file in the folder (it folds names together); "
                     "not overwritten";
        } else {
            Locked locked;
            // Where nothing was, nothing that came since is replaced unseen.
            if (MoveFileExA(temporary_.c_str(), path.c_str(), there ? MOVEFILE_REPLACE_EXISTING : 0)) {
                release_slot();
                temporary_.clear();
                folder_->remember_written(written_as_.file);
                return true;
            }
            error_ = GetLastError() == ERROR_ALREADY_EXISTS
                         ? "another file took the name while it was written; not overwritten"
                         : "cannot give the file its name: " + system_error();
        }
    }
    discard();
    return false;
}

void OutputFile::discard() {
    Locked locked;
    if (is_open()) {
        CloseHandle(handle_of(handle_));
        handle_ = kClosed;
    }
    if (temporary_.empty()) return release_slot();
    DeleteFileA(temporary_.c_str());
    release_slot();
    temporary_.clear();
}

bool OutputFolder::folds_case() {
    if (folds_case_ < 0) {
        OutputFile probe;
        folds_case_ = probe.probe_case_folding(*this) ? 1 : 0;
    }
    return folds_case_ == 1;
}

bool OutputFile::probe_case_folding(OutputFolder& folder) {
    if (!create(folder, ".bankrip-case-probe", "", FileId{})) return false;
    std::string upper = temporary_;
    const std::size_t name_at = folder.prefix_.size();
    for (std::size_t i = name_at; i < upper.size(); ++i) {
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(upper[i])));
    }
    // The file is open without sharing: asked for its attributes only. Its
    // name is new, so one in capitals is found only where the names meet.
    const bool folds = GetFileAttributesA(upper.c_str()) != INVALID_FILE_ATTRIBUTES;
    discard();
    return folds;
}

}  // namespace platform
