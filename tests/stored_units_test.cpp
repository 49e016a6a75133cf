// A sound's units as stored, through the library's C interface: Vorbis
// packets with their regenerated headers and the frames each adds, MPEG
// frames without their padding or a first tag frame; where the units end,
// what a cut or damaged sound gives, and which sounds have none.
#include <gtest/gtest.h>
#include <vorbis/codec.h>

#include <cmath>
#include <utility>
#include <cstring>
#include <string>
#include <vector>

#include "bank_writer.h"
#include "soundlib/soundlib.h"
#include "support/library.h"
#include "support/stored_sounds.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;
using stored_sounds::encode;
using stored_sounds::mpeg_sound;
using stored_sounds::packet_frames;
using stored_sounds::split_frames;
using stored_sounds::vorbis_sound;

struct Unit {
    Bytes bytes;
    unsigned int frames = 0;
};

// Every unit up to the end, and the result that ended them.
std::vector<Unit> read_units(FMOD_SOUND* s, FMOD_RESULT& end) {
    std::vector<Unit> units;
    Bytes buffer(SOUNDLIB_MAX_STORED_UNIT);
    for (;;) {
        unsigned int read = 99, frames = 99;
        end = soundlib_read_stored(s, buffer.data(), static_cast<unsigned int>(buffer.size()), &read, &frames);
        if (end != FMOD_OK) {
            EXPECT_EQ(0u, read);
            EXPECT_EQ(0u, frames);
            return units;
        }
        units.push_back({Bytes(buffer.begin(), buffer.begin() + read), frames});
    }
}

// The same, in batches of at most `most` units into `room` bytes.
std::vector<Unit> read_batches(FMOD_SOUND* s, std::size_t room, unsigned int most, FMOD_RESULT& end) {
    std::vector<Unit> units;
    Bytes buffer(room);
    std::vector<unsigned int> sizes(most), frames(most);
    for (;;) {
        unsigned int count = 99;
        end = soundlib_read_stored_units(s, buffer.data(), static_cast<unsigned int>(room), sizes.data(),
                                         frames.data(), most, &count);
        if (end != FMOD_OK) {
            EXPECT_EQ(0u, count);
            return units;
        }
        EXPECT_LE(1u, count);
        EXPECT_GE(most, count);
        std::size_t at = 0;
        for (unsigned int i = 0; i < count; at += sizes[i], ++i) {
            units.push_back({Bytes(buffer.begin() + at, buffer.begin() + at + sizes[i]), frames[i]});
        }
        EXPECT_GE(room, at);
    }
}

// Batches give what single reads give, whatever their room and count; what
// ends a batch early (the end, a cut file's error) comes with the next one.
void expect_batches_as_single_reads(FMOD_SOUND* s) {
    FMOD_RESULT single_end = FMOD_OK;
    ASSERT_EQ(FMOD_OK, soundlib_restart_stored(s));
    const std::vector<Unit> single = read_units(s, single_end);
    const std::string single_detail = single_end == FMOD_ERR_FILE_EOF ? "" : soundlib_error_detail(s);
    ASSERT_FALSE(single.empty());
    for (const auto& [room, most] : {std::pair<std::size_t, unsigned int>{SOUNDLIB_MAX_STORED_UNIT, 4096},
                                     {SOUNDLIB_MAX_STORED_UNIT, 3}, {3000, 100}, {SOUNDLIB_MAX_STORED_UNIT, 1}}) {
        ASSERT_EQ(FMOD_OK, soundlib_restart_stored(s));
        FMOD_RESULT end = FMOD_OK;
        const std::vector<Unit> batched = read_batches(s, room, most, end);
        EXPECT_EQ(single_end, end) << room << " bytes, " << most << " units";
        if (end != FMOD_ERR_FILE_EOF) {
            EXPECT_EQ(single_detail, soundlib_error_detail(s));
        }
        ASSERT_EQ(single.size(), batched.size()) << room << " bytes, " << most << " units";
        for (std::size_t i = 0; i < single.size(); ++i) {
            EXPECT_EQ(single[i].bytes, batched[i].bytes) << i;
            EXPECT_EQ(single[i].frames, batched[i].frames) << i;
        }
    }
}

