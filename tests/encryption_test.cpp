// Encrypted banks: read with their key (both schemes, every family, bare and
// in .bank files), refused without it, and the key never shown.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <tuple>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "bank_writer.h"
#include "driver/bank_keys.h"
#include "soundlib/bank.h"
#include "support/platform_expectations.h"
#include "support/run_tool.h"
#include "support/bank_audio.h"
#include "support/temp_dir.h"
#include "support/time_budget.h"

namespace {

using bankwriter::Bytes;
using testbanks::decoded_audio;
using bankwriter::Sound;

const std::string kCorpus = CORPUS_DIR;
// Seven bytes, so key positions do not line up with any header field, and a
// NUL inside to show keys are bytes, not C strings.
const std::string kKey("Se\0cr3t", 7);

Sound pcm16(const std::string& name, std::uint32_t frames, std::uint8_t seed) {
    Sound s;
    s.name = name;
    s.frames = frames;
    s.data.resize(static_cast<std::size_t>(frames) * 2);
    for (std::size_t i = 0; i < s.data.size(); ++i) s.data[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return s;
}

// Long enough data that reads go around the file's small-read window.
const std::vector<Sound> kSounds = {pcm16("one.wav", 40000, 1), pcm16("two.wav", 3, 2), pcm16("three.wav", 9000, 3)};

enum class Family { fsb3, fsb4, fsb5, fev };

Bytes plain_bank(Family f) {
    switch (f) {
        case Family::fsb3: return bankwriter::write_fsb3(kSounds);
        case Family::fsb4: return bankwriter::write_fsb4(kSounds);
        default: return bankwriter::write_fsb5(kSounds, 2);
    }
}

Bytes encrypted_file(Family f, const std::string& key, bool reverse) {
    Bytes bank = bankwriter::encrypt(plain_bank(f), key, reverse);
    return f == Family::fev ? bankwriter::write_fev({bank}) : bank;
}

struct Opened {
    TempDir dir;
    soundlib::Bank bank;
    soundlib::BankReadError error;
};

std::unique_ptr<Opened> open_with(const Bytes& bytes, std::vector<std::string> keys) {
    auto o = std::make_unique<Opened>();
    write_file(o->dir.file("b.fsb"), bytes);
    soundlib::OpenOptions options;
    options.keys = std::move(keys);
    o->error = o->bank.open(o->dir.file("b.fsb"), options);
    return o;
}

class EncryptedBank : public testing::TestWithParam<std::tuple<Family, bool>> {};

TEST_P(EncryptedBank, ReadsAsThePlainBankWithItsKeyAmongOthers) {
    const auto [family, reverse] = GetParam();
    auto o = open_with(encrypted_file(family, kKey, reverse), {"wrong", kKey, "also wrong"});
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_TRUE(o->bank.encrypted());
    ASSERT_EQ(3, o->bank.count());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kSounds[static_cast<std::size_t>(i)].name, o->bank.name(i));
        EXPECT_EQ(kSounds[static_cast<std::size_t>(i)].data, decoded_audio(o->bank, i)) << i;
    }
    EXPECT_TRUE(o->bank.notes().empty()) << o->bank.notes_text();
}

TEST_P(EncryptedBank, WithoutTheRightKeyIsRefusedAndMayBeEncrypted) {
    const auto [family, reverse] = GetParam();
    for (const std::vector<std::string>& keys : {std::vector<std::string>{}, {"nope", "Se\0cr3"}}) {
        auto o = open_with(encrypted_file(family, kKey, reverse), keys);
        EXPECT_EQ(FMOD_ERR_FORMAT, o->error.code);
        EXPECT_TRUE(o->bank.open_report().maybe_encrypted);
        EXPECT_EQ(keys.size(), o->bank.open_report().keys_tried);
        if (!keys.empty()) {
            EXPECT_NE(std::string::npos, o->error.detail.find("none of the 2 keys given fits")) << o->error.detail;
        }
        EXPECT_EQ(std::string::npos, o->error.detail.find("nope")) << o->error.detail;
    }
}

INSTANTIATE_TEST_SUITE_P(FamiliesAndSchemes, EncryptedBank,
                         testing::Combine(testing::Values(Family::fsb3, Family::fsb4, Family::fsb5, Family::fev),
                                          testing::Bool()));

TEST(Encryption, APlainBankIsReadAsItIsWhateverKeysAreGiven) {
    auto o = open_with(plain_bank(Family::fsb5), {kKey});
    ASSERT_EQ(FMOD_OK, o->error.code);
    EXPECT_FALSE(o->bank.encrypted());
    EXPECT_EQ(kSounds[0].data, decoded_audio(o->bank, 0));
}

