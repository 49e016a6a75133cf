// bankrip: unpacks every subsound of a sound bank into a WAV file of its own.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "driver/bank_keys.h"
#include "driver/bank_notes.h"
#include "driver/destination.h"
#include "driver/listing.h"
#include "driver/options.h"
#include "driver/options_form.h"
#include "driver/program_folder.h"
#include "platform/platform.h"
#include "result/result.h"
#include "soundlib/soundlib.h"
#include "wav/extract_subsound.h"
#include "wav/output_name.h"

namespace {

constexpr unsigned int REQUIRED_VERSION = 0x00041103;

// Tells why the bank did not open, beyond the result code's own text: the
// full path that was tried and, for a bank not found, the relative-path rule.
FMOD_RESULT explain_open_failure(FMOD_SYSTEM* system, FMOD_RESULT result, const std::string& argument,
                                 const std::string& program_folder) {
    std::string detail = soundlib_system_error_detail(system);
    if (result == FMOD_OK || detail.empty()) return result;
    const std::string given = argument + ": ";
    if (detail.compare(0, given.size(), given) == 0) {
        detail = platform::full_path(argument) + ": " + detail.substr(given.size());
    }
    if (result == FMOD_ERR_FILE_NOTFOUND) detail += relative_path_note(argument, program_folder);
    detail += encryption_advice(system, false, argument);
    std::fprintf(stderr, "bankrip: %s\n", printable_name(detail).c_str());
    return result;
}

// The last line of a run where sounds were lost: how many of them.
void report_unwritten(int not_written, int in_part, int count) {
    const char* sounds = count == 1 ? "sound" : "sounds";
    if (not_written > 0 && in_part > 0) {
        std::fprintf(stderr, "bankrip: %d of %d %s not written, %d written in part\n", not_written, count, sounds,
                     in_part);
    } else if (not_written > 0) {
        std::fprintf(stderr, "bankrip: %d of %d %s not written\n", not_written, count, sounds);
    } else if (in_part > 0) {
        std::fprintf(stderr, "bankrip: %d of %d %s written in part\n", in_part, count, sounds);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Options first: the form a person types, with paths from where it runs.
    if (argc > 1 && argv[1][0] == '-') return run_options_form(argc, argv);
    // An option after the bank means the same: scripts of the bank-first
    // form pass plain operands, never one that starts with '-'.
    for (int i = 2; i < argc; ++i) {
        if (is_options_form_option(argv[i])) return run_options_form(argc, argv);
    }
    if (argc < 2) {
        print_usage();
        return 0;
    }
    const std::string program_folder = enter_program_directory();
    const std::string destination = destination_text(argc > 2 ? argv[2] : nullptr);

    FMOD_SYSTEM* system = nullptr;
    check_result(FMOD_System_Create(&system));
    unsigned int version = 0;
    check_result(FMOD_System_GetVersion(system, &version));
    if (version < REQUIRED_VERSION) {
        std::printf("Error!  You are using an old version of FMOD %08x.  This program requires %08x\n", version,
                    REQUIRED_VERSION);
        return 1;  // nothing was unpacked: not a success
    }
    check_result(FMOD_System_Init(system, 32, 0, nullptr));
    FMOD_SOUND* bank = nullptr;
    const std::vector<std::string> keys = bank_keys(argv[1], {});
    KeyExinfo key_info(keys);
    check_result(explain_open_failure(
        system, FMOD_System_CreateSound(system, argv[1], FMOD_CREATESTREAM, key_info.get(), &bank), argv[1],
        program_folder));
    int count = 0;
    check_result(FMOD_Sound_GetNumSubSounds(bank, &count));

    const bool bank_damaged = report_bank_notes(bank);
    // A destination that cannot be used is reported once, here, not per sound.
    const bool destination_usable = count <= 0 || prepare_destination(destination, program_folder);
    // Opened once: every file is made in the folder as it was found here.
    platform::OutputFolder folder;
    if (destination_usable && count > 0) open_destination(folder, destination);
    int not_written = 0;
    int in_part = 0;
    UsedNames used_names;
    const platform::FileId bank_file = platform::file_id(argv[1]);
    platform::remove_unfinished_file_on_interrupt();
    for (int index = 0; index < count; ++index) {
        FMOD_SOUND* subsound = nullptr;
        check_result(FMOD_Sound_GetSubSound(bank, index, &subsound));
        try {
            switch (extract_subsound(subsound, index, destination, folder, used_names, bank_file,
                                     destination_usable)) {
                case Written::whole:
                case Written::empty: break;
                case Written::in_part: ++in_part; break;
                case Written::not_at_all: ++not_written; break;
            }
        } catch (const std::bad_alloc&) {
            // The names given so far fill memory: no later sound can be named
            // safely. The files written stay.
            std::fprintf(stderr, "bankrip: %s: not enough memory to go on; the bank's other sounds were not written\n",
                         printable_name(argv[1]).c_str());
            not_written += count - index;
            break;
        }
    }
    report_unwritten(not_written, in_part, count);

    check_result(FMOD_Sound_Release(bank));
    check_result(FMOD_System_Close(system));
    check_result(FMOD_System_Release(system));
    return not_written == 0 && in_part == 0 && !bank_damaged ? 0 : 1;
}
