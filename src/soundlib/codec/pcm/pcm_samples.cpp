#include "soundlib/codec/pcm/pcm_samples.h"

#include <cstring>

#include "soundlib/io/bytes.h"

namespace soundlib {

void pcm_samples_to_double(const std::uint8_t* p, std::size_t count, int bits, bool is_float,
                           std::vector<double>& out) {
    out.resize(count);
    const int bytes = bits / 8;
    for (std::size_t i = 0; i < count; ++i, p += bytes) {
        if (is_float) {
            float f;
            std::memcpy(&f, p, 4);  // little-endian hosts only, as the rest of the library
            out[i] = f;
        } else if (bits == 8) {
            out[i] = (static_cast<int>(p[0]) - 128) / 128.0;
        } else if (bits == 16) {
            out[i] = static_cast<std::int16_t>(le16(p)) / 32768.0;
        } else if (bits == 24) {
            const std::int32_t v = static_cast<std::int32_t>((static_cast<std::uint32_t>(p[0]) << 8) |
                                                             (static_cast<std::uint32_t>(p[1]) << 16) |
                                                             (static_cast<std::uint32_t>(p[2]) << 24)) >> 8;
            out[i] = v / 8388608.0;
        } else {
            out[i] = static_cast<std::int32_t>(le32(p)) / 2147483648.0;
        }
    }
}

}  // namespace soundlib
