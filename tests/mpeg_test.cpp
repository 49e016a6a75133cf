// The MPEG decoder: walking frames past the bank's padding, damaged data,
// streams of more than two channels, and reading from any frame.
//
// Without an encoder in the build, frames come from two places: silent
// frames made here (a header, then zeros: no reservoir, no scale, no
// spectrum, so every sample decodes to 0) and, at run time only, real frames
// out of the corpus's banks; those tests skip when the corpus is absent.
#include "soundlib/codec/mpeg/mpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "soundlib/bank/bank_locator.h"
#include "soundlib/codec/pcm_stream.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

using namespace soundlib;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A silent frame: header bytes 1..3 after the 0xFF, zeros to `length`.
Bytes silent(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::size_t length) {
    Bytes f(length, 0);
    f[0] = 0xFF;
    f[1] = b1;
    f[2] = b2;
    f[3] = b3;
    return f;
}
// MPEG-1 layer III, 128 kbps, 44100 Hz, stereo: 417 bytes.
Bytes silent_stereo_44k() { return silent(0xFB, 0x90, 0x00, 417); }

void append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }
// Pads `to` to a multiple of p with `filler` repeated.
void pad(Bytes& to, std::size_t p, const Bytes& filler = {0}) {
    for (std::size_t i = 0; to.size() % p; ++i) to.push_back(filler[i % filler.size()]);
}
// n copies of a frame, each padded to a multiple of p.
Bytes repeat(const Bytes& frame, int n, std::size_t p, const Bytes& filler = {0}) {
    Bytes data;
    for (int i = 0; i < n; ++i) {
        append(data, frame);
        pad(data, p, filler);
    }
    return data;
}

struct Decoded {
    FMOD_RESULT code = FMOD_OK;
    std::string detail;
    std::vector<std::int16_t> pcm;  // interleaved
    std::uint64_t damaged = 0;      // frames found damaged
    std::string first_damage;
};

// Reads `count` frames from `from` on, as the tool reads a subsound.
Decoded read_frames(PcmStream& s, std::uint64_t from, std::uint64_t count) {
    Decoded d;
    const std::uint32_t ch = s.format().channels;
    std::vector<std::uint8_t> buf(count * ch * 2);
    std::size_t got = 0;
    s.seek(from);
    d.code = s.read(buf.data(), buf.size(), got);
    d.detail = s.detail();
    d.damaged = s.damage().units;
    d.first_damage = s.damage().first;
    d.pcm.resize(got / 2);
    for (std::size_t i = 0; i < d.pcm.size(); ++i) {
        d.pcm[i] = static_cast<std::int16_t>(buf[2 * i] | (buf[2 * i + 1] << 8));
    }
    return d;
}

// A subsound whose data is `data` alone, in a file of its own.
class RawSubsound {
public:
    RawSubsound(const Bytes& data, std::uint32_t channels, std::uint32_t rate, std::uint64_t frames,
                std::uint32_t padding) {
        write_file(dir_.file("data"), data);
        file_.open(dir_.file("data"), nullptr);
        info_.codec = Codec::mpeg;
        info_.channels = channels;
        info_.frequency = rate;
        info_.frames = frames;
        info_.data = {0, data.size()};
        info_.mpeg_frame_padding = padding;
    }
    std::unique_ptr<FrameSource> source(std::uint32_t units_per_decoder = kMpegUnitsPerDecoder) {
        return make_mpeg_source(info_, file_, units_per_decoder);
    }
    Decoded decode_all() {
        PcmStream s(source(), PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, info_.channels}, info_.frames);
        return read_frames(s, 0, info_.frames);
    }

private:
    TempDir dir_;
    BankFile file_;
    SubsoundInfo info_;
};

Decoded decode_raw(const Bytes& data, std::uint32_t channels, std::uint32_t rate, std::uint64_t frames,
                   std::uint32_t padding) {
    return RawSubsound(data, channels, rate, frames, padding).decode_all();
}

bool all_zero(const std::vector<std::int16_t>& v) {
    return std::all_of(v.begin(), v.end(), [](std::int16_t x) { return x == 0; });
}

// A corpus bank, open, with its subsound descriptions.
struct CorpusBank {
    BankFile file;
    std::vector<SubsoundInfo> subsounds;

