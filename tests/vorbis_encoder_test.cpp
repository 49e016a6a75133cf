// Vorbis sounds replaced through the command, one bank of each encoder the
// corpus has (stock, the small-block one, the phone one at its high and low
// steps, a .bank file): the other sounds stay as they were, the new one
// decodes to the file's length and close to it (so its set-up CRC is one our
// reader regenerates), and a rebuild from the rebuilt bank's own unpack is
// the same bank.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>

#include "soundlib/bank.h"
#include "support/decode_back.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;
const std::string kCorpus = CORPUS_DIR;

std::uint32_t le(const Bytes& b, std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
    return v;
}
void put(Bytes& b, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// 16-bit WAV of a tone per channel.
Bytes tone_wav(std::uint32_t rate, std::uint32_t channels, std::uint32_t frames) {
    Bytes data;
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double x = 0.4 * std::sin(2 * std::numbers::pi * (440.0 + 220 * c) * i / rate);
            put(data, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(x * 32767))), 2);
        }
    }
    Bytes w{'R', 'I', 'F', 'F'};
    put(w, static_cast<std::uint32_t>(36 + data.size()), 4);
    for (const char ch : std::string("WAVEfmt ")) w.push_back(static_cast<std::uint8_t>(ch));
    put(w, 16, 4), put(w, 1, 2), put(w, channels, 2), put(w, rate, 4), put(w, rate * channels * 2, 4);
    put(w, channels * 2, 2), put(w, 16, 2);
    for (const char ch : std::string("data")) w.push_back(static_cast<std::uint8_t>(ch));
    put(w, static_cast<std::uint32_t>(data.size()), 4);
    w.insert(w.end(), data.begin(), data.end());
    return w;
}

// Channels, rate and the 16-bit samples of a WAV the tool wrote.
struct Pcm {
    std::uint32_t channels = 0, rate = 0;
    std::vector<std::int16_t> samples;
};
Pcm read_wav(const std::string& path) {
    const Bytes b = read_file(path);
    Pcm p;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = le(b, at + 4, 4);
        if (std::equal(b.begin() + at, b.begin() + at + 4, "fmt ")) {
            p.channels = le(b, at + 10, 2);
            p.rate = le(b, at + 12, 4);
        } else if (std::equal(b.begin() + at, b.begin() + at + 4, "data")) {
            for (std::size_t i = 0; i + 1 < size; i += 2) {
                p.samples.push_back(static_cast<std::int16_t>(le(b, at + 8 + i, 2)));
            }
        }
        at += 8 + size + (size & 1);
    }
    return p;
}

double snr_db(const std::vector<std::int16_t>& in, const std::vector<std::int16_t>& out) {
    double signal = 0, error = 0;
    for (std::size_t i = 0; i < in.size() && i < out.size(); ++i) {
        signal += double(in[i]) * in[i];
        error += (double(in[i]) - out[i]) * (double(in[i]) - out[i]);
    }
    return error == 0 ? 1000 : 10 * std::log10(signal / error);
}

std::vector<std::string> wavs_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool corpus_present() { return fs::is_directory(kCorpus + "/vorbis"); }

TEST(VorbisReplace, EachEncoderOfTheCorpusEncodesAToneItsReaderDecodes) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    // Bank, and the lowest SNR measured there (dB) less a margin.
    const std::pair<const char*, double> banks[] = {
        {"containers/fev_vorbis_8.bank", 30},             // stock, 48 kHz step 37
        {"vorbis/fsb5_vorbis_24k_41.fsb", 30},            // small blocks, 512/1024 made 256/2048
        {"vorbis/fsb5_vorbis_8k_single_block.fsb", 28},   // small blocks, one size (8 kHz)
        {"vorbis/fsb5_vorbis_44k_lowq.fsb", 25},          // small blocks, 512/4096 made 256/2048
        {"vorbis-mobile/fsb5_vorbis_22k_mono_mobile_b.fsb", 30},  // phone, its 128 x 11 floor
        // Phone below quality 0.05: stock's one block size made 256/2048,
        // with a mode of their own for the long blocks.
        {"vorbis-mobile/fsb5_vorbis_22k_mono_mobile_a.fsb", 26},
        {"vorbis-mobile/fsb5_vorbis_22k_mono_mobile_c.fsb", 26},
        {"vorbis-mobile/fsb5_vorbis_24k_stereo_mobile.fsb", 22},
    };
    for (const auto& [bank, min_snr] : banks) {
        SCOPED_TRACE(bank);
        TempDir dir;
        const std::string name = fs::path(bank).filename().string();
        ASSERT_EQ(run_bankrip({"-o", dir.file("u"), kCorpus + "/" + bank}).status, 0);
        const std::vector<std::string> names = wavs_in(dir.file("u"));
        const std::string chosen = names.size() > 1 ? names[1] : names[0];
        const Pcm old = read_wav(dir.file("u") + "/" + chosen);
        const std::uint32_t frames = 30011;
        fs::create_directories(dir.file("r"));
        write_file(dir.file("r") + "/" + chosen, tone_wav(old.rate, old.channels, frames));
        const ToolRun rebuilt = run_bankrip({"--replace", dir.file("r"), "-o", dir.file("o"), kCorpus + "/" + bank});
        ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;

        const ToolRun unpack = run_bankrip({"-o", dir.file("u2"), dir.file("o") + "/" + name});
        ASSERT_EQ(unpack.status, 0) << unpack.err;  // every set-up regenerated
        ASSERT_EQ(wavs_in(dir.file("u2")), names);
        for (const std::string& n : names) {
            if (n == chosen) continue;
            EXPECT_EQ(read_file(dir.file("u") + "/" + n), read_file(dir.file("u2") + "/" + n)) << n;
        }
        const Pcm in = read_wav(dir.file("r") + "/" + chosen);
        const Pcm out = read_wav(dir.file("u2") + "/" + chosen);
        EXPECT_EQ(out.rate, old.rate);
        EXPECT_EQ(out.samples.size(), std::size_t{frames} * old.channels);
        EXPECT_GT(snr_db(in.samples, out.samples), min_snr);
        // libvorbis on its own hears the same samples in the packets.
        ASSERT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", dir.file("k"), dir.file("o") + "/" + name}).status);
        const std::string ogg = dir.file("k") + "/" + fs::path(chosen).replace_extension(".ogg").string();
        const LossyDecode alone = decode_ogg(ogg);
        ASSERT_TRUE(alone.ok) << ogg << ": " << alone.error;
        EXPECT_TRUE(alone.data == wav_data(dir.file("u2") + "/" + chosen)) << "libvorbisfile decodes as the tool";

        const ToolRun again = run_bankrip({"--replace", dir.file("u2"), "-o", dir.file("o2"), dir.file("o") + "/" + name});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_TRUE(read_file(dir.file("o") + "/" + name) == read_file(dir.file("o2") + "/" + name));
    }
}

