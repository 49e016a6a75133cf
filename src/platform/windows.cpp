#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

std::string system_error() {
    char text[512];
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   GetLastError(), 0, text, sizeof text, nullptr);
    std::string s(text, n);
    // Without the line end and the full stop, to read like the POSIX texts.
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

HANDLE handle_of(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The file being written, for the console control handler, which runs on a
// thread of its own.
SRWLOCK unfinished_lock = SRWLOCK_INIT;
HANDLE unfinished_handle = INVALID_HANDLE_VALUE;
std::string unfinished_path;

void set_unfinished(HANDLE h, const std::string& path) {
    AcquireSRWLockExclusive(&unfinished_lock);
    unfinished_handle = h;
    unfinished_path = path;
    ReleaseSRWLockExclusive(&unfinished_lock);
}

BOOL WINAPI on_interrupt(DWORD event) {
    AcquireSRWLockExclusive(&unfinished_lock);
    std::string text = "bankrip: interrupted";
    if (unfinished_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(unfinished_handle);
        DeleteFileA(unfinished_path.c_str());
        text += "; the unfinished " + unfinished_path + " was removed";
    }
    text += "; the files already written are kept\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    // As a POSIX shell reports SIGINT (2) and SIGTERM (15).
    ExitProcess(event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 128 + 2 : 128 + 15);
    return TRUE;
}

// A file we may overwrite: empty, or a WAV file as a previous run left it.
bool empty_or_wav(HANDLE h) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) return false;
    if (size.QuadPart == 0) return true;
    char head[12];
    DWORD got = 0;
    return ReadFile(h, head, sizeof head, &got, nullptr) && got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace

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

void remove_unfinished_file_on_interrupt() {
    SetConsoleCtrlHandler(on_interrupt, TRUE);
}

OutputFile::~OutputFile() {
    if (is_open()) close();
}

bool OutputFile::create(const std::string& path, const FileId& keep) {
    // Opened as it is, never through a link, to look at what is there
    // before emptying it.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const bool shared = GetLastError() == ERROR_SHARING_VIOLATION;
        error_ = "cannot create the file: " + system_error();
        // The bank is open for reading, so opening it again without sharing
        // fails before it can be recognised below.
        const FileId there = shared ? file_id(path) : FileId{};
        if (there.known && keep.known && there.device == keep.device && there.file == keep.file) {
            error_ = "it is the bank being read; not overwritten";
        }
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const char* refusal = nullptr;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) {
        refusal = "a device is in the way; left alone";
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        refusal = "a symbolic link is in the way; not followed";
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        refusal = "a folder is in the way; left alone";
    } else if (keep.known && info.dwVolumeSerialNumber == keep.device &&
               ((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow) == keep.file) {
        refusal = "it is the bank being read; not overwritten";
    } else if (!empty_or_wav(h)) {
        refusal = "a file that is not a WAV file is in the way; not overwritten";
    }
    if (refusal) {
        error_ = refusal;
        CloseHandle(h);
        return false;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(h, start, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
        error_ = "cannot empty the file: " + system_error();
        CloseHandle(h);
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    set_unfinished(h, path);
    return true;
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
    if (!is_open()) return true;
    set_unfinished(INVALID_HANDLE_VALUE, "");
    const BOOL ok = CloseHandle(handle_of(handle_));
    handle_ = kClosed;
    if (!ok) {
        error_ = system_error();
        return false;
    }
    return true;
}

}  // namespace platform
