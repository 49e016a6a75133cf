// MPEG framing as banks store it, on streams from Debian's encoders (made at
// build time, see tests/CMakeLists.txt) wrapped into banks here: padding
// learned from each sound (back to back, or up to a multiple), a frame
// followed by nothing but padding, and a first frame that is a LAME tag.
// Every decode is checked against libmpg123 fed the plain stream on its own.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "soundlib/codec/mpeg/mpeg.h"
#include "soundlib/codec/mpeg/mpeg_frames.h"
#include "support/bank_audio.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;
using Pcm = std::vector<std::int16_t>;

Bytes fixture(const std::string& name) { return read_file(std::string(MPEG_FIXTURES_DIR) + "/" + name); }

#define FIXTURE(var, name)          \
    const Bytes var = fixture(name); \
    if (var.empty()) GTEST_SKIP() << name << " was not made: lame and twolame make it at build time"

// A stream's frames, walked by their headers as the encoder wrote them.
std::vector<Bytes> split_frames(const Bytes& stream) {
    std::vector<Bytes> frames;
    soundlib::MpegFrameHeader h;
    for (std::size_t pos = 0; pos + 4 <= stream.size(); pos += h.length) {
        if (soundlib::parse_mpeg_frame_header(&stream[pos], h) || pos + h.length > stream.size()) break;
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                            stream.begin() + static_cast<std::ptrdiff_t>(pos + h.length));
    }
    return frames;
}

// The frames, each followed by `filler` repeated up to a multiple of p.
Bytes join(const std::vector<Bytes>& frames, std::size_t p, const Bytes& filler = {0}) {
    Bytes out;
    for (const Bytes& f : frames) {
        out.insert(out.end(), f.begin(), f.end());
        for (std::size_t i = 0; out.size() % p; ++i) out.push_back(filler[i % filler.size()]);
    }
    return out;
}

Pcm to_pcm(const Bytes& bytes) {
    Pcm pcm(bytes.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return pcm;
}

// libmpg123 on its own, fed the whole stream as a player would (it reads a
// LAME tag itself), without gapless trimming; samples converted as the tool
// converts them.
Pcm libmpg123_decode(const Bytes& stream) {
    Pcm pcm;
    mpg123_init();
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    if (!h) return pcm;
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_format_none(h);
    for (const long rate : {32000L, 44100L, 48000L}) mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    mpg123_open_feed(h);
    mpg123_feed(h, stream.data(), stream.size());
    for (;;) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        std::size_t bytes = 0;
        const int r = mpg123_decode_frame(h, &num, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT) continue;
        if (r != MPG123_OK) break;
        const auto* x = reinterpret_cast<const float*>(audio);
        for (std::size_t i = 0; i < bytes / sizeof(float); ++i) pcm.push_back(soundlib::mpeg_sample_to_s16(x[i]));
    }
    mpg123_delete(h);
    return pcm;
}

// A bank on disk, opened as the tool opens it, and its descriptions for
// walking frames.
struct Opened {
    TempDir dir;
    std::string path;
    soundlib::Bank bank;
    soundlib::BankFile file;
    std::vector<soundlib::SubsoundInfo> subsounds;

    // The frames the walk gives for sound i, and what it learned.
    std::vector<soundlib::MpegFrameSpan> frames(int i, soundlib::MpegLayout* layout = nullptr) {
        soundlib::MpegFrameWalk w(subsounds[static_cast<std::size_t>(i)], file);
        std::vector<soundlib::MpegFrameSpan> out;
        for (soundlib::MpegFrameSpan f; w.next(f);) out.push_back(f);
        EXPECT_EQ("", w.problem());
        EXPECT_EQ(0u, w.damaged_units()) << w.first_damage();
        if (layout) *layout = w.layout();
        return out;
    }
};

std::unique_ptr<Opened> open_bank(const Bytes& bytes) {
    auto o = std::make_unique<Opened>();
    o->path = o->dir.file("b.fsb");
    write_file(o->path, bytes);
    EXPECT_EQ(FMOD_OK, o->bank.open(o->path).code);
    o->file.open(o->path, nullptr);
    EXPECT_EQ(FMOD_OK, soundlib::read_bank(o->file, o->subsounds).code);
    return o;
}

