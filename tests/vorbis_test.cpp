// FSB5 Vorbis: the rebuilt headers, the setup matching by CRC, and banks
// holding real Vorbis packets made here with libvorbisenc, decoded through
// the library and the tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bank_writer.h"
#include "vorbis_encoder.h"
#include "soundlib/codec/vorbis/vorbis.h"
#include "soundlib/codec/vorbis/vorbis_decoder_setup.h"
#include "soundlib/codec/vorbis/vorbis_packet_blocks.h"
#include "soundlib/leak_checked.h"
#include "soundlib/codec/vorbis/vorbis_setup.h"
#include "soundlib/bank/bank_locator.h"
#include "soundlib/codec/vorbis/vorbis_setup_cache.h"
#include "soundlib/codec/vorbis/vorbis_setup_packet.h"
#include "soundlib/codec/vorbis/vorbis_setup_table.h"
#include "soundlib/codec/decoder_factory.h"
#include "soundlib/codec/pcm_stream.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

using soundlib::ByteVector;

constexpr double kPi = 3.14159265358979323846;

// The test signal: a different tone and level on each channel, so a swap
// or a shift shows.
double tone(std::uint32_t channel, std::uint32_t frame, std::uint32_t rate) {
    const double hz = 440.0 + 220.0 * channel;
    const double level = 0.5 / (channel + 1);
    return level * std::sin(2 * kPi * hz * frame / rate);
}

using Encoded = bankwriter::VorbisEncoding;

// Encodes `frames` of the test signal with stock libvorbisenc at `quality`.
Encoded encode(std::uint32_t channels, std::uint32_t rate, std::uint32_t frames, float quality) {
    Encoded e;
    EXPECT_TRUE(bankwriter::encode_vorbis(channels, rate, quality, frames,
                                          [&](std::uint32_t c, std::uint32_t f) {
                                              return static_cast<float>(tone(c, f, rate));
                                          },
                                          e));
    return e;
}

// A bank sound of these packets, with this set-up CRC in chunk 11.
bankwriter::Sound vorbis_sound(const std::string& name, std::uint32_t channels, std::uint32_t rate,
                               std::uint32_t frames, const Encoded& e, std::uint32_t crc) {
    bankwriter::Sound s;
    s.name = name;
    s.channels = channels;
    s.frequency = rate;
    s.frames = frames;
    s.data = bankwriter::vorbis_packet_data(e.packets);
    s.chunks.push_back({11, bankwriter::vorbis_setup_chunk(crc)});
    return s;
}

std::uint32_t crc_of(const ByteVector& b) { return soundlib::crc32(b.data(), b.size()); }

// Byte offset of packet k's length in the stored data.
std::size_t packet_offset(const Encoded& e, std::size_t k) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < k; ++i) at += 2 + e.packets[i].size();
    return at;
}

struct Wav {
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples;
    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};

Wav read_wav(const std::string& path) {
    const ByteVector b = read_file(path);
    Wav w;
    if (b.size() < 44) return w;
    w.channels = b[22] | (b[23] << 8);
    w.rate = b[24] | (b[25] << 8) | (b[26] << 16) | (static_cast<std::uint32_t>(b[27]) << 24);
    for (std::size_t i = 44; i + 1 < b.size(); i += 2) {
        w.samples.push_back(static_cast<std::int16_t>(b[i] | (b[i + 1] << 8)));
    }
    return w;
}

// RMS of the difference from the test signal, past the first and last
// blocks, relative to full scale. A good decode stays near 0.005; one frame
// early or late already gives more than 0.015 on either channel.
double error_rms(const Wav& w, std::uint32_t channel) {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t f = 2048; f + 2048 < w.frames(); ++f) {
        const double d = w.samples[f * w.channels + channel] / 32767.0 - tone(channel, static_cast<std::uint32_t>(f), w.rate);
        sum += d * d;
        ++n;
    }
    return n ? std::sqrt(sum / n) : 1.0;
}

// libvorbisenc's quality for the middle step, 50 of 1..100: (49 - 5) / 99.
constexpr float kMiddleQuality = 44.0f / 99.0f;

}  // namespace

TEST(VorbisHeaders, Crc32IsTheZlibOne) {
    const char* check = "123456789";
    EXPECT_EQ(0xCBF43926u, soundlib::crc32(reinterpret_cast<const std::uint8_t*>(check), 9));
    EXPECT_EQ(0u, soundlib::crc32(nullptr, 0));
    const std::uint8_t zero = 0;
    EXPECT_EQ(0xD202EF8Du, soundlib::crc32(&zero, 1));
}

