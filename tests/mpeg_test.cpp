// The MPEG decoder: walking frames past the bank's padding, damaged data,
// streams of more than two channels, and reading from any frame.
//
// Without an encoder in the build, frames come from two places: silent
// frames made here (a header, then zeros: no reservoir, no scale, no
// spectrum, so every sample decodes to 0) and, at run time only, real frames
// out of the corpus's banks; those tests skip when the corpus is absent.
#include "soundlib/codec/mpeg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "soundlib/bank/bank_reader.h"
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

struct Decoded {
    FMOD_RESULT code = FMOD_OK;
    std::string detail;
    std::vector<std::int16_t> pcm;  // interleaved
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
    std::unique_ptr<FrameSource> source() { return make_mpeg_source(info_, file_); }
    PcmStream stream() {
        return PcmStream(source(), PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, info_.channels}, info_.frames);
    }
    Decoded decode_all() {
        PcmStream s = stream();
        return read_frames(s, 0, info_.frames);
    }

private:
    TempDir dir_;
    BankFile file_;
    SubsoundInfo info_;
};

bool all_zero(const std::vector<std::int16_t>& v) {
    for (std::int16_t x : v) {
        if (x != 0) return false;
    }
    return true;
}

// A corpus bank, open, with its subsound descriptions.
struct CorpusBank {
    BankFile file;
    std::vector<SubsoundInfo> subsounds;

    bool open(const std::string& name) {
        if (file.open(std::string(CORPUS_DIR) + "/banks/" + name, nullptr) != BankFile::OpenError::none) return false;
        return read_bank(file, subsounds).code == FMOD_OK;
    }
    PcmStream stream(int index) {
        const SubsoundInfo& info = subsounds[static_cast<std::size_t>(index)];
        return PcmStream(make_mpeg_source(info, file), PcmFormat{FMOD_SOUND_FORMAT_PCM16, 16, info.channels},
                         info.frames);
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
    EXPECT_EQ(3, mpeg_sample_to_s16(0.0001f));      // 3.2767
    EXPECT_EQ(0, mpeg_sample_to_s16(std::nanf("")));
    // x * 32767 is 5984.99996 exactly but 5985 once rounded to float: the
    // references multiply in float, and matching them bit for bit needs it.
    const std::uint32_t bits = 0x3E3B0976;
    float x;
    std::memcpy(&x, &bits, sizeof x);
    EXPECT_EQ(5985, mpeg_sample_to_s16(x));
}

TEST(MpegDecode, FramesGiveTheirSamplesPerLayerAndVersion) {
    // Five MPEG-1 layer III frames: 1152 samples each; one frame more than
    // the data holds is reported as an early end.
    Bytes data;
    for (int i = 0; i < 5; ++i) append(data, silent_stereo_44k());
    Decoded d = RawSubsound(data, 2, 44100, 5 * 1152, 1).decode_all();
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(5u * 1152 * 2, d.pcm.size());
    EXPECT_TRUE(all_zero(d.pcm));
    d = RawSubsound(data, 2, 44100, 5 * 1152 + 1, 1).decode_all();
    EXPECT_NE(FMOD_OK, d.code);
    EXPECT_EQ(5u * 1152 * 2, d.pcm.size());

    // MPEG-2 layer III, mono, 64 kbps at 22050 Hz with the padding bit: 209
    // bytes, 576 samples.
    data.clear();
    for (int i = 0; i < 4; ++i) {
        append(data, silent(0xF3, 0x82, 0xC0, 209));
        pad(data, 4);
    }
    d = RawSubsound(data, 1, 22050, 4 * 576, 4).decode_all();
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(4u * 576, d.pcm.size());
    EXPECT_NE(FMOD_OK, RawSubsound(data, 1, 22050, 4 * 576 + 1, 4).decode_all().code);

    // MPEG-1 layer II, 192 kbps at 48000 Hz: 576 bytes, 1152 samples.
    data.clear();
    for (int i = 0; i < 3; ++i) append(data, silent(0xFD, 0xA4, 0xC0, 576));
    d = RawSubsound(data, 1, 48000, 3 * 1152, 2).decode_all();
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(3u * 1152, d.pcm.size());
}

TEST(MpegDecode, PaddingIsSkippedAndASyncWordInItIsNoFrame) {
    // 417-byte frames padded to 16: each gap of 15 bytes opens with a
    // complete, valid header (of a 418-byte frame). A reader that searched
    // for sync words would take it.
    const Bytes fake = {0xFF, 0xFB, 0x92, 0x00, 0xFF, 0xFB};
    Bytes data;
    for (int i = 0; i < 4; ++i) {
        append(data, silent_stereo_44k());
        pad(data, 16, fake);
    }
    Decoded d = RawSubsound(data, 2, 44100, 4 * 1152, 16).decode_all();
    EXPECT_EQ(FMOD_OK, d.code) << d.detail;
    EXPECT_EQ(4u * 1152 * 2, d.pcm.size());
    EXPECT_TRUE(all_zero(d.pcm));

    // Read as unpadded, the fake header at 417 passes for a frame (of
    // garbage), which leads to 835, inside the second real frame.
    d = RawSubsound(data, 2, 44100, 4 * 1152, 1).decode_all();
    EXPECT_EQ(FMOD_ERR_FILE_BAD, d.code);
    EXPECT_NE(std::string::npos, d.detail.find("byte 835 ")) << d.detail;
    EXPECT_EQ(2u * 1152 * 2, d.pcm.size());
}

TEST(MpegDecode, GarbageWhereAFrameShouldStartIsDamage) {
    Bytes data;
    for (int i = 0; i < 3; ++i) {
        append(data, silent_stereo_44k());
        pad(data, 4);
    }
    append(data, {'J', 'U', 'N', 'K'});
    append(data, silent_stereo_44k());
    Decoded d = RawSubsound(data, 2, 44100, 4 * 1152, 4).decode_all();
    EXPECT_EQ(FMOD_ERR_FILE_BAD, d.code);
    EXPECT_NE(std::string::npos, d.detail.find("byte 1260 ")) << d.detail;  // 3 x 420
    EXPECT_EQ(3u * 1152 * 2, d.pcm.size());

    // Data that ends inside a frame.
    data.resize(1000);
    d = RawSubsound(data, 2, 44100, 4 * 1152, 4).decode_all();
    EXPECT_EQ(FMOD_ERR_FILE_BAD, d.code);
    EXPECT_NE(std::string::npos, d.detail.find("byte 840 ")) << d.detail;
    EXPECT_EQ(2u * 1152 * 2, d.pcm.size());
}

TEST(MpegDecode, FramesThatContradictTheSubsoundAreDamage) {
    Bytes data;
    for (int i = 0; i < 2; ++i) append(data, silent_stereo_44k());
    EXPECT_EQ(FMOD_ERR_FILE_BAD, RawSubsound(data, 1, 44100, 2 * 1152, 1).decode_all().code);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, RawSubsound(data, 2, 48000, 2 * 1152, 1).decode_all().code);
    // A second frame at another rate (128 kbps at 48000 Hz: 384 bytes).
    append(data, silent(0xFB, 0x94, 0x00, 384));
    Decoded d = RawSubsound(data, 2, 44100, 3 * 1152, 1).decode_all();
    EXPECT_EQ(FMOD_ERR_FILE_BAD, d.code);
    EXPECT_EQ(2u * 1152 * 2, d.pcm.size());
}