    bool open(const std::string& name) {
        if (file.open(std::string(CORPUS_DIR) + "/banks/" + name, nullptr) != BankFile::OpenError::none) return false;
        return read_bank(file, subsounds).code == FMOD_OK;
    }
    PcmStream stream(int index, std::uint32_t units_per_decoder = kMpegUnitsPerDecoder) {
        const SubsoundInfo& info = subsounds[static_cast<std::size_t>(index)];
        return PcmStream(make_mpeg_source(info, file, units_per_decoder),
                         PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, info.channels}, info.frames);
    }
    Bytes data(int index) {
        const SubsoundInfo& info = subsounds[static_cast<std::size_t>(index)];
        Bytes b(info.data.size);
        file.read_exact(info.data.offset, b.data(), b.size());
        return b;
    }
};

#define OPEN_CORPUS_BANK(bank, name) \
    CorpusBank bank;                 \
    if (!bank.open(name)) GTEST_SKIP() << "corpus bank " << name << " not found"

// The corpus's FSB4 MP3: one stereo subsound, 75 frames of MPEG-1 layer III
// at 48000 Hz and 320 kbps, 960 bytes each, 86,400 frames long.
constexpr const char* kStereoBank = "fsb4_mp3_stereo48k.fsb";
constexpr std::uint32_t kStereoFrameBytes = 960;

TEST(MpegSample, TruncatedTowardZeroThenClamped) {
    EXPECT_EQ(0, mpeg_sample_to_s16(0.0f));
    EXPECT_EQ(16383, mpeg_sample_to_s16(0.5f));    // 16383.5
    EXPECT_EQ(-16383, mpeg_sample_to_s16(-0.5f));  // toward zero, not down
    EXPECT_EQ(32767, mpeg_sample_to_s16(1.0f));
    EXPECT_EQ(-32767, mpeg_sample_to_s16(-1.0f));  // the scale is 32767, not 32768
    EXPECT_EQ(32767, mpeg_sample_to_s16(1.5f));
    EXPECT_EQ(-32768, mpeg_sample_to_s16(-1.01f));  // -33094.67 clamped
    EXPECT_EQ(0, mpeg_sample_to_s16(std::nanf("")));
    // x * 32767 is 5984.99996 exactly but 5985 once rounded to float: the
    // references multiply in float, and matching them bit for bit needs it.
    const std::uint32_t bits = 0x3E3B0976;
    float x;
    std::memcpy(&x, &bits, sizeof x);
    EXPECT_EQ(5985, mpeg_sample_to_s16(x));
}

TEST(MpegDecode, FramesGiveTheirSamplesPerLayerAndVersion) {
    // MPEG-1 layer III: 1152 samples a frame; a frame more than the data
    // holds is an early end.
    Bytes data = repeat(silent_stereo_44k(), 5, 1);
    Decoded d = decode_raw(data, 2, 44100, 5 * 1152, 1);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(5u * 1152 * 2, d.pcm.size());
    EXPECT_TRUE(all_zero(d.pcm));
    d = decode_raw(data, 2, 44100, 5 * 1152 + 1, 1);
    EXPECT_NE(FMOD_OK, d.code);
    EXPECT_EQ(5u * 1152 * 2, d.pcm.size());

    // MPEG-2 layer III, mono, 64 kbps at 22050 Hz, padding bit: 209 bytes, 576 samples.
    data = repeat(silent(0xF3, 0x82, 0xC0, 209), 4, 4);
    EXPECT_EQ(FMOD_OK, decode_raw(data, 1, 22050, 4 * 576, 4).code);
    EXPECT_NE(FMOD_OK, decode_raw(data, 1, 22050, 4 * 576 + 1, 4).code);

    // MPEG-1 layer II, 192 kbps at 48000 Hz: 576 bytes, 1152 samples.
    data = repeat(silent(0xFD, 0xA4, 0xC0, 576), 3, 2);
    EXPECT_EQ(FMOD_OK, decode_raw(data, 1, 48000, 3 * 1152, 2).code);
    EXPECT_NE(FMOD_OK, decode_raw(data, 1, 48000, 3 * 1152 + 1, 2).code);
}

