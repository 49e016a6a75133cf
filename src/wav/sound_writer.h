// The room of output writers: one small interface that the extraction loop
// calls for each sound, whatever the file it becomes (WAV, FLAC, Ogg, MP3).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

enum class OutputFormat { wav, flac, ogg, mp3 };

// ".wav", ".flac", ".ogg", ".mp3".
const char* format_extension(OutputFormat format);
// "wav", "flac", "ogg", "mp3": as the JSON names it.
const char* format_name(OutputFormat format);

// What a writer knows of the sound before the first byte.
struct SoundShape {
    int channels = 0;
    int bits = 0;               // of the decoded samples
    bool is_float = false;      // 32-bit float samples
    std::uint32_t sample_rate = 0;
    std::uint32_t frames = 0;   // the sound's length
    bool loops = false;         // write the loop (first and last frame)
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;
    std::string title;          // the sound's name, for formats that carry one
    // Vorbis kept as stored: the headers its packets need.
    const std::uint8_t* vorbis_identification = nullptr;
    std::size_t vorbis_identification_bytes = 0;
    const std::uint8_t* vorbis_setup = nullptr;
    std::size_t vorbis_setup_bytes = 0;
};

class SoundWriter {
public:
    virtual ~SoundWriter() = default;

    // Writes what comes before the audio into `file`, which stays open and
    // the writer's to write until end().
    virtual bool begin(platform::OutputFile& file, const SoundShape& shape) = 0;
    // Decoded audio as the library delivers it: interleaved samples, for
    // WAV and FLAC.
    virtual bool write(const std::uint8_t* data, std::size_t bytes) = 0;
    // Stored audio, for the writers that keep the original stream: one unit
    // as the library gives it (a Vorbis packet, an MPEG frame) and the
    // frames decoding it adds. Its bytes must stay where they are until the
    // next write_unit() or end() returns: a writer may hold one unit back.
    virtual bool write_unit(const std::uint8_t* data, std::size_t bytes, std::uint32_t frames) {
        (void)data, (void)bytes, (void)frames;
        error_ = "this format takes decoded samples, not stored units";
        return false;
    }
    // Units back to back at data, of the sizes and frames given: each to
    // write_unit(), unless the writer takes them at once. The last one's
    // bytes stay as write_unit() asks.
    virtual bool write_units(const std::uint8_t* data, const unsigned int* sizes, const unsigned int* frames,
                             std::size_t count) {
        for (std::size_t i = 0; i < count; data += sizes[i], ++i) {
            if (!write_unit(data, sizes[i], frames[i])) return false;
        }
        return true;
    }
    // After the last audio: `frames` reached the file (fewer than the
    // sound's length when it was cut short). Finishes the file; the loop is
    // kept only when it lies in those frames (the writers of stored units,
    // whose tags come first, are told up front: `loops` is then only set
    // when it does).
    virtual bool end(std::uint64_t frames) = 0;
    // The file's size once ended.
    virtual std::uint64_t bytes() const = 0;
    // Whether the loop went into the file.
    virtual bool loop_written() const = 0;
    // Why the last call failed, when the file's own error does not say.
    const std::string& error() const { return error_; }

protected:
    std::string error_;
};

// A writer for decoded samples: WAV (`loop_chunk`: a looping sound gets a
// "smpl" chunk; the first form writes none) or FLAC.
std::unique_ptr<SoundWriter> make_pcm_writer(OutputFormat format, bool loop_chunk);

// True for the formats that take stored units: Ogg and MP3.
bool keeps_stored_units(OutputFormat format);

// The writer of any format.
std::unique_ptr<SoundWriter> make_writer(OutputFormat format, bool loop_chunk);
