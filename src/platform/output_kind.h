// Which file already standing at an output name may be replaced: one of
// the kind the tool writes under that name, as a previous run left it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Bytes of a file's start that tell its kind: for MP3, two of the longest
// frames' headers.
constexpr std::size_t kKindHeadBytes = 6144;

// "WAV", "FLAC", "Ogg" or "MP3": what the tool writes under `name`, by its
// extension (names without one are the first form's WAV files).
const char* output_kind(const std::string& name);

// The same with its article, for messages: "a WAV", "a FLAC", "an Ogg",
// "an MP3".
std::string output_kind_with_article(const std::string& name);

// True when the first `n` bytes of a file of `file_size` bytes start a file
// of that kind.
bool starts_like_output(const std::string& name, const unsigned char* head, std::size_t n, std::uint64_t file_size);

}  // namespace platform
