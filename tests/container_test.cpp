// Files that hold several banks: banks back to back, and RIFF .bank files.
#include <gtest/gtest.h>

#include "bank_writer.h"
#include "soundlib/bank.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/bank_audio.h"
#include "support/temp_dir.h"

namespace soundlib {
namespace {

using bankwriter::Bytes;
using testbanks::pcm16_filled;
using testbanks::decoded_audio;
using bankwriter::Sound;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// Three banks of two families, one with a name table and one without.
const Bytes kFirst = bankwriter::write_fsb5({pcm16_filled("a.wav", 10, 1), pcm16_filled("b.wav", 7, 2)}, 2);
const Bytes kSecond = bankwriter::write_fsb4({pcm16_filled("c.wav", 5, 3)});
const Bytes kThird = bankwriter::write_fsb5({pcm16_filled("", 9, 4)}, 2);

struct Opened {
    TempDir dir;
    Bank bank;
    BankReadError error;
};

std::unique_ptr<Opened> open_bytes(const Bytes& bytes) {
    auto o = std::make_unique<Opened>();
    write_file(o->dir.file("f.bank"), bytes);
    o->error = o->bank.open(o->dir.file("f.bank"));
    return o;
}

// Reads the whole of subsound i through its stream.
void expect_the_three_banks(Bank& bank) {
    ASSERT_EQ(4, bank.count());
    EXPECT_EQ("a.wav", bank.name(0));
    EXPECT_EQ("b.wav", bank.name(1));
    EXPECT_EQ("c.wav", bank.name(2));
    EXPECT_EQ("", bank.name(3));
    const std::pair<int, std::uint8_t> fills[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}};
    for (auto [i, fill] : fills) {
        const Bytes a = decoded_audio(bank, i);
        EXPECT_EQ(bank.info(i).frames * 2, a.size()) << i;
        EXPECT_EQ(Bytes(a.size(), fill), a) << i;
    }
}

TEST(Containers, BanksBackToBackFormOneBank) {
    auto o = open_bytes(join({kFirst, kSecond, kThird}));
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    expect_the_three_banks(o->bank);
    EXPECT_TRUE(o->bank.notes().empty());
}

TEST(Containers, ZeroPaddingBetweenAndAfterBanksIsNotReported) {
    auto o = open_bytes(join({kFirst, Bytes(16, 0), kSecond, kThird, Bytes(100, 0)}));
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    expect_the_three_banks(o->bank);
    EXPECT_TRUE(o->bank.notes().empty());
}

TEST(Containers, TrailingBytesAreNotedWithTheirOffsetButAreNoDamage) {
    auto o = open_bytes(join({kFirst, Bytes{'j', 'u', 'n', 'k'}}));
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_EQ(2, o->bank.count());
    ASSERT_EQ(1u, o->bank.notes().size());
    EXPECT_FALSE(o->bank.notes()[0].damage);
    EXPECT_NE(std::string::npos, o->bank.notes()[0].text.find("4 bytes at offset " + std::to_string(kFirst.size())))
        << o->bank.notes()[0].text;
}

TEST(Containers, ADamagedBankEndsTheFileButKeepsTheBanksBeforeIt) {
    Bytes second = kSecond;
    bankwriter::put32(second, 0x10, 0x00050000);  // a version we do not read
    auto o = open_bytes(join({kFirst, second, kThird}));
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_EQ(2, o->bank.count());
    ASSERT_EQ(1u, o->bank.notes().size());
    EXPECT_TRUE(o->bank.notes()[0].damage);

    // Damage inside the subsound headers counts the same.
    Bytes third = kThird;
    bankwriter::put32(third, 8, 3);  // three subsounds in the room of one
    o = open_bytes(join({kFirst, kSecond, third}));
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_EQ(3, o->bank.count());
    EXPECT_TRUE(o->bank.notes().at(0).damage);
}

TEST(Containers, TheLastBankCutShortKeepsItsHeadersAndWhatDataThereIs) {
    const Bytes all = join({kFirst, kSecond, kThird});
    auto o = open_bytes(Bytes(all.begin(), all.end() - 10));
    ASSERT_EQ(FMOD_OK, o->error.code);
    ASSERT_EQ(4, o->bank.count());
    EXPECT_FALSE(o->bank.info(2).cut_short);
    EXPECT_TRUE(o->bank.info(3).cut_short);
    EXPECT_TRUE(o->bank.notes().at(0).damage);
}

TEST(Containers, FevFileWithSeveralSoundChunks) {
    // The writer pads each bank to a multiple of 32 from the start of the
    // file and nests LIST chunks with odd sizes before them.
    auto o = open_bytes(bankwriter::write_fev({join({kFirst, kSecond}), kThird}));
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    expect_the_three_banks(o->bank);
    EXPECT_TRUE(o->bank.notes().empty());
}

TEST(Containers, FevFileWithoutSoundHoldsNoSubsoundsAndSaysWhy) {
    auto o = open_bytes(bankwriter::write_fev({}));
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_EQ(0, o->bank.count());
    ASSERT_EQ(1u, o->bank.notes().size());
    EXPECT_FALSE(o->bank.notes()[0].damage);
    EXPECT_NE(std::string::npos, o->bank.notes()[0].text.find("holds no audio"));
}

TEST(Containers, SoundChunkWithoutABankIsProbablyEncrypted) {
    Bytes encrypted = kThird;
    for (auto& b : encrypted) b ^= 0x5A;
    auto o = open_bytes(bankwriter::write_fev({encrypted}));
    EXPECT_EQ(FMOD_ERR_FORMAT, o->error.code);
    EXPECT_NE(std::string::npos, o->error.detail.find("probably encrypted")) << o->error.detail;

    // Beside a readable one it is damage, not a failure.
    o = open_bytes(bankwriter::write_fev({kFirst, encrypted}));
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_EQ(2, o->bank.count());
    EXPECT_TRUE(o->bank.notes().at(0).damage);
}

TEST(Containers, FevChunksThatLie) {
    const Bytes good = bankwriter::write_fev({kFirst});
    // A chunk claiming more than its list holds ends the walk there.
    Bytes b = good;
    bankwriter::put32(b, 12 + 4, 0x7FFFFFF0);  // the "FMT " chunk's size
    auto o = open_bytes(b);
    EXPECT_EQ(FMOD_ERR_FILE_BAD, o->error.code);
    EXPECT_NE(std::string::npos, o->error.detail.find("\"FMT \" at offset 12 claims")) << o->error.detail;
    // A RIFF size past the end of the file: the file is truncated.
    b = good;
    b.resize(b.size() - 6);
    o = open_bytes(b);
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_TRUE(o->bank.info(1).cut_short);
    EXPECT_TRUE(o->bank.notes().at(0).damage);
    // Not a .bank file at all.
    b = good;
    std::copy_n("WAVE", 4, b.begin() + 8);
    EXPECT_EQ(FMOD_ERR_FORMAT, open_bytes(b)->error.code);
}

// Opening stays linear in the number of banks, with a small record each.
TEST(Containers, TenThousandSmallBanksBackToBack) {
    const Bytes one = bankwriter::write_fsb5({pcm16_filled("x.wav", 2, 9)}, 2);
    Bytes all;
    for (int i = 0; i < 10000; ++i) all.insert(all.end(), one.begin(), one.end());
    auto o = open_bytes(all);
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_EQ(10000, o->bank.count());
    EXPECT_EQ(Bytes(4, 9), decoded_audio(o->bank, 9999));
}

// The tool over such files: what it prints and how it ends.
struct Run {
    TempDir dir;
    ToolRun run;
    std::string out(const std::string& name = "") const { return dir.file("out/" + name); }
};

std::unique_ptr<Run> unpack(const Bytes& file) {
    auto r = std::make_unique<Run>();
    write_file(r->dir.file("f.bank"), file);
    r->run = run_bankrip({r->dir.file("f.bank"), r->out()});
    return r;
}

TEST(ContainersInTheTool, EventDataOnlyWritesNothingAndSucceeds) {
    auto r = unpack(bankwriter::write_fev({}));
    EXPECT_EQ(0, r->run.status);
    EXPECT_EQ("", r->run.out);
    EXPECT_EQ(console_text("bankrip: " + r->dir.file("f.bank") +
                           ": this file holds no audio (no \"SND \" chunk), only event data; its sounds are in other "
                           "files of the game: .bank files, or the .fsb banks beside an .fev file\n"),
              r->run.err);
    EXPECT_FALSE(file_exists(r->out()));
}

TEST(ContainersInTheTool, DamageFurtherInUnpacksWhatCameBeforeAndEndsWithStatus1) {
    Bytes second = kSecond;
    second[0] = 'X';  // no magic where the next bank should start: trailing bytes, no damage
    auto r = unpack(join({kFirst, second}));
    EXPECT_EQ(0, r->run.status) << r->run.err;
    EXPECT_EQ(console_text(r->out("a.wav") + ".\n" + r->out("b.wav") + ".\n"), r->run.out);
    EXPECT_NE(std::string::npos, r->run.err.find("neither padding nor another bank")) << r->run.err;

    const Bytes all = join({kFirst, kSecond});
    r = unpack(Bytes(all.begin(), all.end() - 4));
    EXPECT_EQ(1, r->run.status);
    EXPECT_EQ(console_text(r->out("a.wav") + ".\n" + r->out("b.wav") + ".\n" + r->out("c.wav") + ".\n"), r->run.out);
    EXPECT_EQ(44u + 20, read_file(r->out("a.wav")).size());
    EXPECT_EQ(44u + 6, read_file(r->out("c.wav")).size());  // what there is, with truthful sizes
    EXPECT_NE(std::string::npos, r->run.err.find("truncated")) << r->run.err;
}

}  // namespace
}  // namespace soundlib