TEST(VorbisHeaders, IdentificationAndCommentHeaders) {
    const ByteVector expected_ident = {1,    'v',  'o',  'r', 'b', 'i', 's', 0, 0, 0, 0, 2, 0x80, 0xBB, 0, 0,
                                       0,    0,    0,    0,   0,   0,   0,   0, 0, 0, 0, 0, 0xB8, 1};
    EXPECT_EQ(expected_ident, soundlib::vorbis_identification_header(2, 48000, 256, 2048));
    // 8 kHz as libvorbisenc sets it up: 512-sample blocks only.
    EXPECT_EQ(0x99, soundlib::vorbis_identification_header(1, 8000, 512, 512)[28]);
    const ByteVector expected_comment = {3, 'v', 'o', 'r', 'b', 'i', 's', 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(expected_comment, soundlib::vorbis_comment_header());
}

TEST(VorbisHeaders, FloatToSixteenBitTruncatesThenClamps) {
    using soundlib::vorbis_float_to_s16;
    EXPECT_EQ(32767, vorbis_float_to_s16(1.0f));
    EXPECT_EQ(-32767, vorbis_float_to_s16(-1.0f));
    EXPECT_EQ(32766, vorbis_float_to_s16(0.99999f));   // 32766.67
    EXPECT_EQ(-16383, vorbis_float_to_s16(-0.5f));     // -16383.5, toward zero
    EXPECT_EQ(0, vorbis_float_to_s16(-0.00003f));      // -0.98
    EXPECT_EQ(32767, vorbis_float_to_s16(1.5f));
    EXPECT_EQ(-32768, vorbis_float_to_s16(-1.5f));
    EXPECT_EQ(0, vorbis_float_to_s16(std::nanf("")));
}

TEST(VorbisSetupPacket, HeadersComeBackByteForByte) {
    // Stock and variant, mono and stereo, one block size and two.
    for (const auto& [channels, rate, step] : {std::tuple(2u, 44100u, 50), std::tuple(1u, 8000u, 1),
                                               std::tuple(2u, 44100u, 9), std::tuple(1u, 22050u, 80)}) {
        for (const soundlib::VorbisSetup& s : soundlib::make_vorbis_setups(channels, rate, step)) {
            soundlib::VorbisSetupHeader h;
            ASSERT_TRUE(soundlib::read_vorbis_setup(s.packet, channels, h)) << rate << " Hz, step " << step;
            EXPECT_EQ(s.packet, soundlib::write_vorbis_setup(h, channels)) << rate << " Hz, step " << step;
        }
    }
    // What a rebuild relies on, read from libvorbisenc's stereo 44.1 kHz set-up.
    const ByteVector stock = soundlib::make_vorbis_setups(2, 44100, 50).at(0).packet;
    soundlib::VorbisSetupHeader h;
    ASSERT_TRUE(soundlib::read_vorbis_setup(stock, 2, h));
    ASSERT_EQ(2u, h.floors.size());
    EXPECT_EQ(1024u, h.floors[1].range);
    EXPECT_EQ(27u, h.floors[1].posts);
    ASSERT_EQ(2u, h.modes.size());
    EXPECT_EQ(1u, h.modes[1].blockflag);
    EXPECT_EQ(2u, h.residues[1].type);
    EXPECT_EQ(1u, h.mappings[1].coupling.size());

    const ByteVector cut(stock.begin(), stock.end() - 40);
    EXPECT_FALSE(soundlib::read_vorbis_setup(cut, 2, h));
}

// The setup header as libvorbis writes it with the encoder fully set up,
// the way its documentation asks. (libvorbisenc 1.3.7 loses some memory
// setting up six channels at 44.1 and 48 kHz, as the library knows: not
// ours to free, so not checked for leaks.)
ByteVector fully_set_up_header(std::uint32_t channels, std::uint32_t rate, int step) {
#ifdef SOUNDLIB_LEAK_CHECKED
    const __lsan::ScopedDisabler not_ours;
#endif
    vorbis_info vi;
    vorbis_info_init(&vi);
    ByteVector packet;
    if (vorbis_encode_init_vbr(&vi, channels, rate, soundlib::vorbis_quality_for_step(step)) == 0) {
        vorbis_dsp_state vd;
        vorbis_comment vc;
        vorbis_comment_init(&vc);
        ogg_packet ident, comment, setup;
        if (vorbis_analysis_init(&vd, &vi) == 0) {
            if (vorbis_analysis_headerout(&vd, &vc, &ident, &comment, &setup) == 0) {
                packet.assign(setup.packet, setup.packet + setup.bytes);
            }
            vorbis_dsp_clear(&vd);
        }
        vorbis_comment_clear(&vc);
    }
    vorbis_info_clear(&vi);
    return packet;
}

TEST(VorbisSetupPacket, WrittenWithoutTheEncoderStateAsWithIt) {
    // Every block layout libvorbisenc has, mono to six channels; and what
    // walking the packets takes of it answers as libvorbis does.
    for (const std::uint32_t rate : {8000u, 11025u, 16000u, 22050u, 32000u, 44100u, 48000u, 96000u}) {
        for (const std::uint32_t channels : {1u, 2u, 6u}) {
            for (const int step : {1, 5, 14, 50, 60, 100}) {
                const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(channels, rate, step);
                ASSERT_FALSE(setups.empty()) << rate << " Hz";
                EXPECT_EQ(fully_set_up_header(channels, rate, step), setups[0].packet)
                    << channels << " channels at " << rate << " Hz, step " << step;
                for (const soundlib::VorbisSetup& s : setups) {
                    std::string detail;
                    const auto decoder = soundlib::VorbisDecoderSetup::make(channels, rate, s, detail);
                    ASSERT_NE(nullptr, decoder) << detail;
                    soundlib::VorbisBlocksByFirstByte blocks{};
                    ASSERT_TRUE(soundlib::vorbis_blocks_by_first_byte(s, channels, blocks));
                    for (int b = 0; b < 256; ++b) {
                        std::uint8_t first = static_cast<std::uint8_t>(b);
                        ogg_packet op{};
                        op.packet = &first;
                        op.bytes = 1;
                        ASSERT_EQ(vorbis_packet_blocksize(decoder->info(), &op), blocks[b]) << "first byte " << b;
                    }
                }
            }
        }
    }
    soundlib::VorbisSetup cut = soundlib::make_vorbis_setups(2, 48000, 50).at(0);
    cut.packet.resize(cut.packet.size() / 2);
    soundlib::VorbisBlocksByFirstByte blocks{};
    EXPECT_FALSE(soundlib::vorbis_blocks_by_first_byte(cut, 2, blocks));
}

TEST(VorbisVariant, RebuildsTheSetupsOfTheBanks) {
    struct Case {
        std::uint32_t channels, rate;
        int step;
        std::uint32_t crc;
    };
    // The steps at the edges of the qualities that give each CRC.
    for (const Case& c : {Case{1, 16000, 15, 0x6a5436bf}, Case{1, 22050, 54, 0x6a5436bf},
                          Case{1, 24000, 16, 0x6a5436bf}, Case{2, 24000, 17, 0xd7913109},
                          Case{2, 44100, 9, 0xb03f2dd0}}) {
        const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(c.channels, c.rate, c.step);
        ASSERT_EQ(2u, setups.size()) << c.rate << " Hz, step " << c.step;
        EXPECT_EQ(c.crc, setups[1].crc) << std::hex << c.rate << " Hz, step " << c.step;
        EXPECT_EQ(soundlib::VorbisVariant::blocks_256_2048, setups[1].variant);
        EXPECT_EQ(256u, setups[1].block_short);
        EXPECT_EQ(2048u, setups[1].block_long);
    }
    // Below 0.066 at 24 kHz the lowpass falls under the Nyquist frequency
    // and the residues end earlier; from quality 0 on at 44.1 kHz the stock
    // set-up already has 256/2048 blocks and the variant is the same.
    EXPECT_NE(0x6a5436bfu, soundlib::make_vorbis_setups(1, 24000, 15).at(1).crc);
    EXPECT_EQ(1u, soundlib::make_vorbis_setups(2, 44100, 10).size());
}

// Whether libvorbis takes the three headers of a set-up for these channels
// and rate, and readies a decoder with them.
bool libvorbis_takes(std::uint32_t channels, std::uint32_t rate, const soundlib::VorbisSetup& s) {
    const ByteVector headers[3] = {
        soundlib::vorbis_identification_header(channels, rate, s.block_short, s.block_long),
        soundlib::vorbis_comment_header(), s.packet};
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_info_init(&vi);
    vorbis_comment_init(&vc);
    bool ok = true;
    for (int i = 0; i < 3 && ok; ++i) {
        ogg_packet op{};
        op.packet = const_cast<unsigned char*>(headers[i].data());
        op.bytes = static_cast<long>(headers[i].size());
        op.b_o_s = i == 0;
        op.packetno = i;
        ok = vorbis_synthesis_headerin(&vi, &vc, &op) == 0;
    }
    vorbis_dsp_state vd;
    if (ok) {
        ok = vorbis_synthesis_init(&vd, &vi) == 0;
        if (ok) vorbis_dsp_clear(&vd);
    }
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return ok;
}

TEST(VorbisVariant, SingleBlockTemplatesGet256SampleBlocks) {
    struct Case {
        std::uint32_t channels, rate;
        int first_step, last_step;  // the steps that make this CRC
        std::uint32_t crc;
    };
    // The family the real 8 kHz stereo bank belongs to (0x5949b893).
    const Case cases[] = {
        {2, 8000, 1, 1, 0x3f65b737},    {2, 12000, 1, 1, 0x3f65b737},   {2, 8000, 2, 5, 0x64d54a7c},
        {2, 11025, 1, 4, 0x64d54a7c},   {2, 12000, 2, 8, 0x64d54a7c},   {2, 8000, 6, 9, 0x8da25e57},
        {2, 11025, 5, 9, 0x8da25e57},   {2, 12000, 9, 9, 0x8da25e57},   {2, 8000, 10, 100, 0x5949b893},
        {2, 11025, 10, 100, 0x5949b893}, {2, 12000, 10, 100, 0x5949b893}, {1, 8000, 1, 1, 0x9f62e5dd},
        {1, 12000, 1, 2, 0x9f62e5dd},   {1, 8000, 2, 9, 0x6760a9b4},    {1, 11025, 1, 9, 0x6760a9b4},
        {1, 12000, 3, 9, 0x6760a9b4},   {1, 8000, 10, 100, 0x39e4f39a}, {1, 11025, 10, 100, 0x39e4f39a},
        {1, 12000, 10, 100, 0x39e4f39a}, {2, 4000, 10, 10, 0x5949b893}, {2, 9000, 50, 50, 0x5949b893},
        {1, 11000, 100, 100, 0x39e4f39a},
    };
    for (const Case& c : cases) {
        for (const int step : {c.first_step, c.last_step}) {
            const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(c.channels, c.rate, step);
            ASSERT_EQ(2u, setups.size()) << c.channels << " ch " << c.rate << " Hz, step " << step;
            const soundlib::VorbisSetup& v = setups[1];
            EXPECT_EQ(c.crc, v.crc) << std::hex << c.channels << " ch " << std::dec << c.rate << " Hz, step " << step;
            EXPECT_EQ(soundlib::VorbisVariant::blocks_256, v.variant);
            EXPECT_EQ(256u, v.block_short);
            EXPECT_EQ(256u, v.block_long);
            EXPECT_EQ(512u, setups[0].block_long);
        }
        // The edges are edges: the step past them makes another header.
        if (c.last_step < 100 && c.rate != 4000 && c.rate != 9000) {
            EXPECT_NE(c.crc, soundlib::make_vorbis_setups(c.channels, c.rate, c.last_step + 1).at(1).crc);
        }
    }
    // The build-time table has each of them, with the variant's number.
    for (const Case& c : cases) {
        if (c.rate == 4000 || c.rate == 9000 || c.rate == 11000) continue;  // not tabulated rates
        const auto* end = soundlib::kVorbisSetupTable + soundlib::kVorbisSetupTableSize;
        const auto* e = std::find_if(soundlib::kVorbisSetupTable, end, [&](const soundlib::VorbisSetupTableEntry& t) {
            return t.channels == c.channels && t.rate == c.rate && t.crc == c.crc;
        });
        ASSERT_NE(end, e) << std::hex << c.crc << std::dec << " at " << c.rate << " Hz";
        EXPECT_EQ(static_cast<std::uint8_t>(soundlib::VorbisVariant::blocks_256), e->variant);
        EXPECT_GE(e->step, c.first_step);
        EXPECT_LE(e->step, c.last_step);
    }
}

TEST(VorbisVariant, SingleBlockSetupsReadAndDecode) {
    // 8 kHz (one floor replaced) and 16 kHz at the lowest quality (stock
    // 1024/1024 with two floors: two copies of the 128 x 4 floor, the second
    // with its books after the first's).
    for (const auto& [channels, rate, step] : {std::tuple(2u, 8000u, 50), std::tuple(1u, 11025u, 1),
                                               std::tuple(2u, 16000u, 1), std::tuple(1u, 22050u, 14)}) {
        const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(channels, rate, step);
        ASSERT_GE(setups.size(), 2u) << rate << " Hz, step " << step;
        const soundlib::VorbisSetup& v = setups[1];
        EXPECT_EQ(soundlib::VorbisVariant::blocks_256, v.variant);
        EXPECT_EQ(256u, v.block_long);
        EXPECT_TRUE(libvorbis_takes(channels, rate, v)) << rate << " Hz, step " << step;
        soundlib::VorbisSetupHeader stock, h;
        ASSERT_TRUE(soundlib::read_vorbis_setup(setups[0].packet, channels, stock));
        ASSERT_TRUE(soundlib::read_vorbis_setup(v.packet, channels, h));
        ASSERT_EQ(stock.floors.size(), h.floors.size());
        int books = 0;
        for (const soundlib::VorbisFloor& f : h.floors) {
            EXPECT_EQ(128u, f.range);
            EXPECT_EQ(4u, f.posts);
            EXPECT_GT(f.books_used, books);  // each floor's own books
            books = f.books_used;
        }
        ASSERT_EQ(stock.residues.size(), h.residues.size());
        for (const soundlib::VorbisResidue& r : h.residues) {
            EXPECT_LE(r.end, 128u * (r.type == 2 ? channels : 1));
            EXPECT_GE(r.groupbook, static_cast<std::uint32_t>(books));
        }
    }
    // Rates whose stock set-up has two block sizes, or 256-sample ones
    // already, get no single-block variant.
    for (const auto& [channels, rate, step] : {std::tuple(2u, 16000u, 50), std::tuple(2u, 44100u, 50)}) {
        for (const soundlib::VorbisSetup& s : soundlib::make_vorbis_setups(channels, rate, step)) {
            EXPECT_NE(soundlib::VorbisVariant::blocks_256, s.variant) << rate << " Hz";
        }
    }
}

// The phone encoder's set-up among those of a step, or null.
const soundlib::VorbisSetup* phone_setup(const std::vector<soundlib::VorbisSetup>& setups) {
    for (const soundlib::VorbisSetup& s : setups) {
        if (s.variant == soundlib::VorbisVariant::phone) return &s;
    }
    return nullptr;
}

TEST(VorbisVariant, PhoneBuildsRebuildTheirBanksSetups) {
    struct Case {
        std::uint32_t channels, rate;
        int first_step, last_step;  // the steps that make this CRC
        std::uint32_t crc;
    };
    // The six CRCs of real phone banks, and the same headers elsewhere: the
    // residue ends follow the lowpass as a share of the Nyquist frequency.
    // At 48 kHz the band of quality 0.5 to 0.6 (one set of residue books)
    // with the lowpass stopped at 22.05 kHz; stock's lowpass there is still
    // below that at 0.5.
    const Case cases[] = {
        {1, 22050, 6, 8, 0x744ca4d0},   {1, 22050, 9, 11, 0x49fd480c},  {1, 22050, 55, 100, 0x8d00698d},
        {2, 22050, 55, 100, 0x8c957fd1}, {2, 24000, 9, 10, 0x682eafcb},  {1, 16000, 8, 10, 0x744ca4d0},
        {1, 15000, 6, 8, 0x49fd480c},   {1, 24000, 55, 100, 0x8d00698d}, {2, 22050, 1, 2, 0x682eafcb},
        {2, 16000, 55, 100, 0x8c957fd1}, {2, 48000, 56, 63, 0x6c87a72f},
    };
    for (const Case& c : cases) {
        for (const int step : {c.first_step, c.last_step}) {
            const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(c.channels, c.rate, step);
            const soundlib::VorbisSetup* p = phone_setup(setups);
            ASSERT_NE(nullptr, p) << c.channels << " ch " << c.rate << " Hz, step " << step;
            EXPECT_EQ(c.crc, p->crc) << std::hex << c.channels << " ch " << std::dec << c.rate << " Hz, step " << step;
            EXPECT_EQ(256u, p->block_short);
            EXPECT_EQ(2048u, p->block_long);
            EXPECT_TRUE(libvorbis_takes(c.channels, c.rate, *p));
        }
        for (const int step : {c.first_step - 1, c.last_step + 1}) {
            if (step < 1 || step > 100) continue;
            // Kept: the set-up found points into it.
            const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(c.channels, c.rate, step);
            const soundlib::VorbisSetup* p = phone_setup(setups);
            if (p) {
                EXPECT_NE(c.crc, p->crc) << c.channels << " ch " << c.rate << " Hz, step " << step;
            }
        }
        // The build-time table has the tabulated ones with the variant's number.
        const auto* end = soundlib::kVorbisSetupTable + soundlib::kVorbisSetupTableSize;
        const auto* e = std::find_if(soundlib::kVorbisSetupTable, end, [&](const soundlib::VorbisSetupTableEntry& t) {
            return t.channels == c.channels && t.rate == c.rate && t.crc == c.crc;
        });
        if (c.rate == 15000) continue;
        ASSERT_NE(end, e) << std::hex << c.crc << std::dec << " at " << c.rate << " Hz";
        EXPECT_EQ(static_cast<std::uint8_t>(soundlib::VorbisVariant::phone), e->variant);
        EXPECT_GE(e->step, c.first_step);
        EXPECT_LE(e->step, c.last_step);
    }
}

TEST(VorbisVariant, PhoneSetupsAreBuiltAsLibvorbisencLaysThemOut) {
    // Below quality 0.05: stock has one block size and one residue; the
    // phone set-up has two modes, the long one with its own mapping, floor
    // 1024 x 27 and the residue a stock set-up of the next band has for its
    // short blocks, its books after the rest and its end at the lowpass.
    const std::vector<soundlib::VorbisSetup> low = soundlib::make_vorbis_setups(1, 22050, 7);
    const soundlib::VorbisSetup* p = phone_setup(low);
    ASSERT_NE(nullptr, p);
    soundlib::VorbisSetupHeader stock, h, next;
    ASSERT_TRUE(soundlib::read_vorbis_setup(low.at(0).packet, 1, stock));
    ASSERT_TRUE(soundlib::read_vorbis_setup(p->packet, 1, h));
    ASSERT_TRUE(soundlib::read_vorbis_setup(soundlib::make_vorbis_setups(1, 22050, 30).at(0).packet, 1, next));
    EXPECT_EQ(1u, stock.modes.size());
    ASSERT_EQ(2u, h.modes.size());
    EXPECT_EQ(1u, h.modes[1].blockflag);
    ASSERT_EQ(2u, h.mappings.size());
    EXPECT_EQ(std::vector<std::uint32_t>{1}, h.mappings[1].floor);
    EXPECT_EQ(std::vector<std::uint32_t>{1}, h.mappings[1].residue);
    ASSERT_EQ(2u, h.floors.size());
    EXPECT_EQ(128u, h.floors[0].range);
    EXPECT_EQ(4u, h.floors[0].posts);
    EXPECT_EQ(1024u, h.floors[1].range);
    EXPECT_EQ(27u, h.floors[1].posts);
    ASSERT_EQ(2u, h.residues.size());
    EXPECT_EQ(stock.residues[0].cascade, h.residues[0].cascade);
    EXPECT_EQ(next.residues[0].cascade, h.residues[1].cascade);
    EXPECT_EQ(h.books[h.residues[1].groupbook].bytes, next.books[next.residues[0].groupbook].bytes);
    EXPECT_GT(h.residues[1].groupbook, h.residues[0].groupbook);
    EXPECT_EQ(128u, h.residues[0].end);
    EXPECT_EQ(960u, h.residues[1].end);  // a lowpass of 10.2 kHz, rounded up to a partition

    // From quality 0.5 up: the 128 x 11 floor for short blocks, the rest as
    // the other variant has it; between 0.05 and 0.5 the two are the same.
    const std::vector<soundlib::VorbisSetup> top = soundlib::make_vorbis_setups(2, 22050, 55);
    p = phone_setup(top);
    ASSERT_NE(nullptr, p);
    ASSERT_TRUE(soundlib::read_vorbis_setup(p->packet, 2, h));
    EXPECT_EQ(11u, h.floors.at(0).posts);
    EXPECT_EQ(27u, h.floors.at(1).posts);
    soundlib::VorbisSetupHeader other;
    ASSERT_EQ(soundlib::VorbisVariant::blocks_256_2048, top.at(1).variant);
    ASSERT_TRUE(soundlib::read_vorbis_setup(top.at(1).packet, 2, other));
    EXPECT_EQ(7u, other.floors.at(0).posts);
    EXPECT_EQ(other.residues.size(), h.residues.size());
    EXPECT_EQ(nullptr, phone_setup(soundlib::make_vorbis_setups(2, 22050, 54)));
    EXPECT_EQ(nullptr, phone_setup(soundlib::make_vorbis_setups(1, 22050, 15)));
    // Elsewhere the phone encoder is not known to differ.
    for (const std::uint32_t rate : {8000u, 11025u, 32000u, 44100u}) {
        EXPECT_EQ(nullptr, phone_setup(soundlib::make_vorbis_setups(1, rate, 1))) << rate;
        EXPECT_EQ(nullptr, phone_setup(soundlib::make_vorbis_setups(2, rate, 80))) << rate;
    }
}

// The lowpass libvorbisenc chooses for this quality, in kHz (0 when it
// refuses the channels and rate).
double libvorbisenc_lowpass(std::uint32_t channels, std::uint32_t rate, float quality) {
    double khz = 0;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_setup_vbr(&vi, channels, rate, quality) != 0 ||
        vorbis_encode_ctl(&vi, OV_ECTL_LOWPASS_GET, &khz) != 0) {
        khz = 0;
    }
    vorbis_info_clear(&vi);
    return khz;
}

