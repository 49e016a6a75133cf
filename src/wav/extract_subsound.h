// Writes one subsound to its own WAV file and prints its progress line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "soundlib/soundlib.h"
#include "wav/output_name.h"
#include "wav/sound_writer.h"

// Sample frames moved per read.
constexpr unsigned int CHUNK_FRAMES = 0x40000;
// The widest sample frame written (16 MiB per chunk).
constexpr int MAX_BLOCK_ALIGN = 64;

// `empty`: the sound holds no audio, so the options form writes no file for
// it (not a failure: nothing is lost).
enum class Written { whole, in_part, not_at_all, empty };

// The one buffer every chunk passes through, page-aligned: the kernel copies
// written data out of an aligned buffer markedly faster. Sized for 16-bit
// stereo; grows once for wider frames. One for the process, and one of its
// own for each of the options form's workers.
class TransferBuffer {
public:
    unsigned char* data() const { return data_.get(); }
    void reserve(std::size_t bytes);

private:
    static constexpr std::size_t kPageBytes = 4096;
    struct AlignedFree {
        void operator()(unsigned char* p) const;
    };
    std::unique_ptr<unsigned char, AlignedFree> data_;
    std::size_t size_ = 0;
};

// How a subsound is written. The defaults are the first form's: names as
// the bank gives them, a 44-byte header and nothing after the audio,
// progress on standard output.
struct ExtractStyle {
    bool always_wav = false;  // every name ends in its format's extension
    bool loop_chunk = false;  // a looping sound's file carries its loop ("smpl" chunk, tags)
    OutputFormat format = OutputFormat::wav;  // for decoded samples; FLAC falls back to WAV where it must
    bool keep_original = false;  // Vorbis as .ogg, MPEG as .mp3, as stored; the rest in `format`
    std::FILE* progress = stdout;  // null: no progress line
    // The name already given to the sound's file (the options form names
    // every sound of a bank before any is written); null: named here.
    const std::string* file_name = nullptr;
    TransferBuffer* buffer = nullptr;  // a worker's own; null: the process's
    // The options form: a sound with nothing in it gets no file (the first
    // form writes a header alone), its progress line says nothing of a
    // destination that could not be used, and a failure is said in the
    // library's own words for its cause, without the vendor-style prefix.
    bool no_empty_files = false;
    // The options form: the line of a sound that got no file says so, and
    // sounds whose data the file does not reach at all are left to the
    // caller to say, once for the bank.
    bool say_unwritten = false;
};

// What became of one subsound's file.
struct Extracted {
    Written written = Written::not_at_all;
    std::string path;         // as printed
    std::uint64_t bytes = 0;  // the file's size, when written
    OutputFormat format = OutputFormat::wav;
    bool loop_fits = false;   // it loops, and the loop lies in the frames written (else no "smpl" chunk)
    // Not written, and not said: the file ends before the sound's data
    // (with say_unwritten).
    bool past_the_end = false;
};

// The format the subsound is written in: Ogg or MP3 when the style keeps
// the original and the library hands out the sound's stored units, else
// the style's, unless that cannot hold the sound (FLAC and float samples,
// say; `why`, may be null, then says so, as it does for an MPEG sound whose
// original cannot be kept).
OutputFormat subsound_format(FMOD_SOUND* subsound, const ExtractStyle& style, std::string* why);

// The name the subsound's file gets (see output_name), with its format's
// extension, recorded in `used`.
std::string subsound_file_name(FMOD_SOUND* subsound, int index, UsedNames& used_names, const ExtractStyle& style);

// A looping subsound's loop (first and last frame); false when it does not
// loop.
bool subsound_loop(FMOD_SOUND* subsound, unsigned int& start, unsigned int& end);

// A sound's file on its way: written under a temporary name by
// write_subsound (on any thread: everything it needs of the library is
// asked there), then put under its name, or removed, and reported by
// finish_subsound. The options form finishes its sounds in their order, on
// one thread, so that which of two names a volume takes as one keeps its
// file does not depend on how many sounds are written at once.
struct SoundInProgress {
    Extracted extracted;
    bool settled = false;         // nothing left to finish: failed before a file was made
    platform::OutputFile file;
    std::FILE* progress = stdout;
    std::string path;             // as messages give it
    std::string line_end;         // the progress line's end, with the format note
    bool say_unwritten = false;
    bool keep = false;            // complete, with something in it worth keeping
    bool write_failed = false;
    bool nothing_decoded = false; // a read failed before anything came
    bool stored = false;          // units as stored, not decoded samples
    bool empty = false;           // nothing in it (the options form writes no file then)
    std::string writer_error;     // why writing failed, when the file's own error does not say
    std::string read_failure;     // why a read failed (the library's words), empty when none did
    std::string damage;           // damaged units, in words; empty when none
    std::uint64_t frames_written = 0;
    std::uint64_t file_bytes = 0;
};

// `destination` is empty or ends with the separator, and `folder` is that
// folder opened (files are created in `folder`; `destination` is how their
// paths are shown); `bank_file` is the
// bank being read, which is never written. A failing query of the library
// ends the run (check_result) before any file is created. When the
// destination has been reported unusable (`destination_usable` false), a
// file that cannot be created there is not reported again.
void write_subsound(FMOD_SOUND* subsound, int index, const std::string& destination, platform::OutputFolder& folder,
                    UsedNames& used_names, const platform::FileId& bank_file, bool destination_usable,
                    const ExtractStyle& style, SoundInProgress& sound);

// Tells how much of the subsound reached its file: anything short of all
// of it has been reported on standard error (in part: cut short, or damaged
// units given as silence).
Written finish_subsound(SoundInProgress& sound, Extracted* extracted = nullptr);

// Both at once.
Written extract_subsound(FMOD_SOUND* subsound, int index, const std::string& destination,
                         platform::OutputFolder& folder, UsedNames& used_names, const platform::FileId& bank_file,
                         bool destination_usable = true, const ExtractStyle& style = {},
                         Extracted* extracted = nullptr);
