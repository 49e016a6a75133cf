#include <windows.h>

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

OutputFile::~OutputFile() {
    if (is_open()) CloseHandle(handle_of(handle_));
}

bool OutputFile::create(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = system_error();
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
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
    const BOOL ok = CloseHandle(handle_of(handle_));
    handle_ = kClosed;
    if (!ok) {
        error_ = system_error();
        return false;
    }
    return true;
}

}  // namespace platform