TEST(StoredUnits, VorbisPacketsComeAsStoredWithTheFramesEachAdds) {
    const bankwriter::VorbisEncoding e = encode(2, 44100, 30000);
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({vorbis_sound("v", 30000, e, 2)}, 15)));
    FMOD_SOUND* s = lib.sub(0);
    const char* why = "x";
    EXPECT_EQ(SOUNDLIB_STORED_VORBIS, soundlib_stored_kind(s, &why));
    EXPECT_STREQ("", why);

    // The identification header libvorbis reads as the sound's, and the
    // set-up the encoder made.
    const unsigned char* id = nullptr;
    const unsigned char* setup = nullptr;
    unsigned int id_bytes = 0, setup_bytes = 0;
    ASSERT_EQ(FMOD_OK, soundlib_vorbis_headers(s, &id, &id_bytes, &setup, &setup_bytes));
    EXPECT_EQ(e.setup, Bytes(setup, setup + setup_bytes));
    vorbis_info vi;
    vorbis_info_init(&vi);
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    ogg_packet op{};
    op.packet = const_cast<unsigned char*>(id);
    op.bytes = id_bytes;
    op.b_o_s = 1;
    EXPECT_EQ(0, vorbis_synthesis_headerin(&vi, &vc, &op));
    EXPECT_EQ(2, vi.channels);
    EXPECT_EQ(44100, vi.rate);
    EXPECT_EQ(256, vorbis_info_blocksize(&vi, 0));
    EXPECT_EQ(2048, vorbis_info_blocksize(&vi, 1));
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);

    // The packets up to the one that reaches the length, then the end.
    FMOD_RESULT end = FMOD_OK;
    const std::vector<Unit> units = read_units(s, end);
    EXPECT_EQ(FMOD_ERR_FILE_EOF, end);
    std::uint64_t total = 0;
    ASSERT_LE(units.size(), e.packets.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(e.packets[i], units[i].bytes) << i;
        EXPECT_EQ(packet_frames(e, i), units[i].frames) << i;
        if (i + 1 < units.size()) {
            EXPECT_LT(total + units[i].frames, 30000u) << "given past the length: " << i;
        }
        total += units[i].frames;
    }
    EXPECT_GE(total, 30000u);
    unsigned long long held = 0;
    EXPECT_EQ(FMOD_OK, soundlib_stored_frames(s, &held));
    EXPECT_EQ(30000u, held);
    EXPECT_EQ(0u, soundlib_damaged_units(s, nullptr, nullptr));

    // Again from the first, and a unit too long for the buffer stays next.
    EXPECT_EQ(FMOD_OK, soundlib_restart_stored(s));
    Bytes small(4);
    unsigned int read = 0, frames = 0;
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, soundlib_read_stored(s, small.data(), 4, &read, &frames));
    EXPECT_EQ(e.packets[0].size(), read);
    const std::vector<Unit> again = read_units(s, end);
    ASSERT_EQ(units.size(), again.size());
    EXPECT_EQ(units[0].bytes, again[0].bytes);
}

TEST(StoredUnits, EachSubsoundKeepsItsPlaceWhileOthersAreRead) {
    const bankwriter::VorbisEncoding e = encode(1, 44100, 20000);
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5(
                           {vorbis_sound("a", 20000, e), vorbis_sound("b", 20000, e), vorbis_sound("c", 20000, e)}, 15)));
    Bytes buffer(SOUNDLIB_MAX_STORED_UNIT);
    unsigned int read = 0;
    const auto next = [&](int i) {
        EXPECT_EQ(FMOD_OK, soundlib_read_stored(lib.sub(i), buffer.data(), SOUNDLIB_MAX_STORED_UNIT, &read, nullptr));
        return Bytes(buffer.begin(), buffer.begin() + read);
    };
    EXPECT_EQ(e.packets[0], next(0));
    EXPECT_EQ(e.packets[1], next(0));
    // Three other subsounds read meanwhile: more than the library keeps open.
    EXPECT_EQ(e.packets[0], next(1));
    EXPECT_EQ(e.packets[0], next(2));
    unsigned int frames = 0;
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetLength(lib.sub(1), &frames, FMOD_TIMEUNIT_PCM));
    EXPECT_EQ(e.packets[2], next(0));
    EXPECT_EQ(e.packets[1], next(1));
}

