// libFuzzer target: any bytes as a bank, rebuilt as --replace rebuilds it,
// once with nothing replaced and once with its first sound replaced by a
// short tone (of 1, 2 or 6 channels, as the input's size picks). Whatever the writer accepts it must write as a bank that
// opens again with the same sounds, the untouched ones decoding to the
// same samples as before.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "soundlib/bank.h"
#include "soundlib/bank/bank_writer.h"

namespace {

constexpr int kSoundsCompared = 4;
constexpr std::size_t kBytesCompared = 4096;
constexpr std::size_t kMaxOutput = std::size_t{64} << 20;

class MemorySink : public soundlib::ByteSink {
public:
    bool write(const void* data, std::size_t size) override {
        if (size > kMaxOutput - bytes.size()) return false;
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
};

constexpr std::uint32_t kToneChannels[] = {1, 2, 6};

// A 16-bit WAV of 300 frames at 44.1 kHz, written once.
std::string tone_file(std::uint32_t channels) {
    const std::uint32_t bytes = 600 * channels;
    std::vector<std::uint8_t> w(44 + bytes);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) w[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    std::memcpy(&w[0], "RIFF", 4);
    put32(4, static_cast<std::uint32_t>(w.size() - 8));
    std::memcpy(&w[8], "WAVEfmt ", 8);
    put32(16, 16);
    put32(20, 1 | channels << 16);
    put32(24, 44100);
    put32(28, 88200 * channels);
    put32(32, 2 * channels | 16u << 16);
    std::memcpy(&w[36], "data", 4);
    put32(40, bytes);
    for (std::size_t i = 0; i < 300 * channels; ++i) {
        const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>((i % 50) * 600 - 15000));
        w[44 + 2 * i] = static_cast<std::uint8_t>(v);
        w[45 + 2 * i] = static_cast<std::uint8_t>(v >> 8);
    }
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir && *dir ? dir : "/tmp") + "/rebuild_fuzzer_tone_" +
                       std::to_string(static_cast<unsigned long>(std::rand())) + ".wav";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(w.data(), 1, w.size(), f) != w.size() || std::fclose(f) != 0) std::abort();
    return path;
}

// The tones' files, removed when the fuzzer ends.
struct ToneFiles {
    std::string paths[3] = {tone_file(kToneChannels[0]), tone_file(kToneChannels[1]), tone_file(kToneChannels[2])};
    ~ToneFiles() {
        for (const std::string& p : paths) std::remove(p.c_str());
    }
};

// A broken promise is a finding: say which before stopping.
[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "rebuild_fuzzer: %s\n", what.c_str());
    std::abort();
}

// The first bytes a sound decodes to; empty when it does not decode.
std::vector<std::uint8_t> decoded_start(soundlib::Bank& bank, int index) {
    FMOD_RESULT code = FMOD_OK;
    soundlib::PcmStream* stream = bank.stream(index, code);
    if (!stream || code != FMOD_OK) return {};
    stream->seek(0);
    std::vector<std::uint8_t> out(kBytesCompared);
    std::size_t delivered = 0;
    stream->read(out.data(), out.size(), delivered);
    out.resize(delivered);
    return out;
}

// Rebuilds `bank` with `files`; when the writer accepts, the result must
// open with as many sounds, the ones not replaced the same as before.
void rebuild(soundlib::Bank& bank, const std::map<int, std::pair<std::string, std::string>>& files,
             std::uint32_t tone_channels) {
    soundlib::BankRebuild rebuild;
    std::vector<std::string> errors;
    if (!rebuild.plan(bank, files, errors)) return;
    MemorySink sink;
    std::string error;
    if (!rebuild.write(sink, error)) return;  // a read that failed, an output too large
    soundlib::Bank again;
    const soundlib::BankReadError reopened = again.open_memory(sink.bytes.data(), sink.bytes.size(), "rebuilt");
    if (reopened.code != FMOD_OK) broken("the rebuilt bank does not open: " + reopened.detail);
    if (again.count() != bank.count()) broken("the rebuilt bank has another number of sounds");
    for (int i = 0; i < bank.count() && i < kSoundsCompared; ++i) {
        const bool replaced = rebuild.decisions()[static_cast<std::size_t>(i)].replaced;
        const soundlib::SubsoundInfo before = bank.info(i), after = again.info(i);
        if (replaced) {
            if (after.channels != tone_channels || after.frequency != 44100) broken("the replaced sound is not the tone's");
            continue;
        }
        if (before.codec != after.codec || before.frames != after.frames || before.channels != after.channels ||
            before.frequency != after.frequency)
            broken("sound " + std::to_string(i) + " is described otherwise");
        if (decoded_start(bank, i) != decoded_start(again, i)) broken("sound " + std::to_string(i) + " decodes otherwise");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ToneFiles tones;
    const std::size_t pick = size % 3;
    for (const bool replace : {false, true}) {
        soundlib::Bank bank;
        if (bank.open_memory(data, size, "fuzzed").code != FMOD_OK) return 0;
        soundlib::BankRebuild probe;
        std::string why;
        if (!probe.check(bank, why)) return 0;
        std::map<int, std::pair<std::string, std::string>> files;
        if (replace && bank.count() > 0) files[0] = {tones.paths[pick], "tone.wav"};
        rebuild(bank, files, kToneChannels[pick]);
    }
    return 0;
}
