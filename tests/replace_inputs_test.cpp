// Putting sounds back from FLAC, Ogg Vorbis and MP3 files as well as WAV:
// the formats the unpack writes, read back through the real command.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;

// A tone as 16-bit integers, interleaved.
std::vector<std::int32_t> tone(std::uint32_t frames, std::uint32_t channels, double hz) {
    std::vector<std::int32_t> out;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            out.push_back(static_cast<std::int32_t>(std::lround(9000 * std::sin(0.01 * hz * (c + 1) * i))));
        }
    }
    return out;
}

Bytes s16_bytes(const std::vector<std::int32_t>& samples) {
    Bytes out;
    for (const std::int32_t v : samples) {
        out.push_back(static_cast<std::uint8_t>(v & 0xFF));
        out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    }
    return out;
}

std::unique_ptr<soundlib::Bank> open_bank(const std::string& path) {
    auto bank = std::make_unique<soundlib::Bank>();
    if (bank->open(path, {}).code != FMOD_OK) return nullptr;
    return bank;
}

// A bank of three mono PCM16 sounds, unpacked into dir/u.
struct Made {
    TempDir dir;
    std::string bank;
    std::unique_ptr<soundlib::Bank> before;
    std::string in(const std::string& name) const { return dir.file("u/" + name); }
    std::string rebuilt() const { return dir.file("r/three.fsb"); }
    ToolRun replace(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> args{"--replace", dir.file("u"), "-o", dir.file("r")};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(bank);
        return run_bankrip(args);
    }
};

void make(Made& m, const std::vector<std::string>& unpack_options = {}) {
    std::vector<bankwriter::Sound> sounds;
    const char* names[] = {"first", "middle", "last"};
    for (int i = 0; i < 3; ++i) {
        bankwriter::Sound s;
        s.name = names[i];
        s.frames = 1000 + 333 * static_cast<std::uint32_t>(i);
        s.data = s16_bytes(tone(s.frames, 1, 100.0 * (i + 1)));
        s.loop_end = s.frames - 1;
        sounds.push_back(std::move(s));
    }
    m.bank = m.dir.file("three.fsb");
    write_file(m.bank, bankwriter::write_fsb5(sounds, 2));
    m.before = open_bank(m.bank);
    ASSERT_TRUE(m.before);
    std::vector<std::string> args{"-q", "-o", m.dir.file("u")};
    args.insert(args.end(), unpack_options.begin(), unpack_options.end());
    args.push_back(m.bank);
    ASSERT_EQ(0, run_bankrip(args).status);
}

// ---------------------------------------------------------------------------

TEST(ReplaceInputs, TwoFilesForOneSoundAreRefusedNamingBoth) {
    Made m;
    make(m);
    write_file(m.in("middle.flac"), read_file(m.in("middle.wav")));
    const ToolRun run = m.replace();
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("middle.flac")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("middle.wav")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("nothing written")) << run.err;
    EXPECT_FALSE(std::filesystem::exists(m.rebuilt()));
}

}  // namespace