TEST(MpegDecode, PaddingIsSkippedAndASyncWordInItIsNoFrame) {
    // 417-byte frames padded to 16: each 15-byte gap opens with a complete,
    // valid header (of a 418-byte frame) that a search for sync words would take.
    const Bytes data = repeat(silent_stereo_44k(), 4, 16, {0xFF, 0xFB, 0x92, 0x00, 0xFF, 0xFB});
    Decoded d = decode_raw(data, 2, 44100, 4 * 1152, 16);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(4u * 1152 * 2, d.pcm.size());
    EXPECT_TRUE(all_zero(d.pcm));

    // The same whatever the bank's family says: walked back to back, the
    // fake header at 417 would pass for a frame (of garbage) and lead to
    // 835, inside the second real frame, so the stream's own padding wins.
    for (const std::uint32_t hint : {1u, 2u, 4u, 32u}) {
        d = decode_raw(data, 2, 44100, 4 * 1152, hint);
        EXPECT_EQ(FMOD_OK, d.code) << hint << ": " << d.detail;
        EXPECT_EQ(4u * 1152 * 2, d.pcm.size());
        EXPECT_EQ(0u, d.damaged) << hint << ": " << d.first_damage;
    }

    // Learned past damage near the start: the second frame's header lost.
    Bytes damaged = repeat(silent_stereo_44k(), 8, 16, {0xFF, 0xFB, 0x92, 0x00, 0xFF, 0xFB});
    std::memcpy(damaged.data() + 432, "JUNK", 4);
    d = decode_raw(damaged, 2, 44100, 8 * 1152, 1);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(8u * 1152 * 2, d.pcm.size());
    EXPECT_EQ(1u, d.damaged) << d.first_damage;
    EXPECT_NE(std::string::npos, d.first_damage.find("byte 432 ")) << d.first_damage;
}

TEST(MpegDecode, DamageIsPassedOverToTheNextFrameAndStandsForTheFramesItTook) {
    // Four bytes of junk between frames: no frame lost, the last one still decoded.
    Bytes data = repeat(silent_stereo_44k(), 3, 4);
    append(data, {'J', 'U', 'N', 'K'});
    append(data, silent_stereo_44k());
    Decoded d = decode_raw(data, 2, 44100, 4 * 1152, 4);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(4u * 1152 * 2, d.pcm.size());
    EXPECT_EQ(1u, d.damaged);
    EXPECT_NE(std::string::npos, d.first_damage.find("byte 1260 ")) << d.first_damage;  // 3 x 420

    // Two frames overwritten: two silent frames, then the rest.
    data = repeat(silent_stereo_44k(), 6, 4);
    std::fill(data.begin() + 420, data.begin() + 3 * 420, 0x55);
    d = decode_raw(data, 2, 44100, 6 * 1152, 4);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(6u * 1152 * 2, d.pcm.size());
    EXPECT_EQ(2u, d.damaged);

    // Data that ends inside the third frame.
    data = repeat(silent_stereo_44k(), 3, 4);
    data.resize(1000);
    d = decode_raw(data, 2, 44100, 4 * 1152, 4);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, d.code);
    EXPECT_EQ(3u * 1152 * 2, d.pcm.size());
}

TEST(MpegDecode, FramesThatContradictTheSubsound) {
    // From the first frame on: nothing can be decoded.
    Bytes data = repeat(silent_stereo_44k(), 2, 1);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, decode_raw(data, 1, 44100, 2 * 1152, 1).code);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, decode_raw(data, 2, 48000, 2 * 1152, 1).code);
    // A rate no MPEG frame has (libmpg123 would refuse to decode at it) is
    // damaged data, not an internal error.
    EXPECT_EQ(FMOD_ERR_FILE_BAD, decode_raw(data, 2, 12345, 2 * 1152, 1).code);
    // A third frame at another rate (128 kbps at 48000 Hz: 384 bytes): damage.
    append(data, silent(0xFB, 0x94, 0x00, 384));
    Decoded d = decode_raw(data, 2, 44100, 3 * 1152, 1);
    EXPECT_EQ(FMOD_OK, d.code);
    EXPECT_EQ(3u * 1152 * 2, d.pcm.size());
    EXPECT_EQ(1u, d.damaged);
    EXPECT_NE(std::string::npos, d.first_damage.find("48000 Hz")) << d.first_damage;
}

