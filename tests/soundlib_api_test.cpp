#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "bank_writer.h"
#include "soundlib/soundlib.h"
#include "support/library.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

Sound sound(const std::string& name, std::uint32_t frames, Bytes data, std::uint32_t channels = 1) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.channels = channels;
    s.data = std::move(data);
    return s;
}

TEST(SoundLibrary, ReportsTheRequiredVersionAndNeedsInitBeforeOpening) {
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_Create(&system));
    unsigned int version = 0;
    EXPECT_EQ(FMOD_OK, FMOD_System_GetVersion(system, &version));
    EXPECT_GE(version, 0x00041103u);
    FMOD_SOUND* bank = nullptr;
    EXPECT_EQ(FMOD_ERR_UNINITIALIZED, FMOD_System_CreateSound(system, "x.fsb", FMOD_CREATESTREAM, nullptr, &bank));
    EXPECT_EQ(FMOD_OK, FMOD_System_Release(system));
    EXPECT_EQ(FMOD_ERR_INVALID_HANDLE, FMOD_System_GetVersion(nullptr, &version));
    EXPECT_EQ(FMOD_ERR_INVALID_HANDLE, FMOD_Sound_GetNumSubSounds(nullptr, nullptr));
}

// What a caller needs to read only the file it found: a final link refused
// on request, and the identity of the file that was opened.
TEST(SoundLibrary, OpensWithoutFollowingALinkAndTellsWhichFileItRead) {
    Library lib;
    Sound s;
    s.name = "a";
    s.frames = 2;
    s.data.assign(4, 1);
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb4({s})));
    unsigned long long device = 0, file = 0;
    ASSERT_EQ(FMOD_OK, soundlib_bank_file_identity(lib.bank, &device, &file));
    EXPECT_NE(0u, file);
    unsigned long long unused = 0;
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, soundlib_bank_file_identity(lib.sub(0), &unused, &unused));
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, soundlib_bank_file_identity(lib.bank, nullptr, &unused));
    FMOD_SOUND* same = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_CreateSound(lib.system, lib.dir.file("b.fsb").c_str(),
                                               FMOD_CREATESTREAM | SOUNDLIB_NOFOLLOW, nullptr, &same));
    unsigned long long device2 = 0, file2 = 0;
    ASSERT_EQ(FMOD_OK, soundlib_bank_file_identity(same, &device2, &file2));
    EXPECT_EQ(device, device2);
    EXPECT_EQ(file, file2);
    FMOD_Sound_Release(same);
#if !defined(_WIN32)
    std::filesystem::create_symlink(lib.dir.file("b.fsb"), lib.dir.file("link.fsb"));
    FMOD_SOUND* linked = nullptr;
    EXPECT_NE(FMOD_OK, FMOD_System_CreateSound(lib.system, lib.dir.file("link.fsb").c_str(),
                                               FMOD_CREATESTREAM | SOUNDLIB_NOFOLLOW, nullptr, &linked));
    EXPECT_EQ(nullptr, linked);
    EXPECT_NE(nullptr, std::strstr(soundlib_system_error_detail(lib.system), "a symbolic link; not followed"));
    ASSERT_EQ(FMOD_OK, FMOD_System_CreateSound(lib.system, lib.dir.file("link.fsb").c_str(), FMOD_CREATESTREAM,
                                               nullptr, &linked));
    FMOD_Sound_Release(linked);
#endif
}