// Banks back to back, encrypted as one file: the key runs on across them.
TEST(Encryption, BanksBackToBackAreEncryptedAsOneFile) {
    Bytes both = plain_bank(Family::fsb5);
    const Bytes second = plain_bank(Family::fsb4);
    both.insert(both.end(), second.begin(), second.end());
    auto o = open_with(bankwriter::encrypt(both, kKey), {kKey});
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    ASSERT_EQ(6, o->bank.count());
    EXPECT_EQ(kSounds[2].data, decoded_audio(o->bank, 5));
}

// Each "SND " chunk holds its own bank, encrypted from its own first byte,
// beside a plain one.
TEST(Encryption, EachSoundChunkOfABankFileIsTriedOnItsOwn) {
    const Bytes file = bankwriter::write_fev(
        {bankwriter::encrypt(plain_bank(Family::fsb5), kKey), plain_bank(Family::fsb5),
         bankwriter::encrypt(plain_bank(Family::fsb5), kKey, false)});
    auto o = open_with(file, {kKey});
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_EQ(9, o->bank.count());
    EXPECT_EQ(kSounds[0].data, decoded_audio(o->bank, 6));
    EXPECT_TRUE(o->bank.notes().empty()) << o->bank.notes_text();
}

// Every chunk its own encrypted range: finding the range of a read must not
// cost more with each chunk.
TEST(Encryption, ManyEncryptedSoundChunksStayLinear) {
    const Bytes one = bankwriter::encrypt(bankwriter::write_fsb5({kSounds[1]}, 2), kKey);
    const std::vector<Bytes> banks(20000, one);
    const auto start = std::chrono::steady_clock::now();
    auto o = open_with(bankwriter::write_fev(banks), {kKey});
    ASSERT_EQ(FMOD_OK, o->error.code) << o->error.detail;
    EXPECT_EQ(20000, o->bank.count());
    EXPECT_EQ(kSounds[1].data, decoded_audio(o->bank, 19999));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), time_budget(3.0));
}

// Through the C interface: keys in the extra information, old callers that
// give only the first two fields, and what a failed open says.
TEST(Encryption, KeysThroughTheLibraryInterface) {
    const Bytes bank = encrypted_file(Family::fsb4, kKey, true);
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_Create(&system));
    ASSERT_EQ(FMOD_OK, FMOD_System_Init(system, 1, 0, nullptr));

    const char* keys[] = {"x", kKey.data()};
    const unsigned int lengths[] = {1, static_cast<unsigned int>(kKey.size())};
    FMOD_CREATESOUNDEXINFO ex{};
    ex.cbsize = sizeof ex;
    ex.length = static_cast<unsigned int>(bank.size());
    ex.numencryptionkeys = 2;
    ex.encryptionkeys = keys;
    ex.encryptionkeylengths = lengths;
    FMOD_SOUND* sound = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_CreateSound(system, reinterpret_cast<const char*>(bank.data()),
                                               FMOD_OPENMEMORY, &ex, &sound));
    EXPECT_EQ(1, soundlib_bank_encrypted(sound));
    FMOD_SOUND* sub = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(sound, 2, &sub));
    unsigned long long offset = 1;
    EXPECT_EQ(FMOD_OK, soundlib_subsound_bank_offset(sub, &offset));
    EXPECT_EQ(0u, offset);
    FMOD_Sound_Release(sound);

    // A key cut at its NUL does not fit; the old two-field form reads no keys.
    ex.numencryptionkeys = 0;
    ex.encryptionkey = kKey.c_str();
    EXPECT_EQ(FMOD_ERR_FORMAT, FMOD_System_CreateSound(system, reinterpret_cast<const char*>(bank.data()),
                                                       FMOD_OPENMEMORY, &ex, &sound));
    int tried = -1;
    EXPECT_EQ(1, soundlib_system_open_encrypted(system, &tried));
    EXPECT_EQ(1, tried);
    ex.cbsize = static_cast<int>(sizeof(int) + sizeof(unsigned int));
    EXPECT_EQ(FMOD_ERR_FORMAT, FMOD_System_CreateSound(system, reinterpret_cast<const char*>(bank.data()),
                                                       FMOD_OPENMEMORY, &ex, &sound));
    EXPECT_EQ(1, soundlib_system_open_encrypted(system, &tried));
    EXPECT_EQ(0, tried);

    // A file that is plainly something else is not called encrypted.
    const Bytes tiny(8, 0x33);
    ex.length = static_cast<unsigned int>(tiny.size());
    EXPECT_NE(FMOD_OK, FMOD_System_CreateSound(system, reinterpret_cast<const char*>(tiny.data()), FMOD_OPENMEMORY,
                                               &ex, &sound));
    EXPECT_EQ(0, soundlib_system_open_encrypted(system, nullptr));
    FMOD_System_Release(system);
}