// libvorbisenc's own set-up for this quality with its lowpass set to
// `lowpass_khz`; empty when it refuses.
ByteVector libvorbisenc_with_lowpass(std::uint32_t channels, std::uint32_t rate, float quality, double lowpass_khz) {
    ByteVector setup;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_setup_vbr(&vi, channels, rate, quality) == 0 &&
        vorbis_encode_ctl(&vi, OV_ECTL_LOWPASS_SET, &lowpass_khz) == 0 && vorbis_encode_setup_init(&vi) == 0) {
        vorbis_dsp_state vd;
        vorbis_comment vc;
        vorbis_comment_init(&vc);
        if (vorbis_analysis_init(&vd, &vi) == 0) {
            ogg_packet ident, comment, code;
            if (vorbis_analysis_headerout(&vd, &vc, &ident, &comment, &code) == 0) {
                setup.assign(code.packet, code.packet + code.bytes);
            }
            vorbis_dsp_clear(&vd);
        }
        vorbis_comment_clear(&vc);
    }
    vorbis_info_clear(&vi);
    return setup;
}

TEST(VorbisVariant, PhoneEncoderAtEveryStoredRate) {
    // The rates bank headers store (12 kHz as one source reads code 3), one
    // and two channels, every step: where the phone encoder's set-up is
    // generated, what reading it shows must be the rule that made it, and
    // the build-time table must name that rule for its CRC; everywhere else
    // it makes what stock or the other variant makes, and none is generated.
    const std::uint32_t rates[] = {8000, 11000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
    const auto* table_end = soundlib::kVorbisSetupTable + soundlib::kVorbisSetupTableSize;
    int by_floors = 0, by_lowpass = 0;
    for (const std::uint32_t channels : {1u, 2u}) {
        for (const std::uint32_t rate : rates) {
            const bool tabulated = std::find(std::begin(soundlib::kVorbisTableRates),
                                             std::end(soundlib::kVorbisTableRates),
                                             rate) != std::end(soundlib::kVorbisTableRates);
            for (int step = 1; step <= 100; ++step) {
                const std::string at = std::to_string(channels) + " ch " + std::to_string(rate) + " Hz, step " +
                                       std::to_string(step);
                const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(channels, rate, step);
                ASSERT_FALSE(setups.empty()) << at;
                const soundlib::VorbisSetup& stock = setups[0];
                const soundlib::VorbisSetup* p = phone_setup(setups);
                const float quality = soundlib::vorbis_quality_for_step(step);
                const double lowpass_khz = libvorbisenc_lowpass(channels, rate, quality);
                ASSERT_GT(lowpass_khz, 0) << at;

                // The rule: at 15 to 26 kHz, 256/2048 blocks where stock has
                // one block size, and from quality 0.5 up; above 44.1 kHz,
                // residues ended at 22.05 kHz where libvorbisenc's lowpass
                // is higher.
                const bool top_band = static_cast<float>(quality + 0.0000001) >= 0.5f;
                const bool floors_rule = rate >= 15000 && rate <= 26000 &&
                                         (stock.block_short == stock.block_long || top_band);
                const bool lowpass_rule = rate > 44100 && lowpass_khz > 22.05;
                if (!floors_rule && !lowpass_rule) {
                    EXPECT_EQ(nullptr, p) << at;
                    continue;
                }
                ASSERT_NE(nullptr, p) << at;
                EXPECT_EQ(step, p->quality);
                EXPECT_EQ(256u, p->block_short) << at;
                EXPECT_EQ(2048u, p->block_long) << at;
                EXPECT_TRUE(libvorbis_takes(channels, rate, *p)) << at;
                soundlib::VorbisSetupHeader h;
                ASSERT_TRUE(soundlib::read_vorbis_setup(p->packet, channels, h)) << at;
                ASSERT_EQ(2u, h.modes.size()) << at;
                EXPECT_EQ(0u, h.modes[0].blockflag);
                EXPECT_EQ(1u, h.modes[1].blockflag);
                if (floors_rule) {
                    ++by_floors;
                    ASSERT_EQ(2u, h.floors.size()) << at;
                    EXPECT_EQ(128u, h.floors[0].range) << at;
                    EXPECT_EQ(top_band ? 11u : 4u, h.floors[0].posts) << at;
                    EXPECT_EQ(1024u, h.floors[1].range) << at;
                    EXPECT_EQ(27u, h.floors[1].posts) << at;
                } else {
                    // Byte for byte what libvorbisenc makes with its lowpass
                    // set to 22.05 kHz (stock has 256/2048 blocks wherever
                    // its lowpass passes that): no residue ends later than
                    // stock's, one at least earlier (the short blocks' of
                    // one channel at 48 kHz still reach the end: 7.35 of 8
                    // partitions, rounded up).
                    ++by_lowpass;
                    EXPECT_EQ(libvorbisenc_with_lowpass(channels, rate, quality, 22.05), p->packet) << at;
                    soundlib::VorbisSetupHeader s;
                    ASSERT_TRUE(soundlib::read_vorbis_setup(stock.packet, channels, s)) << at;
                    EXPECT_EQ(s.books.size(), h.books.size()) << at;
                    ASSERT_EQ(s.residues.size(), h.residues.size()) << at;
                    bool earlier = false;
                    for (std::size_t r = 0; r < h.residues.size(); ++r) {
                        EXPECT_LE(h.residues[r].end, s.residues[r].end) << at << ", residue " << r;
                        earlier = earlier || h.residues[r].end < s.residues[r].end;
                    }
                    EXPECT_TRUE(earlier) << at;
                }
                if (!tabulated) continue;
                const auto* e =
                    std::find_if(soundlib::kVorbisSetupTable, table_end, [&](const soundlib::VorbisSetupTableEntry& t) {
                        return t.channels == channels && t.rate == rate && t.crc == p->crc;
                    });
                ASSERT_NE(table_end, e) << at;
                EXPECT_EQ(static_cast<std::uint8_t>(soundlib::VorbisVariant::phone), e->variant) << at;
                const std::vector<soundlib::VorbisSetup> remade = soundlib::make_vorbis_setups(channels, rate, e->step);
                const soundlib::VorbisSetup* again = phone_setup(remade);
                ASSERT_NE(nullptr, again) << at;
                EXPECT_EQ(p->crc, again->crc) << at;
            }
        }
    }
    // Both rules at work somewhere (a libvorbisenc that moved its bands
    // would leave one of them idle).
    EXPECT_GT(by_floors, 0);
    EXPECT_GT(by_lowpass, 0);
}

TEST(VorbisSetupPacket, FloorBooksShiftAndShiftBack) {
    soundlib::VorbisSetupHeader h;
    ASSERT_TRUE(soundlib::read_vorbis_setup(soundlib::make_vorbis_setups(2, 44100, 50).at(0).packet, 2, h));
    for (const soundlib::VorbisFloor& original : h.floors) {
        soundlib::VorbisFloor f = original;
        ASSERT_TRUE(soundlib::shift_floor_books(f, 7));
        EXPECT_EQ(original.books_used + 7, f.books_used);
        EXPECT_EQ(original.body.bits, f.body.bits);
        EXPECT_NE(original.body.bytes, f.body.bytes);
        ASSERT_TRUE(soundlib::shift_floor_books(f, -7));
        EXPECT_EQ(original.body.bytes, f.body.bytes);
        // A book number past 255 cannot be written.
        f = original;
        EXPECT_FALSE(soundlib::shift_floor_books(f, 256 - original.books_used + 1));
    }
}

TEST(VorbisDecoderSetup, MadeOncePerSetupAndRefusedWhenBroken) {
    const std::vector<soundlib::VorbisSetup> setups = soundlib::make_vorbis_setups(2, 44100, 50);
    ASSERT_FALSE(setups.empty());
    soundlib::VorbisDecoderSetups made;
    std::string detail;
    const auto first = made.get(2, 44100, setups[0], detail);
    ASSERT_NE(nullptr, first) << detail;
    EXPECT_EQ(first, made.get(2, 44100, setups[0], detail));  // the next subsounds of the bank
    EXPECT_NE(first, made.get(1, 44100, soundlib::make_vorbis_setups(1, 44100, 50).at(0), detail));

    // Decoders share it: each sets up its own synthesis on it.
    vorbis_dsp_state a, b;
    ASSERT_EQ(0, vorbis_synthesis_init(&a, first->info()));
    ASSERT_EQ(0, vorbis_synthesis_init(&b, first->info()));
    vorbis_dsp_clear(&a);
    vorbis_dsp_clear(&b);

    // A set-up libvorbis refuses is reported, not kept.
    soundlib::VorbisSetup broken = setups[0];
    broken.crc ^= 1;
    broken.packet.resize(broken.packet.size() / 2);
    EXPECT_EQ(nullptr, made.get(2, 44100, broken, detail));
    EXPECT_NE(std::string::npos, detail.find("libvorbis refused the rebuilt Vorbis setup header")) << detail;
    EXPECT_EQ(nullptr, made.get(2, 44100, broken, detail));
}

TEST(VorbisSetupCache, TabulatedRatesCostOneSetupPerCrc) {
    const Encoded e = encode(2, 44100, 4096, kMiddleQuality);
    soundlib::VorbisSetupCache cache;

    const soundlib::VorbisSetup* found = cache.find(2, 44100, crc_of(e.setup));
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(e.setup, found->packet);
    EXPECT_EQ(256u, found->block_short);
    EXPECT_EQ(2048u, found->block_long);
    const soundlib::VorbisSetup* variant = cache.find(2, 44100, 0xb03f2dd0);
    ASSERT_NE(nullptr, variant);
    EXPECT_EQ(2048u, variant->block_long);
    EXPECT_EQ(2, cache.steps_generated());

    // Asked again (the next subsounds of the bank), or for CRCs that no step
    // makes at these rates: nothing generated.
    EXPECT_EQ(found, cache.find(2, 44100, crc_of(e.setup)));
    for (const std::uint32_t rate : {8000u, 16000u, 22050u, 44100u, 48000u}) {
        EXPECT_EQ(nullptr, cache.find(1, rate, 0x1234abcd));
        EXPECT_EQ(nullptr, cache.find(2, rate, 0x1234abcd));
    }
    EXPECT_EQ(2, cache.steps_generated());
}

TEST(VorbisSetupCache, SearchesOtherRatesWithinABudget) {
    // A rate the table leaves out: searched from the middle step.
    const Encoded e = encode(2, 44056, 4096, kMiddleQuality);
    soundlib::VorbisSetupCache cache;
    const soundlib::VorbisSetup* found = cache.find(2, 44056, crc_of(e.setup));
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(e.setup, found->packet);
    EXPECT_LE(cache.steps_generated(), 3);

    // A CRC nothing makes, at many rates: the search stops at the budget and
    // says so; a rate already searched through is not searched again.
    EXPECT_EQ(nullptr, cache.find(2, 44056, 0x1234abcd));
    const int one_rate = cache.steps_generated();
    EXPECT_LE(one_rate, 101);
    EXPECT_FALSE(cache.search_cut_short());
    for (std::uint32_t rate = 30001; rate < 30100; ++rate) EXPECT_EQ(nullptr, cache.find(1, rate, 0x1234abcd));
    EXPECT_TRUE(cache.search_cut_short());
    EXPECT_LE(cache.steps_generated(), soundlib::kVorbisSearchBudget + 3);
    const int spent = cache.steps_generated();
    EXPECT_EQ(nullptr, cache.find(2, 44056, 0x1234abcd));
    EXPECT_EQ(nullptr, cache.find(2, 96000, 0x1234abcd));
    EXPECT_EQ(found, cache.find(2, 44056, crc_of(e.setup)));
    EXPECT_EQ(spent, cache.steps_generated());
}

TEST(VorbisSetupCache, SixChannelsAtTheRatesWhereLibvorbisencLeaks) {
    // Under the sanitizers, what libvorbisenc loses here is not reported as ours.
    for (const std::uint32_t rate : {44100u, 48000u}) {
        soundlib::VorbisSetupCache cache;
        const soundlib::VorbisSetup* found = cache.find(6, rate, soundlib::make_vorbis_setups(6, rate, 50).at(0).crc);
        ASSERT_NE(nullptr, found);
        EXPECT_EQ(50, found->quality);
    }
}

// Whole banks through the tool.
class VorbisBank : public ::testing::Test {
protected:
    static constexpr std::uint32_t kFrames = 30000;
    TempDir dir;

    std::string save(const std::vector<bankwriter::Sound>& sounds) {
        const std::string path = dir.file("bank.fsb");
        EXPECT_TRUE(bankwriter::save(path, bankwriter::write_fsb5(sounds, 15)));
        return path;
    }
    ToolRun unpack(const std::string& bank) { return run_bankrip({bank, dir.file("out/")}); }
};

TEST_F(VorbisBank, DecodesToTheEncodedSignalAtTheSubsoundsLength) {
    const Encoded stereo = encode(2, 44100, kFrames, kMiddleQuality);
    const Encoded mono8k = encode(1, 8000, kFrames, kMiddleQuality);
    const ToolRun run = unpack(save({vorbis_sound("stereo", 2, 44100, kFrames, stereo, crc_of(stereo.setup)),
                                     vorbis_sound("mono8k", 1, 8000, kFrames, mono8k, crc_of(mono8k.setup))}));
    EXPECT_EQ(0, run.status) << run.err;

    const Wav s = read_wav(dir.file("out/stereo"));
    EXPECT_EQ(2u, s.channels);
    EXPECT_EQ(kFrames, s.frames());
    EXPECT_LT(error_rms(s, 0), 0.01);
    EXPECT_LT(error_rms(s, 1), 0.01);

    // Decoded with 256/2048 blocks this one would be noise.
    const Wav m = read_wav(dir.file("out/mono8k"));
    EXPECT_EQ(1u, m.channels);
    EXPECT_EQ(8000u, m.rate);
    EXPECT_EQ(kFrames, m.frames());
    EXPECT_LT(error_rms(m, 0), 0.01);
}

TEST_F(VorbisBank, UnmatchedSetupCrcFailsThatSubsoundOnly) {
    const Encoded e = encode(2, 44100, kFrames, kMiddleQuality);
    const ToolRun run = unpack(save({vorbis_sound("unknown", 2, 44100, kFrames, e, 0x1234abcd),
                                     vorbis_sound("known", 2, 44100, kFrames, e, crc_of(e.setup))}));
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("no Vorbis setup header matches CRC 0x1234abcd")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(dir.file("out/unknown"))) << run.err;
    EXPECT_FALSE(file_exists(dir.file("out/unknown")));
    EXPECT_EQ(kFrames, read_wav(dir.file("out/known")).frames());
}

