// The options form of the command line: `bankrip [options] [--] bank|folder...`,
// read with the conventions of getopt_long.
#pragma once

#include <string>
#include <vector>

#include "driver/sound_selection.h"
#include "wav/sound_writer.h"

struct Options {
    std::vector<std::string> operands;  // banks and folders
    std::string output;                 // -o: where the files go; empty: here
    std::vector<std::string> keys;      // -k: keys for encrypted banks
    SoundSelection sounds;              // -s: all sounds when empty
    bool list = false;                  // -l: write nothing, list
    bool json = false;                  // --json
    bool quiet = false;                 // -q
    bool loops = true;                  // --no-loops clears it
    bool scan = false;                  // --scan: banks at any offset
    OutputFormat format = OutputFormat::wav;  // --format: decoded samples as WAV or FLAC
    bool keep_original = false;         // --keep-original: Vorbis and MPEG as stored
    int jobs = 1;                       // -j: sounds written at once (default: the processors usable)
    std::string replace;                // --replace: rebuild the bank with the files of this folder
    bool verbose = false;               // -v: every sound's line, also under the status line
};

// The most sounds written at once.
constexpr int kMostJobs = 256;

enum class ParseOutcome { run, help, version, usage_error };

// Reads argv (argv[1] starts with '-'). On a usage error `error` holds the
// one line to print, without "bankrip: " and without the help hint.
ParseOutcome parse_options(int argc, char** argv, Options& options, std::string& error);

// True for an argument that is one of the options below, as written on a
// command line ("-o", "-ofolder", "-qj4", "--format=flac", "--json").
bool is_options_form_option(const char* argument);

// What --help and --version print.
extern const char* const HELP_TEXT;
std::string version_text();
