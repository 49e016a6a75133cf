#include "wav/extract_subsound.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "result/result.h"
#include "wav/console.h"
#include "wav/flac_writer.h"
#include "wav/smpl_chunk.h"
#include "wav/sound_writer.h"
#include "wav/wav_header.h"

namespace {

// The first form's, and the options form's when it writes on one thread.
TransferBuffer process_buffer;

// Progress goes where the style says, at once; nowhere when quiet.
thread_local std::FILE* progress_stream = stdout;

void print_now(const char* text) {
    if (progress_stream) console_write(progress_stream, text);
}

// The bank-first form prints a chunk's dot whether or not the chunk gave
// anything; the options form only for what reached the file.
thread_local bool dot_for_nothing = true;

// How a progress line ends for a sound that got no file: plainly, or (in
// the options form) saying so, so that no line reads as a file written.
const char* unwritten_end(const SoundInProgress& sound, const char* why = "not written") {
    static thread_local std::string end;
    if (!sound.say_unwritten || sound.line_end.empty()) return sound.line_end.c_str();
    end = std::string(" (") + why + ")\n";
    return end.c_str();
}

void report(const std::string& path, const std::string& reason) {
    console_write(stderr, "bankrip: " + printable_name(path) + ": " + printable_name(reason) + "\n");
}

// The library's text for a code, without its trailing space, with the
// library's own detail when it has one; in the options form, the detail
// alone when there is one (what failed, in words of its own).
std::string library_reason(FMOD_SOUND* subsound, FMOD_RESULT result, const ExtractStyle& style) {
    std::string text = result_message(result);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const std::string detail = soundlib_error_detail(subsound);
    if (!detail.empty()) text = style.no_empty_files ? detail : text + " (" + detail + ")";
    return text;
}

// The rate FLAC is asked about; 0 for none the bank gives.
std::uint32_t whole_hz(float frequency) {
    if (!(frequency >= 0.5f) || frequency >= 4294967295.5f) return 0;
    return static_cast<std::uint32_t>(std::llround(frequency));
}

}  // namespace

void TransferBuffer::reserve(std::size_t bytes) {
    if (bytes <= size_) return;
    data_.reset(static_cast<unsigned char*>(::operator new(bytes, std::align_val_t{kPageBytes})));
    size_ = bytes;
}

void TransferBuffer::AlignedFree::operator()(unsigned char* p) const {
    ::operator delete(p, std::align_val_t{kPageBytes});
}

