#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/output_kind.h"
#include "platform/platform.h"

namespace platform {

namespace {

std::string system_error() { return std::strerror(errno); }

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

// The files being written, for the signal handler: plain memory and
// lock-free atomics, which a handler may read. A slot is claimed and its
// names set, with the handled signals blocked in that thread, before the file
// exists; it is cleared, the same way, once the file is renamed or removed.
// So at every moment the handler knows every temporary file there is, on
// every thread. The states lie apart from the names, so that looking for a
// free slot touches a few pages, not one per slot.
constexpr int kSlots = kMostFilesAtOnce;
// kRemoving: the handler has the slot; its owner no longer touches it.
enum SlotState : int { kFree, kClaimed, kCreating, kKnown, kRemoving };
struct Unfinished {
    int folder;  // set before the slot is claimed: no initializer, so the table costs no page until used
    char name[64];
    char shown[4096];
};
std::atomic<int> slot_state[kSlots];
Unfinished unfinished[kSlots];
// Set by the handler: no temporary file is made after it.
std::atomic<bool> ending{false};
// A status line stands on standard error's last line.
std::atomic<bool> status_line_shown{false};

// Signals that end the run with status 128 + the signal, as they always have.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

struct NamedSignal {
    int number;
    const char* name;
};

// Every other signal whose default action ends the process: the unfinished
// file is removed, then the process dies by the signal, as it would have.
constexpr NamedSignal kDeadly[] = {
    {SIGQUIT, "SIGQUIT"}, {SIGALRM, "SIGALRM"},     {SIGUSR1, "SIGUSR1"}, {SIGUSR2, "SIGUSR2"},
    {SIGXCPU, "SIGXCPU"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"}, {SIGIO, "SIGIO"},
#ifdef SIGPWR
    {SIGPWR, "SIGPWR"},
#endif
#ifdef SIGSTKFLT
    {SIGSTKFLT, "SIGSTKFLT"},
#endif
    {SIGSYS, "SIGSYS"},   {SIGTRAP, "SIGTRAP"},
};

// Faults of the program itself. The sanitizers report these with their own
// handlers, which are left in place.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BANKRIP_OWN_FAULT_HANDLERS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(undefined_behavior_sanitizer)
#define BANKRIP_OWN_FAULT_HANDLERS 0
#endif
#endif
#ifndef BANKRIP_OWN_FAULT_HANDLERS
#define BANKRIP_OWN_FAULT_HANDLERS 1
#endif
constexpr NamedSignal kFaults[] = {
    {SIGABRT, "SIGABRT"}, {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"}, {SIGFPE, "SIGFPE"}, {SIGILL, "SIGILL"}};

// The signals held back while a temporary file is made, renamed or removed:
// all of the above but the faults, which cannot wait.
sigset_t held_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kInterrupts) sigaddset(&set, s);
    for (const auto& s : kDeadly) sigaddset(&set, s.number);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) sigaddset(&set, s);
    return set;
}

// Holds the handled signals back for its lifetime.
class SignalsHeld {
public:
    SignalsHeld() {
        static const sigset_t held = held_signals();
        pthread_sigmask(SIG_BLOCK, &held, &previous_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

void copy_text(char* to, std::size_t room, const std::string& text) {
    const std::size_t n = text.size() < room ? text.size() : 0;  // too long: not shown
    std::memcpy(to, text.data(), n);
    to[n] = '\0';
}

// Only async-signal-safe calls from here on.
void say(const char* text) {
    std::size_t n = 0;
    while (text[n] != '\0') ++n;
    (void)!::write(2, text, n);
}

// Writes a small number in decimal, without the C library.
void say_number(int n) {
    char text[12];
    int at = sizeof text - 1;
    text[at] = '\0';
    do {
        text[--at] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n > 0 && at > 0);
    say(text + at);
}

void pause_a_moment() {
    const timespec moment{0, 1000000};
    nanosleep(&moment, nullptr);
}

// Removes every temporary file there is and names what each was for. A
// file another thread is making right now is waited for (briefly), then
// removed too; none is made after this starts.
void remove_unfinished() {
    ending.store(true);
    for (int round = 0; round < 1000; ++round) {
        bool creating = false;
        for (const auto& state : slot_state) creating = creating || state.load() == kCreating;
        if (!creating) break;
        pause_a_moment();
    }
    // Files waiting for their names may be many: a few are named.
    constexpr int kNamed = 3;
    int removed = 0;
    for (int i = 0; i < kSlots; ++i) {
        int known = kKnown;
        if (!slot_state[i].compare_exchange_strong(known, kRemoving)) continue;
        const Unfinished& u = unfinished[i];
        unlinkat(u.folder, u.name, 0);
        if (removed < kNamed) {
            say(removed == 0 ? "; the unfinished " : ", ");
            say(u.shown[0] != '\0' ? u.shown : "file");
        }
        ++removed;
    }
    if (removed > kNamed) {
        say(" and ");
        say_number(removed - kNamed);
        say(removed - kNamed == 1 ? " other file" : " other files");
    }
    if (removed == 1) say(" was removed");
    if (removed > 1) say(" were removed");
}

[[noreturn]] void wait_for_the_end() {
    for (;;) pause();
}

// One handler at a time ends the run; a signal on another thread meanwhile
// waits for it.
void enter_handler() {
    static std::atomic<bool> entered{false};
    if (entered.exchange(true)) wait_for_the_end();
    if (status_line_shown.load()) say("\n");
}

extern "C" [[noreturn]] void on_interrupt(int signal_number) {
    enter_handler();
    if (signal_number == SIGPIPE) {
        say("bankrip: standard output was closed");
    } else {
        say("bankrip: interrupted by ");
        say(signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "SIGHUP");
    }
    remove_unfinished();
    say("; the files already written are kept\n");
    _exit(128 + signal_number);
}

void say_signal(int signal_number) {
    for (const auto& s : kDeadly) {
        if (s.number == signal_number) return say(s.name);
    }
    for (const auto& s : kFaults) {
        if (s.number == signal_number) return say(s.name);
    }
    say("signal ");
    say_number(signal_number);
}

extern "C" void on_deadly_signal(int signal_number) {
    enter_handler();
    say("bankrip: ");
    say(signal_number == SIGABRT || signal_number == SIGSEGV || signal_number == SIGBUS ||
                signal_number == SIGFPE || signal_number == SIGILL
            ? "ended by "
            : "interrupted by ");
    say_signal(signal_number);
    remove_unfinished();
    say("; the files already written are kept\n");
    // Die by the same signal: what waits for the process sees what it sent.
    signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);
}

// Installs a handler, unless the signal was ignored when the run started
// (nohup, a shell's trap ''): then it stays ignored.
void handle(int signal_number, void (*handler)(int), const sigset_t& mask) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_mask = mask;
    sigaction(signal_number, &action, nullptr);
}

const char* in_the_way(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder is in the way; left alone";
    if (S_ISFIFO(mode)) return "a FIFO is in the way; left alone";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device is in the way; left alone";
    if (S_ISSOCK(mode)) return "a socket is in the way; left alone";
    return "something that is not a regular file is in the way; left alone";
}

bool same_file(const struct stat& st, const FileId& id) {
    return id.known && static_cast<std::uint64_t>(st.st_dev) == id.device &&
           static_cast<std::uint64_t>(st.st_ino) == id.file;
}

// A file we may replace: empty, or one of the kind written under its name
// as a previous run left it.
bool empty_or_output(int folder, const char* name, const struct stat& seen) {
    if (seen.st_size == 0) return true;
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    unsigned char head[kKindHeadBytes];
    const bool same = fstat(fd, &st) == 0 && st.st_dev == seen.st_dev && st.st_ino == seen.st_ino;
    const ssize_t got = same ? pread(fd, head, sizeof head, 0) : -1;
    ::close(fd);
    return got > 0 && starts_like_output(name, head, static_cast<std::size_t>(got),
                                         static_cast<std::uint64_t>(seen.st_size));
}

// Whether what is at `name` may be replaced; `there` tells whether anything
// is. Never follows a link nor opens anything but a regular file.
bool replaceable(int folder, const std::string& name, const FileId& keep, bool& there, std::string& error) {
    struct stat st {};
    there = fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!there) {
        if (errno == ENOENT) return true;
        error = "cannot create the file: " + system_error();
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        error = "a symbolic link is in the way; not followed";
    } else if (S_ISDIR(st.st_mode)) {
        error = std::string("cannot create the file: ") + std::strerror(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
        error = in_the_way(st.st_mode);
    } else if (same_file(st, keep)) {
        error = "it is the bank being read; not overwritten";
    } else if (!empty_or_output(folder, name.c_str(), st)) {
        error = "a file that is not " + output_kind_with_article(name) + " file is in the way; not overwritten";
    } else {
        return true;  // a hard link to it elsewhere stays as it is: the name is replaced, not the file
    }
    return false;
}

// A name no file has: a counter and the process make it unique within the
// run, a clock between runs, and O_EXCL settles the rest.
std::string temporary_name(int attempt) {
    static std::atomic<unsigned> counter{0};  // workers make files at once
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = (static_cast<std::uint64_t>(getpid()) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
                        (static_cast<std::uint64_t>(++counter) << 20) ^ static_cast<std::uint64_t>(attempt);
    mix *= 0x9E3779B97F4A7C15ull;
    char text[32];
    std::snprintf(text, sizeof text, ".bankrip-%06x.tmp", static_cast<unsigned>(mix >> 40));
    return text;
}

}  // namespace

std::uint64_t open_files_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

std::string executable_folder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(n));
            const auto slash = path.rfind(kSeparator);
            return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);  // the link was cut off: try a larger buffer
    }
}