TEST(MpegDecode, RealFramesAroundDamageAreKept) {
    OPEN_CORPUS_BANK(bank, kStereoBank);
    PcmStream whole = bank.stream(0);
    const Decoded full = read_frames(whole, 0, 86400);
    ASSERT_EQ(FMOD_OK, full.code) << full.detail;

    // Frame 10's header overwritten: frames before it as they were, frame
    // 10 silent, and a few frames on (once the decoder's memory of the lost
    // frame is gone) the frames after it as they were too.
    Bytes data = bank.data(0);
    std::memcpy(data.data() + 10 * kStereoFrameBytes, "JUNK", 4);
    Decoded d = decode_raw(data, 2, 48000, 86400, 4);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(1u, d.damaged);
    EXPECT_NE(std::string::npos, d.first_damage.find("byte 9600 ")) << d.first_damage;
    ASSERT_EQ(full.pcm.size(), d.pcm.size());
    const auto frame = [](const std::vector<std::int16_t>& pcm, std::size_t f) { return pcm.begin() + f * 1152 * 2; };
    EXPECT_TRUE(std::equal(frame(d.pcm, 0), frame(d.pcm, 10), frame(full.pcm, 0)));
    EXPECT_TRUE(all_zero(std::vector<std::int16_t>(frame(d.pcm, 10), frame(d.pcm, 11))));
    EXPECT_FALSE(all_zero(std::vector<std::int16_t>(frame(full.pcm, 10), frame(full.pcm, 11))));
    EXPECT_TRUE(std::equal(frame(d.pcm, 20), frame(d.pcm, 75), frame(full.pcm, 20)));
}

// True when channels first, first + 1 of `merged` are `stereo` and every
// other channel is silent.
bool holds_stereo_at(const Decoded& merged, std::uint32_t channels, std::uint32_t first, const Decoded& stereo) {
    if (merged.pcm.size() / channels != stereo.pcm.size() / 2) return false;
    for (std::size_t f = 0; f < stereo.pcm.size() / 2; ++f) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::int16_t want = c == first ? stereo.pcm[2 * f] : c == first + 1 ? stereo.pcm[2 * f + 1] : 0;
            if (merged.pcm[f * channels + c] != want) return false;
        }
    }
    return true;
}

TEST(MpegDecode, StreamsBeyondTwoChannelsMergeInOrder) {
    OPEN_CORPUS_BANK(bank, kStereoBank);
    const int n = 20;
    PcmStream whole = bank.stream(0);
    const Decoded stereo = read_frames(whole, 0, n * 1152);
    ASSERT_EQ(FMOD_OK, stereo.code) << stereo.detail;
    const Bytes real = bank.data(0);
    auto real_frame = [&](int i) {
        return Bytes(real.begin() + i * kStereoFrameBytes, real.begin() + (i + 1) * kStereoFrameBytes);
    };
    // 40 kbps at 48000 Hz: 120-byte frames, padded by 8 bytes.
    const Bytes silent_mono = silent(0xFB, 0x24, 0xC0, 120);
    const Bytes silent_stereo = silent(0xFB, 0x24, 0x00, 120);

    Bytes three, four;  // real stereo + silent mono; silent stereo + real stereo
    for (int i = 0; i < n; ++i) {
        append(three, real_frame(i));
        append(three, silent_mono);
        pad(three, 16, {0xFF, 0xFB});
        append(four, silent_stereo);
        pad(four, 16);
        append(four, real_frame(i));
    }
    Decoded d = decode_raw(three, 3, 48000, n * 1152, 16);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_TRUE(holds_stereo_at(d, 3, 0, stereo));
    d = decode_raw(four, 4, 48000, n * 1152, 16);
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_TRUE(holds_stereo_at(d, 4, 2, stereo));

    // A mono frame where the layout wants a stereo stream.
    EXPECT_EQ(FMOD_ERR_FILE_BAD, decode_raw(repeat(silent_mono, 2, 16), 4, 48000, 1152, 16).code);
}

// Reading from the start of every frame, and from inside it, after reading
// further on, gives what one run from the start gave.
void expect_any_frame_matches(CorpusBank& bank, int index) {
    const SubsoundInfo& info = bank.subsounds[static_cast<std::size_t>(index)];
    PcmStream whole = bank.stream(index);
    const Decoded full = read_frames(whole, 0, info.frames);
    ASSERT_EQ(FMOD_OK, full.code) << full.detail;

    const std::uint64_t spf = info.frequency < 32000 ? 576 : 1152;  // the corpus has no layer II
    PcmStream s = bank.stream(index);
    for (std::uint64_t from = 0; from < info.frames; from += spf / 3) {
        read_frames(s, info.frames - 1, 1);  // away, past it
        const Decoded part = read_frames(s, from, std::min<std::uint64_t>(2 * spf, info.frames - from));
        ASSERT_EQ(FMOD_OK, part.code) << part.detail;
        ASSERT_TRUE(std::equal(part.pcm.begin(), part.pcm.end(), full.pcm.begin() + from * info.channels))
            << "subsound " << index << " read from frame " << from;
    }
}

