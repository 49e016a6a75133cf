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

void report(const std::string& path, const std::string& reason) {
    console_write(stderr, "bankrip: " + printable_name(path) + ": " + printable_name(reason) + "\n");
}

// The library's text for a code, without its trailing space, with the
// library's own detail when it has one.
std::string library_reason(FMOD_SOUND* subsound, FMOD_RESULT result) {
    std::string text = result_message(result);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    const std::string detail = soundlib_error_detail(subsound);
    if (!detail.empty()) text += " (" + detail + ")";
    return text;
}

std::uint32_t whole_hz(float frequency) {
    if (!(frequency > 0.5f) || frequency >= 4294967295.0f) return OUTPUT_SAMPLE_RATE;
    return static_cast<std::uint32_t>(std::llround(frequency));  // long is 32 bits on Windows
}

Written finish(Extracted* extracted, Written written, std::uint64_t bytes = 0) {
    if (extracted) {
        extracted->written = written;
        extracted->bytes = written == Written::not_at_all ? 0 : bytes;
    }
    return written;
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
        print_now(".");
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
    check_result(FMOD_Sound_GetFormat(subsound, nullptr, &format, &shape.channels, &shape.bits));
    check_result(FMOD_Sound_GetDefaults(subsound, &frequency, nullptr, nullptr, nullptr));
    shape.is_float = format == FMOD_SOUND_FORMAT_PCMFLOAT;
    shape.sample_rate = whole_hz(frequency);
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

Written extract_subsound(FMOD_SOUND* subsound, int index, const std::string& destination,
                         platform::OutputFolder& folder, UsedNames& used_names, const platform::FileId& bank_file,
                         bool destination_usable, const ExtractStyle& style, Extracted* extracted) {
    progress_stream = style.progress;
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
    if (extracted) extracted->format = output_format;

    SoundShape shape;
    FMOD_SOUND_TYPE type;
    FMOD_SOUND_FORMAT format;
    check_result(FMOD_Sound_GetFormat(subsound, &type, &format, &shape.channels, &shape.bits));
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

    const std::string path = destination + file_name;
    if (extracted) extracted->path = path;
    // The name is clean already; the destination given may not be.
    const std::string shown = printable_name(path);
    print_now(shown.c_str());
    const std::string line_end = format_note.empty() ? "\n" : " (" + format_note + ")\n";

    const bool stored = keeps_stored_units(output_format);
    const int block_align = wav_block_align(shape.channels, shape.bits);
    if (!stored && (block_align > MAX_BLOCK_ALIGN || block_align < 0)) {
        print_now(line_end.c_str());
        report(path, "sample frames of " + std::to_string(block_align) + " bytes are wider than the " +
                         std::to_string(MAX_BLOCK_ALIGN) + " supported; not written");
        return finish(extracted, Written::not_at_all);
    }
    const std::uint64_t audio_bytes = std::uint64_t{shape.frames} * static_cast<std::uint64_t>(block_align);
    if (output_format == OutputFormat::wav && audio_bytes + trailing_bytes > WAV_MAX_DATA_BYTES) {
        print_now(line_end.c_str());
        report(path, std::to_string(audio_bytes) + " bytes of audio do not fit in a WAV file; not written");
        return finish(extracted, Written::not_at_all);
    }
    shape.sample_rate = whole_hz(frequency);
    if (output_format == OutputFormat::wav &&
        std::uint64_t{shape.sample_rate} * static_cast<std::uint64_t>(block_align) > 0xFFFFFFFFull) {
        print_now(line_end.c_str());
        report(path, "a sample rate of " + std::to_string(shape.sample_rate) + " Hz with frames of " +
                         std::to_string(block_align) + " bytes does not fit a WAV header; not written");
        return finish(extracted, Written::not_at_all);
    }
    if (const FMOD_RESULT r = stored ? stored_preamble(subsound, output_format, shape) : FMOD_OK; r != FMOD_OK) {
        print_now(line_end.c_str());
        report(path, library_reason(subsound, r) + "; no file written");
        return finish(extracted, Written::not_at_all);
    }
    const std::size_t chunk_bytes = static_cast<std::size_t>(block_align) * CHUNK_FRAMES;
    TransferBuffer& transfer_buffer = style.buffer ? *style.buffer : process_buffer;
    transfer_buffer.reserve(std::max<std::size_t>({chunk_bytes, std::size_t{CHUNK_FRAMES} * 4, 2 * kHalfBytes}));

    platform::OutputFile file;
    if (!file.create(folder, file_name, shown, bank_file)) {
        print_now(line_end.c_str());
        if (destination_usable) report(path, file.error());
        return finish(extracted, Written::not_at_all);
    }
    const std::unique_ptr<SoundWriter> writer = make_writer(output_format, style.loop_chunk);
    const bool write_began = writer->begin(file, shape);
    const Transfer t = stored ? transfer_stored(subsound, transfer_buffer, *writer, write_began, shape.frames)
                              : transfer_decoded(subsound, transfer_buffer, *writer, write_began, shape.frames, block_align);
    const std::uint64_t frames_written = t.frames;
    const FMOD_RESULT read_result = t.read_result;
    const bool read_failed = read_result != FMOD_OK && read_result != FMOD_ERR_FILE_EOF;
    bool write_ok = t.write_ok && writer->end(frames_written);
    // A sound cut short keeps its loop only when the loop lies in what it holds.
    if (extracted) extracted->loop_fits = stored_loop && std::uint64_t{shape.loop_end} < frames_written;

    // The file takes its name only when complete, and only with something
    // in it worth keeping.
    const bool nothing_decoded = read_failed && t.units == 0 && shape.frames != 0;
    if (!write_ok || nothing_decoded) {
        file.discard();
    } else {
        write_ok = file.commit();
    }
    const std::uint64_t file_bytes = writer->bytes();
    print_now(line_end.c_str());

    if (!write_ok) {
        const std::string why = file.error().empty() ? writer->error() : file.error();
        report(path, "writing failed: " + why + "; the incomplete file was removed");
        return finish(extracted, Written::not_at_all, file_bytes);
    }
    // Damaged units were given as silence; the file keeps its length.
    const char* unit = nullptr;
    const char* first = nullptr;
    const unsigned int damaged = soundlib_damaged_units(subsound, &unit, &first);
    std::string units = unit;
    if (damaged == 1 && !units.empty()) units.pop_back();  // "1 damaged frame"
    const std::string damage = damaged == 0 ? std::string()
                                            : std::to_string(damaged) + " damaged " + units +
                                                  (stored ? " left out" : " replaced by silence") +
                                                  " (the first: " + first + ")";
    if (read_failed) {
        const std::string also = damage.empty() ? "" : "; " + damage;
        if (nothing_decoded) {
            report(path, library_reason(subsound, read_result) + also + "; no file written");
        } else {
            report(path, library_reason(subsound, read_result) + also + "; the file holds the " +
                             std::to_string(frames_written) + (stored ? " frames stored" : " frames decoded") +
                             " before it");
            return finish(extracted, Written::in_part, file_bytes);
        }
        return finish(extracted, Written::not_at_all, file_bytes);
    }
    if (!damage.empty()) {
        report(path, damage);
        return finish(extracted, Written::in_part, file_bytes);
    }
    return finish(extracted, Written::whole, file_bytes);
}