void enter_directory(const std::string& folder) { (void)chdir(folder.c_str()); }

bool is_relative(const std::string& path) { return path.empty() || path[0] != kSeparator; }

std::string full_path(const std::string& path) {
    if (!is_relative(path)) return path;
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return path;
        buffer.resize(buffer.size() * 2);
    }
    std::string folder = buffer.data();
    if (folder.empty() || folder.back() != kSeparator) folder += kSeparator;
    return folder + path;
}

bool can_create_files_in(const std::string& folder, std::string& error) {
    if (access(folder.c_str(), W_OK | X_OK) == 0) return true;
    error = system_error();
    return false;
}

bool make_directories(const std::string& path, std::string& error) {
    struct stat st {};
    std::string bare = path;  // "file/" would not stat as the file it names
    while (bare.size() > 1 && bare.back() == kSeparator) bare.pop_back();
    if (stat(bare.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        error = "it is a file, not a folder";
        return false;
    }
    // Create each missing level from the top down.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != kSeparator) continue;
        const std::string level = path.substr(0, i);
        if (mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) {
            error = system_error();
            return false;
        }
    }
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "could not be created as a directory";
        return false;
    }
    return true;
}

void remove_file(const std::string& path) {
    // Only what we wrote ourselves: an output path may name a device.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) (void)unlink(path.c_str());
}

