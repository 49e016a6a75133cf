// MPEG sounds put back (--replace): a corpus sound replaced by a tone through
// the command is encoded in its own layer and bit rate, decodes close to the
// tone once lame's delay is allowed for, says the length our reader decodes,
// and leaves every other sound's bytes alone; rates MPEG cannot store are
// refused, naming those that fit.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "soundlib/codec/mpeg/mpeg_frame_header.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"
#include "support/bank_audio.h"
#include "support/decode_back.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using testbanks::open_bank;
using testbanks::stored;

using bankwriter::Bytes;

const std::string kCorpus = CORPUS_DIR;

#ifdef SOUNDLIB_MPEG_ENCODER
#define NEEDS_ENCODER()
#else
#define NEEDS_ENCODER() GTEST_SKIP() << "this build has no MPEG encoder"
#endif

void put_le(Bytes& b, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A 16-bit WAV file of a two-tone chord (a tone a channel).
std::vector<std::int16_t> chord(std::uint64_t frames, std::uint32_t channels, std::uint32_t rate) {
    std::vector<std::int16_t> out;
    for (std::uint64_t i = 0; i < frames; ++i) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const double t = static_cast<double>(i) / rate;
            out.push_back(static_cast<std::int16_t>(
                std::lround(9000 * std::sin(2 * std::numbers::pi * (330.0 + 110 * c) * t) + 3000 * std::sin(2 * std::numbers::pi * 1234.0 * t))));
        }
    }
    return out;
}

// With loop_end > 0, a "smpl" chunk of one loop.
Bytes wav_file(const std::vector<std::int16_t>& pcm, std::uint32_t channels, std::uint32_t rate,
               std::uint32_t loop_start = 0, std::uint32_t loop_end = 0) {
    Bytes b{'R', 'I', 'F', 'F'};
    put_le(b, 36 + pcm.size() * 2 + (loop_end ? 68 : 0), 4);
    for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<std::uint8_t>(c));
    put_le(b, 16, 4);
    put_le(b, 1, 2);
    put_le(b, channels, 2);
    put_le(b, rate, 4);
    put_le(b, rate * channels * 2, 4);
    put_le(b, channels * 2, 2);
    put_le(b, 16, 2);
    for (char c : std::string("data")) b.push_back(static_cast<std::uint8_t>(c));
    put_le(b, pcm.size() * 2, 4);
    for (std::int16_t s : pcm) put_le(b, static_cast<std::uint16_t>(s), 2);
    if (loop_end) {
        for (char c : std::string("smpl")) b.push_back(static_cast<std::uint8_t>(c));
        put_le(b, 60, 4);
        const std::size_t at = b.size();
        b.resize(at + 60, 0);
        b[at + 28] = 1;
        for (int i = 0; i < 4; ++i) {
            b[at + 44 + i] = static_cast<std::uint8_t>(loop_start >> (8 * i));
            b[at + 48 + i] = static_cast<std::uint8_t>(loop_end >> (8 * i));
        }
    }
    return b;
}

// The header of sound i's first frame, and the padding its frames show.
soundlib::MpegFrameHeader first_frame(soundlib::Bank& bank, int i, std::uint32_t* padding = nullptr) {
    soundlib::MpegFrameWalk walk(bank.info(i), bank.file());
    soundlib::MpegFrameSpan f;
    soundlib::MpegFrameHeader h;
    std::uint8_t head[4] = {};
    if (walk.next(f)) bank.file().read_exact(bank.info(i).data.offset + f.offset, head, 4);
    soundlib::parse_mpeg_frame_header(head, h);
    if (padding) *padding = walk.layout().padding;
    return h;
}

