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

// What tells one file from another on the system, so the bank being read is
// never written, whatever the output names say.
struct FileId {
    bool known = false;
    std::uint64_t device = 0;
    std::uint64_t file = 0;
};
FileId file_id(const std::string& path);

// From now on, an interrupted run (Ctrl-C, a termination request, a hang-up)
// removes the file being written (see OutputFile), says so on standard
// error, and ends with status 128 + the signal number.
void remove_unfinished_file_on_interrupt();

// A file written from its start. Every failing call leaves the reason in
// error().
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the file, or empties one of that name that is empty already or
    // a WAV file (a previous run's output). Anything else in the way is left
    // as it is and refused: a symbolic link (never followed), a FIFO, a
    // device, a folder, any other file, and the file `keep` (the bank).
    // Until close(), an interrupted run removes the file.
    bool create(const std::string& path, const FileId& keep);
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