namespace {

// What moving a sound's audio to its writer came to.
// The stored units' batches take half of the transfer buffer each: large
// enough that an .mp3's frames go from there to the file in one write.
constexpr std::size_t kHalfBytes = 512 * 1024;

struct Transfer {
    std::uint64_t frames = 0;  // the frames the file holds
    std::uint64_t units = 0;   // reads or units that gave something
    FMOD_RESULT read_result = FMOD_OK;
    bool write_ok = false;
};

// Decoded samples: whole chunks, each positioned before it is read, then
// the tail.
Transfer transfer_decoded(FMOD_SOUND* subsound, TransferBuffer& transfer_buffer, SoundWriter& writer, bool write_ok,
                          unsigned int frames, int block_align) {
    Transfer t;
    const std::size_t chunk_bytes = static_cast<std::size_t>(block_align) * CHUNK_FRAMES;
    const unsigned int chunk_count = frames >> 18;
    const unsigned int tail_frames = frames & (CHUNK_FRAMES - 1);
    std::uint64_t written = 0;
    auto transfer = [&](unsigned int first_frame, std::size_t bytes) {
        FMOD_Sound_SeekData(subsound, first_frame);
        unsigned int delivered = 0;
        t.read_result = FMOD_Sound_ReadData(subsound, transfer_buffer.data(), static_cast<unsigned int>(bytes),
                                            &delivered);
        if (delivered > bytes) delivered = static_cast<unsigned int>(bytes);
        write_ok = write_ok && writer.write(transfer_buffer.data(), delivered);
        written += delivered;
        if (delivered > 0) ++t.units;
        if (delivered > 0 || dot_for_nothing) print_now(".");
    };
    for (unsigned int j = 0; j < chunk_count && write_ok; ++j) {
        transfer(j * CHUNK_FRAMES, chunk_bytes);
        if (t.read_result != FMOD_OK) break;
    }
    // After an early end there is nothing left to read.
    if (t.read_result == FMOD_OK && write_ok && tail_frames != 0) {
        transfer(chunk_count * CHUNK_FRAMES, static_cast<std::size_t>(tail_frames) * block_align);
    }
    t.frames = block_align > 0 ? written / static_cast<std::uint64_t>(block_align) : 0;
    t.write_ok = write_ok;
    return t;
}

// Stored units as the library gives them, many at a time, into the two
// halves of the buffer in turn (a writer may hold the last unit of a batch
// back while the next batch comes into the other half); a progress dot for
// every chunk's worth of frames, as for decoded samples.
Transfer transfer_stored(FMOD_SOUND* subsound, TransferBuffer& transfer_buffer, SoundWriter& writer, bool write_ok,
                         unsigned int frames) {
    constexpr unsigned int kMostUnits = 4096;
    static_assert(kHalfBytes >= SOUNDLIB_MAX_STORED_UNIT);
    unsigned int sizes[kMostUnits], unit_frames[kMostUnits];
    Transfer t;
    std::uint64_t given = 0;
    std::uint64_t dots = 0;
    for (std::uint64_t batch = 0; write_ok; ++batch) {
        unsigned char* half = transfer_buffer.data() + (batch % 2) * kHalfBytes;
        unsigned int count = 0;
        t.read_result = soundlib_read_stored_units(subsound, half, kHalfBytes, sizes, unit_frames, kMostUnits, &count);
        if (t.read_result != FMOD_OK) break;
        t.units += count;
        write_ok = writer.write_units(half, sizes, unit_frames, count);
        for (unsigned int i = 0; i < count; ++i) given += unit_frames[i];
        for (; dots < std::min<std::uint64_t>(given, frames) / CHUNK_FRAMES; ++dots) print_now(".");
    }
    t.frames = std::min<std::uint64_t>(given, frames);
    if (t.frames > dots * CHUNK_FRAMES) print_now(".");
    t.write_ok = write_ok;
    return t;
}

// What a writer of stored units needs before the first byte: the Vorbis
// headers, and whether the loop lies in the frames the file will hold (its
// tags come first).
FMOD_RESULT stored_preamble(FMOD_SOUND* subsound, OutputFormat format, SoundShape& shape) {
    if (format != OutputFormat::ogg) return FMOD_OK;
    const unsigned char* identification = nullptr;
    const unsigned char* setup = nullptr;
    unsigned int identification_bytes = 0, setup_bytes = 0;
    const FMOD_RESULT r =
        soundlib_vorbis_headers(subsound, &identification, &identification_bytes, &setup, &setup_bytes);
    if (r != FMOD_OK) return r;
    shape.vorbis_identification = identification;
    shape.vorbis_identification_bytes = identification_bytes;
    shape.vorbis_setup = setup;
    shape.vorbis_setup_bytes = setup_bytes;
    if (shape.loops) {
        unsigned long long held = 0;
        if (soundlib_stored_frames(subsound, &held) != FMOD_OK) held = 0;
        shape.loops = shape.loop_end < held;
    }
    return FMOD_OK;
}

// The format of the decoded samples: the style's, unless it cannot hold them.
OutputFormat decoded_format(FMOD_SOUND* subsound, const ExtractStyle& style, std::string* why) {
    if (style.format == OutputFormat::wav) return OutputFormat::wav;
    SoundShape shape;
    FMOD_SOUND_FORMAT format;
    float frequency = 0.0f;
    // No format to give: the sound is not written, whatever its name says.
    if (FMOD_Sound_GetFormat(subsound, nullptr, &format, &shape.channels, &shape.bits) != FMOD_OK) {
        return OutputFormat::wav;
    }
    check_result(FMOD_Sound_GetDefaults(subsound, &frequency, nullptr, nullptr, nullptr));
    shape.is_float = format == FMOD_SOUND_FORMAT_PCMFLOAT;
    shape.sample_rate = whole_hz(frequency);
    if (shape.sample_rate == 0) return OutputFormat::wav;  // no file holds it: refused when written, with why
    std::string reason;
    if (flac_can_hold(shape, reason)) return OutputFormat::flac;
    if (why) *why = "as WAV: " + reason;
    return OutputFormat::wav;
}

}  // namespace