TEST(Encryption, TheRealEncryptedBankOpensWithItsKey) {
    const std::string folder = kCorpus + "/encrypted";
    if (!file_exists(folder + "/fsb3_mp3_encrypted.fsb.xen")) GTEST_SKIP() << "corpus not found at " << kCorpus;
    const std::vector<std::string> keys = bank_keys(folder + "/fsb3_mp3_encrypted.fsb.xen", {});
    ASSERT_EQ(1u, keys.size());
    soundlib::Bank bank;
    soundlib::OpenOptions options;
    options.keys = keys;
    ASSERT_EQ(FMOD_OK, bank.open(folder + "/fsb3_mp3_encrypted.fsb.xen", options).code);
    EXPECT_TRUE(bank.encrypted());
    EXPECT_EQ(4, bank.count());
}

// The environment for one test.
class ScopedKeyVariable {
public:
    explicit ScopedKeyVariable(const std::string& value) { set(value); }
    ~ScopedKeyVariable() { set(""); }

private:
    static void set(const std::string& value) {
#if defined(_WIN32)
        _putenv(("BANKRIP_KEY=" + value).c_str());  // "NAME=" removes it
#else
        if (value.empty()) {
            unsetenv("BANKRIP_KEY");
        } else {
            setenv("BANKRIP_KEY", value.c_str(), 1);
        }
#endif
    }
};

TEST(BankKeys, FirstSourceThatHasAnyWins) {
    TempDir dir;
    write_file(dir.file(".fsbkey"), Bytes{'f', 'i', 'l', 'e', '\r', '\n'});
    const std::string bank = dir.file("b.fsb");
    ScopedKeyVariable none("");
    EXPECT_EQ(std::vector<std::string>{"file"}, bank_keys(bank, {}));
    {
        ScopedKeyVariable env("from env");
        EXPECT_EQ(std::vector<std::string>{"from env"}, bank_keys(bank, {}));
        EXPECT_EQ((std::vector<std::string>{"a", "b"}), bank_keys(bank, {"a", "", "b"}));
    }
    // Only one line break is the file's ending; the key's own bytes stay.
    write_file(dir.file(".fsbkey"), Bytes{'k', '\n', '\n'});
    EXPECT_EQ(std::vector<std::string>{"k\n"}, bank_keys(bank, {}));
    write_file(dir.file(".fsbkey"), Bytes(5000, 'k'));  // not a key file
    EXPECT_TRUE(bank_keys(bank, {}).empty());
    EXPECT_TRUE(bank_keys(dir.file("elsewhere/b.fsb"), {}).empty());
#if !defined(_WIN32)
    // A FIFO in its place is no key file, and never waited on.
    std::remove(dir.file(".fsbkey").c_str());
    ASSERT_EQ(0, mkfifo(dir.file(".fsbkey").c_str(), 0600));
    EXPECT_TRUE(bank_keys(bank, {}).empty());
#endif
}

// The tool finds the key beside the bank or in the environment; without one
// it says how to give it; no key ever reaches its output.
TEST(EncryptionInTheTool, KeySourcesAndMessages) {
    TempDir dir;
    const std::string key = "k3y-in-file";
    write_file(dir.file("b.fsb"), encrypted_file(Family::fsb5, key, true));
    ScopedKeyVariable none("");

    ToolRun run = run_bankrip({dir.file("b.fsb"), dir.file("out")});
    EXPECT_EQ(console_text("FMOD error! (25) Unsupported file or audio format. \n"), run.out);
    EXPECT_EQ(kExitMinusOne, run.status);
    EXPECT_EQ(console_text("bankrip: " + dir.file("b.fsb") +
                           ": no FSB3, FSB4 or FSB5 magic at the start of the file; it is not a bank, or an encrypted "
                           "one; to give its key, " + key_hint(false) + "\n"),
              run.err);

    write_file(dir.file(".fsbkey"), Bytes(key.begin(), key.end()));
    run = run_bankrip({dir.file("b.fsb"), dir.file("out")});
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(console_text(dir.file("out/one.wav") + ".\n" + dir.file("out/two.wav") + ".\n" +
                           dir.file("out/three.wav") + ".\n"),
              run.out);
    EXPECT_EQ(kSounds[2].data.size() + 44, read_file(dir.file("out/three.wav")).size());

    {
        ScopedKeyVariable env("env-key-wrong");  // the environment comes before the file
        run = run_bankrip({dir.file("b.fsb"), dir.file("out")});
        EXPECT_EQ(kExitMinusOne, run.status);
        EXPECT_EQ(console_text("FMOD error! (25) Unsupported file or audio format. \n"), run.out);
        EXPECT_NE(std::string::npos, run.err.find("the key given does not fit")) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("env-key-wrong")) << run.err;
        EXPECT_EQ(std::string::npos, run.err.find("BANKRIP_KEY or")) << run.err;
    }
    {
        ScopedKeyVariable env(key);
        run = run_bankrip({dir.file("b.fsb"), dir.file("out2")});
        EXPECT_EQ(0, run.status) << run.err;
    }
    EXPECT_EQ(std::string::npos, (run.out + run.err).find(key));
}

}  // namespace