TEST(MpegDecode, RealFramesAfterDamageAreNotLost) {
    OPEN_CORPUS_BANK(bank, kStereoBank);
    PcmStream whole = bank.stream(0);
    const Decoded full = read_frames(whole, 0, 86400);
    ASSERT_EQ(FMOD_OK, full.code) << full.detail;

    Bytes data = bank.data(0);
    std::memcpy(data.data() + 10 * kStereoFrameBytes, "JUNK", 4);
    Decoded d = RawSubsound(data, 2, 48000, 86400, 4).decode_all();
    EXPECT_EQ(FMOD_ERR_FILE_BAD, d.code);
    EXPECT_NE(std::string::npos, d.detail.find("byte 9600 ")) << d.detail;
    ASSERT_EQ(10u * 1152 * 2, d.pcm.size());
    EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.end(), full.pcm.begin()));
    EXPECT_FALSE(all_zero(d.pcm));
}

TEST(MpegDecode, StreamsBeyondTwoChannelsMergeInOrder) {
    OPEN_CORPUS_BANK(bank, kStereoBank);
    PcmStream whole = bank.stream(0);
    const std::uint64_t frames = 20 * 1152;
    const Decoded stereo = read_frames(whole, 0, frames);
    ASSERT_EQ(FMOD_OK, stereo.code) << stereo.detail;
    const Bytes real = bank.data(0);

    // 40 kbps at 48000 Hz: 120-byte frames, 8 bytes of padding each.
    const Bytes silent_mono = silent(0xFB, 0x24, 0xC0, 120);
    const Bytes silent_stereo = silent(0xFB, 0x24, 0x00, 120);

    // Three channels: the real stereo stream, then a silent mono one.
    Bytes data;
    for (int i = 0; i < 20; ++i) {
        data.insert(data.end(), real.begin() + i * kStereoFrameBytes, real.begin() + (i + 1) * kStereoFrameBytes);
        pad(data, 16, {0xFF, 0xFB});
        append(data, silent_mono);
        pad(data, 16, {0xFF, 0xFB});
    }
    Decoded d = RawSubsound(data, 3, 48000, frames, 16).decode_all();
    ASSERT_EQ(FMOD_OK, d.code) << d.detail;
    ASSERT_EQ(frames * 3, d.pcm.size());
    bool same = true;
    for (std::uint64_t f = 0; f < frames; ++f) {
        same = same && d.pcm[f * 3] == stereo.pcm[f * 2] && d.pcm[f * 3 + 1] == stereo.pcm[f * 2 + 1] &&
               d.pcm[f * 3 + 2] == 0;
    }
    EXPECT_TRUE(same);

    // Four channels: a silent stereo stream first, the real one second.
    data.clear();
    for (int i = 0; i < 20; ++i) {
        append(data, silent_stereo);
        pad(data, 16);
        data.insert(data.end(), real.begin() + i * kStereoFrameBytes, real.begin() + (i + 1) * kStereoFrameBytes);
    }
    d = RawSubsound(data, 4, 48000, frames, 16).decode_all();
    ASSERT_EQ(FMOD_OK, d.code) << d.detail;
    ASSERT_EQ(frames * 4, d.pcm.size());
    same = true;
    for (std::uint64_t f = 0; f < frames; ++f) {
        same = same && d.pcm[f * 4] == 0 && d.pcm[f * 4 + 1] == 0 && d.pcm[f * 4 + 2] == stereo.pcm[f * 2] &&
               d.pcm[f * 4 + 3] == stereo.pcm[f * 2 + 1];
    }
    EXPECT_TRUE(same);

    // A mono frame where the layout wants a stereo stream.
    data.clear();
    append(data, silent_mono);
    append(data, silent_mono);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, RawSubsound(data, 4, 48000, 1152, 16).decode_all().code);
}