// Sound i decoded as the tool decodes it, and its damage.
struct Decoded {
    Pcm pcm;
    std::uint64_t damaged = 0;
    std::string first_damage;
};
Decoded decode(soundlib::Bank& bank, int i) {
    Decoded d;
    d.pcm = to_pcm(testbanks::decoded_audio(bank, i));
    if (const soundlib::DamageReport* r = bank.damage(i)) {
        d.damaged = r->units;
        d.first_damage = r->first;
    }
    return d;
}

Sound mpeg_sound(const Bytes& data, std::uint32_t channels, std::uint64_t frames) {
    Sound s;
    s.name = std::to_string(data.size());
    s.name += ".mp3";
    s.channels = channels;
    s.frames = static_cast<std::uint32_t>(frames);
    s.data = data;
    s.flags = 0x200 | (channels == 2 ? 0x40 : 0x20);  // FSB3/FSB4: MPEG, stereo or mono
    return s;
}

// A full MPEG-1 layer II header of the frames below, to pad with: a search
// for sync words would take it for a frame.
const Bytes kLayer2Lookalike = {0xFF, 0xFD, 0x90, 0x04, 0xFF, 0xFD};

TEST(MpegFraming, PaddingIsLearnedFromEachSoundNotFromItsBank) {
    FIXTURE(mp2, "layer2_160k.mp2");
    const std::vector<Bytes> frames = split_frames(mp2);
    ASSERT_EQ(mp2.size(), frames.size() * 522) << "twolame writes 522-byte frames back to back";
    const Pcm reference = libmpg123_decode(mp2);
    const std::uint64_t length = frames.size() * 1152;
    ASSERT_EQ(length * 2, reference.size());

    // One FSB5 bank (whose family pads to 4) of the same frames back to
    // back, padded to 2, 4 and 32 with zeros, and to 16 with bytes that look
    // like a frame header.
    struct Way {
        std::size_t padding;
        Bytes filler;
    };
    const std::vector<Way> ways = {{1, {0}}, {2, {0}}, {4, {0}}, {16, kLayer2Lookalike}, {32, {0}}};
    std::vector<Sound> sounds;
    for (const Way& w : ways) sounds.push_back(mpeg_sound(join(frames, w.padding, w.filler), 2, length));
    auto o = open_bank(bankwriter::write_fsb5(sounds, 11));
    for (int i = 0; i < static_cast<int>(ways.size()); ++i) {
        const std::size_t p = ways[static_cast<std::size_t>(i)].padding;
        const Decoded d = decode(o->bank, i);
        EXPECT_EQ(0u, d.damaged) << p << ": " << d.first_damage;
        EXPECT_TRUE(d.pcm == reference) << "padded to " << p;
        const std::vector<soundlib::MpegFrameSpan> walked = o->frames(i);
        ASSERT_EQ(frames.size(), walked.size()) << p;
        for (std::size_t k = 0; k < walked.size(); ++k) {
            EXPECT_EQ(k * ((522 + p - 1) / p * p), walked[k].offset) << p;
            EXPECT_EQ(522u, walked[k].size);
        }
    }

    // An FSB4 bank without padding flags whose frames are padded to 16
    // anyway, with the look-alike; and through the tool, the back-to-back
    // sound that was refused ("holds no MPEG frame").
    o = open_bank(bankwriter::write_fsb4({mpeg_sound(join(frames, 16, kLayer2Lookalike), 2, length)}));
    EXPECT_TRUE(decode(o->bank, 0).pcm == reference);
    TempDir out;
    write_file(out.file("l2.fsb"), bankwriter::write_fsb5({mpeg_sound(mp2, 2, length)}, 11));
    const ToolRun run = run_bankrip({out.file("l2.fsb"), out.path() + "/"});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(44 + length * 4, read_file(out.file("10440.wav")).size());
}

