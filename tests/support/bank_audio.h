// Small helpers for tests that open banks through the library's Bank class.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

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
    s->seek(0);
    bankwriter::Bytes out(s->total_frames() * s->format().frame_bytes());
    std::size_t got = 0;
    s->read(out.data(), out.size(), got);
    out.resize(got);
    return out;
}

// Subsound i decoded to 16-bit samples; empty when it decodes to another format.
inline std::vector<std::int16_t> decoded_s16(soundlib::Bank& bank, int i) {
    FMOD_RESULT code;
    soundlib::PcmStream* s = bank.stream(i, code);
    if (!s || s->format().bits != 16) return {};
    const bankwriter::Bytes raw = decoded_audio(bank, i);
    std::vector<std::int16_t> out(raw.size() / 2);
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = static_cast<std::int16_t>(raw[2 * k] | raw[2 * k + 1] << 8);
    return out;
}

// The bank at `path`, tried with `keys`; null when it does not open.
inline std::unique_ptr<soundlib::Bank> open_bank(const std::string& path, std::vector<std::string> keys = {}) {
    auto bank = std::make_unique<soundlib::Bank>();
    soundlib::OpenOptions options;
    options.keys = std::move(keys);
    if (bank->open(path, options).code != FMOD_OK) return nullptr;
    return bank;
}

// Subsound i's stored bytes, and its codec set-up's, as the bank holds them.
inline bankwriter::Bytes stored(soundlib::Bank& bank, int i) {
    const soundlib::SubsoundInfo info = bank.info(i);
    bankwriter::Bytes b(info.data.size);
    bank.file().read_exact(info.data.offset, b.data(), b.size());
    return b;
}
inline bankwriter::Bytes setup_bytes(soundlib::Bank& bank, int i) {
    const soundlib::SubsoundInfo info = bank.info(i);
    bankwriter::Bytes b(info.setup.size);
    bank.file().read_exact(info.setup.offset, b.data(), b.size());
    return b;
}

// The files of these folders of the shared corpus, sorted; none when it is absent.
inline std::vector<std::string> corpus_banks(const std::vector<std::string>& folders) {
    std::vector<std::string> banks;
    for (const std::string& folder : folders) {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(std::string(CORPUS_DIR) + "/" + folder, ec)) {
            if (e.is_regular_file() && e.path().filename().string()[0] != '.') banks.push_back(e.path().string());
        }
    }
    std::sort(banks.begin(), banks.end());
    return banks;
}

}  // namespace testbanks