TEST(MpegDecode, ReadingFromAnyFrameMatchesOneRunFromTheStart) {
    // MPEG-1 stereo at 320 kbps, MPEG-1 mono and MPEG-2 mono, whose frames
    // lean on the bit reservoir.
    for (const char* name : {kStereoBank, "fsb5_mpeg_12.fsb", "fsb5_mpeg_2.fsb"}) {
        OPEN_CORPUS_BANK(bank, name);
        for (int i = 0; i < static_cast<int>(bank.subsounds.size()); ++i) {
            SCOPED_TRACE(name);
            expect_any_frame_matches(bank, i);
        }
    }
}

// Decodes every unit of a source in order; the units decoded.
std::uint64_t decode_every_unit(FrameSource& source, std::uint32_t channels) {
    std::vector<std::uint8_t> unit(std::size_t{source.max_unit_frames()} * channels * 2);
    std::string detail;
    std::uint64_t units = 0;
    for (std::uint32_t frames = 1; frames > 0; ++units) {
        if (source.decode(unit.data(), frames, detail) != FMOD_OK || frames == 0) break;
    }
    return units;
}

// Frames with valid headers and garbage bodies; the smallest layer III ones
// (MPEG-2, 8 kbps, 22050 Hz, stereo: 26 bytes), whose main data mostly
// points back further than the decoder holds, so libmpg123 cannot decode
// them whole.
Bytes garbage_frames(std::size_t count) {
    Bytes data;
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        Bytes f = silent(0xF3, 0x10, 0x00, 26);
        for (std::size_t k = 4; k < f.size(); ++k) {
            seed = seed * 1103515245u + 12345u;
            f[k] = static_cast<std::uint8_t>(seed >> 16);
        }
        append(data, f);
    }
    return data;
}

TEST(MpegDecode, TheFirstFrameIsFoundPastAnyJunkAndLookedForOnce) {
    // Junk before the first frame, the frame's header across the end of
    // the search's first 4096-byte piece, or well past it.
    for (const std::size_t junk : {100u, 4094u, 4096u, 9001u}) {
        Bytes data(junk, 0x11);
        append(data, repeat(silent_stereo_44k(), 6, 1));
        const Decoded d = decode_raw(data, 2, 44100, 6 * 1152, 1);
        EXPECT_EQ(FMOD_OK, d.code) << junk << ": " << d.detail;
        EXPECT_LE(1u, d.damaged) << junk;
        EXPECT_NE(std::string::npos, d.first_damage.find("byte 0 ")) << d.first_damage;
    }
    // No frame at all: every read says so, without looking again.
    RawSubsound none(Bytes(20000, 0xFF), 2, 44100, 1152, 1);
    auto source = none.source();
    std::vector<std::uint8_t> unit(std::size_t{source->max_unit_frames()} * 4);
    std::string detail;
    std::uint32_t frames = 0;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(FMOD_ERR_FILE_BAD, source->decode(unit.data(), frames, detail));
        EXPECT_NE(std::string::npos, detail.find("no MPEG frame header at byte 0")) << detail;
        EXPECT_EQ(0u, source->seek(500));
    }
}

TEST(MpegDecoders, NoDecoderReadsMoreThanItsShareOfALongStream) {
    // On every frame it cannot decode whole, libmpg123 spends time in
    // proportion to the frames its decoder has read: one decoder for a
    // long damaged stream costs the square of its length.
    const std::size_t count = 3 * kMpegUnitsPerDecoder + 100;
    RawSubsound sub(garbage_frames(count), 2, 22050, count * 576, 1);
    auto source = sub.source();
    EXPECT_EQ(count, decode_every_unit(*source, 2));
    const MpegDecoderUse use = mpeg_decoder_use(*source);
    EXPECT_GE(use.decoders, 4u);
    EXPECT_LE(use.most_units_read, kMpegUnitsPerDecoder + 256 + 8);  // its share, and a capped warm-up
}