FileId file_id(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return {};
    return {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void remove_unfinished_file_on_interrupt() {
    const sigset_t mask = held_signals();  // one handler at a time
    for (const int s : kInterrupts) handle(s, on_interrupt, mask);
    for (const auto& s : kDeadly) handle(s.number, on_deadly_signal, mask);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) handle(s, on_deadly_signal, mask);
    if (BANKRIP_OWN_FAULT_HANDLERS) {
        for (const auto& s : kFaults) handle(s.number, on_deadly_signal, mask);
    }
    // A write beyond the limit then fails with EFBIG, like one on a full disk.
    signal(SIGXFSZ, SIG_IGN);
}

void end_run_for_closed_output() { on_interrupt(SIGPIPE); }

void note_status_line(bool shown) { status_line_shown.store(shown); }

bool run_is_ending() { return ending.load(); }

OutputFolder::~OutputFolder() {
    if (is_open()) ::close(fd_of(handle_));
}

bool OutputFolder::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        error = system_error();
        if (fd >= 0) ::close(fd);
        return false;
    }
    adopt(fd, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino));
    return true;
}

void OutputFolder::adopt(std::intptr_t handle, std::uint64_t device, std::uint64_t file) {
    if (is_open()) ::close(fd_of(handle_));
    handle_ = handle;
    device_ = device;
    id_ = {true, device, file};
}