TEST(SoundLibrary, DescribesSubsounds) {
    Library lib;
    Sound a = sound("first.ogg", 3, Bytes(12, 0), 2);
    a.frequency = 37800;
    a.loop_start = 1;
    a.loop_end = 2;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb4({a, sound("", 1, Bytes(2, 0))})));
    int count = 0;
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetNumSubSounds(lib.bank, &count));
    EXPECT_EQ(2, count);
    FMOD_SOUND* s = lib.sub(0);
    EXPECT_EQ(s, lib.sub(0));  // the same handle each time

    char name[256];
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetName(s, name, sizeof name));
    EXPECT_STREQ("first.ogg", name);
    char small[4];
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetName(s, small, sizeof small));
    EXPECT_STREQ("fir", small);

    FMOD_SOUND_TYPE type;
    FMOD_SOUND_FORMAT format;
    int channels = 0, bits = 0;
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetFormat(s, &type, &format, &channels, &bits));
    EXPECT_EQ(FMOD_SOUND_FORMAT_PCM16, format);
    EXPECT_EQ(2, channels);
    EXPECT_EQ(16, bits);

    unsigned int bytes = 0, frames = 0, start = 0, end = 0;
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetLength(s, &bytes, FMOD_TIMEUNIT_PCMBYTES));
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetLength(s, &frames, FMOD_TIMEUNIT_PCM));
    EXPECT_EQ(12u, bytes);
    EXPECT_EQ(3u, frames);
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetLoopPoints(s, &start, FMOD_TIMEUNIT_PCM, &end, FMOD_TIMEUNIT_PCM));
    EXPECT_EQ(1u, start);
    EXPECT_EQ(2u, end);
    float frequency = 0;
    EXPECT_EQ(FMOD_OK, FMOD_Sound_GetDefaults(s, &frequency, nullptr, nullptr, nullptr));
    EXPECT_EQ(37800.0f, frequency);

    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, FMOD_Sound_GetSubSound(lib.bank, 2, &s));
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, FMOD_Sound_GetSubSound(lib.bank, -1, &s));
}

TEST(SoundLibrary, PcmIsDeliveredAsWavStoresIt) {
    Library lib;
    Sound s8 = sound("s8", 4, Bytes{0x00, 0x7F, 0x80, 0xFF});
    s8.flags = 0x08;  // signed 8-bit
    Sound u8 = sound("u8", 4, Bytes{0x00, 0x7F, 0x80, 0xFF});
    u8.flags = 0x08 | 0x80;
    Sound be = sound("be", 2, Bytes{0x12, 0x34, 0x80, 0x01});
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb4({s8, u8})));
    EXPECT_EQ((Bytes{0x80, 0xFF, 0x00, 0x7F}), lib.read_all(lib.sub(0), 4));
    EXPECT_EQ((Bytes{0x00, 0x7F, 0x80, 0xFF}), lib.read_all(lib.sub(1), 4));

    Library big_endian;
    ASSERT_EQ(FMOD_OK, big_endian.open(bankwriter::write_fsb4({be}, 0x08)));
    EXPECT_EQ((Bytes{0x34, 0x12, 0x01, 0x80}), big_endian.read_all(big_endian.sub(0), 4));
}

TEST(SoundLibrary, Fsb5PcmFormats) {
    const std::pair<std::uint32_t, FMOD_SOUND_FORMAT> formats[] = {{1, FMOD_SOUND_FORMAT_PCM8},
                                                                   {3, FMOD_SOUND_FORMAT_PCM24},
                                                                   {4, FMOD_SOUND_FORMAT_PCM32},
                                                                   {5, FMOD_SOUND_FORMAT_PCMFLOAT}};
    const int bits[] = {8, 24, 32, 32};
    for (int i = 0; i < 4; ++i) {
        Library lib;
        const int width = bits[i] / 8;
        Bytes data(static_cast<std::size_t>(width) * 6);
        for (std::size_t b = 0; b < data.size(); ++b) data[b] = static_cast<std::uint8_t>(b * 7 + 1);
        ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({sound("p", 3, data, 2)}, formats[i].first)));
        FMOD_SOUND_FORMAT format;
        int channels = 0, got_bits = 0;
        FMOD_Sound_GetFormat(lib.sub(0), nullptr, &format, &channels, &got_bits);
        EXPECT_EQ(formats[i].second, format);
        EXPECT_EQ(bits[i], got_bits);
        EXPECT_EQ(data, lib.read_all(lib.sub(0), static_cast<unsigned int>(data.size())));  // FSB5 8-bit is unsigned
    }
}