TEST(StoredUnits, ACutOrShortOrDamagedVorbisSoundIsReportedAsTheDecoderReportsIt) {
    const bankwriter::VorbisEncoding e = encode(1, 44100, 20000);
    // Packet 3 made no audio packet (its type bit set): left out and counted.
    bankwriter::VorbisEncoding damaged = e;
    damaged.packets[3][0] |= 1;
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({vorbis_sound("long", 1000000, e),
                                                          vorbis_sound("damaged", 20000, damaged)},
                                                         15)));
    FMOD_RESULT end = FMOD_OK;
    std::vector<Unit> units = read_units(lib.sub(0), end);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, end);
    EXPECT_EQ(e.packets.size(), units.size());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < e.packets.size(); ++i) total += packet_frames(e, i);
    EXPECT_EQ("the stored data ends at frame " + std::to_string(total) + " of 1000000",
              std::string(soundlib_error_detail(lib.sub(0))));
    unsigned long long held = 0;
    EXPECT_EQ(FMOD_OK, soundlib_stored_frames(lib.sub(0), &held));
    EXPECT_EQ(total, held);

    units = read_units(lib.sub(1), end);
    EXPECT_EQ(FMOD_ERR_FILE_EOF, end);
    ASSERT_LT(4u, units.size());
    EXPECT_EQ(e.packets[2], units[2].bytes);
    EXPECT_EQ(e.packets[4], units[3].bytes);
    EXPECT_EQ(e.block_sizes[2] / 4 + e.block_sizes[4] / 4, units[3].frames);
    const char* unit = nullptr;
    const char* first = nullptr;
    EXPECT_EQ(1u, soundlib_damaged_units(lib.sub(1), &unit, &first));
    EXPECT_STREQ("packets", unit);
    EXPECT_NE(nullptr, std::strstr(first, "not an audio packet")) << first;

    // The file cut inside packet 10: the whole packets before it, then the
    // reason; what they hold is known before reading them.
    Bytes bank = bankwriter::write_fsb5({vorbis_sound("cut", 20000, e)}, 15);
    std::size_t data_start = bank.size() - (bankwriter::vorbis_packet_data(e.packets).size() + 31) / 32 * 32;
    std::size_t cut = data_start;
    for (std::size_t i = 0; i < 10; ++i) cut += 2 + e.packets[i].size();
    bank.resize(cut + 5);
    Library cut_lib;
    ASSERT_EQ(FMOD_OK, cut_lib.open(bank));
    EXPECT_EQ(FMOD_OK, soundlib_stored_frames(cut_lib.sub(0), &held));
    units = read_units(cut_lib.sub(0), end);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, end);
    EXPECT_EQ(10u, units.size());
    total = 0;
    for (std::size_t i = 0; i < 10; ++i) total += packet_frames(e, i);
    EXPECT_EQ(total, held);
    EXPECT_NE(nullptr, std::strstr(soundlib_error_detail(cut_lib.sub(0)), "(it is truncated); the Vorbis packet at byte"))
        << soundlib_error_detail(cut_lib.sub(0));

    expect_batches_as_single_reads(cut_lib.sub(0));
    expect_batches_as_single_reads(lib.sub(0));
    expect_batches_as_single_reads(lib.sub(1));
}

TEST(StoredUnits, WithoutASetUpThereAreNoHeadersAndNoPackets) {
    const bankwriter::VorbisEncoding e = encode(1, 44100, 5000);
    Sound s = vorbis_sound("v", 5000, e);
    s.chunks[0].second = bankwriter::vorbis_setup_chunk(0x12345678);
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({s}, 15)));
    const unsigned char* id = nullptr;
    EXPECT_EQ(FMOD_ERR_FORMAT, soundlib_vorbis_headers(lib.sub(0), &id, nullptr, nullptr, nullptr));
    EXPECT_EQ(nullptr, id);
    EXPECT_NE(nullptr, std::strstr(soundlib_error_detail(lib.sub(0)), "no Vorbis setup header matches CRC 0x12345678"));
    Bytes buffer(SOUNDLIB_MAX_STORED_UNIT);
    EXPECT_EQ(FMOD_ERR_FORMAT, soundlib_read_stored(lib.sub(0), buffer.data(), SOUNDLIB_MAX_STORED_UNIT, nullptr, nullptr));
}

TEST(StoredUnits, OnlyVorbisAndMpegOfOneStreamHaveUnits) {
    Sound pcm;
    pcm.name = "p";
    pcm.frames = 10;
    pcm.data.assign(20, 1);
    Sound six;  // MPEG of six channels: three streams interleaved
    six.name = "six";
    six.channels = 6;
    six.frames = 1152;
    six.data.assign(1000, 0);
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({pcm}, 2)));
    const char* why = "x";
    EXPECT_EQ(SOUNDLIB_STORED_NONE, soundlib_stored_kind(lib.sub(0), &why));
    EXPECT_STREQ("", why);
    Bytes buffer(SOUNDLIB_MAX_STORED_UNIT);
    EXPECT_EQ(FMOD_ERR_FORMAT, soundlib_read_stored(lib.sub(0), buffer.data(), SOUNDLIB_MAX_STORED_UNIT, nullptr, nullptr));
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, soundlib_vorbis_headers(lib.sub(0), nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(SOUNDLIB_STORED_NONE, soundlib_stored_kind(lib.bank, &why));

    Library mpeg;
    ASSERT_EQ(FMOD_OK, mpeg.open(bankwriter::write_fsb5({six}, 11)));
    EXPECT_EQ(SOUNDLIB_STORED_NONE, soundlib_stored_kind(mpeg.sub(0), &why));
    EXPECT_STREQ("its MPEG data is several interleaved streams (more than two channels), which no .mp3 file holds", why);
}