TEST_F(VorbisBank, RejectedPacketBecomesSilenceAndTheRestIsDecoded) {
    const Encoded good = encode(2, 44100, kFrames, kMiddleQuality);
    Encoded bad = good;
    bad.packets[12][0] |= 1;  // the header-packet bit: not audio
    const std::uint32_t crc = crc_of(good.setup);
    const ToolRun run = unpack(save({vorbis_sound("good", 2, 44100, kFrames, good, crc),
                                     vorbis_sound("bad", 2, 44100, kFrames, bad, crc)}));
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(console_text("bankrip: " + dir.file("out/") +
                           "bad: 1 damaged packet replaced by silence (the first: the Vorbis packet at byte " +
                           std::to_string(packet_offset(bad, 12)) +
                           " of the subsound's data (not an audio packet))\nbankrip: 1 of 2 sounds written in part\n"),
              run.err);

    // Before the damaged packet and after its neighbours, exactly as
    // undamaged; silence between; the length kept.
    const Wav g = read_wav(dir.file("out/good"));
    const Wav b = read_wav(dir.file("out/bad"));
    ASSERT_EQ(g.samples.size(), b.samples.size());
    std::size_t first_difference = 0;
    while (first_difference < g.samples.size() && g.samples[first_difference] == b.samples[first_difference]) {
        ++first_difference;
    }
    std::size_t last_difference = g.samples.size();
    while (last_difference > 0 && g.samples[last_difference - 1] == b.samples[last_difference - 1]) --last_difference;
    ASSERT_LT(first_difference, last_difference);
    EXPECT_GT(first_difference, 2u * 1000);
    EXPECT_LT(last_difference, g.samples.size() / 2);
    for (std::size_t i = first_difference; i < last_difference; ++i) ASSERT_EQ(0, b.samples[i]) << i;
}

