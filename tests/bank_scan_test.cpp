// Scanning any file for banks: found among other bytes at any offset,
// numbered across them, never stopped or misled by a magic that is not one.
#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "support/bank_audio.h"
#include "support/temp_dir.h"
#include "support/time_budget.h"

namespace soundlib {
namespace {

using bankwriter::Bytes;
using testbanks::pcm16_filled;
using testbanks::decoded_audio;
using bankwriter::Sound;

Bytes noise(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    Bytes b(n);
    for (auto& v : b) v = static_cast<std::uint8_t>(random());
    return b;
}

void append(Bytes& to, const Bytes& what) { to.insert(to.end(), what.begin(), what.end()); }

struct Scanned {
    TempDir dir;
    Bank bank;
    BankReadError error;
    double seconds = 0;
};

std::unique_ptr<Scanned> scan(const Bytes& bytes, std::vector<std::string> keys = {}) {
    auto o = std::make_unique<Scanned>();
    write_file(o->dir.file("f.pak"), bytes);
    OpenOptions options;
    options.scan = true;
    options.keys = std::move(keys);
    const auto start = std::chrono::steady_clock::now();
    o->error = o->bank.open(o->dir.file("f.pak"), options);
    o->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return o;
}

const Bytes kFsb5 = bankwriter::write_fsb5({pcm16_filled("a.wav", 10, 1), pcm16_filled("b.wav", 7, 2)}, 2);
const Bytes kFsb4 = bankwriter::write_fsb4({pcm16_filled("c.wav", 5, 3)});
const Bytes kFsb3 = bankwriter::write_fsb3({pcm16_filled("d.wav", 8, 4)});

TEST(BankScan, FindsBanksAmongOtherBytesAndNumbersTheirSoundsAcrossThem) {
    Bytes file = noise(1001, 1);
    const std::uint64_t at[] = {file.size(), file.size() + kFsb5.size() + 777,
                                file.size() + kFsb5.size() + 777 + kFsb4.size() + 5000};
    append(file, kFsb5);
    append(file, noise(777, 2));
    append(file, kFsb4);
    append(file, noise(5000, 3));
    append(file, kFsb3);
    append(file, noise(123, 4));
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(4, o->bank.count());
    const char* names[] = {"a.wav", "b.wav", "c.wav", "d.wav"};
    const std::uint64_t offsets[] = {at[0], at[0], at[1], at[2]};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(names[i], o->bank.name(i));
        EXPECT_EQ(offsets[i], o->bank.part_offset(i)) << i;
        EXPECT_EQ(Bytes(o->bank.info(i).frames * 2, static_cast<std::uint8_t>(i + 1)), decoded_audio(o->bank, i)) << i;
    }
    EXPECT_TRUE(o->bank.notes().empty()) << o->bank.notes_text();

