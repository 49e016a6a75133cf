#include "soundlib/replace/replacement_input.h"

namespace soundlib {

std::unique_ptr<ReplacementInput> open_replacement(const std::string& path, std::string& why) {
    return open_wav_replacement(path, why);
}

std::string input_format_text(const InputShape& shape) {
    return shape.is_float ? "32-bit float" : std::to_string(shape.bits) + "-bit";
}

}  // namespace soundlib
