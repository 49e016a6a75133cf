#include "driver/options_form.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "driver/bank_keys.h"
#include "driver/bank_notes.h"
#include "driver/destination.h"
#include "driver/listing.h"
#include "driver/operands.h"
#include "driver/options.h"
#include "driver/summary.h"
#include "platform/platform.h"
#include "result/result.h"
#include "soundlib/soundlib.h"
#include "wav/extract_subsound.h"

namespace {

void report(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "bankrip: %s: %s\n", printable_name(path).c_str(), reason.c_str());
}

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
    check_result(FMOD_Sound_GetFormat(subsound, nullptr, nullptr, &s.channels, nullptr));
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
        case Written::not_at_all: break;
    }
    return "not written";
}

class Run {
public:
    Run(const Options& options, FMOD_SYSTEM* system)
        : options_(options),
          system_(system),
          text_(stdout),
          json_(stdout),
          sounds_(options.sounds),
          output_(options.output.empty() ? std::string() : destination_text(options.output.c_str())) {
        style_.always_wav = true;
        style_.loop_chunk = options.loops;
        style_.format = options.format;
        style_.keep_original = options.keep_original;
        style_.progress = options.quiet ? nullptr : options.json ? stderr : stdout;
    }

    void bank(const BankJob& job);
    void problem(const OperandProblem& p) { unreadable(p.path, p.reason); }
    void finish(double seconds);
    void out_of_memory() {
        std::fputs("bankrip: not enough memory to go on; the files already written are kept\n", stderr);
        failed_ = true;
    }
    int status() const {
        return counts_.not_written || counts_.in_part || counts_.unreadable || damaged_ || failed_ ? 1 : 0;
    }

private:
    void sounds(FMOD_SOUND* bank, int count, const BankJob& job);
    void sound_failed(const std::string& where, int index, const std::string& reason);
    void unreadable(const std::string& path, const std::string& reason) {
        report(path, reason);
        ++counts_.unreadable;
        if (options_.json) {
            json_.begin_bank({path, false, reason});
            json_.end_bank();
        }
    }

    const Options& options_;
    FMOD_SYSTEM* system_;
    TextListing text_;
    JsonListing json_;
    SoundSelection sounds_;  // notes which -s values picked a sound
    std::string output_;
    ExtractStyle style_;
    RunCounts counts_;
    bool damaged_ = false;
    bool failed_ = false;  // something the summary does not count went wrong
};

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

