// libFuzzer target: the reader of Unity serialized files, from memory: the
// header, type list and object table, then every AudioClip object (and, so
// that the type trees and layouts meet any bytes, every other object too, read
// as if it were one). What reads must keep within the reader's limits.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "unity/serialized_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const unity::MemorySource source(data, size);
    unity::SerializedFile file;
    std::string error;
    if (!unity::read_serialized_file(source, file, error)) {
        if (error.empty()) std::abort();  // a failure always says why
        return 0;
    }
    if (file.metadata_size > size || file.data_offset > size) std::abort();
    std::size_t tried = 0;
    for (const unity::ObjectEntry& object : file.objects) {
        if (++tried > 64) break;
        unity::AudioClip clip;
        std::string why;
        if (unity::read_audio_clip(source, file, object, clip, why)) {
            if (clip.name.size() > unity::kMostClipText || clip.source.size() > unity::kMostClipText) std::abort();
        } else if (why.empty()) {
            std::abort();
        }
    }
    return 0;
}