TEST_F(VorbisBank, PacketLengthPastTheDataIsReported) {
    Encoded e = encode(1, 44100, kFrames, kMiddleQuality);
    e.packets.resize(8);
    bankwriter::Sound s = vorbis_sound("cut", 1, 44100, kFrames, e, crc_of(e.setup));
    s.data.push_back(0xFF);  // a ninth packet of 65535 bytes, with 4 of them there
    s.data.push_back(0xFF);
    s.data.insert(s.data.end(), {1, 2, 3, 4});
    const ToolRun run = unpack(save({s}));
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("packet at byte " + std::to_string(packet_offset(e, 8)) +
                                              " of the subsound's data claims 65535 bytes"))
        << run.err;
    EXPECT_GT(read_wav(dir.file("out/cut")).frames(), 0u);
}

// Counts what the decoder is asked for, under the stream.
class CountingSource final : public soundlib::FrameSource {
public:
    CountingSource(std::unique_ptr<soundlib::FrameSource> inner, std::uint64_t& frames)
        : inner_(std::move(inner)), frames_(frames) {}
    std::uint32_t max_unit_frames() const override { return inner_->max_unit_frames(); }
    std::uint64_t seek(std::uint64_t frame) override { return inner_->seek(frame); }
    FMOD_RESULT decode(std::uint8_t* out, std::uint32_t& frames, std::string& detail) override {
        const FMOD_RESULT r = inner_->decode(out, frames, detail);
        frames_ += frames;
        return r;
    }

private:
    std::unique_ptr<soundlib::FrameSource> inner_;
    std::uint64_t& frames_;
};

