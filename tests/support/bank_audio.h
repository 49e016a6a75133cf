// Small helpers for tests that open banks through the library's Bank class.
#pragma once

#include <cstdint>
#include <string>

#include "bank_writer.h"
#include "soundlib/bank.h"

namespace testbanks {

// A 16-bit PCM sound whose every byte is `fill`.
inline bankwriter::Sound pcm16_filled(const std::string& name, std::uint32_t frames, std::uint8_t fill) {
    bankwriter::Sound s;
    s.name = name;
    s.frames = frames;
    s.data.assign(static_cast<std::size_t>(frames) * 2, fill);
    return s;
}

// Every decoded byte of subsound i; empty when it cannot be read.
inline bankwriter::Bytes decoded_audio(soundlib::Bank& bank, int i) {
    FMOD_RESULT code;
    soundlib::PcmStream* s = bank.stream(i, code);
    if (!s) return {};
    bankwriter::Bytes out(s->total_frames() * s->format().frame_bytes());
    std::size_t got = 0;
    s->read(out.data(), out.size(), got);
    out.resize(got);
    return out;
}

}  // namespace testbanks
