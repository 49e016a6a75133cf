// What the tool needs of the operating system, behind a few functions: one
// implementation per system (posix.cpp, windows.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/key_set.h"

namespace platform {

#if defined(_WIN32)
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// The folder of the running executable, ending with the separator; empty
// when the system cannot tell.
std::string executable_folder();

// How many files this process may hold open at once (ulimit -n); 0 when the
// system sets no such limit.
std::uint64_t open_files_limit();

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

// The most files that may be unfinished at once: being written (one per
// worker), or written and waiting for their turn to take their names, which
// they do in the order of the sounds.
constexpr int kMostFilesAtOnce = 1536;

// From now on, an interrupted run (Ctrl-C, a termination request, a hang-up)
// or one whose standard output was closed removes the file being written
// (see OutputFile), says so on standard error, and ends with status 128 +
// the signal number (13 for the closed output). A write beyond the file
// size limit fails as on a full disk instead of ending the run.
void remove_unfinished_file_on_interrupt();

// True once an interrupt is ending the run (on another thread): nothing more
// is printed then.
bool run_is_ending();

// A status line is (or is no longer) drawn on standard error: an interrupt
// then starts its message on a line of its own.
void note_status_line(bool shown);

// Ends the run as a closed standard output does (for systems that report it
// as a failed write rather than a signal).
[[noreturn]] void end_run_for_closed_output();

// The folder output files go to, opened once: every file is created
// relative to what was opened, so a folder renamed or replaced by a link
// during the run changes nothing. Remembers the files written in it (8 to
// 14 bytes each).
class OutputFolder {
public:
    OutputFolder() = default;
    ~OutputFolder();
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;

    // An empty path is the current folder. False, with the reason in
    // `error`, when it cannot be opened as a folder.
    bool open(const std::string& path, std::string& error);
    // What became of opening a folder inside another. `taken`: the name
    // reaches a folder listed under another spelling (the volume folds
    // names), which is another bank's or someone else's; it is open all the
    // same, for the caller to use or not.
    enum class Child { opened, link, not_a_folder, taken, failed };
    // Opens the folder `name` inside the open `parent`, making it when it is
    // not there: found from the parent as it was opened, whatever its path
    // leads to now, and never through a symbolic link (a reparse point on
    // Windows). Anything but `opened` leaves the reason in `error`.
    Child open_child(const OutputFolder& parent, const std::string& name, std::string& error);
    bool is_open() const { return handle_ != kClosed; }
    // The identity of the open folder.
    FileId id() const { return id_; }
    // True when `name` in the folder is a file this run wrote, whatever
    // name it was written under: the volume folds the two names together.
    // Told by the file's identity, which some volumes give each spelling
    // of one file anew; listed_exactly() does not rest on identities.
    bool holds_written(const std::string& name) const;
    // Whether the folder lists an entry under exactly this name. A name
    // that opens something the folder does not list as it is reaches an
    // entry of another spelling: the volume folds names together. The
    // listing is read once, then again when a name is not in it.
    bool listed_exactly(const std::string& name) const;
    // Whether the volume takes names that differ only in the case of ASCII
    // letters as one (tried once, with a temporary file).
    bool folds_case();

private:
    friend class OutputFile;
    static constexpr std::intptr_t kClosed = -1;
    void remember_written(std::uint64_t file) {
        std::lock_guard<std::mutex> held(written_lock_);
        written_.insert(file);
    }
    bool knows_written(std::uint64_t file) const {
        std::lock_guard<std::mutex> held(written_lock_);
        return written_.contains(file);
    }
    // Takes an opened folder's handle, with its identity.
    void adopt(std::intptr_t handle, std::uint64_t device, std::uint64_t file);
    std::intptr_t handle_ = kClosed;
    std::string prefix_;  // where names are appended, where the system needs a path
    std::uint64_t device_ = 0;
    FileId id_;
    // Reads the names the folder lists into `listing_`.
    bool read_listing() const;
    mutable std::mutex written_lock_;  // workers write into one folder at once
    KeySet written_;
    mutable std::mutex listing_lock_;
    mutable KeySet listing_;  // hashes of the names listed when last read
    mutable bool listing_read_ = false;
    int folds_case_ = -1;  // not tried yet
};

// A file written from its start, under a temporary name in the folder, and
// put under its own name only when complete: the name never holds a partial
// file. Every failing call leaves the reason in error().
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Starts a file that will replace `name` in `folder`, when what is there
    // may be replaced: nothing, an empty file or a WAV file (a previous
    // run's output). Anything else is left as it is and refused: a symbolic
    // link (never followed), a FIFO, a device, a folder, any other file, and
    // the file `keep` (the bank). `shown` is the path messages give. Until
    // commit() or discard(), an interrupted run removes the file.
    bool create(OutputFolder& folder, const std::string& name, const std::string& shown, const FileId& keep);
    bool write(const void* data, std::size_t size);  // at the end
    // Pieces of memory, in order, at the end: in one system call where the
    // system gathers them (POSIX writev), else through a copy.
    struct Piece {
        const void* data;
        std::size_t size;
    };
    bool write_pieces(const Piece* pieces, std::size_t count);
    bool write_at(std::uint64_t offset, const void* data, std::size_t size);
    // `size` bytes of the file open as `source` (a descriptor), from
    // `offset`, at the end, copied by the system without passing through
    // this process (Linux copy_file_range). False with `unsupported` set,
    // and nothing written, where the system cannot (another volume, another
    // system); false otherwise with the reason in error().
    bool copy_from(std::intptr_t source, std::uint64_t offset, std::uint64_t size, bool& unsupported);
    // Closes the file once written, still under its temporary name, which
    // it keeps until commit() or discard() (an interrupt still removes it).
    bool close();
    // Puts the complete file under its name, after checking again what is
    // there: never over a file this run wrote, nor over an entry the folder
    // lists under another spelling (the volume takes the name as another
    // file's). On failure the file is removed.
    bool commit();
    // Removes the unfinished file.
    void discard();
    // Whether `folder`'s volume folds ASCII case: a temporary file made and
    // looked for under its name in capitals, then removed.
    bool probe_case_folding(OutputFolder& folder);
    bool is_open() const { return handle_ != kClosed; }
    const std::string& error() const { return error_; }

private:
    // Where the interrupt handler learns of the file (POSIX).
    int claim_slot();
    void release_slot();

    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
    int slot_ = -1;
    FileId written_as_;  // the file's identity, taken as it is closed
    OutputFolder* folder_ = nullptr;
    std::string name_;
    std::string temporary_;
    FileId keep_;
    std::string error_;
};

}  // namespace platform
