#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstring>
#include <filesystem>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "support/temp_dir.h"

namespace soundlib {
namespace {

using bankwriter::Bytes;
using bankwriter::Sound;

const std::string kCorpus = CORPUS_DIR;

struct Opened {
    BankReadError error;
    std::unique_ptr<Bank> bank;
};

Opened open_path(const std::string& path) {
    Opened o;
    o.bank = std::make_unique<Bank>();
    o.error = o.bank->open(path);
    return o;
}

Opened open_bytes(const TempDir& dir, const Bytes& bytes) {
    const std::string path = dir.file("bank.fsb");
    write_file(path, bytes);
    return open_path(path);
}

#define REQUIRE_CORPUS()                                                       \
    if (!file_exists(kCorpus + "/banks")) GTEST_SKIP() << "corpus not found at " << kCorpus

Sound pcm16(const std::string& name, std::uint32_t frames, std::uint32_t channels = 1) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.channels = channels;
    s.data.assign(static_cast<std::size_t>(frames) * channels * 2, 0x11);
    return s;
}

// Real banks: what we read must be what the independent decoder saw.
TEST(BankReaderOnRealBanks, Fsb4HeadersNamesAndRunningDataOffsets) {
    REQUIRE_CORPUS();
    auto o = open_path(kCorpus + "/banks/fsb4_pcm16_mono.fsb");
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    Bank& b = *o.bank;
    ASSERT_EQ(9, b.count());
    EXPECT_EQ("alien_now.wav", b.name(0));
    EXPECT_EQ("bitehit2.wav", b.name(8));
    EXPECT_EQ(Codec::pcm16, b.info(0).codec);
    EXPECT_EQ(45690u, b.info(0).frames);
    EXPECT_EQ(22050u, b.info(0).frequency);
    EXPECT_EQ(1u, b.info(0).channels);
    EXPECT_EQ(0x300u, b.info(0).data.offset);  // 0x30 + 9 * 0x50
    EXPECT_EQ(91424u, b.info(0).data.size);
    EXPECT_EQ(0x300u + 91424, b.info(1).data.offset);
    EXPECT_EQ(15638u, b.info(8).loop_end);
}

TEST(BankReaderOnRealBanks, ThirtyByteNameWithoutNul) {
    REQUIRE_CORPUS();
    auto o = open_path(kCorpus + "/banks/fsb4_ima_mono_longname.fsb");
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    EXPECT_EQ("956b6e_Road_Runner_Beep_Beep_S", o.bank->name(0));
    EXPECT_EQ(Codec::imaadpcm, o.bank->info(0).codec);
}

TEST(BankReaderOnRealBanks, Fsb5ChunksNamesAndSetup) {
    REQUIRE_CORPUS();
    auto o = open_path(kCorpus + "/banks/fsb5_vorbis_31.fsb");
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    Bank& b = *o.bank;
    ASSERT_EQ(31, b.count());
    EXPECT_EQ("shopkeeper_voice2-0", b.name(0));
    EXPECT_EQ("theme_test", b.name(30));
    EXPECT_EQ(Codec::vorbis, b.info(0).codec);
    EXPECT_EQ(2u, b.info(0).channels);
    EXPECT_EQ(48000u, b.info(0).frequency);
    EXPECT_EQ(168461u, b.info(0).frames);
    EXPECT_EQ(44100u, b.info(8).frequency);
    EXPECT_EQ(1u, b.info(27).channels);
    EXPECT_EQ(32u, b.info(0).setup.size);
    EXPECT_EQ(52768u, b.info(1).data.offset - b.info(0).data.offset);
    EXPECT_EQ(b.info(30).data.offset + b.info(30).data.size, 2924384u);

    auto ima = open_path(kCorpus + "/banks/fsb5_ima_3.fsb");
    ASSERT_EQ(FMOD_OK, ima.error.code);
    EXPECT_EQ(Codec::imaadpcm, ima.bank->info(0).codec);
    EXPECT_EQ(22050u, ima.bank->info(0).frequency);
    EXPECT_EQ(4547u, ima.bank->info(0).loop_end);  // from the loop chunk
    EXPECT_EQ(2u, ima.bank->info(1).channels);
}

TEST(BankReaderOnRealBanks, Fsb3BasicHeadersInheritFromTheFirst) {
    REQUIRE_CORPUS();
    auto o = open_path(kCorpus + "/synthetic/syn_fsb3_gcadpcm_basic.fsb");
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    Bank& b = *o.bank;
    ASSERT_EQ(3, b.count());
    EXPECT_EQ("first.wav", b.name(0));
    EXPECT_EQ("", b.name(1));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Codec::gcadpcm, b.info(i).codec);
        EXPECT_EQ(32000u, b.info(i).frequency);
        EXPECT_EQ(0x2Eu, b.info(i).setup.size);
    }
    EXPECT_EQ(999u, b.info(1).frames);
    EXPECT_EQ(14u, b.info(2).frames);
    EXPECT_EQ(b.info(1).data.offset + 576, b.info(2).data.offset);
}