OutputFolder::Child OutputFolder::open_child(const OutputFolder& parent, const std::string& name,
                                             std::string& error) {
    const int at = fd_of(parent.handle_);
    if (!parent.is_open()) {
        error = "the folder it is in is not open";
        return Child::failed;
    }
    const bool made = mkdirat(at, name.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) {
        error = system_error();
        return Child::failed;
    }
    const int fd = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0) {
        adopt(fd, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino));
        if (!made && !parent.listed_exactly(name)) {
            error = "the volume takes this name as that of a folder listed under another spelling";
            return Child::taken;
        }
        return Child::opened;
    }
    error = system_error();
    if (fd >= 0) ::close(fd);
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Child::failed;
    if (S_ISLNK(st.st_mode)) {
        error = "a symbolic link is in the way; not followed";
        return Child::link;
    }
    if (S_ISDIR(st.st_mode)) return Child::failed;
    error = "something that is not a folder is in the way";
    return Child::not_a_folder;
}

bool OutputFolder::holds_written(const std::string& name) const {
    struct stat st {};
    return is_open() && fstatat(fd_of(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_dev) == device_ &&
           knows_written(static_cast<std::uint64_t>(st.st_ino));
}

bool OutputFolder::read_listing() const {
    const int fd = is_open() ? openat(fd_of(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    KeySet names;
    bool whole = true;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) {
            whole = errno == 0;
            break;
        }
        names.insert(text_key(e->d_name));
    }
    closedir(dir);
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
    if (!replaceable(fd_of(folder.handle_), name, keep, there, error_)) return false;
    slot_ = claim_slot();
    if (slot_ < 0) {
        error_ = "cannot create the file: " + std::to_string(kSlots) + " files are being written already";
        return false;
    }
    Unfinished& u = unfinished[slot_];
    std::atomic<int>& state = slot_state[slot_];
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporary = temporary_name(attempt);
        // The handler learns the name before the file exists, and no signal
        // comes to this thread between the two.
        SignalsHeld held;
        u.folder = fd_of(folder.handle_);
        copy_text(u.name, sizeof u.name, temporary);
        copy_text(u.shown, sizeof u.shown, shown);
        state.store(kCreating);
        // The run is ending on another thread: it makes no file now.
        if (ending.load()) {
            state.store(kClaimed);
            wait_for_the_end();
        }
        const int fd = openat(u.folder, u.name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        state.store(fd >= 0 ? kKnown : kClaimed);
        if (fd >= 0) {
            handle_ = fd;
            folder_ = &folder;
            name_ = name;
            temporary_ = temporary;
            keep_ = keep;
            return true;
        }
        if (errno != EEXIST) break;
    }
    error_ = "cannot create the file: " + system_error();
    release_slot();
    return false;
}

int OutputFile::claim_slot() {
    for (int i = 0; i < kSlots; ++i) {
        int free_state = kFree;
        if (slot_state[i].compare_exchange_strong(free_state, kClaimed)) return i;
    }
    return -1;
}

void OutputFile::release_slot() {
    if (slot_ < 0) return;
    // The handler took the slot: the run ends on its thread.
    for (int held : {kClaimed, kKnown}) {
        if (slot_state[slot_].compare_exchange_strong(held, kFree)) {
            slot_ = -1;
            return;
        }
    }
    wait_for_the_end();
}

bool OutputFile::write(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_of(handle_), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = system_error();
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::copy_from(std::intptr_t source, std::uint64_t offset, std::uint64_t size, bool& unsupported) {
    unsupported = false;
#if defined(__linux__)
    auto from = static_cast<loff_t>(offset);
    bool first = true;
    while (size > 0) {
        const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(size, std::uint64_t{1} << 30));
        const ssize_t n = ::copy_file_range(static_cast<int>(source), &from, fd_of(handle_), nullptr, part, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && first && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                               errno == EBADF || errno == EPERM)) {
            unsupported = true;
            return false;
        }
        if (n <= 0) {
            error_ = n == 0 ? "the bank ended early" : system_error();
            return false;
        }
        first = false;
        size -= static_cast<std::uint64_t>(n);
    }
    return true;
#else
    (void)source, (void)offset, (void)size;
    unsupported = true;
    return false;
#endif
}

