// Damaged banks, real and written: whatever the bytes say, the library
// answers with result codes, never a crash or a read out of bounds (run
// these under a sanitizer build to see the second).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "bank_writer.h"
#include "soundlib/soundlib.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;

// Opens a bank and reads every subsound to its end, ignoring the results.
void open_and_read_everything(const std::string& path) {
    FMOD_SYSTEM* system = nullptr;
    ASSERT_EQ(FMOD_OK, FMOD_System_Create(&system));
    ASSERT_EQ(FMOD_OK, FMOD_System_Init(system, 32, 0, nullptr));
    FMOD_SOUND* bank = nullptr;
    if (FMOD_System_CreateSound(system, path.c_str(), FMOD_CREATESTREAM, nullptr, &bank) == FMOD_OK) {
        int count = 0;
        FMOD_Sound_GetNumSubSounds(bank, &count);
        std::vector<std::uint8_t> buffer(1 << 16);
        for (int i = 0; i < count && i < 64; ++i) {
            FMOD_SOUND* sub = nullptr;
            ASSERT_EQ(FMOD_OK, FMOD_Sound_GetSubSound(bank, i, &sub));
            char name[256];
            FMOD_Sound_GetName(sub, name, sizeof name);
            unsigned int frames = 0;
            FMOD_Sound_GetLength(sub, &frames, FMOD_TIMEUNIT_PCM);
            // Enough reads to cross several blocks, bounded for huge claimed lengths.
            for (int r = 0; r < 16; ++r) {
                unsigned int got = 0;
                if (FMOD_Sound_ReadData(sub, buffer.data(), static_cast<unsigned int>(buffer.size()), &got) != FMOD_OK)
                    break;
                ASSERT_LE(got, buffer.size());
            }
            FMOD_Sound_SeekData(sub, frames / 2);
            unsigned int got = 0;
            FMOD_Sound_ReadData(sub, buffer.data(), 4096, &got);
        }
        FMOD_Sound_Release(bank);
    }
    FMOD_System_Release(system);
}

std::vector<Bytes> sample_banks() {
    std::vector<Bytes> banks;
    bankwriter::Sound s;
    s.name = "s";
    s.frames = 100;
    s.channels = 2;
    s.data.assign(400, 0x33);
    banks.push_back(bankwriter::write_fsb4({s, s}));
    s.chunks.push_back({3, Bytes(8, 0)});
    banks.push_back(bankwriter::write_fsb5({s, s}, 2));
    const std::string corpus = CORPUS_DIR;
    for (const char* folder : {"/banks", "/synthetic"}) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(corpus + folder, ec)) {
            if (entry.file_size() <= 128 * 1024) banks.push_back(read_file(entry.path().string()));
        }
    }
    return banks;
}

TEST(Robustness, BanksWithRandomlyDamagedBytes) {
    TempDir dir;
    std::mt19937 random(20261207);
    for (const Bytes& original : sample_banks()) {
        for (int round = 0; round < 40; ++round) {
            Bytes bank = original;
            const int flips = 1 + static_cast<int>(random() % 8);
            for (int f = 0; f < flips; ++f) {
                // Mostly the headers, where a lie does the most harm.
                const std::size_t limit = (random() % 4 == 0) ? bank.size() : std::min<std::size_t>(bank.size(), 512);
                bank[random() % limit] = static_cast<std::uint8_t>(random());
            }
            write_file(dir.file("b.fsb"), bank);
            ASSERT_NO_FATAL_FAILURE(open_and_read_everything(dir.file("b.fsb")));
        }
    }
}

TEST(Robustness, BanksCutShortAnywhere) {
    TempDir dir;
    std::mt19937 random(7);
    for (const Bytes& original : sample_banks()) {
        for (int round = 0; round < 20; ++round) {
            const std::size_t cut = random() % original.size();
            write_file(dir.file("b.fsb"), Bytes(original.begin(), original.begin() + static_cast<long>(cut)));
            ASSERT_NO_FATAL_FAILURE(open_and_read_everything(dir.file("b.fsb")));
        }
    }
}

}  // namespace
