// A file given to replace a sound: WAV, FLAC, Ogg Vorbis or MP3, read
// front to back in blocks, as often as an encoder asks (rewind). Samples
// come as values in [-1, 1). Only what one block needs is held; the file
// is open from open_replacement() until the object goes (a bank may have
// thousands of replacements, more than the files a process may open).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace soundlib {

enum class InputFormat { wav, flac, ogg, mp3 };

// What a replacement holds, known once it is open.
struct InputShape {
    InputFormat format = InputFormat::wav;
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    std::uint64_t frames = 0;
    // Integer samples of this many bits, or 32-bit float; lossy files
    // decode to 16 bits, as the tool decodes their sounds.
    int bits = 16;
    bool is_float = false;
    bool has_loop = false;
    std::uint32_t loop_start = 0;
    std::uint32_t loop_end = 0;  // inclusive
    // Frames at the end that only fill out the last unit of a format that
    // holds whole units (an MP3 frame): a sound shorter by up to this many
    // may still be the same as the file.
    std::uint32_t unit_fill = 0;

    bool operator==(const InputShape&) const = default;
};

class ReplacementInput {
public:
    virtual ~ReplacementInput() = default;
    const InputShape& shape() const { return shape_; }

    // The next `count` frames (count * channels samples) into `samples`;
    // false when they cannot be read (a file cut short, damage).
    virtual bool read(std::uint32_t count, std::vector<double>& samples) = 0;
    // Back to the first frame.
    virtual bool rewind() = 0;

protected:
    InputShape shape_;
};

// Opens a replacement by what its first bytes say it is; null with the
// reason in `why`.
std::unique_ptr<ReplacementInput> open_replacement(const std::string& path, std::string& why);

// The readers, for open_replacement: each takes the path and fails with why.
std::unique_ptr<ReplacementInput> open_wav_replacement(const std::string& path, std::string& why);
std::unique_ptr<ReplacementInput> open_flac_replacement(const std::string& path, std::string& why);
std::unique_ptr<ReplacementInput> open_ogg_replacement(const std::string& path, std::string& why);
std::unique_ptr<ReplacementInput> open_mp3_replacement(const std::string& path, std::string& why);

// "16-bit", "32-bit float", "Ogg Vorbis": how messages name its samples.
std::string input_format_text(const InputShape& shape);

}  // namespace soundlib