bool OutputFile::write_pieces(const Piece* pieces, std::size_t count) {
    constexpr std::size_t kMostAtOnce = 1024;  // IOV_MAX on Linux and the BSDs
    iovec vec[kMostAtOnce];
    std::size_t next = 0;     // the piece that goes after what is in vec
    std::size_t in_vec = 0;   // pieces in vec from `first`
    std::size_t first = 0;    // vec[first] is the first piece not yet written
    while (first < in_vec || next < count) {
        if (first == in_vec) {
            // Refill: the next pieces, the empty ones left out.
            first = in_vec = 0;
            for (; next < count && in_vec < kMostAtOnce; ++next) {
                if (pieces[next].size == 0) continue;
                vec[in_vec++] = {const_cast<void*>(pieces[next].data), pieces[next].size};
            }
            if (in_vec == 0) break;
        }
        const ssize_t n = ::writev(fd_of(handle_), vec + first, static_cast<int>(in_vec - first));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = system_error();
            return false;
        }
        // Past what went: whole pieces, then into the first one left.
        auto written = static_cast<std::size_t>(n);
        while (first < in_vec && written >= vec[first].iov_len) written -= vec[first++].iov_len;
        if (first < in_vec) {
            vec[first].iov_base = static_cast<char*>(vec[first].iov_base) + written;
            vec[first].iov_len -= written;
        }
    }
    return true;
}

bool OutputFile::write_at(std::uint64_t offset, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_of(handle_), p, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            error_ = system_error();
            return false;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::close() {
    if (!is_open()) return !temporary_.empty();
    struct stat st {};
    const bool known = fstat(fd_of(handle_), &st) == 0;
    const int closed = ::close(fd_of(handle_));
    handle_ = kClosed;
    if (closed != 0 || !known) {
        error_ = system_error();
        return false;
    }
    written_as_ = {true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

bool OutputFile::commit() {
    if (temporary_.empty() || !close()) {
        discard();
        return false;
    }
    const int folder = fd_of(folder_->handle_);
    bool there = false;
    if (replaceable(folder, name_, keep_, there, error_)) {
        if (there && folder_->holds_written(name_)) {
            error_ = "the volume takes this name as that of a file this run wrote already; not overwritten";
        } else if (there && !folder_->listed_exactly(name_)) {
            error_ = "the volume takes this name as that of another file in the folder (it folds names together); "
                     "not overwritten";
        } else {
            SignalsHeld held;
            // Where nothing was, nothing that came since is replaced unseen.
            int renamed = there ? -1 : renameat2(folder, temporary_.c_str(), folder, name_.c_str(), RENAME_NOREPLACE);
            if (renamed != 0 && (there || errno == EINVAL || errno == ENOSYS)) {
                renamed = renameat(folder, temporary_.c_str(), folder, name_.c_str());
            }
            if (renamed == 0) {
                release_slot();
                temporary_.clear();
                folder_->remember_written(written_as_.file);
                return true;
            }
            error_ = errno == EEXIST ? "another file took the name while it was written; not overwritten"
                                     : "cannot give the file its name: " + system_error();
        }
    }
    discard();
    return false;
}

void OutputFile::discard() {
    if (is_open()) {
        ::close(fd_of(handle_));
        handle_ = kClosed;
    }
    if (temporary_.empty()) return release_slot();
    SignalsHeld held;
    unlinkat(fd_of(folder_->handle_), temporary_.c_str(), 0);
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
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct stat made {}, found {};
    // The temporary name is this run's alone: its other spelling found at
    // all is the same file, whatever inode the volume gives each spelling
    // (exFAT through FUSE gives each its own).
    const bool folds = fstat(fd_of(handle_), &made) == 0 &&
                       fstatat(fd_of(folder.handle_), upper.c_str(), &found, AT_SYMLINK_NOFOLLOW) == 0;
    discard();
    return folds;
}

}  // namespace platform