OutputFormat subsound_format(FMOD_SOUND* subsound, const ExtractStyle& style, std::string* why) {
    if (style.keep_original) {
        const char* why_not = "";
        switch (soundlib_stored_kind(subsound, &why_not)) {
            case SOUNDLIB_STORED_VORBIS: return OutputFormat::ogg;
            case SOUNDLIB_STORED_MPEG: return OutputFormat::mp3;
            case SOUNDLIB_STORED_NONE: break;
        }
        if (why_not && *why_not) {
            std::string reason;
            const OutputFormat format = decoded_format(subsound, style, &reason);
            if (why) *why = reason.empty() ? std::string(format == OutputFormat::flac ? "as FLAC: " : "as WAV: ") + why_not
                                           : reason;
            return format;
        }
    }
    return decoded_format(subsound, style, why);
}

std::string subsound_file_name(FMOD_SOUND* subsound, int index, UsedNames& used_names, const ExtractStyle& style) {
    const OutputFormat format = subsound_format(subsound, style, nullptr);
    char name[256];
    check_result(FMOD_Sound_GetName(subsound, name, sizeof name));
    return output_name(name, index, used_names, style.always_wav, format_extension(format));
}

bool subsound_loop(FMOD_SOUND* subsound, unsigned int& start, unsigned int& end) {
    FMOD_MODE mode = 0;
    check_result(FMOD_Sound_GetMode(subsound, &mode));
    check_result(FMOD_Sound_GetLoopPoints(subsound, &start, FMOD_TIMEUNIT_PCM, &end, FMOD_TIMEUNIT_PCM));
    return (mode & FMOD_LOOP_NORMAL) != 0;
}

namespace {

// A sound dealt with before any file was made: its line ends, the reason
// is reported, and nothing is left to finish.
void settle_unwritten(SoundInProgress& sound, const std::string& reason) {
    print_now(unwritten_end(sound));
    if (!reason.empty()) report(sound.path, reason);
    sound.settled = true;
    sound.extracted.written = Written::not_at_all;
    sound.extracted.bytes = 0;
}

// What a rate the bank gives comes to in a file: none for 0 Hz (or a
// rate no 32-bit field holds), which no format can play.
bool whole_rate(float frequency, std::uint32_t& rate) {
    if (!(frequency >= 0.5f) || frequency >= 4294967295.5f) return false;
    rate = static_cast<std::uint32_t>(std::llround(frequency));  // long is 32 bits on Windows
    return rate > 0;
}

}  // namespace