// The lag (in frames, up to 3,000) at which `got` matches `want` best, and
// the signal-to-noise ratio there, in dB.
struct Match {
    std::size_t lag = 0;
    double snr = -100;
};
Match best_match(const std::vector<std::int16_t>& want, const std::vector<std::int16_t>& got, std::uint32_t channels) {
    Match best;
    const std::size_t frames = want.size() / channels;
    for (std::size_t lag = 0; lag <= 3000; ++lag) {
        if ((frames + lag) * channels > got.size()) break;
        double signal = 0, noise = 0;
        for (std::size_t k = 0; k < want.size(); ++k) {
            const double d = static_cast<double>(got[k + lag * channels]) - want[k];
            signal += static_cast<double>(want[k]) * want[k];
            noise += d * d;
        }
        const double snr = 10 * std::log10(signal / std::max(noise, 1.0));
        if (snr > best.snr) best = {lag, snr};
    }
    return best;
}

ToolRun rebuild(const TempDir& dir, const std::string& bank) {
    return run_bankrip({"--replace", dir.file("u"), "-o", dir.file("r"), bank});
}

std::string rebuilt_path(const TempDir& dir, const std::string& bank) {
    return dir.file("r/" + std::filesystem::path(bank).filename().string());
}

// Replaces sound `pick` of the bank by a chord at `rate` and checks what the
// rebuilt bank holds, the chord heard `lead` frames in; gives the match found.
Match replace_and_check(const std::string& bank, int pick, std::uint32_t rate, std::uint32_t lead) {
    auto before = open_bank(bank);
    EXPECT_TRUE(before);
    if (!before) return {};
    const soundlib::SubsoundInfo info = before->info(pick);
    TempDir dir;
    EXPECT_EQ(0, run_bankrip({"-q", "-o", dir.file("u"), bank}).status);
    const std::uint64_t frames = info.frames / 2 + 7;
    const std::vector<std::int16_t> tone = chord(frames, info.channels, rate);
    // The unpack's file of the sound, from the listing.
    const ToolRun listing = run_bankrip({"-l", "--json", bank});
    const auto sounds = nlohmann::json::parse(listing.out)["banks"][0]["sounds"];
    const std::string target =
        std::filesystem::path(sounds.at(static_cast<std::size_t>(pick))["output"].get<std::string>()).filename().string();
    EXPECT_FALSE(target.empty());
    write_file(dir.file("u/" + target), wav_file(tone, info.channels, rate));
    ToolRun run = rebuild(dir, bank);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("replaced from")) << run.err;
    auto after = open_bank(rebuilt_path(dir, bank));
    EXPECT_TRUE(after);
    if (!after) return {};

    for (int i = 0; i < before->count(); ++i) {
        if (i == pick) continue;
        EXPECT_TRUE(stored(*before, i) == stored(*after, i)) << "sound " << i << "'s stored bytes";
    }
    const soundlib::SubsoundInfo got = after->info(pick);
    EXPECT_EQ(soundlib::Codec::mpeg, got.codec);
    EXPECT_EQ(rate, got.frequency);
    std::uint32_t old_padding = 0, new_padding = 0;
    const soundlib::MpegFrameHeader old_head = first_frame(*before, pick, &old_padding);
    const soundlib::MpegFrameHeader new_head = first_frame(*after, pick, &new_padding);
    EXPECT_EQ(old_head.layer, new_head.layer);
    EXPECT_EQ(old_padding, new_padding) << "frames padded as the bank pads them";
    if (rate == info.frequency) {
        EXPECT_EQ(old_head.bitrate, new_head.bitrate);
    }
    // Every sample of its frames: lame's delay, the tone, the last frame's fill.
    EXPECT_EQ(0u, got.frames % new_head.samples);
    EXPECT_GE(got.frames, frames + lead);
    EXPECT_LT(got.frames, frames + lead + 3 * new_head.samples);
    const std::vector<std::int16_t> heard = testbanks::decoded_s16(*after, pick);
    EXPECT_EQ(std::uint64_t{got.frames} * got.channels, heard.size()) << "decodes to the length it says";
    const Match m = best_match(tone, heard, info.channels);
    EXPECT_EQ(lead, m.lag);

    // The same again: the same bytes. From its own unpack: kept as it is.
    TempDir again;
    std::filesystem::create_directories(again.file("u"));
    write_file(again.file("u/" + target), wav_file(tone, info.channels, rate));
    EXPECT_EQ(0, rebuild(again, bank).status);
    EXPECT_TRUE(read_file(rebuilt_path(dir, bank)) == read_file(rebuilt_path(again, bank))) << "lame is repeatable";
    TempDir own;
    EXPECT_EQ(0, run_bankrip({"-q", "-o", own.file("u"), rebuilt_path(dir, bank)}).status);
    run = rebuild(own, rebuilt_path(dir, bank));
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(read_file(rebuilt_path(dir, bank)) == read_file(rebuilt_path(own, bank)));
    // libmpg123 on its own hears the same samples in the frames.
    TempDir kept;
    EXPECT_EQ(0, run_bankrip({"-q", "--keep-original", "-o", kept.file("k"), rebuilt_path(dir, bank)}).status);
    const std::string mp3 = kept.file("k/" + std::filesystem::path(target).replace_extension(".mp3").string());
    const LossyDecode alone = decode_mp3(mp3);
    EXPECT_TRUE(alone.ok) << mp3 << ": " << alone.error;
    EXPECT_TRUE(alone.data == wav_data(own.file("u/" + target))) << "libmpg123 decodes as the tool";
    return m;
}

