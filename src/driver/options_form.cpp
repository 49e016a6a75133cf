#include "driver/options_form.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>
#include <functional>
#include <memory>
#include <new>
#include <string>

#include "driver/bank_keys.h"
#include "driver/bank_notes.h"
#include "driver/destination.h"
#include "driver/listing.h"
#include "driver/operands.h"
#include "driver/options.h"
#include "driver/replace_form.h"
#include "driver/sound_workers.h"
#include "driver/status_line.h"
#include "driver/summary.h"
#include "driver/unity_names.h"
#include "platform/platform.h"
#include "result/result.h"
#include "soundlib/soundlib.h"
#include "wav/console.h"
#include "wav/extract_subsound.h"
#include "wav/sound_writer.h"

namespace {

// How far the reading and naming of banks may run ahead of the sounds
// finished, in steps of the output (sounds, mostly), and in banks open:
// far enough that a bank ending in one long sound leaves no worker idle
// while the banks after it are named and written. Every step ahead may be a
// file waiting for its name.
constexpr std::size_t kStepsAhead = 1024;
constexpr int kBanksAhead = 64;

// Fewer under a low limit of open files (each bank open ahead holds its
// file and its folder open, and each worker a handle of its own on it).
int banks_ahead(int workers) {
    const std::uint64_t limit = platform::open_files_limit();
    if (limit == 0) return kBanksAhead;
    const std::uint64_t spare = limit > 32 + 2u * workers ? limit - 32 - 2u * workers : 0;
    return static_cast<int>(std::clamp<std::uint64_t>(spare / 4, 1, kBanksAhead));
}
static_assert(kStepsAhead + kMostJobs <= platform::kMostFilesAtOnce);

// How much a walk reads of the files it passes over, looking for a bank's
// magic further in: a little of each, and a bound for the run.
constexpr std::uint64_t kProbedPerFile = 4 << 20;
constexpr std::uint64_t kMostProbed = 256 << 20;

// "FSB3", "FSB4" or "FSB5" in the file's first bytes.
bool may_hold_a_bank(const std::string& path, std::uint64_t& probed) {
    std::FILE* f = std::fopen(path.c_str(), "rb");  // on Windows, names in the ANSI code page only: a hint missed, no more
    if (!f) return false;
    std::vector<char> buffer(1 << 20);
    std::size_t kept = 0;  // the last bytes of the chunk before, for a magic across chunks
    bool found = false;
    for (std::uint64_t read = 0; !found && read < kProbedPerFile;) {
        const std::size_t got = std::fread(buffer.data() + kept, 1, buffer.size() - kept, f);
        if (got == 0) break;
        read += got;
        probed += got;
        const std::size_t end = kept + got;
        for (std::size_t i = 0; i + 4 <= end && !found; ++i) {
            found = buffer[i] == 'F' && buffer[i + 1] == 'S' && buffer[i + 2] == 'B' && buffer[i + 3] >= '3' &&
                    buffer[i + 3] <= '5';
        }
        kept = std::min<std::size_t>(3, end);
        std::memmove(buffer.data(), buffer.data() + end - kept, kept);
    }
    std::fclose(f);
    return found;
}

void report(const std::string& path, const std::string& reason) {
    console_write(stderr, "bankrip: " + printable_name(path) + ": " + printable_name(reason) + "\n");
}

// The file a bank was read from, as the library opened it.
platform::FileId opened_file(FMOD_SOUND* bank) {
    unsigned long long device = 0, file = 0;
    if (soundlib_bank_file_identity(bank, &device, &file) != FMOD_OK) return {};
    return {true, device, file};
}

// Whether the file starts with an FSB5 bank: a Unity resource file does.
bool starts_with_fsb5(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");  // on Windows, names in the ANSI code page only: no clip names then
    if (!f) return false;
    char magic[4] = {};
    const bool fsb5 = std::fread(magic, 1, 4, f) == 4 && std::memcmp(magic, "FSB5", 4) == 0;
    std::fclose(f);
    return fsb5;
}

bool same_file(const platform::FileId& a, const platform::FileId& b) {
    return a.known && b.known && a.device == b.device && a.file == b.file;
}

// Where a bank's sounds go, settled at its first sound listed or written.
struct BankPlace {
    bool settled = false;
    std::string shown;  // the folder as paths are printed: empty or ending with the separator
    platform::OutputFolder own;  // the bank's own folder, when it has one
    platform::OutputFolder* folder = &own;
    bool usable = true;
};

// Why the library could not open a bank, in its own words when it has them.
std::string open_failure(FMOD_SYSTEM* system, FMOD_RESULT result, const std::string& path) {
    std::string detail = soundlib_system_error_detail(system);
    const std::string prefix = path + ": ";
    if (detail.compare(0, prefix.size(), prefix) == 0) detail.erase(0, prefix.size());
    if (detail.empty()) {
        detail = result_message(result);
        while (!detail.empty() && detail.back() == ' ') detail.pop_back();
    }
    return detail;
}

SoundFacts describe(FMOD_SOUND* subsound, int index, bool show_offset) {
    SoundFacts s;
    s.index = index;
    char name[256];
    check_result(FMOD_Sound_GetName(subsound, name, sizeof name));
    s.name = name;
    s.codec = soundlib_codec_name(subsound);
    // A sound with no format to give (its header could not be read again)
    // is listed with 0 channels; writing it fails with the reason.
    if (FMOD_Sound_GetFormat(subsound, nullptr, nullptr, &s.channels, nullptr) != FMOD_OK) s.channels = 0;
    float rate = 0;
    check_result(FMOD_Sound_GetDefaults(subsound, &rate, nullptr, nullptr, nullptr));
    // A bank may give any 32-bit rate; a float that large has no exact cast.
    s.rate = !(rate > 0) ? 0 : rate >= 4294967040.0f ? 0xFFFFFFFFu : static_cast<unsigned int>(std::llround(rate));
    check_result(FMOD_Sound_GetLength(subsound, &s.frames, FMOD_TIMEUNIT_PCM));
    s.loops = subsound_loop(subsound, s.loop_start, s.loop_end);
    s.show_bank_offset = show_offset;
    unsigned long long offset = 0;
    if (show_offset && soundlib_subsound_bank_offset(subsound, &offset) == FMOD_OK) s.bank_offset = offset;
    return s;
}

const char* status_text(Written written) {
    switch (written) {
        case Written::whole: return "written";
        case Written::in_part: return "written in part";
        case Written::empty: return "empty";
        case Written::not_at_all: break;
    }
    return "not written";
}

// One bank's sounds on their way to the workers: the bank's handle, from
// which each worker takes one of its own, and where its files go.
struct BankWork {
    BankWork(std::atomic<int>& open_banks, InOrder& order) : open_banks_(open_banks), order_(order) { ++open_banks_; }
    BankWork(const BankWork&) = delete;
    BankWork& operator=(const BankWork&) = delete;
    ~BankWork() {
        if (bank) FMOD_Sound_Release(bank);
        --open_banks_;
        order_.poke();  // the main thread may be waiting for room to open the next
    }
    std::uint64_t serial = 0;  // which bank of the run
    FMOD_SOUND* bank = nullptr;
    std::string path;
    platform::FileId file;
    BankPlace place;  // settled on the main thread before any sound is handed out
    bool scanned = false;  // read as --scan reads: its sounds' offsets are listed
    // Sounds whose data the file does not reach (a cut bank): said once,
    // when the bank is done. On the main thread.
    std::uint64_t past_the_end = 0;
    std::vector<std::string> past_the_end_names;  // the first few
    // A worker could not take a handle of its own on the bank: its other
    // sounds are not written, and that is said once.
    std::atomic<bool> no_handle{false};
    bool no_handle_said = false;  // on the main thread
    void set_no_handle(const std::string& why) {
        std::lock_guard<std::mutex> held(why_lock_);
        if (no_handle_why.empty()) no_handle_why = why;
        no_handle = true;
    }
    std::string no_handle_reason() {
        std::lock_guard<std::mutex> held(why_lock_);
        return no_handle_why;
    }

private:
    std::mutex why_lock_;
    std::string no_handle_why;  // the first worker's reason
    std::atomic<int>& open_banks_;
    InOrder& order_;
};

// What became of one sound, for the listing, the JSON and the counts.
struct SoundOutcome {
    std::string bank_path;
    SoundFacts facts;
    Extracted extracted;
    std::string failure;  // a sound that could not be dealt with at all
    std::shared_ptr<BankWork> bank_lost;  // set when it failed with its bank's other sounds
    std::shared_ptr<BankWork> bank;       // the bank it is of
};

class Run {
public:
    Run(const Options& options, FMOD_SYSTEM* system)
        : options_(options),
          system_(system),
          text_(stdout),
          json_(stdout),
          sounds_(options.sounds),
          output_(options.output.empty() ? std::string() : destination_text(options.output.c_str())),
          order_(kStepsAhead) {
        style_.always_wav = true;
        style_.loop_chunk = options.loops;
        style_.format = options.format;
        style_.keep_original = options.keep_original;
        style_.no_empty_files = true;
        style_.say_unwritten = true;
        style_.progress = options.quiet ? nullptr : options.json ? stderr : stdout;
        // On a terminal, one status line instead of a line per sound.
        if (!options.quiet && !options.json && !options.list && stderr_is_terminal()) {
            status_ = std::make_unique<StatusLine>(0);
            if (!options.verbose) style_.progress = nullptr;
        }
        // The main thread reads and names the banks; with more than one
        // worker asked for, the workers write.
        if (options.jobs > 1 && !options.list) start_workers(options.jobs);
        if (capturing()) capture_console(&said_);
    }
    ~Run() { stop_workers(); }

