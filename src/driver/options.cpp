#include "driver/options.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>

#include "driver/sound_workers.h"

#include "soundlib/codec/mpeg/mpeg_encoder.h"
#include "soundlib/soundlib.h"

#ifndef BANKRIP_VERSION
#define BANKRIP_VERSION "unknown"
#endif
#ifndef BANKRIP_FLAC_VERSION
#define BANKRIP_FLAC_VERSION "unknown"
#endif
#ifndef BANKRIP_OGG_VERSION
#define BANKRIP_OGG_VERSION "unknown"
#endif

const char* const HELP_TEXT =
    "Usage: bankrip [OPTION]... [--] BANK|FOLDER...\n"
    "       bankrip <fsb_name> [dest_dir]\n"
    "\n"
    "Unpacks game sound banks (FSB3, FSB4, FSB5; .bank files; banks inside\n"
    "other files with --scan) into one file per sound: WAV, or with the\n"
    "options below FLAC, Ogg Vorbis or MP3.\n"
    "\n"
    "The options form, with options first (or after the bank): relative paths\n"
    "are taken from the current directory. Operands are bank files and folders,\n"
    "any number; folders are walked recursively (through symbolic links too,\n"
    "each file read once however many links reach it) and every file in them\n"
    "that holds a bank is unpacked; the others are passed over.\n"
    "Every file name ends in its format's extension (.wav, .flac with --format\n"
    "flac, .ogg or .mp3 with --keep-original), and a looping sound's file\n"
    "carries its loop (a \"smpl\" chunk in WAV, LOOPSTART and LOOPLENGTH tags\n"
    "in FLAC and Ogg; MP3 carries none).\n"
    "\n"
    "  -o, --output DIR   write into DIR (created with its parents; default: the\n"
    "                     current directory). With several banks or a folder,\n"
    "                     each bank's sounds go into a folder of their own under\n"
    "                     DIR, named after the bank's path without its extension\n"
    "  -l, --list         write nothing; list each bank's sounds: index, name,\n"
    "                     codec, channels, rate, frames, duration, loop\n"
    "      --json         print the listing (or what was written) as JSON on\n"
    "                     standard output; progress then goes to standard error\n"
    "  -s, --sound LIST   only these sounds: indices and ranges counted from 0\n"
    "                     (3, 0-9, 3,7,12-15), a sound's name or its file's name\n"
    "                     (boom.wav), or a pattern of either ('vo_*'); repeatable\n"
    "      --format wav|flac  write decoded sounds as WAV (the default) or FLAC;\n"
    "                     float samples, and sounds FLAC cannot hold, stay WAV\n"
    "      --keep-original  write Vorbis sounds as .ogg and MPEG sounds as .mp3\n"
    "                     with their audio as the bank stores it, nothing\n"
    "                     decoded or encoded; the other sounds (and MPEG of\n"
    "                     more than two channels) in the --format\n"
    "      --no-loops     write no loop (\"smpl\" chunk, or loop tags)\n"
    "  -k, --key KEY      the key of encrypted banks; repeatable, each is tried\n"
    "                     (else the environment variable BANKRIP_KEY, else a file\n"
    "                     .fsbkey in the bank's folder)\n"
    "      --scan         find banks at any offset of any file (game archives)\n"
    "      --replace DIR  write the bank (one) again into the -o folder, under its\n"
    "                     own name: each sound whose file in DIR (named as\n"
    "                     unpacking names it) holds other samples is replaced\n"
    "                     by that file (.wav, .flac, .ogg or .mp3). With --list or\n"
    "                     --json, say what would become of each sound\n"
    "  -j, --jobs N       write N sounds at once (default: one per processor this\n"
    "                     run may use); names and files are the same for any N\n"
    "  -q, --quiet        print only errors and the summary\n"
    "  -v, --verbose      on a terminal, also print every sound's line (else one\n"
    "                     status line is redrawn in place)\n"
    "  -h, --help         print this help and exit\n"
    "  -V, --version      print the versions of bankrip and its decoders and exit\n"
    "\n"
    "A path that starts with '-' is given after \"--\".\n"
    "\n"
    "The bank-first form, bankrip <fsb_name> [dest_dir], is the one scripts and\n"
    "drag-and-drop use and stays as it always was: one bank; relative paths are\n"
    "taken from bankrip's own folder (from the current one when bankrip is\n"
    "installed in a system folder such as /usr/bin); without dest_dir, files go\n"
    "there; names keep no extension when the sound's name has none; a 44-byte\n"
    "header and nothing else. Its keys come from BANKRIP_KEY or .fsbkey.\n"
    "\n"
    "Exit status:\n"
    "  0    every sound of every bank was written whole (or listed)\n"
    "  1    a sound was not written or written only in part, or a bank could\n"
    "       not be read\n"
    "  2    the options form was used wrongly\n"
    "  255  the bank-first form could not read its bank\n"
    "  128+N  interrupted by signal N (130 for Ctrl-C, 141 for a closed output)\n";

std::string version_text() {
    // The decoders, then the libraries the writers and the rebuild link in.
    const std::string encoders = soundlib::mpeg_encoder_versions();
    return std::string("bankrip ") + BANKRIP_VERSION + "\n" + soundlib_decoder_versions() + ", libFLAC " +
           BANKRIP_FLAC_VERSION + ", libogg " + BANKRIP_OGG_VERSION + (encoders.empty() ? "" : ", " + encoders) + "\n";
}