TEST(BankReaderOnRealBanks, Fsb5WithoutNamesAndWithChannelAndRateChunks) {
    REQUIRE_CORPUS();
    auto o = open_path(kCorpus + "/synthetic/syn_fsb5_pcm16_noname_rate.fsb");
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    EXPECT_EQ("", o.bank->name(0));
    EXPECT_EQ(37800u, o.bank->info(0).frequency);
    EXPECT_EQ(3u, o.bank->info(1).channels);
}

// Layouts of the writer's banks that no real bank here has.
TEST(BankReader, Fsb30HeadersAreShorterAndKeepExtraDataAt0x40) {
    TempDir dir;
    Sound s = pcm16("old.wav", 10);
    s.extra = Bytes(6, 0xEE);
    auto o = open_bytes(dir, bankwriter::write_fsb3({s, pcm16("two", 3)}, 0x00030000));
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    EXPECT_EQ(0x18u + 0x40, o.bank->info(0).setup.offset);
    EXPECT_EQ(6u, o.bank->info(0).setup.size);
    EXPECT_EQ("two", o.bank->name(1));
    EXPECT_EQ(0x18u + 0x46 + 0x40, o.bank->info(1).data.offset - 20);
}

TEST(BankReader, DuplicatesShareDataAndAlignedBanksRoundTo32) {
    TempDir dir;
    Sound a = pcm16("a", 5);
    Sound dup = pcm16("dup", 5);
    dup.flags |= 0x8000;
    dup.data.clear();
    Sound b = pcm16("b", 3);
    auto o = open_bytes(dir, bankwriter::write_fsb4({a, dup, b}, 0x40));
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    EXPECT_EQ(o.bank->info(0).data.offset, o.bank->info(1).data.offset);
    EXPECT_EQ(o.bank->info(0).data.offset + 32, o.bank->info(2).data.offset);
}

TEST(BankReader, BankFlagsReachTheDescriptions) {
    TempDir dir;
    auto o = open_bytes(dir, bankwriter::write_fsb4({pcm16("a", 4)}, 0x08 | 0x10 | 0x20));
    ASSERT_EQ(FMOD_OK, o.error.code);
    EXPECT_TRUE(o.bank->info(0).pcm_big_endian);
    EXPECT_FALSE(o.bank->info(0).adpcm_interleaved);
    EXPECT_EQ(2u, o.bank->info(0).mpeg_frame_padding);

    auto five = open_bytes(dir, bankwriter::write_fsb5({pcm16("a", 4, 8)}, 11, 0x01 | 0x02));
    ASSERT_EQ(FMOD_OK, five.error.code);
    EXPECT_EQ(Codec::mpeg, five.bank->info(0).codec);
    EXPECT_TRUE(five.bank->info(0).pcm_big_endian);
    EXPECT_FALSE(five.bank->info(0).adpcm_interleaved);
    EXPECT_EQ(16u, five.bank->info(0).mpeg_frame_padding);  // more than two channels
}

