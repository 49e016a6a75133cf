// Makes the demo bank shipped in demo/: three short synthetic tones in an
// FSB5 bank of 16-bit PCM. Run again only to change the demo.
#include <cmath>
#include <cstdio>

#include "bank_writer.h"

namespace {

bankwriter::Sound tone(const char* name, std::uint32_t channels, double hz, double seconds) {
    constexpr std::uint32_t kRate = 8000;
    constexpr double kPi = 3.14159265358979323846;
    bankwriter::Sound s;
    s.name = name;
    s.channels = channels;
    s.frequency = kRate;
    s.frames = static_cast<std::uint32_t>(seconds * kRate);
    for (std::uint32_t i = 0; i < s.frames; ++i) {
        const double fade = 1.0 - static_cast<double>(i) / s.frames;
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double v = 12000.0 * fade * std::sin(2 * kPi * hz * (c + 1) * i / kRate);
            const auto sample = static_cast<std::int16_t>(std::lround(v));
            s.data.push_back(static_cast<std::uint8_t>(sample & 0xFF));
            s.data.push_back(static_cast<std::uint8_t>((sample >> 8) & 0xFF));
        }
    }
    s.loop_end = s.frames - 1;
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_bank OUTPUT.fsb\n");
        return 2;
    }
    const auto bank = bankwriter::write_fsb5(
        {tone("tone_440.wav", 1, 440, 0.15), tone("tone_660.wav", 1, 660, 0.1), tone("chord.wav", 2, 330, 0.1)}, 2);
    if (!bankwriter::save(argv[1], bank)) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