bool corpus_present() { return std::filesystem::is_directory(kCorpus + "/banks"); }

TEST(MpegEncoder, CorpusSoundsReplacedByAChordDecodeCloseToItAfterLamesDelay) {
    NEEDS_ENCODER();
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    struct Pick {
        const char* bank;
        int sound;
        std::uint32_t rate;
    };
    // FSB5 MPEG-1 and MPEG-2, FSB4 stereo padded to 4; one at another rate.
    for (const Pick& p : {Pick{"fsb5_mpeg_12.fsb", 4, 44100}, Pick{"fsb5_mpeg_2.fsb", 0, 22050},
                          Pick{"fsb4_mp3_stereo48k.fsb", 0, 48000}, Pick{"fsb5_mpeg_12.fsb", 5, 24000}}) {
        SCOPED_TRACE(std::string(p.bank) + " at " + std::to_string(p.rate));
        // lame's delay of 576, the decoder's of 529.
        const Match m = replace_and_check(kCorpus + "/banks/" + p.bank, p.sound, p.rate, 1105);
        EXPECT_GT(m.snr, 15.0);
        std::printf("%s at %u Hz: SNR %.1f dB at a lag of %zu\n", p.bank, p.rate, m.snr, m.lag);
    }
}

// Sound `sound` holds the tone in units of a frame of every stream, each
// frame on a multiple of 16, and every channel is heard `lead` frames in.
void expect_streams(soundlib::Bank& after, int sound, const std::vector<std::int16_t>& tone, std::uint32_t channels,
                    std::uint32_t lead) {
    const std::uint64_t frames = tone.size() / channels;
    const soundlib::SubsoundInfo got = after.info(sound);
    ASSERT_EQ(channels, got.channels);
    // Each unit: a frame of every stream, each on a multiple of 16.
    soundlib::MpegFrames walk({&after.file(), got.data.offset, got.data.size}, got.channels, got.frequency,
                              got.mpeg_frame_padding);
    std::string detail;
    ASSERT_EQ(FMOD_OK, walk.learn(detail)) << detail;
    EXPECT_EQ(16u, walk.layout().padding);
    ASSERT_EQ(channels / 2 + channels % 2, walk.streams());
    std::uint64_t pos = 0, units = 0;
    soundlib::MpegFrames::Unit unit;
    while (walk.step(pos, &unit) == FMOD_OK) {
        EXPECT_TRUE(unit.damage.empty()) << unit.damage;
        ++units;
    }
    EXPECT_EQ(got.frames / first_frame(after, sound).samples, units);
    EXPECT_EQ(got.data.size, pos) << "nothing but units";
    // Every channel heard, after the encoder's delay, close to its own tone.
    const std::vector<std::int16_t> heard = testbanks::decoded_s16(after, sound);
    ASSERT_EQ(std::uint64_t{got.frames} * channels, heard.size());
    for (std::uint32_t c = 0; c < channels; ++c) {
        std::vector<std::int16_t> want, one;
        for (std::uint64_t i = 0; i < frames; ++i) want.push_back(tone[i * channels + c]);
        for (std::uint64_t i = 0; i < got.frames; ++i) one.push_back(heard[i * channels + c]);
        const Match m = best_match(want, one, 1);
        EXPECT_EQ(lead, m.lag) << "channel " << c;
        EXPECT_GT(m.snr, 15.0) << "channel " << c;
    }
}