    void bank(const BankJob& job);
    // How many banks the run reads, for the status line.
    void expect_banks(std::size_t banks) {
        if (status_) *status_ = StatusLine(banks);
    }
    void problem(const OperandProblem& p) { unreadable(p.path, p.reason); }
    // Ends the run: the last sounds finished, the listing closed, the
    // summary with the time since `start`.
    void finish(std::chrono::steady_clock::time_point start);
    void out_of_memory() {
        step([this] {
            std::fputs("bankrip: not enough memory to go on; the files already written are kept\n", stderr);
            failed_ = true;
        });
    }
    int status() const {
        return counts_.not_written || counts_.in_part || counts_.unreadable || damaged_ || failed_ ? 1 : 0;
    }

private:
    void start_workers(int asked);
    // Before a bank is opened: until fewer than kBanksAhead are open.
    void wait_for_room();
    void settle(const BankJob& job, BankPlace& place);
    void sounds(const std::shared_ptr<BankWork>& work, int count, const BankJob& job, const ResourceNames& names);
    void write(const std::shared_ptr<BankWork>& work, FMOD_SOUND* subsound, int index, SoundFacts facts,
               const std::string& file_name);
    SoundOutcome write_on_worker(int worker, const std::shared_ptr<BankWork>& work, int index, SoundFacts facts,
                                 const std::string& file_name, SoundInProgress& sound);
    void record(const SoundOutcome& outcome);
    void sound_failed(const std::string& where, int index, const std::string& reason);
    // Output in order: with workers, after every earlier step, with what the
    // main thread said meanwhile before it; without, at once.
    void step(std::function<void()> emit);
    void flush(bool all);
    // The main thread's console text is held for the steps, so that it comes
    // in order (workers) or off the status line's way.
    bool capturing() const { return pool_ || status_; }
    void show(const ConsoleCapture& said);
    void stop_workers();
    // The output folder, made and opened once, at the first bank with sounds
    // to write.
    bool open_root() {
        if (root_state_ == 0) root_state_ = prepare_destination(output_, "") && open_destination(root_, output_) ? 1 : -1;
        return root_state_ > 0;
    }
    void unreadable(const std::string& path, const std::string& reason) {
        step([this, path, reason] {
            report(path, reason);
            ++counts_.unreadable;
            if (options_.json) {
                json_.begin_bank({path, false, reason});
                json_.end_bank();
            }
        });
    }