TEST(MpegFraming, AFrameFollowedByNothingButPaddingIsASound) {
    FIXTURE(mono, "layer3_mono40.mp3");
    const std::vector<Bytes> frames = split_frames(mono);
    ASSERT_LE(2u, frames.size());
    ASSERT_EQ(130u, frames[0].size()) << "mono 40 kbit/s at 44.1 kHz";
    // Encoded without bit reservoir: the first frame decodes on its own to
    // the first 1152 samples of the whole stream.
    const Pcm whole = libmpg123_decode(mono);
    ASSERT_LE(1152u, whole.size());
    const Pcm reference(whole.begin(), whole.begin() + 1152);

    Bytes data = frames[0];
    data.resize(160, 0);
    auto o = open_bank(bankwriter::write_fsb5({mpeg_sound(data, 1, 1152)}, 11));
    const Decoded d = decode(o->bank, 0);
    EXPECT_EQ(0u, d.damaged) << d.first_damage;
    EXPECT_TRUE(d.pcm == reference);
    const std::vector<soundlib::MpegFrameSpan> walked = o->frames(0);
    ASSERT_EQ(1u, walked.size());
    EXPECT_EQ(0u, walked[0].offset);
    EXPECT_EQ(130u, walked[0].size);

    TempDir out;
    write_file(out.file("one.fsb"), bankwriter::write_fsb5({mpeg_sound(data, 1, 1152)}, 11));
    const ToolRun run = run_bankrip({out.file("one.fsb"), out.path() + "/"});
    EXPECT_EQ(0, run.status) << run.err;
}

TEST(MpegFraming, ALameTagFrameIsMetadataNotAudio) {
    FIXTURE(tagged, "layer3_tagged.mp3");
    FIXTURE(untagged, "layer3_untagged.mp3");
    const std::vector<Bytes> frames = split_frames(tagged);
    const std::vector<Bytes> audio = split_frames(untagged);
    ASSERT_EQ(audio.size() + 1, frames.size());
    ASSERT_TRUE(std::equal(audio.begin(), audio.end(), frames.begin() + 1)) << "-t leaves out the tag frame alone";
    const Pcm reference = libmpg123_decode(tagged);
    ASSERT_EQ(audio.size() * 1152 * 2, reference.size());
    ASSERT_TRUE(reference == libmpg123_decode(untagged));

    // The bank counts the tag frame in the sound's length: the audio, then
    // silence for the rest of it.
    const std::uint64_t length = frames.size() * 1152 - 10;
    Pcm want = reference;
    want.resize(length * 2, 0);
    const Bytes lookalike = {0xFF, 0xFB, 0x90, 0x04, 0xFF, 0xFB};  // a header of these frames
    for (const auto& [padding, filler] : std::vector<std::pair<std::size_t, Bytes>>{{1, {0}}, {4, {0}}, {16, lookalike}}) {
        SCOPED_TRACE(::testing::Message() << "padded to " << padding);
        const Sound sound = mpeg_sound(join(frames, padding, filler), 2, length);
        for (const Bytes& bank : {bankwriter::write_fsb5({sound}, 11), bankwriter::write_fsb3({sound})}) {
            auto o = open_bank(bank);
            const Decoded d = decode(o->bank, 0);
            EXPECT_EQ(0u, d.damaged) << d.first_damage;
            EXPECT_TRUE(d.pcm == want);
            soundlib::MpegLayout layout;
            const std::vector<soundlib::MpegFrameSpan> walked = o->frames(0, &layout);
            EXPECT_TRUE(layout.tagged);
            ASSERT_EQ(audio.size(), walked.size());
            EXPECT_EQ((417 + padding - 1) / padding * padding, walked[0].offset);
            EXPECT_EQ(audio[0].size(), walked[0].size);
        }
    }

    // Without the tag nothing is left out, and a sound whose length asks for
    // more than its frames still ends in damage.
    auto o = open_bank(bankwriter::write_fsb5({mpeg_sound(untagged, 2, audio.size() * 1152)}, 11));
    EXPECT_TRUE(decode(o->bank, 0).pcm == reference);
    soundlib::MpegLayout layout;
    EXPECT_EQ(audio.size(), o->frames(0, &layout).size());
    EXPECT_FALSE(layout.tagged);
    o = open_bank(bankwriter::write_fsb5({mpeg_sound(untagged, 2, length)}, 11));
    EXPECT_LE(1u, decode(o->bank, 0).damaged);
}

}  // namespace