namespace {

// write_subsound's work; it lets go of the held progress after.
void write_sound(FMOD_SOUND* subsound, int index, const std::string& destination, platform::OutputFolder& folder,
                 UsedNames& used_names, const platform::FileId& bank_file, bool destination_usable,
                 const ExtractStyle& style, SoundInProgress& sound) {
    progress_stream = style.progress;
    sound.progress = style.progress;
    Extracted& extracted = sound.extracted;
    std::string format_note;
    const OutputFormat output_format = subsound_format(subsound, style, &format_note);
    char name[256];
    check_result(FMOD_Sound_GetName(subsound, name, sizeof name));
    std::string file_name;
    if (style.file_name) {
        file_name = *style.file_name;
    } else {
        // Names the volume folds onto a file of this run are numbered too.
        used_names.reaches_written = [&folder](const std::string& n) { return folder.holds_written(n); };
        file_name = output_name(name, index, used_names, style.always_wav, format_extension(output_format));
    }
    extracted.format = output_format;

    const std::string path = destination + file_name;
    sound.path = path;
    extracted.path = path;
    // The name is clean already; the destination given may not be.
    const std::string shown = printable_name(path);
    // The options form prints no line for a file it cannot make in a
    // destination it has said it cannot use.
    const bool silent = style.no_empty_files && !destination_usable;
    sound.say_unwritten = style.say_unwritten;
    dot_for_nothing = !style.say_unwritten;
    if (silent) {
        // nothing: the destination was said to be unusable
    } else {
        print_now(shown.c_str());
    }
    sound.line_end = silent ? "" : format_note.empty() ? "\n" : " (" + format_note + ")\n";

    // A sound the library can give no format for (its header says 0
    // channels, or could not be read again) is a failure of that sound.
    SoundShape shape;
    FMOD_SOUND_TYPE type;
    FMOD_SOUND_FORMAT format;
    if (const FMOD_RESULT r = FMOD_Sound_GetFormat(subsound, &type, &format, &shape.channels, &shape.bits);
        r != FMOD_OK) {
        return settle_unwritten(sound, library_reason(subsound, r, style) + "; no file written");
    }

    unsigned int pcm_bytes = 0;
    check_result(FMOD_Sound_GetLength(subsound, &pcm_bytes, FMOD_TIMEUNIT_PCMBYTES));
    check_result(FMOD_Sound_GetLength(subsound, &shape.frames, FMOD_TIMEUNIT_PCM));
    const bool stored_loop = subsound_loop(subsound, shape.loop_start, shape.loop_end);
    shape.loops = stored_loop && style.loop_chunk;
    float frequency = 0.0f;
    check_result(FMOD_Sound_GetDefaults(subsound, &frequency, nullptr, nullptr, nullptr));
    shape.is_float = format == FMOD_SOUND_FORMAT_PCMFLOAT;
    shape.title = name;
    const std::uint32_t trailing_bytes = shape.loops ? SMPL_CHUNK_BYTES : 0;

    // A format named before the sound was described again, which the
    // description no longer gives (the bank changed while it was read):
    // the file would not hold what its name says.
    if (style.file_name && subsound_format(subsound, style, nullptr) != output_format) {
        return settle_unwritten(sound, "the bank changed while it was read; not written");
    }
    const bool stored = keeps_stored_units(output_format);
    sound.stored = stored;
    const int block_align = wav_block_align(shape.channels, shape.bits);
    if (!stored && (block_align > MAX_BLOCK_ALIGN || block_align < 0)) {
        return settle_unwritten(sound, "sample frames of " + std::to_string(block_align) + " bytes are wider than the " +
                                           std::to_string(MAX_BLOCK_ALIGN) + " supported; not written");
    }
    const std::uint64_t audio_bytes = std::uint64_t{shape.frames} * static_cast<std::uint64_t>(block_align);
    if (output_format == OutputFormat::wav && audio_bytes + trailing_bytes > WAV_MAX_DATA_BYTES) {
        return settle_unwritten(sound,
                                std::to_string(audio_bytes) + " bytes of audio do not fit in a WAV file; not written");
    }
    if (!whole_rate(frequency, shape.sample_rate)) {
        // The bank's own figure, as the listing gives it (a float that
        // large rounds up past the 32 bits the bank stores).
        const unsigned long long given =
            frequency >= 4294967040.0f ? 0xFFFFFFFFull : static_cast<unsigned long long>(std::llround(frequency));
        return settle_unwritten(sound, "the bank gives it a sample rate of " + std::to_string(given) +
                                           " Hz, which no file can hold; not written");
    }
    if (output_format == OutputFormat::wav &&
        std::uint64_t{shape.sample_rate} * static_cast<std::uint64_t>(block_align) > 0xFFFFFFFFull) {
        return settle_unwritten(sound, "a sample rate of " + std::to_string(shape.sample_rate) + " Hz with frames of " +
                                           std::to_string(block_align) + " bytes does not fit a WAV header; not written");
    }
    // Nothing to write: the options form makes no file of it, whatever its
    // format (the stored units of an empty sound may not even make a start).
    if (style.no_empty_files && shape.frames == 0) {
        print_now(unwritten_end(sound, "no audio"));
        report(sound.path, "it holds no audio; no file written");
        sound.settled = true;
        sound.extracted.written = Written::empty;
        return;
    }
    if (const FMOD_RESULT r = stored ? stored_preamble(subsound, output_format, shape) : FMOD_OK; r != FMOD_OK) {
        return settle_unwritten(sound, library_reason(subsound, r, style) + "; no file written");
    }
    const std::size_t chunk_bytes = static_cast<std::size_t>(block_align) * CHUNK_FRAMES;
    TransferBuffer& transfer_buffer = style.buffer ? *style.buffer : process_buffer;
    transfer_buffer.reserve(std::max<std::size_t>({chunk_bytes, std::size_t{CHUNK_FRAMES} * 4, 2 * kHalfBytes}));

    if (!sound.file.create(folder, file_name, shown, bank_file)) {
        return settle_unwritten(sound, destination_usable ? sound.file.error() : std::string());
    }
    const std::unique_ptr<SoundWriter> writer = make_writer(output_format, style.loop_chunk);
    const bool write_began = writer->begin(sound.file, shape);
    const Transfer t = stored ? transfer_stored(subsound, transfer_buffer, *writer, write_began, shape.frames)
                              : transfer_decoded(subsound, transfer_buffer, *writer, write_began, shape.frames, block_align);
    sound.frames_written = t.frames;
    const FMOD_RESULT read_result = t.read_result;
    const bool read_failed = read_result != FMOD_OK && read_result != FMOD_ERR_FILE_EOF;
    const bool write_ok = t.write_ok && writer->end(sound.frames_written) && sound.file.close();
    // A sound cut short keeps its loop only when the loop lies in what it holds.
    extracted.loop_fits = stored_loop && std::uint64_t{shape.loop_end} < sound.frames_written;

    // The file takes its name only when complete, and only with something
    // in it worth keeping: not when nothing could be decoded, and in the
    // options form not when the sound holds no audio at all.
    sound.nothing_decoded = read_failed && t.units == 0 && shape.frames != 0;
    sound.empty = style.no_empty_files && sound.frames_written == 0 && !sound.nothing_decoded;
    sound.write_failed = !write_ok;
    sound.keep = write_ok && !sound.nothing_decoded && !sound.empty;
    if (!write_ok) sound.writer_error = writer->error();
    sound.file_bytes = writer->bytes();
    if (read_failed) sound.read_failure = library_reason(subsound, read_result, style);
    // Damaged units were given as silence; the file keeps its length.
    const char* unit = nullptr;
    const char* first = nullptr;
    const unsigned int damaged = soundlib_damaged_units(subsound, &unit, &first);
    std::string units = unit;
    if (damaged == 1 && !units.empty()) units.pop_back();  // "1 damaged frame"
    if (damaged != 0) {
        sound.damage = std::to_string(damaged) + " damaged " + units + (stored ? " left out" : " replaced by silence") +
                       " (the first: " + first + ")";
    }
}

}  // namespace