TEST(StoredUnits, MpegFramesComeWithoutTheirPaddingOrATagFrame) {
    const Bytes tagged = stored_sounds::mpeg_fixture("layer3_tagged.mp3");
    if (tagged.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
    const std::vector<Bytes> frames = split_frames(tagged);
    ASSERT_LT(4u, frames.size());
    const std::vector<Bytes> audio(frames.begin() + 1, frames.end());
    // The bank counts the tag frame in the length; one sound padded to 4
    // and one padded to 16 whose length ends a little into its fourth frame.
    const std::uint64_t whole = frames.size() * 1152;
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5(
                           {mpeg_sound("m", frames, 4, whole), mpeg_sound("m", frames, 16, 3 * 1152 + 5)}, 11)));
    EXPECT_EQ(SOUNDLIB_STORED_MPEG, soundlib_stored_kind(lib.sub(0), nullptr));
    FMOD_RESULT end = FMOD_OK;
    std::vector<Unit> units = read_units(lib.sub(0), end);
    EXPECT_EQ(FMOD_ERR_FILE_EOF, end);
    ASSERT_EQ(audio.size(), units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(audio[i], units[i].bytes) << i;
        EXPECT_EQ(1152u, units[i].frames);
    }
    unsigned long long held = 0;
    EXPECT_EQ(FMOD_OK, soundlib_stored_frames(lib.sub(0), &held));
    EXPECT_EQ(audio.size() * 1152, held);

    // Up to the frame that reaches the length (the fourth starts at frame
    // 3456, the length is 3461), as the decoder counts them.
    units = read_units(lib.sub(1), end);
    EXPECT_EQ(FMOD_ERR_FILE_EOF, end);
    ASSERT_EQ(4u, units.size());
    EXPECT_EQ(audio[3], units[3].bytes);

    expect_batches_as_single_reads(lib.sub(0));
    expect_batches_as_single_reads(lib.sub(1));
}

TEST(StoredUnits, MpegDamageIsLeftOutAndCounted) {
    const Bytes untagged = stored_sounds::mpeg_fixture("layer3_untagged.mp3");
    if (untagged.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
    std::vector<Bytes> frames = split_frames(untagged);
    ASSERT_LT(6u, frames.size());
    Bytes garbage(frames[3].size(), 0x55);
    std::vector<Bytes> stored = frames;
    stored[3] = garbage;
    const std::uint64_t length = frames.size() * 1152;
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({mpeg_sound("m", stored, 1, length)}, 11)));
    FMOD_RESULT end = FMOD_OK;
    const std::vector<Unit> units = read_units(lib.sub(0), end);
    EXPECT_EQ(FMOD_ERR_FILE_EOF, end);
    ASSERT_EQ(frames.size() - 1, units.size());
    EXPECT_EQ(frames[4], units[3].bytes);
    const char* unit = nullptr;
    EXPECT_EQ(1u, soundlib_damaged_units(lib.sub(0), &unit, nullptr));
    EXPECT_STREQ("frames", unit);

    // The same frames in batches, and from a bank cut inside frame 5.
    expect_batches_as_single_reads(lib.sub(0));
    EXPECT_EQ(1u, soundlib_damaged_units(lib.sub(0), &unit, nullptr));
    Bytes bank = bankwriter::write_fsb5({mpeg_sound("m", frames, 1, length)}, 11);
    std::size_t data = bank.size();
    for (const Bytes& f : frames) data -= f.size();
    data -= (32 - (bank.size() - data) % 32) % 32;  // the data's padding to 32 bytes, if any
    std::size_t cut = data;
    for (std::size_t i = 0; i < 5; ++i) cut += frames[i].size();
    bank.resize(cut + 7);
    Library cut_lib;
    ASSERT_EQ(FMOD_OK, cut_lib.open(bank));
    expect_batches_as_single_reads(cut_lib.sub(0));
    FMOD_RESULT cut_end = FMOD_OK;
    ASSERT_EQ(FMOD_OK, soundlib_restart_stored(cut_lib.sub(0)));
    EXPECT_EQ(5u, read_units(cut_lib.sub(0), cut_end).size());
    EXPECT_NE(FMOD_ERR_FILE_EOF, cut_end);
}

}  // namespace