namespace {

enum LongOnly { kJson = 256, kNoLoops, kScan, kFormat, kKeepOriginal, kReplace };

const option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},     {"version", no_argument, nullptr, 'V'},
    {"output", required_argument, nullptr, 'o'}, {"list", no_argument, nullptr, 'l'},
    {"json", no_argument, nullptr, kJson},   {"sound", required_argument, nullptr, 's'},
    {"no-loops", no_argument, nullptr, kNoLoops}, {"key", required_argument, nullptr, 'k'},
    {"scan", no_argument, nullptr, kScan},   {"quiet", no_argument, nullptr, 'q'},
    {"format", required_argument, nullptr, kFormat},
    {"keep-original", no_argument, nullptr, kKeepOriginal},
    {"format", required_argument, nullptr, kFormat}, {"jobs", required_argument, nullptr, 'j'},
    {"verbose", no_argument, nullptr, 'v'},
    {"replace", required_argument, nullptr, kReplace},
    {nullptr, 0, nullptr, 0}};

// The option getopt_long just refused, as the user wrote it: a long one
// from its argument (without "=value"), a short one from its letter.
std::string offending(char** argv, int short_option) {
    const std::string text = argv[optind - 1];
    if (text.compare(0, 2, "--") == 0) return text.substr(0, text.find('='));
    if (short_option > 0 && short_option < 256) return std::string("-") + static_cast<char>(short_option);
    return text;
}

bool read_jobs(const char* text, int& jobs) {
    int n = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        n = n * 10 + (*p - '0');
        if (n > kMostJobs) return false;
    }
    if (*text == '\0' || n < 1) return false;
    jobs = n;
    return true;
}

}  // namespace

bool is_options_form_option(const char* argument) {
    const std::string text = argument;
    if (text.size() < 2 || text[0] != '-') return false;
    if (text[1] == '-') {
        const std::string name = text.substr(2, text.find('=') - 2);
        for (const option* o = kLongOptions; o->name; ++o) {
            if (name == o->name) return true;
        }
        return false;
    }
    return std::strchr("hVolskqjv", text[1]) != nullptr;
}

ParseOutcome parse_options(int argc, char** argv, Options& options, std::string& error) {
    opterr = 0;   // our own messages
    optind = 0;   // a fresh start, also when called again in one process
    bool help = false, version = false, jobs_given = false;
    for (;;) {
        const int c = getopt_long(argc, argv, ":hVo:ls:k:qj:v", kLongOptions, nullptr);
        if (c == -1) break;
        switch (c) {
            case 'h': help = true; break;
            case 'V': version = true; break;
            case 'o': options.output = optarg; break;
            case 'l': options.list = true; break;
            case kJson: options.json = true; break;
            case 's':
                if (!options.sounds.add(optarg, error)) return ParseOutcome::usage_error;
                break;
            case kNoLoops: options.loops = false; break;
            case 'k': options.keys.emplace_back(optarg); break;
            case kScan: options.scan = true; break;
            case kFormat:
                if (std::strcmp(optarg, "wav") == 0) {
                    options.format = OutputFormat::wav;
                } else if (std::strcmp(optarg, "flac") == 0) {
                    options.format = OutputFormat::flac;
                } else {
                    error = std::string("--format takes wav or flac, not '") + optarg + "'";
                    return ParseOutcome::usage_error;
                }
                break;
            case kKeepOriginal: options.keep_original = true; break;
            case kReplace:
                if (*optarg == '\0') {
                    error = "--replace needs a folder";
                    return ParseOutcome::usage_error;
                }
                options.replace = optarg;
                break;
            case 'q': options.quiet = true; break;
            case 'v': options.verbose = true; break;
            case 'j':
                if (!read_jobs(optarg, options.jobs)) {
                    error = "--jobs takes a number from 1 to " + std::to_string(kMostJobs) + ", not '" + optarg + "'";
                    return ParseOutcome::usage_error;
                }
                jobs_given = true;
                break;
            case ':':
                // The BSD getopt_long of MinGW also comes here for "--json=x".
                error = "option '" + offending(argv, optopt) + "'" +
                        (std::strchr(argv[optind - 1], '=') ? " takes no value" : " needs a value");
                return ParseOutcome::usage_error;
            default:
                // A known option given a value it does not take, or an unknown one.
                if (optopt != 0 && (optopt > 255 || std::strchr("hVlqv", optopt))) {
                    error = "option '" + offending(argv, optopt) + "' takes no value";
                } else {
                    error = "unknown option '" + offending(argv, optopt) + "'";
                }
                return ParseOutcome::usage_error;
        }
    }
    if (!jobs_given) options.jobs = std::min(usable_processors(), kMostJobs);
    if (help) return ParseOutcome::help;
    if (version) return ParseOutcome::version;
    for (int i = optind; i < argc; ++i) options.operands.emplace_back(argv[i]);
    if (options.operands.empty()) {
        error = "no bank or folder given";
        return ParseOutcome::usage_error;
    }
    return ParseOutcome::run;
}