TEST_F(VorbisBank, ReadsAtAnyFrameMatchTheSequentialDecode) {
    const Encoded e = encode(2, 44100, kFrames, kMiddleQuality);
    const std::string path = save({vorbis_sound("x", 2, 44100, kFrames, e, crc_of(e.setup))});
    soundlib::BankFile file;
    ASSERT_EQ(soundlib::BankFile::OpenError::none, file.open(path, nullptr));
    std::vector<soundlib::SubsoundInfo> infos;
    ASSERT_EQ(FMOD_OK, soundlib::read_bank(file, infos).code);
    ASSERT_EQ(1u, infos.size());
    soundlib::CodecCache cache;
    std::uint64_t decoded = 0;
    auto open = [&] {
        soundlib::DecoderChoice choice = soundlib::make_decoder(infos[0], file, cache);
        EXPECT_TRUE(choice.source) << choice.detail;
        return soundlib::PcmStream(std::make_unique<CountingSource>(std::move(choice.source), decoded),
                                   soundlib::output_format(infos[0]), kFrames);
    };

    // In pieces, each positioned where the last ended, as the tool reads:
    // every frame decoded once (the tail of the last unit aside).
    soundlib::PcmStream stream = open();
    std::vector<std::int16_t> all(kFrames * 2);
    std::size_t got = 0;
    for (std::uint32_t at = 0; at < kFrames; at += 7000) {
        const std::uint32_t n = std::min(7000u, kFrames - at);
        stream.seek(at);
        EXPECT_EQ(FMOD_OK, stream.read(reinterpret_cast<std::uint8_t*>(all.data() + at * 2), n * 4, got));
        ASSERT_EQ(n * 4, got);
    }
    EXPECT_GE(decoded, kFrames);
    EXPECT_LT(decoded, kFrames + 2048);

    // Back, forward past what is decoded, back again to the very start.
    for (std::uint32_t frame : {20000u, 777u, 29500u, 0u, 1u}) {
        std::vector<std::int16_t> part(1000 * 2);
        stream.seek(frame);
        const std::uint32_t frames = std::min(1000u, kFrames - frame);
        EXPECT_EQ(frames == 1000u ? FMOD_OK : FMOD_ERR_FILE_EOF,
                  stream.read(reinterpret_cast<std::uint8_t*>(part.data()), 1000 * 4, got));
        ASSERT_EQ(frames * 4, got);
        EXPECT_EQ(0, std::memcmp(all.data() + frame * 2, part.data(), got)) << "at frame " << frame;
    }
}