// The set-up CRC (chunk 11) of every sound of the bank.
std::vector<std::uint32_t> setup_crcs(const std::string& path) {
    soundlib::Bank bank;
    std::vector<std::uint32_t> out;
    if (bank.open(path, soundlib::OpenOptions{}).code != FMOD_OK) return out;
    for (int i = 0; i < bank.count(); ++i) {
        const soundlib::SubsoundInfo info = bank.info(i);
        Bytes crc(4, 0);
        if (info.setup.size >= 4) bank.file().read_exact(info.setup.offset, crc.data(), 4);
        out.push_back(le(crc, 0, 4));
    }
    return out;
}

TEST(VorbisReplace, WhereTwoEncodersMakeTheSoundsSetUpTheBanksOtherSoundsTellWhich) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    // A bank of the small-block encoder at 24 kHz. Its sound at 44.1 kHz
    // gets the small-block set-up there, which stock libvorbisenc makes too;
    // back at 24 kHz it must get the small-block one again, as its
    // neighbours have, not stock's.
    const std::string bank = kCorpus + "/vorbis/fsb5_vorbis_24k_41.fsb";
    const std::string name = fs::path(bank).filename().string();
    TempDir dir;
    ASSERT_EQ(run_bankrip({"-q", "-o", dir.file("u"), bank}).status, 0);
    const std::vector<std::uint32_t> before = setup_crcs(bank);
    ASSERT_GT(before.size(), 3u);
    ASSERT_EQ(before[0], before[2]) << "two sounds of one set-up";
    const std::string chosen = wavs_in(dir.file("u"))[0];  // sound 2 (names sort "Shield" first)
    const Pcm old = read_wav(dir.file("u") + "/" + chosen);
    fs::create_directories(dir.file("r"));
    write_file(dir.file("r") + "/" + chosen, tone_wav(44100, old.channels, 30000));
    ASSERT_EQ(0, run_bankrip({"--replace", dir.file("r"), "-o", dir.file("o"), bank}).status);
    const std::vector<std::uint32_t> at44 = setup_crcs(dir.file("o") + "/" + name);
    ASSERT_NE(before[2], at44[2]);
    write_file(dir.file("r") + "/" + chosen, tone_wav(old.rate, old.channels, 30000));
    const ToolRun run = run_bankrip({"--replace", dir.file("r"), "-o", dir.file("o2"), dir.file("o") + "/" + name});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(before[2], setup_crcs(dir.file("o2") + "/" + name)[2]);
}

TEST(VorbisReplace, WhatTheEncoderCannotCarryIsRefusedNamingWhatFits) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    const std::string bank = kCorpus + "/vorbis/fsb5_vorbis_24k_41.fsb";
    TempDir dir;
    ASSERT_EQ(run_bankrip({"-o", dir.file("u"), bank}).status, 0);
    const std::string chosen = wavs_in(dir.file("u"))[0];
    fs::create_directories(dir.file("r"));
    write_file(dir.file("r") + "/" + chosen, tone_wav(96000, 1, 5000));
    const ToolRun run = run_bankrip({"--replace", dir.file("r"), "-o", dir.file("o"), bank});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("96000 Hz"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("22050, 24000"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("would fit"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(dir.file("o") + "/fsb5_vorbis_24k_41.fsb"));
}

}  // namespace
