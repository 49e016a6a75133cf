// What MPEG damage costs: a stream of frames with valid headers and garbage
// bodies against one of valid frames of the same size, decoded the way the
// tool decodes a subsound, each timed in CPU seconds.
//   mpeg_damage [--one-decoder] [MiB...]   (default 1 4 16)
// --one-decoder feeds the whole stream to one libmpg123 decoder, as the
// tool did before it handed long streams on to fresh ones.
// Valid frames are silent ones (a header, then zeros), which still go
// through the whole synthesis; garbage bodies are random bytes. Two kinds
// of frame: the smallest layer III ones (where most garbage frames point
// their main data past what the decoder holds, so libmpg123 cannot decode
// them whole) and common 128 kbps ones.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "soundlib/codec/mpeg/mpeg.h"
#include "soundlib/codec/pcm_stream.h"

namespace {

struct FrameKind {
    const char* name;
    std::uint8_t header[4];
    std::size_t bytes;
    std::uint32_t rate;
    std::uint32_t samples;
};

const FrameKind kKinds[] = {
    {"MPEG-2 layer III 8 kbps 22050 Hz stereo", {0xFF, 0xF3, 0x10, 0x00}, 26, 22050, 576},
    {"MPEG-1 layer III 128 kbps 44100 Hz stereo", {0xFF, 0xFB, 0x90, 0x00}, 417, 44100, 1152},
};

std::vector<std::uint8_t> make_stream(const FrameKind& kind, std::size_t mib, bool garbage) {
    const std::size_t frames = mib * 1024 * 1024 / kind.bytes;
    std::vector<std::uint8_t> data(frames * kind.bytes, 0);
    std::mt19937 random(1);
    for (std::size_t f = 0; f < frames; ++f) {
        std::uint8_t* p = data.data() + f * kind.bytes;
        std::copy(kind.header, kind.header + 4, p);
        if (garbage) {
            for (std::size_t i = 4; i < kind.bytes; ++i) p[i] = static_cast<std::uint8_t>(random());
        }
    }
    return data;
}

struct Result {
    double cpu_seconds = 0;
};

std::uint32_t units_per_decoder = soundlib::kMpegUnitsPerDecoder;

Result decode(const FrameKind& kind, const std::vector<std::uint8_t>& data) {
    soundlib::BankFile file;
    file.open_memory(data.data(), data.size());
    soundlib::SubsoundInfo info;
    info.codec = soundlib::Codec::mpeg;
    info.channels = 2;
    info.frequency = kind.rate;
    info.frames = data.size() / kind.bytes * kind.samples;
    info.data = {0, data.size()};
    info.mpeg_frame_padding = 1;
    soundlib::PcmStream s(soundlib::make_mpeg_source(info, file, units_per_decoder),
                          soundlib::PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, 2}, info.frames);
    std::vector<std::uint8_t> buffer(1 << 20);
    const std::clock_t start = std::clock();
    for (;;) {
        std::size_t got = 0;
        const FMOD_RESULT r = s.read(buffer.data(), buffer.size(), got);
        if (r != FMOD_OK || got == 0) break;
    }
    Result result;
    result.cpu_seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--one-decoder") {
            units_per_decoder = UINT32_MAX;
        } else {
            sizes.push_back(static_cast<std::size_t>(std::strtoul(argv[i], nullptr, 10)));
        }
    }
    if (sizes.empty()) sizes = {1, 4, 16};
    for (const FrameKind& kind : kKinds) {
        std::printf("%s, %zu bytes a frame\n", kind.name, kind.bytes);
        std::printf("%8s %14s %14s %10s\n", "MiB", "valid CPU s", "garbage CPU s", "ratio");
        for (const std::size_t mib : sizes) {
            const Result valid = decode(kind, make_stream(kind, mib, false));
            const Result garbage = decode(kind, make_stream(kind, mib, true));
            std::printf("%8zu %14.3f %14.3f %10.2f\n", mib, valid.cpu_seconds, garbage.cpu_seconds,
                        garbage.cpu_seconds / std::max(valid.cpu_seconds, 1e-6));
            std::fflush(stdout);
        }
    }
    return 0;
}
