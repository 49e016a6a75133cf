// What the tool needs of the operating system, behind a few functions: one
// implementation per system (posix.cpp, windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// The folder of the running executable, ending with the separator; empty
// when the system cannot tell.
std::string executable_folder();

// Makes a folder the current directory; failure is silent.
void enter_directory(const std::string& folder);

// True for a path that is taken from the current directory.
bool is_relative(const std::string& path);

// The path made absolute against the current directory, for messages; the
// path itself when the system cannot tell.
std::string full_path(const std::string& path);

// False, with the reason in `error`, when files cannot be created in an
// existing folder.
bool can_create_files_in(const std::string& folder, std::string& error);

// Creates a folder and any missing parents. False, with the reason in
// `error`, when that is not possible; an existing folder is fine.
bool make_directories(const std::string& path, std::string& error);

// Removes a regular file; anything else, and failure, is left alone.
void remove_file(const std::string& path);

// A file written from its start, truncating one of the same name. Every
// failing call leaves the system's reason in error().
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool create(const std::string& path);
    bool write(const void* data, std::size_t size);             // at the end
    bool write_at(std::uint64_t offset, const void* data, std::size_t size);
    bool close();
    bool is_open() const { return handle_ != kClosed; }
    const std::string& error() const { return error_; }

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
    std::string error_;
};

}  // namespace platform