std::string failure_text(const LibraryFailure& failure) {
    std::string text = result_message(failure.result);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

void Run::finish(double seconds) {
    if (options_.json) json_.finish();
    if (counts_.banks > 0) {
        for (const std::string& value : sounds_.unused()) {
            std::fprintf(stderr, "bankrip: --sound '%s' picked no sound of the banks read\n",
                         printable_name(value).c_str());
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
    std::fprintf(stderr, "%s\n", summary_line(counts_, seconds, options_.list).c_str());
}

void Run::bank(const BankJob& job) {
    const FMOD_MODE mode = FMOD_CREATESTREAM | (options_.scan ? SOUNDLIB_SCAN : 0u);
    const std::vector<std::string> keys = bank_keys(job.path, options_.keys);
    KeyExinfo key_info(keys);
    FMOD_SOUND* bank = nullptr;
    const FMOD_RESULT opened = FMOD_System_CreateSound(system_, job.path.c_str(), mode, key_info.get(), &bank);
    if (opened != FMOD_OK) {
        // A file met in a folder that holds no bank is no one's concern.
        if (!job.named && opened == FMOD_ERR_FORMAT) {
            ++counts_.passed_over;
            return;
        }
        unreadable(job.path, open_failure(system_, opened, job.path) + encryption_advice(system_, true, job.path));
        return;
    }
    int count = 0;
    if (FMOD_Sound_GetNumSubSounds(bank, &count) != FMOD_OK) count = 0;
    damaged_ = report_bank_notes(bank) || damaged_;
    ++counts_.banks;

    const BankFacts facts{job.path, soundlib_bank_encrypted(bank) != 0, ""};
    if (options_.json) json_.begin_bank(facts);
    if (options_.list && !options_.json) text_.begin_bank(facts, count);
    try {
        sounds(bank, count, job);
    } catch (const std::bad_alloc&) {
        report(job.path, "not enough memory to go on; the bank's other sounds were not written");
        failed_ = true;
    }
    if (options_.json) json_.end_bank();
    FMOD_Sound_Release(bank);
}

void Run::sounds(FMOD_SOUND* bank, int count, const BankJob& job) {
    const std::string destination = output_ + job.folder;
    const platform::FileId bank_file = platform::file_id(job.path);
    UsedNames used_names;
    bool destination_prepared = false;
    bool destination_usable = true;
    // Opened once, when the first sound is written: every file of the bank
    // is made in the folder as it was found then.
    platform::OutputFolder folder;
    for (int index = 0; index < count; ++index) {
        try {
            FMOD_SOUND* subsound = nullptr;
            check_result(FMOD_Sound_GetSubSound(bank, index, &subsound));
            char name[256];
            check_result(FMOD_Sound_GetName(subsound, name, sizeof name));
            if (!sounds_.picks(index, name)) {
                // Named all the same, so that a sound's file is called the same
                // whichever sounds are picked.
                subsound_file_name(subsound, index, used_names, style_);
                continue;
            }
            SoundFacts sound;
            if (options_.list || options_.json) sound = describe(subsound, index, options_.scan);
            if (options_.list) {
                sound.output = destination + subsound_file_name(subsound, index, used_names, style_);
                sound.format = format_name(subsound_format(subsound, style_, nullptr));
                ++counts_.listed;
            } else {
                if (!destination_prepared) {
                    destination_usable = prepare_destination(destination, "") && open_destination(folder, destination);
                    destination_prepared = true;
                }
                Extracted extracted;
                extract_subsound(subsound, index, destination, folder, used_names, bank_file, destination_usable,
                                 style_, &extracted);
                sound.output = extracted.path;
                sound.format = format_name(extracted.format);
                sound.status = status_text(extracted.written);
                sound.loops = sound.loops && extracted.loop_fits;
                switch (extracted.written) {
                    case Written::whole: ++counts_.written; break;
                    case Written::in_part: ++counts_.written; ++counts_.in_part; break;
                    case Written::not_at_all: ++counts_.not_written; break;
                }
                counts_.bytes += extracted.bytes;
            }
            if (options_.json) {
                json_.sound(sound);
            } else if (options_.list) {
                text_.sound(sound);
            }
        } catch (const LibraryFailure& failure) {
            sound_failed(job.path, index, failure_text(failure));
        } catch (const std::bad_alloc&) {
            // Without room for the names given so far, no later sound can be
            // named safely: the bank ends here.
            counts_.not_written += static_cast<std::uint64_t>(count - index);
            throw;
        }
    }
}

}  // namespace

int run_options_form(int argc, char** argv) {
    Options options;
    std::string error;
    switch (parse_options(argc, argv, options, error)) {
        case ParseOutcome::help: std::fputs(HELP_TEXT, stdout); return 0;
        case ParseOutcome::version: std::fputs(version_text().c_str(), stdout); return 0;
        case ParseOutcome::usage_error:
            std::fprintf(stderr, "bankrip: %s; try 'bankrip --help'\n", error.c_str());
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
    Run run(options, system);
    try {
        std::vector<OperandProblem> problems;
        const std::vector<BankJob> jobs = bank_jobs(options.operands, problems);
        for (const auto& p : problems) run.problem(p);
        for (const auto& job : jobs) run.bank(job);
    } catch (const std::bad_alloc&) {
        run.out_of_memory();
    }

    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    run.finish(seconds.count());
    FMOD_System_Close(system);
    FMOD_System_Release(system);
    return run.status();
}