    // Each worker's own handle on the bank it is writing from.
    struct WorkerBank {
        std::uint64_t serial = 0;
        FMOD_SOUND* handle = nullptr;
    };
    FMOD_SOUND* worker_bank(int worker, const BankWork& work);

    const Options& options_;
    FMOD_SYSTEM* system_;
    TextListing text_;
    JsonListing json_;
    SoundSelection sounds_;  // notes which -s values picked a sound
    std::string output_;
    ExtractStyle style_;
    platform::OutputFolder root_;
    int root_state_ = 0;  // 0 not tried yet, 1 open, -1 cannot be used
    BankFolders folders_;
    UnityNames unity_names_;  // each folder's Unity serialized files, read once
    RunCounts counts_;
    bool damaged_ = false;
    bool failed_ = false;  // something the summary does not count went wrong
    std::uint64_t banks_begun_ = 0;

    InOrder order_;
    std::vector<std::string> passed_over_;  // the first few files without a bank, for the hint
    std::uint64_t passed_over_with_magic_ = 0;
    std::uint64_t passed_over_probed_ = 0;  // bytes read looking for a bank's magic
    std::atomic<int> open_banks_{0};
    int banks_ahead_ = kBanksAhead;
    ConsoleCapture said_;  // the main thread's console text, while there are workers
    std::vector<WorkerBank> worker_banks_;
    std::vector<TransferBuffer> worker_buffers_;  // each worker's, by its number
    std::unique_ptr<WorkerPool> pool_;  // none: the main thread writes
    std::unique_ptr<StatusLine> status_;  // none: not on a terminal, or not wanted
};

void Run::start_workers(int asked) {
    pool_ = std::make_unique<WorkerPool>(asked);
    const int started = pool_->started();
    if (started < asked) {
        // Said once, before anything else: the run goes on all the same.
        const std::string why = printable_name(pool_->failure());
        if (started == 0) {
            std::fprintf(stderr, "bankrip: no worker could be started (%s); the sounds are written one at a time\n",
                         why.c_str());
            pool_.reset();
            return;
        }
        std::fprintf(stderr, "bankrip: the run goes on with %d of %d workers: no more could be started (%s)\n",
                     started, asked, why.c_str());
    }
    worker_banks_.resize(static_cast<std::size_t>(started));
    banks_ahead_ = banks_ahead(started);
    worker_buffers_.resize(static_cast<std::size_t>(started));
}

void Run::wait_for_room() {
    if (!pool_) return;
    capture_console(nullptr);
    order_.emit_until([this] { return open_banks_.load() < banks_ahead_; });
    capture_console(&said_);
}

void Run::show(const ConsoleCapture& said) {
    if (said.out.empty() && said.err.empty()) return;
    if (status_) status_->clear();
    print_captured(said);
}

void Run::step(std::function<void()> emit) {
    if (!capturing()) return emit();
    ConsoleCapture said = std::move(said_);
    said_ = {};
    auto shown = [this, said = std::move(said), emit = std::move(emit)] {
        show(said);
        emit();
        if (status_) status_->draw();
    };
    if (pool_) {
        order_.ready(std::move(shown));
        return flush(false);
    }
    capture_console(nullptr);  // a step prints what it says itself
    shown();
    capture_console(&said_);
}

void Run::flush(bool all) {
    if (!pool_) return;
    capture_console(nullptr);
    order_.emit(all);
    capture_console(&said_);
}

void Run::stop_workers() {
    if (!capturing()) return;
    flush(true);
    pool_.reset();
    capture_console(nullptr);
    show(said_);
    said_ = {};
    if (status_) status_->clear();
    for (WorkerBank& b : worker_banks_) {
        if (b.handle) FMOD_Sound_Release(b.handle);
        b = {};
    }
}

FMOD_SOUND* Run::worker_bank(int worker, const BankWork& work) {
    WorkerBank& mine = worker_banks_[static_cast<std::size_t>(worker)];
    if (mine.serial != work.serial || !mine.handle) {
        if (mine.handle) FMOD_Sound_Release(mine.handle);
        mine = {};
        FMOD_SOUND* handle = nullptr;
        check_result(soundlib_bank_duplicate(work.bank, &handle));
        mine = {work.serial, handle};
    }
    return mine.handle;
}

// A sound that could not be dealt with at all (the library refused a query,
// memory ran out): reported, counted, and listed as not written.
void Run::sound_failed(const std::string& where, int index, const std::string& reason) {
    report(where, "sound " + std::to_string(index) + ": " + reason + "; not written");
    ++counts_.not_written;
    if (options_.json) {
        SoundFacts facts;
        facts.index = index;
        facts.status = "not written";
        json_.sound(facts);
    }
}

// What a failed query of the library says: its own words for the cause
// when it has them, else the result's text.
std::string failure_text(const LibraryFailure& failure, FMOD_SOUND* sound = nullptr) {
    const std::string detail = sound ? soundlib_error_detail(sound) : "";
    if (!detail.empty()) return detail;
    std::string text = result_message(failure.result);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

void Run::finish(std::chrono::steady_clock::time_point start) {
    stop_workers();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (options_.json) json_.finish();
    if (counts_.banks > 0) {
        for (const std::string& value : sounds_.unused()) {
            const std::string hint = sounds_.hint(value);
            std::fprintf(stderr, "bankrip: --sound '%s' picked no sound of the banks read%s\n",
                         printable_name(value).c_str(), hint.empty() ? "" : ("; " + printable_name(hint)).c_str());
            failed_ = true;
        }
    }
    if (options_.list || options_.json) {
        if (const int error = listing_write_error(stdout)) {
            std::fprintf(stderr, "bankrip: the listing could not be written to standard output: %s\n",
                         std::strerror(error));
            failed_ = true;
        }
    }
    if (passed_over_with_magic_ > 0 && !options_.scan) {
        // Which files, and where to look further: a game archive holds its
        // banks past its start.
        std::string which;
        for (const std::string& path : passed_over_) which += (which.empty() ? "" : ", ") + printable_name(path);
        if (passed_over_with_magic_ > passed_over_.size()) {
            which += " and " + with_thousands(passed_over_with_magic_ - passed_over_.size()) + " more";
        }
        std::fprintf(stderr, "bankrip: passed over, with no bank at their start but a bank's magic further in: %s; "
                             "--scan looks inside them\n",
                     which.c_str());
    }
    std::fprintf(stderr, "%s\n", summary_line(counts_, seconds, options_.list).c_str());
}

void Run::settle(const BankJob& job, BankPlace& place) {
    place.settled = true;
    place.shown = output_;
    if (options_.list) {
        if (!job.levels.empty()) place.shown += folders_.listed(job.levels);
        return;
    }
    place.usable = open_root();
    if (place.usable) folders_.fold_case = root_.folds_case();
    if (job.levels.empty()) {
        place.folder = &root_;
        return;
    }
    if (!place.usable) {
        place.shown += folders_.listed(job.levels);
        return;
    }
    std::string below;
    std::string error;
    place.usable = folders_.open(root_, job.levels, place.own, below, error);
    place.shown += below;
    if (!place.usable) report(place.shown, error + "; nothing of " + job.path + " is written");
}

void Run::bank(const BankJob& job) {
    // What a walk found is read as it was found: not through a link put in
    // its place since, and only when it is still the same file.
    const FMOD_MODE mode = FMOD_CREATESTREAM | (options_.scan ? SOUNDLIB_SCAN : 0u) |
                           (job.named || job.via_link ? 0u : SOUNDLIB_NOFOLLOW);
    const std::vector<std::string> keys = bank_keys(job.path, options_.keys);
    KeyExinfo key_info(keys);
    wait_for_room();
    FMOD_SOUND* bank = nullptr;
    FMOD_RESULT opened = FMOD_System_CreateSound(system_, job.path.c_str(), mode, key_info.get(), &bank);
    bool scanned = options_.scan;
    if (opened == FMOD_ERR_FORMAT && job.named && !options_.scan) {
        // A file named on the command line with no bank at its start: one
        // further in (a game archive) is what the user is after.
        FMOD_SOUND* inside = nullptr;
        if (FMOD_System_CreateSound(system_, job.path.c_str(), mode | SOUNDLIB_SCAN, key_info.get(), &inside) ==
            FMOD_OK) {
            bank = inside;
            opened = FMOD_OK;
            scanned = true;
            const std::string path = job.path;
            step([path] {
                report(path, "no bank at its start; the banks found further in are read, as --scan reads them");
            });
        }
    }
    if (opened != FMOD_OK) {
        // A file met in a folder that holds no bank is no one's concern,
        // unless its name says it is one (an encrypted bank, say).
        if (!job.named && opened == FMOD_ERR_FORMAT && !named_like_a_bank(job.path)) {
            const std::string path = job.path;
            // Whether it may hold a bank further in, for the hint: a
            // bounded look for a bank's magic.
            const bool maybe = passed_over_probed_ < kMostProbed && may_hold_a_bank(job.path, passed_over_probed_);
            step([this, path, maybe] {
                if (maybe && passed_over_.size() < 3) passed_over_.push_back(path);
                if (maybe) ++passed_over_with_magic_;
                ++counts_.passed_over;
                if (status_) status_->file_done();
            });
            return;
        }
        unreadable(job.path, open_failure(system_, opened, job.path) + encryption_advice(system_, true, job.path));
        if (status_) step([this] { status_->file_done(); });
        return;
    }
    auto work = std::make_shared<BankWork>(open_banks_, order_);
    work->serial = ++banks_begun_;
    work->bank = bank;
    work->path = job.path;
    work->scanned = scanned;
    work->file = opened_file(bank);
    if (!job.named && job.seen.known && !same_file(work->file, job.seen)) {
        unreadable(job.path, "it is no longer the file found when its folder was walked; not read");
        if (status_) step([this] { status_->file_done(); });
        return;
    }
    int count = 0;
    if (FMOD_Sound_GetNumSubSounds(bank, &count) != FMOD_OK) count = 0;
    const bool damaged = report_bank_notes(bank);
    const BankFacts facts{job.path, soundlib_bank_encrypted(bank) != 0, ""};
    // A Unity resource file: its banks named after the clips that point to them.
    ResourceNames names;
    if (!facts.encrypted && starts_with_fsb5(job.path)) names = unity_names_.names_for(job.path);
    if (!names.said.empty()) {
        const std::string path = job.path;
        const std::string said = names.said;
        step([path, said] { report(path, said); });
    }
    step([this, facts, count, damaged] {
        damaged_ = damaged || damaged_;
        ++counts_.banks;
        if (status_) status_->begin_bank(facts.path, static_cast<std::uint64_t>(count));
        if (options_.json) json_.begin_bank(facts);
        if (options_.list && !options_.json) text_.begin_bank(facts, count);
    });
    try {
        sounds(work, count, job, names);
    } catch (const std::bad_alloc&) {
        const std::string path = job.path;
        step([this, path] {
            report(path, "not enough memory to go on; the bank's other sounds were not written");
            failed_ = true;
        });
    }
    step([this, work] {
        if (work->past_the_end > 0) {
            std::string names;
            for (const std::string& n : work->past_the_end_names) names += (names.empty() ? "" : ", ") + n;
            if (work->past_the_end > work->past_the_end_names.size()) {
                names += " and " + with_thousands(work->past_the_end - work->past_the_end_names.size()) + " more";
            }
            report(work->path, "the file ends before the data of " + with_thousands(work->past_the_end) +
                                   (work->past_the_end == 1 ? " sound" : " sounds") + " (it is truncated): " + names +
                                   "; not written");
        }
        if (options_.json) json_.end_bank();
        if (status_) status_->file_done();
    });
}

void Run::sounds(const std::shared_ptr<BankWork>& work, int count, const BankJob& job, const ResourceNames& names) {
    UsedNames used_names;
    // Every name is given here, in order, before any file is written: the
    // same names whatever the number of workers. A volume that ignores case
    // (asked once, of the output folder) takes Boom and boom as one name.
    used_names.fold_case = !options_.list && count > 0 && open_root() && root_.folds_case();
    BankPlace& place = work->place;
    for (int index = 0; index < count; ++index) {
        try {
            FMOD_SOUND* subsound = nullptr;
            check_result(FMOD_Sound_GetSubSound(work->bank, index, &subsound));
            char name[256];
            check_result(FMOD_Sound_GetName(subsound, name, sizeof name));
            // Named all the same, so that a sound's file is called the same
            // whichever sounds are picked.
            const ClipName* clip = nullptr;
            unsigned long long bank_offset = 0;
            if (!names.by_offset.empty() && soundlib_subsound_bank_offset(subsound, &bank_offset) == FMOD_OK) {
                const auto found = names.by_offset.find(bank_offset);
                if (found != names.by_offset.end()) clip = &found->second;
            }
            const std::string file_name =
                clip ? output_name(clip->name.c_str(), index, used_names, style_.always_wav,
                                   format_extension(subsound_format(subsound, style_, nullptr)))
                     : subsound_file_name(subsound, index, used_names, style_);
            const bool picked = sounds_.picks(index, clip ? clip->name.c_str() : name, file_name);
            if (!picked) continue;
            SoundFacts sound;
            if (options_.list || options_.json) sound = describe(subsound, index, work->scanned);
            if (clip) {
                sound.name = clip->name;
                sound.name_file = clip->file;
                sound.name_path_id = clip->path_id;
                sound.named_by_clip = true;
            }
            if (!place.settled) settle(job, place);
            if (options_.list) {
                sound.output = place.shown + file_name;
                sound.format = format_name(subsound_format(subsound, style_, nullptr));
                step([this, sound] {
                    ++counts_.listed;
                    if (options_.json) {
                        json_.sound(sound);
                    } else {
                        text_.sound(sound);
                    }
                });
                continue;
            }
            write(work, subsound, index, std::move(sound), file_name);
        } catch (const LibraryFailure& failure) {
            const std::string path = job.path;
            const std::string why = failure_text(failure);
            step([this, path, index, why] { sound_failed(path, index, why); });
        } catch (const std::bad_alloc&) {
            // Without room for the names given so far, no later sound can be
            // named safely: the bank ends here.
            const auto lost = static_cast<std::uint64_t>(count - index);
            step([this, lost] { counts_.not_written += lost; });
            throw;
        }
    }
}

// One sound written: at once on this thread, or handed to a worker, its
// outcome taken in order.
void Run::write(const std::shared_ptr<BankWork>& work, FMOD_SOUND* subsound, int index, SoundFacts facts,
                const std::string& file_name) {
    if (!pool_) {
        SoundOutcome outcome;
        ExtractStyle style = style_;
        style.file_name = &file_name;
        UsedNames unused;
        const BankPlace& place = work->place;
        extract_subsound(subsound, index, place.shown, *place.folder, unused, work->file, place.usable, style,
                         &outcome.extracted);
        outcome.facts = std::move(facts);
        outcome.bank = work;
        return step([this, outcome = std::move(outcome)] { record(outcome); });
    }
    // What is said of the sound when the worker runs out of memory even to
    // tell what became of it: made here, where running out is dealt with.
    const std::uint64_t ticket = order_.pending([this, work, index] {
        sound_failed(work->path, index, "not enough memory");
        if (status_) status_->draw();
    });
    pool_->submit([this, work, index, facts = std::move(facts), file_name, ticket](int worker) {
        try {
            ConsoleCapture said;
            capture_console(&said);
            auto sound = std::make_shared<SoundInProgress>();
            SoundOutcome outcome = write_on_worker(worker, work, index, facts, file_name, *sound);
            capture_console(nullptr);
            // The file takes its name here, in the order of the sounds; its
            // folder is the bank's, held open until then.
            order_.finish(ticket, [this, said = std::move(said), outcome = std::move(outcome), sound, work]() mutable {
                show(said);
                if (outcome.failure.empty()) finish_subsound(*sound, &outcome.extracted);
                record(outcome);
                if (status_) status_->draw();
            });
        } catch (const std::bad_alloc&) {
            capture_console(nullptr);
            order_.lose(ticket);  // its file, if one was begun, went with it
        }
    });
    flush(false);
}

SoundOutcome Run::write_on_worker(int worker, const std::shared_ptr<BankWork>& work, int index, SoundFacts facts,
                                  const std::string& file_name, SoundInProgress& sound) {
    SoundOutcome outcome;
    outcome.bank_path = work->path;
    outcome.bank = work;
    outcome.facts = std::move(facts);
    outcome.facts.index = index;
    if (work->no_handle) {
        outcome.bank_lost = work;
        return outcome;
    }
    FMOD_SOUND* subsound = nullptr;
    try {
        FMOD_SOUND* bank = nullptr;
        try {
            bank = worker_bank(worker, *work);
        } catch (const LibraryFailure& failure) {
            // Tried once: the bank's other sounds are not tried again.
            work->set_no_handle(failure_text(failure, work->bank));
            outcome.bank_lost = work;
            return outcome;
        } catch (const std::bad_alloc&) {
            work->set_no_handle("not enough memory");
            outcome.bank_lost = work;
            return outcome;
        }
        check_result(FMOD_Sound_GetSubSound(bank, index, &subsound));
        ExtractStyle style = style_;
        style.file_name = &file_name;
        style.buffer = &worker_buffers_[static_cast<std::size_t>(worker)];
        UsedNames unused;
        write_subsound(subsound, index, work->place.shown, *work->place.folder, unused, work->file,
                       work->place.usable, style, sound);
    } catch (const LibraryFailure& failure) {
        outcome.failure = failure_text(failure, subsound);
    } catch (const std::bad_alloc&) {
        outcome.failure = "not enough memory";
    }
    // Done with on this handle: what it took of memory goes.
    if (subsound) FMOD_Sound_Release(subsound);
    return outcome;
}

void Run::record(const SoundOutcome& outcome) {
    if (outcome.bank_lost) {
        BankWork& work = *outcome.bank_lost;
        if (!work.no_handle_said) {
            work.no_handle_said = true;
            report(work.path, "a worker could not open the bank again (" + work.no_handle_reason() +
                                  "); from sound " + std::to_string(outcome.facts.index) +
                                  " on, its sounds were not written");
        }
        ++counts_.not_written;
        if (options_.json) {
            SoundFacts facts;
            facts.index = outcome.facts.index;
            facts.status = "not written";
            json_.sound(facts);
        }
        return;
    }
    if (!outcome.failure.empty()) return sound_failed(outcome.bank_path, outcome.facts.index, outcome.failure);
    SoundFacts sound = outcome.facts;
    const Extracted& extracted = outcome.extracted;
    if (extracted.past_the_end && outcome.bank) {
        BankWork& work = *outcome.bank;
        if (work.past_the_end_names.size() < 3) {
            const std::string& path = extracted.path;
            const auto slash = path.find_last_of(std::string("/") + platform::kSeparator);
            work.past_the_end_names.push_back(printable_name(slash == std::string::npos ? path : path.substr(slash + 1)));
        }
        ++work.past_the_end;
    }
    sound.output = extracted.path;
    sound.format = format_name(extracted.format);
    sound.status = status_text(extracted.written);
    sound.loops = sound.loops && extracted.loop_fits;
    switch (extracted.written) {
        case Written::whole: ++counts_.written; break;
        case Written::in_part: ++counts_.written; ++counts_.in_part; break;
        case Written::not_at_all: ++counts_.not_written; break;
        case Written::empty: ++counts_.empty; break;
    }
    counts_.bytes += extracted.bytes;
    if (status_ && (extracted.written == Written::whole || extracted.written == Written::in_part)) status_->sound_done(extracted.bytes);
    if (options_.json) json_.sound(sound);
}

}  // namespace

int run_options_form(int argc, char** argv) {
    Options options;
    std::string error;
    switch (parse_options(argc, argv, options, error)) {
        case ParseOutcome::help: std::fputs(HELP_TEXT, stdout); return 0;
        case ParseOutcome::version: std::fputs(version_text().c_str(), stdout); return 0;
        case ParseOutcome::usage_error:
            std::fprintf(stderr, "bankrip: %s; try 'bankrip --help'\n", printable_name(error).c_str());
            return 2;
        case ParseOutcome::run: break;
    }
    const auto start = std::chrono::steady_clock::now();

    FMOD_SYSTEM* system = nullptr;
    if (FMOD_System_Create(&system) != FMOD_OK || FMOD_System_Init(system, 32, 0, nullptr) != FMOD_OK) {
        std::fprintf(stderr, "bankrip: the sound library could not be set up\n");
        return 1;
    }
    platform::remove_unfinished_file_on_interrupt();
    check_failures_throw();
    if (!options.replace.empty()) {
        const int status = run_replace(options, system);
        FMOD_System_Close(system);
        FMOD_System_Release(system);
        return status;
    }
    Run run(options, system);
    try {
        std::vector<OperandProblem> problems;
        const std::vector<BankJob> jobs = bank_jobs(options.operands, problems);
        run.expect_banks(jobs.size());
        // In command-line order: an operand that cannot be read where it was given.
        std::size_t next_problem = 0;
        for (std::size_t i = 0; i <= jobs.size(); ++i) {
            while (next_problem < problems.size() && problems[next_problem].before <= i) run.problem(problems[next_problem++]);
            if (i < jobs.size()) run.bank(jobs[i]);
        }
    } catch (const std::bad_alloc&) {
        run.out_of_memory();
    }

    run.finish(start);
    FMOD_System_Close(system);
    FMOD_System_Release(system);
    return run.status();
}