void write_subsound(FMOD_SOUND* subsound, int index, const std::string& destination, platform::OutputFolder& folder,
                    UsedNames& used_names, const platform::FileId& bank_file, bool destination_usable,
                    const ExtractStyle& style, SoundInProgress& sound) {
    write_sound(subsound, index, destination, folder, used_names, bank_file, destination_usable, style, sound);
}

Written finish_subsound(SoundInProgress& sound, Extracted* extracted) {
    const auto done = [&](Written written, std::uint64_t bytes = 0) {
        sound.extracted.written = written;
        sound.extracted.bytes = written == Written::not_at_all ? 0 : bytes;
        if (extracted) *extracted = sound.extracted;
        return written;
    };
    if (sound.settled) return done(sound.extracted.written, sound.extracted.bytes);
    progress_stream = sound.progress;
    bool write_failed = sound.write_failed;
    if (sound.keep) {
        write_failed = !sound.file.commit();
    } else {
        sound.file.discard();
    }
    const bool written = sound.keep && !write_failed;
    print_now(written ? sound.line_end.c_str() : unwritten_end(sound, sound.empty ? "no audio" : "not written"));
    const std::string& path = sound.path;
    if (write_failed) {
        const std::string why = sound.file.error().empty() ? sound.writer_error : sound.file.error();
        report(path, "writing failed: " + why + "; the incomplete file was removed");
        return done(Written::not_at_all, sound.file_bytes);
    }
    const std::string also = sound.damage.empty() ? "" : "; " + sound.damage;
    if (!sound.read_failure.empty()) {
        if (sound.nothing_decoded || sound.empty) {
            // Many sounds of a cut bank lie past its end: the caller says so
            // once, with their count.
            if (sound.say_unwritten && sound.frames_written == 0 &&
                sound.read_failure.rfind("the file ends before this sound's data", 0) == 0) {
                sound.extracted.past_the_end = true;
                return done(Written::not_at_all);
            }
            report(path, sound.read_failure + also + "; no file written");
            return done(Written::not_at_all, sound.file_bytes);
        }
        report(path, sound.read_failure + also + "; the file holds the " + std::to_string(sound.frames_written) +
                         (sound.stored ? " frames stored" : " frames decoded") + " before it");
        return done(Written::in_part, sound.file_bytes);
    }
    if (sound.empty) {
        report(path, "it holds no audio" + also + "; no file written");
        return done(Written::empty);
    }
    if (!sound.damage.empty()) {
        report(path, sound.damage);
        return done(Written::in_part, sound.file_bytes);
    }
    return done(Written::whole, sound.file_bytes);
}

Written extract_subsound(FMOD_SOUND* subsound, int index, const std::string& destination,
                         platform::OutputFolder& folder, UsedNames& used_names, const platform::FileId& bank_file,
                         bool destination_usable, const ExtractStyle& style, Extracted* extracted) {
    SoundInProgress sound;
    write_subsound(subsound, index, destination, folder, used_names, bank_file, destination_usable, style, sound);
    return finish_subsound(sound, extracted);
}