TEST(MpegDecoders, FreshDecodersGiveTheSameSamples) {
    // Handed on every 8 units, damage and all: what one decoder gives.
    OPEN_CORPUS_BANK(bank, kStereoBank);
    Bytes data = bank.data(0);
    std::memcpy(data.data() + 10 * kStereoFrameBytes, "JUNK", 4);
    for (std::size_t f = 30; f < 33; ++f) {  // valid headers, garbage main data
        for (std::size_t k = 40; k < kStereoFrameBytes; ++k) data[f * kStereoFrameBytes + k] ^= static_cast<std::uint8_t>(k * 7);
    }
    RawSubsound sub(data, 2, 48000, 86400, 4);
    for (const std::uint32_t span : {8u, 9u, 16u}) {
        PcmStream one(sub.source(UINT32_MAX), PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, 2}, 86400);
        PcmStream handed_on(sub.source(span), PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, 2}, 86400);
        const Decoded a = read_frames(one, 0, 86400);
        const Decoded b = read_frames(handed_on, 0, 86400);
        EXPECT_EQ(a.code, b.code);
        EXPECT_EQ(a.damaged, b.damaged);
        EXPECT_TRUE(a.pcm == b.pcm) << "handed on every " << span << " units";
    }
    // The corpus's MPEG-1 mono and MPEG-2 mono, leaning on the bit reservoir.
    for (const char* name : {"fsb5_mpeg_12.fsb", "fsb5_mpeg_2.fsb"}) {
        OPEN_CORPUS_BANK(other, name);
        for (int i = 0; i < static_cast<int>(other.subsounds.size()); ++i) {
            const std::uint64_t frames = other.subsounds[static_cast<std::size_t>(i)].frames;
            PcmStream one = other.stream(i, UINT32_MAX);
            PcmStream handed_on = other.stream(i, 8);
            EXPECT_TRUE(read_frames(one, 0, frames).pcm == read_frames(handed_on, 0, frames).pcm) << name << " " << i;
        }
    }
}

TEST(MpegDecode, ReadingOnNeverGoesBack) {
    // Asked for a frame of the unit after the last one, the decoder stays put.
    RawSubsound sub(repeat(silent_stereo_44k(), 20, 1), 2, 44100, 20 * 1152, 1);
    auto source = sub.source();
    std::vector<std::uint8_t> unit(source->max_unit_frames() * 4);
    std::string detail;
    std::uint32_t frames = 0;
    EXPECT_EQ(0u, source->seek(0));
    for (std::uint64_t u = 1; u < 20; ++u) {
        ASSERT_EQ(FMOD_OK, source->decode(unit.data(), frames, detail)) << detail;
        ASSERT_EQ(1152u, frames);
        EXPECT_EQ(u * 1152, source->seek(u * 1152 + 7));
    }
    const std::uint64_t back = source->seek(3 * 1152 + 5);  // a unit start at or before it
    EXPECT_LE(back, 3u * 1152);
    EXPECT_EQ(0u, back % 1152);
}

TEST(MpegDecode, BanksOfBothFamiliesThroughTheTool) {
    // FSB4 with bank flag 0x20 pads frames to 2 bytes, FSB5 to 4.
    TempDir dir;
    bankwriter::Sound s;
    s.channels = 2;
    s.frames = 3 * 1152 - 10;
    s.flags = 0x200 | 0x40;  // MPEG, stereo
    s.name = "fsb4.mp3";
    s.data = repeat(silent_stereo_44k(), 3, 2);
    bankwriter::save(dir.file("a.fsb"), bankwriter::write_fsb4({s}, 0x20));
    s.name = "fsb5.mp3";
    s.data = repeat(silent_stereo_44k(), 3, 4);
    bankwriter::save(dir.file("b.fsb"), bankwriter::write_fsb5({s}, 11));

    for (const char* bank : {"a.fsb", "b.fsb"}) {
        const ToolRun run = run_bankrip({dir.file(bank), dir.path() + "/"});
        EXPECT_EQ(0, run.status) << run.err;
    }
    for (const char* wav : {"fsb4.wav", "fsb5.wav"}) {
        EXPECT_EQ(44u + (3 * 1152 - 10) * 4, read_file(dir.file(wav)).size()) << wav;
    }
}

}  // namespace