TEST(BankReader, CodecFlagsOfFsb4) {
    TempDir dir;
    const std::pair<std::uint32_t, Codec> cases[] = {
        {0x200 | 0x10000000, Codec::mpeg}, {0x400000, Codec::imaadpcm}, {0x800000, Codec::vag},
        {0x1000000, Codec::xma},           {0x2000000, Codec::gcadpcm},  {0x8000000, Codec::celt},
        {0x08, Codec::pcm8},               {0x10, Codec::pcm16},         {0x0, Codec::pcm16}};
    for (auto [flags, codec] : cases) {
        Sound s = pcm16("s", 2);
        s.flags = flags;
        auto o = open_bytes(dir, bankwriter::write_fsb4({s}));
        ASSERT_EQ(FMOD_OK, o.error.code);
        EXPECT_EQ(codec, o.bank->info(0).codec) << std::hex << flags;
    }
}

// Banks that lie about themselves give a result and a reason, never a crash.
TEST(BankReaderRejects, FilesThatAreNotBanks) {
    TempDir dir;
    EXPECT_EQ(FMOD_ERR_FILE_NOTFOUND, open_path(dir.file("missing.fsb")).error.code);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_path(dir.path()).error.code);
    EXPECT_EQ(FMOD_ERR_FORMAT, open_bytes(dir, Bytes{'F', 'S'}).error.code);
    Bytes encrypted = bankwriter::write_fsb5({pcm16("a", 4)}, 2);
    for (auto& byte : encrypted) byte ^= 0x5A;
    auto o = open_bytes(dir, encrypted);
    EXPECT_EQ(FMOD_ERR_FORMAT, o.error.code);
    EXPECT_NE(std::string::npos, o.error.detail.find("encrypted"));
}

TEST(BankReaderRejects, UnknownVersions) {
    TempDir dir;
    Bytes fsb4 = bankwriter::write_fsb4({pcm16("a", 4)});
    bankwriter::put32(fsb4, 0x10, 0x00050000);
    EXPECT_EQ(FMOD_ERR_VERSION, open_bytes(dir, fsb4).error.code);
    Bytes fsb5 = bankwriter::write_fsb5({pcm16("a", 4)}, 2);
    bankwriter::put32(fsb5, 4, 2);
    EXPECT_EQ(FMOD_ERR_VERSION, open_bytes(dir, fsb5).error.code);
}

TEST(BankReaderRejects, CountsAndSizesThatContradictTheFile) {
    TempDir dir;
    const Bytes good4 = bankwriter::write_fsb4({pcm16("a", 4), pcm16("b", 4)});
    Bytes b = good4;
    bankwriter::put32(b, 4, 0xFFFFFFFF);  // -1 subsounds
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_bytes(dir, b).error.code);
    b = good4;
    bankwriter::put32(b, 4, 1000000);  // more subsounds than header bytes
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_bytes(dir, b).error.code);
    b = good4;
    bankwriter::put16(b, 0x30, 0x20);  // a header smaller than its fields
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_bytes(dir, b).error.code);
    b = good4;
    bankwriter::put32(b, 0x30 + 0x24, 0x7FFFFFFF);  // data past the data region
    auto o = open_bytes(dir, b);
    EXPECT_EQ(FMOD_ERR_FILE_EOF, o.error.code);
    EXPECT_NE(std::string::npos, o.error.detail.find("subsound 0")) << o.error.detail;

    const Bytes good5 = bankwriter::write_fsb5({pcm16("a", 40), pcm16("b", 40)}, 2);
    b = good5;
    bankwriter::put32(b, 0x3C + 8, 0);  // second subsound's offset before the first's end
    bankwriter::put32(b, 0x3C, (b[0x3C] & 0x7F) | (5u << 7));
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_bytes(dir, b).error.code);
    b = good5;
    const std::size_t names = 0x3C + 16;
    bankwriter::put32(b, names + 4, 0x10000);  // name offset outside the table
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_bytes(dir, b).error.code);
    b = good5;
    bankwriter::put32(b, 8, 0x40000000);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, open_bytes(dir, b).error.code);
}