namespace {

// A folder of small banks, each naming a rate no table covers and a CRC no
// encoder makes: the search budget is the run's, so once it is spent the
// later banks cost nothing, and a rate searched through is not searched
// again (before, each bank had a budget of its own: about a second each).
TEST_F(VorbisBank, TheSearchBudgetIsTheRunsNotEachBanks) {
    const Encoded e = encode(1, 8000, 2000, kMiddleQuality);
    std::filesystem::create_directories(dir.file("many"));
    const int rates = soundlib::kVorbisSearchBudget / 100 + 2;
    for (int i = 0; i < rates; ++i) {
        const std::uint32_t rate = 30011 + 17 * static_cast<std::uint32_t>(i);
        EXPECT_TRUE(bankwriter::save(dir.file("many/b" + std::to_string(i) + ".fsb"),
                                     bankwriter::write_fsb5({vorbis_sound("s", 1, rate, 2000, e, 0x1234abcd)}, 15)));
    }
    const ToolRun run = run_bankrip({"-q", "-o", dir.file("out"), dir.file("many")});
    EXPECT_EQ(1, run.status);
    std::size_t stopped = 0;
    for (std::size_t at = 0; (at = run.err.find("the search for the Vorbis setup header", at)) != std::string::npos; ++at) {
        ++stopped;
    }
    EXPECT_GE(stopped, 1u) << run.err;
    EXPECT_LE(stopped, 2u) << run.err;
}

}  // namespace