// More than two channels: stereo streams (a last mono one for an odd count)
// interleaved frame by frame, each frame padded to 16; back to two
// channels, padded as the bank pads again.
TEST(MpegEncoder, MoreThanTwoChannelsAreStereoStreamsInterleavedFrameByFrame) {
    NEEDS_ENCODER();
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    const std::string bank = kCorpus + "/banks/fsb5_mpeg_12.fsb";
    TempDir dir;
    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("u"), bank}).status);
    const std::uint64_t frames = 20000;
    const std::vector<std::int16_t> six = chord(frames, 6, 44100), three = chord(frames, 3, 44100);
    write_file(dir.file("u/rabbit_scream_1.wav"), wav_file(six, 6, 44100));
    write_file(dir.file("u/bunnyHop_grass_1.wav"), wav_file(three, 3, 44100));
    const ToolRun run = rebuild(dir, bank);
    ASSERT_EQ(0, run.status) << run.err;
    auto after = open_bank(rebuilt_path(dir, bank));
    ASSERT_TRUE(after);
    for (const auto& [sound, channels] : {std::pair{4, 6u}, std::pair{0, 3u}}) {
        SCOPED_TRACE(channels);
        expect_streams(*after, sound, channels == 6 ? six : three, channels, 1105);
    }
    // Its own unpack rebuilds the same bank; two channels again, padded to 4.
    TempDir own;
    ASSERT_EQ(0, run_bankrip({"-q", "-o", own.file("u"), rebuilt_path(dir, bank)}).status);
    ASSERT_EQ(0, rebuild(own, rebuilt_path(dir, bank)).status);
    EXPECT_TRUE(read_file(rebuilt_path(dir, bank)) == read_file(rebuilt_path(own, bank)));
    write_file(own.file("u/rabbit_scream_1.wav"), wav_file(chord(frames, 2, 44100), 2, 44100));
    std::filesystem::remove_all(own.file("r"));
    ASSERT_EQ(0, rebuild(own, rebuilt_path(dir, bank)).status);
    auto back = open_bank(rebuilt_path(own, bank));
    ASSERT_TRUE(back);
    std::uint32_t padding = 0;
    first_frame(*back, 4, &padding);
    EXPECT_EQ(4u, padding);
    EXPECT_EQ(2u, back->info(4).channels);
}

// A layer II sound (twolame's 522-byte frames, padded to 4 as the bank's
// flag says) in an FSB4 bank between two PCM sounds.
std::string layer2_bank(const TempDir& dir) {
    const Bytes mp2 = read_file(std::string(MPEG_FIXTURES_DIR) + "/layer2_160k.mp2");
    if (mp2.empty()) return {};
    bankwriter::Sound pcm;
    pcm.frames = 1000;
    pcm.data.assign(2000, 0);
    bankwriter::Sound mpeg;
    mpeg.channels = 2;
    mpeg.flags = 0x200 | 0x40000 | 0x40;  // MPEG layer II, stereo
    for (std::size_t at = 0; at < mp2.size(); at += 522) {
        mpeg.data.insert(mpeg.data.end(), mp2.begin() + static_cast<std::ptrdiff_t>(at),
                         mp2.begin() + static_cast<std::ptrdiff_t>(at + 522));
        mpeg.data.resize((mpeg.data.size() + 3) / 4 * 4, 0);
        mpeg.frames += 1152;
    }
    pcm.name = "first";
    mpeg.name = "second";
    bankwriter::Sound last = pcm;
    last.name = "third";
    write_file(dir.file("layer2.fsb"), bankwriter::write_fsb4({pcm, mpeg, last}, 0x40));
    return dir.file("layer2.fsb");
}