TEST(BankReaderRejects, ChunksRunningOutOfTheHeaderRegion) {
    TempDir dir;
    Sound s = pcm16("a", 4);
    s.chunks.push_back({13, Bytes(4, 0)});
    Bytes b = bankwriter::write_fsb5({s}, 2);
    // Claim a chunk payload of 2^24 - 1 bytes.
    bankwriter::put32(b, 0x3C + 8, (0xFFFFFFu << 1) | (13u << 25));
    EXPECT_EQ(FMOD_ERR_FILE_EOF, open_bytes(dir, b).error.code);
}

// A million subsounds claimed by a sparse file of 8 MiB: what the bank keeps
// per subsound stays within 32 bytes, with no description held.
TEST(BankReader, MemoryPerSubsoundStaysSmall) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "needs glibc's heap statistics";
#else
    TempDir dir;
    constexpr std::uint32_t kCount = 1 << 20;
    Bytes head = bankwriter::write_fsb5({}, 2);
    bankwriter::put32(head, 8, kCount);
    bankwriter::put32(head, 0x0C, kCount * 8);
    const std::string path = dir.file("many.fsb");
    write_file(path, head);
    std::filesystem::resize_file(path, head.size() + kCount * 8ull);  // zero headers: empty subsounds

    const std::size_t before = mallinfo2().uordblks;
    auto o = open_path(path);
    const std::size_t after = mallinfo2().uordblks;
    ASSERT_EQ(FMOD_OK, o.error.code) << o.error.detail;
    EXPECT_EQ(static_cast<int>(kCount), o.bank->count());
    EXPECT_LE(after - before, 32u * kCount + (1u << 20));

    // A second handle, as each worker takes, shares the descriptions: it
    // costs its file window, and each subsound only while it is in use.
    Bank second;
    const std::size_t before_second = mallinfo2().uordblks;
    ASSERT_TRUE(second.open_same(*o.bank));
    for (int i = 0; i < 1000; ++i) {
        FMOD_SOUND* sub = second.subsound(i * 1000);
        EXPECT_EQ(i * 1000, second.index_of(sub));
        EXPECT_EQ(0u, second.info(i * 1000).frames);
        second.release_subsound(sub);
    }
    EXPECT_LE(mallinfo2().uordblks - before_second, 256u * 1024) << "a second handle copies the descriptions";
    EXPECT_EQ(o.bank->count(), second.count());
#endif
}

// A file cut short: a cut inside the headers is a failure; a cut inside the
// data keeps every header, says so, and describes only the data that is there.
TEST(BankReader, EveryTruncationOfABank) {
    TempDir dir;
    Sound a = pcm16("first", 30, 2);
    a.chunks.push_back({3, Bytes(8, 0)});
    const Bytes banks[] = {bankwriter::write_fsb4({pcm16("a", 9), pcm16("b", 7)}),
                           bankwriter::write_fsb5({a, pcm16("second", 5)}, 2)};
    for (const Bytes& full : banks) {
        auto whole = open_bytes(dir, full);
        ASSERT_EQ(FMOD_OK, whole.error.code);
        EXPECT_TRUE(whole.bank->notes().empty());
        const SubsoundInfo first = whole.bank->info(0);
        for (std::size_t cut = 0; cut < full.size(); ++cut) {
            const auto o = open_bytes(dir, Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
            if (cut < first.data.offset) {
                EXPECT_NE(FMOD_OK, o.error.code) << "cut at " << cut;
                continue;
            }
            ASSERT_EQ(FMOD_OK, o.error.code) << "cut at " << cut << ": " << o.error.detail;
            ASSERT_EQ(2, o.bank->count());
            ASSERT_EQ(1u, o.bank->notes().size());
            EXPECT_TRUE(o.bank->notes()[0].damage);
            EXPECT_EQ(cut < first.data.offset + first.data.size, o.bank->info(0).cut_short) << cut;
            EXPECT_TRUE(o.bank->info(1).cut_short);
            const FileSpan second = o.bank->info(1).data;
            EXPECT_EQ(second.offset < cut ? cut - second.offset : 0, second.size);
        }
    }
}

}  // namespace
}  // namespace soundlib