TEST(SoundLibrary, ReadsEndWithEndOfFileAndSeeksAreInFrames) {
    Library lib;
    Bytes data;
    for (int i = 0; i < 10; ++i) data.insert(data.end(), {static_cast<std::uint8_t>(i), 0});
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({sound("p", 10, data)}, 2)));
    FMOD_SOUND* s = lib.sub(0);
    EXPECT_EQ(FMOD_OK, FMOD_Sound_SeekData(s, 7));
    FMOD_RESULT r;
    EXPECT_EQ((Bytes{7, 0, 8, 0, 9, 0}), lib.read_all(s, 100, &r));
    EXPECT_EQ(FMOD_ERR_FILE_EOF, r);
    EXPECT_TRUE(lib.read_all(s, 2, &r).empty());
    EXPECT_EQ(FMOD_ERR_FILE_EOF, r);
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, FMOD_Sound_SeekData(s, 11));
    EXPECT_EQ(FMOD_OK, FMOD_Sound_SeekData(s, 0));
    EXPECT_EQ((Bytes{0, 0, 1, 0}), lib.read_all(s, 4, &r));
    EXPECT_EQ(FMOD_OK, r);
}

TEST(SoundLibrary, CodecsNotDecodedAreDescribedButGiveNoAudio) {
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5({sound("x", 100, Bytes(64, 1), 2)}, 10)));  // XMA
    FMOD_SOUND* s = lib.sub(0);
    int channels = 0, bits = 0;
    FMOD_Sound_GetFormat(s, nullptr, nullptr, &channels, &bits);
    EXPECT_EQ(2, channels);
    EXPECT_EQ(16, bits);
    unsigned int bytes = 0;
    FMOD_Sound_GetLength(s, &bytes, FMOD_TIMEUNIT_PCMBYTES);
    EXPECT_EQ(400u, bytes);
    FMOD_RESULT r;
    EXPECT_TRUE(lib.read_all(s, 400, &r).empty());
    EXPECT_EQ(FMOD_ERR_FORMAT, r);
    EXPECT_STREQ("codec XMA is not decoded by this version", soundlib_error_detail(s));
}

TEST(SoundLibrary, DataShorterThanTheLengthIsReportedWithWhatWasThere) {
    Library lib;
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb4({sound("short", 10, Bytes(8, 3))})));
    FMOD_RESULT r;
    EXPECT_EQ(Bytes(8, 3), lib.read_all(lib.sub(0), 20, &r));
    EXPECT_EQ(FMOD_ERR_FILE_BAD, r);
    EXPECT_STREQ("the stored data ends at frame 4 of 10", soundlib_error_detail(lib.sub(0)));
}

TEST(SoundLibrary, ManySubsoundsReadInTurnAndAgain) {
    // Only a few decoders stay open; going back to an early subsound reopens
    // it at its position.
    Library lib;
    std::vector<Sound> sounds;
    for (int i = 0; i < 6; ++i) sounds.push_back(sound("s", 4, Bytes(8, static_cast<std::uint8_t>(i))));
    ASSERT_EQ(FMOD_OK, lib.open(bankwriter::write_fsb5(sounds, 2)));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bytes(4, static_cast<std::uint8_t>(i)), lib.read_all(lib.sub(i), 4));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Bytes(4, static_cast<std::uint8_t>(i)), lib.read_all(lib.sub(i), 4));
}

TEST(SoundLibrary, ZeroChannelsIsAProblemOfThatSubsoundOnly) {
    Library lib;
    Bytes bank = bankwriter::write_fsb5({sound("bad", 4, Bytes(8, 0), 3), sound("good", 4, Bytes(8, 9))}, 2);
    bank[0x3C + 8 + 4] = 0;  // the channel chunk's payload
    ASSERT_EQ(FMOD_OK, lib.open(bank));
    FMOD_RESULT r;
    EXPECT_TRUE(lib.read_all(lib.sub(0), 8, &r).empty());
    EXPECT_EQ(FMOD_ERR_FILE_BAD, r);
    EXPECT_EQ(Bytes(8, 9), lib.read_all(lib.sub(1), 8));
}

}  // namespace