    // Without the scan, the same file is no bank.
    Bank plain;
    EXPECT_EQ(FMOD_ERR_FORMAT, plain.open(o->dir.file("f.pak")).code);
}

TEST(BankScan, FalseMagicsNeitherStopTheScanNorHideTheBankAfterThem) {
    Bytes file;
    const std::string fakes[] = {"FSB5", "FSB4FSB3FSB", "FSB5\x01\0\0\0\x05\0\0\0", "FFSB"};
    for (const std::string& f : fakes) {
        append(file, Bytes(f.begin(), f.end()));
        append(file, noise(40, 5));
    }
    // A magic with a header of zeros reads as a bank of no sounds: chance,
    // not a bank, so skipped too.
    append(file, {'F', 'S', 'B', '5', 1, 0, 0, 0});
    append(file, Bytes(0x40, 0));
    // A bank header whose sizes reach past the file.
    Bytes too_big = kFsb5;
    bankwriter::put32(too_big, 0x0C, 0x7FFFFFFF);
    append(file, too_big);
    const std::uint64_t real = file.size();
    append(file, kFsb4);
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(1, o->bank.count());
    EXPECT_EQ("c.wav", o->bank.name(0));
    EXPECT_EQ(real, o->bank.part_offset(0));
}

// A bank inside the audio of another is part of that audio: the scan goes on
// after the outer bank's end.
TEST(BankScan, AMagicInsideABanksAudioIsNotAnotherBank) {
    Sound holder = pcm16_filled("holder.wav", 0, 0);
    holder.data = kFsb3;
    holder.data.resize((holder.data.size() + 1) / 2 * 2);
    holder.frames = static_cast<std::uint32_t>(holder.data.size() / 2);
    Bytes file = noise(64, 6);
    append(file, bankwriter::write_fsb5({holder}, 2));
    append(file, kFsb4);
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(2, o->bank.count());
    EXPECT_EQ("holder.wav", o->bank.name(0));
    EXPECT_EQ("c.wav", o->bank.name(1));
}

// The scan looks at a bank's first subsound headers only; one found damaged
// further in when the bank is read is dropped alone, with a note.
TEST(BankScan, ABankDamagedPastWhatTheScanLookedAtIsDroppedAlone) {
    std::vector<Sound> twenty;
    for (int i = 0; i < 20; ++i) twenty.push_back(pcm16_filled("", 2, 5));
    Bytes damaged = bankwriter::write_fsb4(twenty);
    bankwriter::put16(damaged, 0x30 + 17 * 0x50, 1);  // subsound 17's header size
    Bytes file = noise(10, 10);
    append(file, kFsb5);
    append(file, damaged);
    append(file, kFsb4);
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(3, o->bank.count());
    EXPECT_EQ("c.wav", o->bank.name(2));
    ASSERT_EQ(1u, o->bank.notes().size());
    EXPECT_TRUE(o->bank.notes()[0].damage);
    EXPECT_NE(std::string::npos, o->bank.notes()[0].text.find("subsound 17")) << o->bank.notes()[0].text;
}

// A header that claims more data than the file holds is the file's last
// bank, cut short, or a header that lies: it is read as far as it goes and
// reported, and a bank inside its data is found too.
TEST(BankScan, AClaimPastTheEndOfTheFileHidesNothing) {
    Bytes liar = kFsb5;
    bankwriter::put32(liar, 0x14, 0x7FFFFF00);  // data bytes
    Bytes file = noise(20, 11);
    append(file, liar);
    const std::uint64_t real = file.size();
    append(file, kFsb4);
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(3, o->bank.count());
    EXPECT_EQ(20u, o->bank.part_offset(0));
    EXPECT_TRUE(o->bank.info(1).cut_short);
    EXPECT_EQ("c.wav", o->bank.name(2));
    EXPECT_EQ(real, o->bank.part_offset(2));
    ASSERT_EQ(1u, o->bank.notes().size());
    EXPECT_TRUE(o->bank.notes()[0].damage);
    EXPECT_NE(std::string::npos, o->bank.notes()[0].text.find("the bank at offset 20 ")) << o->bank.notes()[0].text;

    const Bytes cut(kFsb4.begin(), kFsb4.end() - 3);
    file = noise(20, 12);
    append(file, kFsb5);
    append(file, cut);
    o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(3, o->bank.count());
    EXPECT_TRUE(o->bank.info(2).cut_short);
    ASSERT_EQ(1u, o->bank.notes().size());
    EXPECT_NE(std::string::npos, o->bank.notes()[0].text.find("truncated")) << o->bank.notes()[0].text;
}

// Truncated banks nested in each other's data would each write the rest of
// the file again: the first is read, the others only noted.
TEST(BankScan, OneTruncatedBankIsReadAndTheOnesInItsDataNoted) {
    Bytes file;
    for (int i = 0; i < 30; ++i) {
        Bytes liar = kFsb5;
        bankwriter::put32(liar, 0x14, 0x7FFFFF00);  // data bytes
        append(file, liar);
    }
    append(file, kFsb4);
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(3, o->bank.count());
    EXPECT_EQ(0u, o->bank.part_offset(0));
    const SubsoundInfo cut = o->bank.info(1);
    EXPECT_TRUE(cut.cut_short);
    EXPECT_EQ(file.size(), cut.data.offset + cut.data.size) << "the rest of the file";
    EXPECT_EQ("c.wav", o->bank.name(2));
    EXPECT_NE(std::string::npos, o->bank.notes_text().find("the bank at offset 0 announces")) << o->bank.notes_text();
    EXPECT_NE(std::string::npos, o->bank.notes_text().find("lies in the data of the truncated bank at offset 0"));
    EXPECT_GE(12u, o->bank.notes().size()) << "said a few times, then counted";
}

TEST(BankScan, AFileWithoutBanksFailsAndSaysSo) {
    auto o = scan(noise(100000, 7));
    EXPECT_EQ(FMOD_ERR_FORMAT, o->error.code);
    EXPECT_NE(std::string::npos, o->error.detail.find("no FSB3, FSB4 or FSB5 bank anywhere")) << o->error.detail;
}

// Every offset a candidate: the scan still reads the file once.
TEST(BankScan, StaysLinearOnAFileOfMagics) {
    Bytes file;
    file.reserve(8u << 20);
    while (file.size() < (8u << 20)) append(file, {'F', 'S', 'B', '5', 'F', 'S', 'B', '4'});
    append(file, kFsb3);
    auto o = scan(file);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_EQ(1, o->bank.count());
    EXPECT_LT(o->seconds, time_budget(5.0));
}

// Read as a scan reads it: the banks found, and every subsound header of each.
std::uint64_t bytes_a_scan_reads(const Bytes& bytes) {
    BankFile file;
    file.open_memory(bytes.data(), bytes.size());
    std::vector<BankPart> parts;
    std::vector<BankNote> notes;
    OpenOptions options;
    options.scan = true;
    locate_banks(file, parts, notes, options);
    for (const BankPart& part : parts) {
        std::vector<SubsoundRecord> records;
        walk_subsounds(file, part, records);
    }
    return file.bytes_read();
}

// Probing a magic once walked the chunks of every nested bank after it: 1 MB
// of them cost 1.3 GB of reads, four times as much for every doubling.
TEST(BankScan, BanksNestedInEachOthersChunksCostReadsInProportionToTheFile) {
    for (const std::size_t broken_every : {0, 48}) {
        std::uint64_t before = 0;
        for (std::size_t size = 64 << 10; size <= 1 << 20; size *= 2) {
            const std::uint64_t read = bytes_a_scan_reads(bankwriter::write_nested_fsb5(size, broken_every));
            EXPECT_LE(read, 16u * size) << size << ", broken every " << broken_every;
            if (before) {
                EXPECT_LE(read, before * 9 / 4)
                    << "twice the file, " << read << " bytes read where half took " << before;
            }
            before = read;
        }
    }
}

TEST(BankScan, AnEncryptedFileIsScannedWithEachKey) {
    Bytes file = noise(333, 8);
    append(file, kFsb5);
    auto o = scan(bankwriter::encrypt(file, "key"), {"other", "key"});
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_EQ(2, o->bank.count());
    EXPECT_TRUE(o->bank.encrypted());
    EXPECT_EQ(Bytes(20, 1), decoded_audio(o->bank, 0));
}

TEST(BankScan, TheModeBitThroughTheLibraryInterface) {
    Bytes file = noise(50, 9);
    append(file, kFsb4);
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_Create(&system));
    ASSERT_EQ(FMOD_OK, FMOD_System_Init(system, 1, 0, nullptr));
    FMOD_CREATESOUNDEXINFO ex{};
    ex.cbsize = sizeof ex;
    ex.length = static_cast<unsigned int>(file.size());
    const char* data = reinterpret_cast<const char*>(file.data());
    FMOD_SOUND* sound = nullptr;
    EXPECT_EQ(FMOD_ERR_FORMAT, FMOD_System_CreateSound(system, data, FMOD_OPENMEMORY, &ex, &sound));
    ASSERT_EQ(FMOD_OK, FMOD_System_CreateSound(system, data, FMOD_OPENMEMORY | SOUNDLIB_SCAN, &ex, &sound));
    FMOD_SOUND* sub = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(sound, 0, &sub));
    unsigned long long offset = 0;
    EXPECT_EQ(FMOD_OK, soundlib_subsound_bank_offset(sub, &offset));
    EXPECT_EQ(50u, offset);
    EXPECT_EQ(FMOD_ERR_INVALID_PARAM, soundlib_subsound_bank_offset(sound, &offset));
    EXPECT_EQ(0, soundlib_bank_encrypted(sound));
    FMOD_Sound_Release(sound);
    FMOD_System_Release(system);
}

}  // namespace
}  // namespace soundlib