TEST(MpegEncoder, LayerTwoSoundsAreEncodedByTwolame) {
    NEEDS_ENCODER();
    TempDir dir;
    const std::string bank = layer2_bank(dir);
    if (bank.empty()) GTEST_SKIP() << "layer2_160k.mp2 was not made: twolame makes it at build time";
    for (const std::uint32_t rate : {44100u, 32000u, 24000u}) {
        SCOPED_TRACE(rate);
        const Match m = replace_and_check(bank, 1, rate, 481);
        EXPECT_GT(m.snr, 15.0);
        std::printf("layer II at %u Hz: SNR %.1f dB at a lag of %zu\n", rate, m.snr, m.lag);
    }
    // Five channels: two stereo streams and a mono one.
    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("u"), bank}).status);
    const std::vector<std::int16_t> five = chord(9000, 5, 32000);
    write_file(dir.file("u/second.wav"), wav_file(five, 5, 32000));
    const ToolRun run = rebuild(dir, bank);
    ASSERT_EQ(0, run.status) << run.err;
    auto after = open_bank(rebuilt_path(dir, bank));
    ASSERT_TRUE(after);
    expect_streams(*after, 1, five, 5, 481);
}

TEST(MpegEncoder, TheFilesOwnLoopMovesByTheEncodersDelay) {
    NEEDS_ENCODER();
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    const std::string bank = kCorpus + "/banks/fsb5_mpeg_2.fsb";
    TempDir dir;
    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("u"), bank}).status);
    write_file(dir.file("u/eat1.wav"), wav_file(chord(8000, 1, 22050), 1, 22050, 2000, 5999));
    ASSERT_EQ(0, rebuild(dir, bank).status);
    auto after = open_bank(rebuilt_path(dir, bank));
    ASSERT_TRUE(after);
    const soundlib::SubsoundInfo info = after->info(0);
    EXPECT_TRUE(info.loops);
    EXPECT_EQ(2000u + 1105, info.loop_start) << "the same samples loop";
    EXPECT_EQ(5999u + 1105, info.loop_end);
}

TEST(MpegEncoder, RatesMpegCannotStoreAreRefusedNamingThoseThatFit) {
    if (!corpus_present()) GTEST_SKIP() << "no corpus beside the project";
    const std::string bank = kCorpus + "/banks/fsb5_mpeg_2.fsb";
    TempDir dir;
    ASSERT_EQ(0, run_bankrip({"-q", "-o", dir.file("u"), bank}).status);
    write_file(dir.file("u/eat1.wav"), wav_file(chord(5000, 1, 12345), 1, 12345));
    const ToolRun run = rebuild(dir, bank);
    EXPECT_EQ(1, run.status);
#ifdef SOUNDLIB_MPEG_ENCODER
    EXPECT_NE(std::string::npos, run.err.find("12345 Hz")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 Hz"))
        << run.err;
#else
    EXPECT_NE(std::string::npos, run.err.find("this build has no MPEG encoder")) << run.err;
#endif
    EXPECT_FALSE(std::filesystem::exists(rebuilt_path(dir, bank)));

    // Layer II: twolame writes no MPEG-2.5.
    TempDir two;
    const std::string layer2 = layer2_bank(two);
    if (layer2.empty()) return;
    ASSERT_EQ(0, run_bankrip({"-q", "-o", two.file("u"), layer2}).status);
    write_file(two.file("u/second.wav"), wav_file(chord(5000, 2, 11025), 2, 11025));
    const ToolRun run2 = rebuild(two, layer2);
    EXPECT_EQ(1, run2.status);
#ifdef SOUNDLIB_MPEG_ENCODER
    EXPECT_NE(std::string::npos, run2.err.find("MPEG layer II cannot store: 16000, 22050, 24000, 32000, 44100 or 48000 Hz"))
        << run2.err;
#endif
}

}  // namespace