// Reading from the start of every frame, and from inside some, after reading
// further on, gives what one run from the start gave.
void expect_any_frame_matches(CorpusBank& bank, int index) {
    const SubsoundInfo& info = bank.subsounds[static_cast<std::size_t>(index)];
    const std::uint32_t ch = info.channels;
    PcmStream whole = bank.stream(index);
    const Decoded full = read_frames(whole, 0, info.frames);
    ASSERT_EQ(FMOD_OK, full.code) << full.detail;

    PcmStream s = bank.stream(index);
    std::uint32_t spf = 0;
    {
        auto source = make_mpeg_source(info, bank.file);
        source->seek(0);
        std::vector<std::uint8_t> unit(source->max_unit_frames() * ch * 2);
        std::string detail;
        ASSERT_EQ(FMOD_OK, source->decode(unit.data(), spf, detail));
    }
    for (std::uint64_t at = 0; at < info.frames; at += spf) {
        for (std::uint64_t from : {at, at + spf / 3}) {
            if (from >= info.frames) continue;
            read_frames(s, info.frames - 1, 1);  // away, past it
            const std::uint64_t n = std::min<std::uint64_t>(2 * spf, info.frames - from);
            const Decoded part = read_frames(s, from, n);
            ASSERT_EQ(FMOD_OK, part.code) << part.detail;
            ASSERT_TRUE(std::equal(part.pcm.begin(), part.pcm.end(), full.pcm.begin() + from * ch))
                << "subsound " << index << " read from frame " << from;
        }
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

TEST(MpegDecode, ReadingOnNeverGoesBack) {
    // Asked for where the last unit ended, the decoder stays put.
    Bytes data;
    for (int i = 0; i < 20; ++i) append(data, silent_stereo_44k());
    RawSubsound sub(data, 2, 44100, 20 * 1152, 1);
    auto source = sub.source();
    std::vector<std::uint8_t> unit(source->max_unit_frames() * 4);
    std::string detail;
    std::uint32_t frames = 0;
    EXPECT_EQ(0u, source->seek(0));
    for (std::uint64_t u = 0; u < 19; ++u) {
        ASSERT_EQ(FMOD_OK, source->decode(unit.data(), frames, detail)) << detail;
        ASSERT_EQ(1152u, frames);
        EXPECT_EQ((u + 1) * 1152, source->seek((u + 1) * 1152 + 7));
    }
    // Going back lands on a unit start at or before the frame.
    EXPECT_LE(source->seek(3 * 1152 + 5), 3u * 1152);
    EXPECT_EQ(0u, source->seek(3 * 1152 + 5) % 1152);
}

TEST(MpegDecode, BanksOfBothFamiliesThroughTheTool) {
    TempDir dir;
    Bytes data;
    for (int i = 0; i < 3; ++i) {
        append(data, silent_stereo_44k());
        pad(data, 2);
    }
    bankwriter::Sound s;
    s.name = "padded2.mp3";
    s.channels = 2;
    s.frames = 3 * 1152 - 10;
    s.data = data;
    s.flags = 0x200 | 0x40;  // MPEG, stereo
    bankwriter::save(dir.file("a.fsb"), bankwriter::write_fsb4({s}, 0x20));

    data.clear();
    for (int i = 0; i < 3; ++i) {
        append(data, silent_stereo_44k());
        pad(data, 4);
    }
    s.name = "padded4.mp3";
    s.data = data;
    bankwriter::save(dir.file("b.fsb"), bankwriter::write_fsb5({s}, 11));

    for (const char* bank : {"a.fsb", "b.fsb"}) {
        const ToolRun run = run_bankrip({dir.file(bank), dir.path() + "/"});
        EXPECT_EQ(0, run.status) << run.err;
    }
    for (const char* wav : {"padded2.wav", "padded4.wav"}) {
        const Bytes w = read_file(dir.file(wav));
        ASSERT_EQ(44u + (3 * 1152 - 10) * 4, w.size()) << wav;
    }
}

}  // namespace
