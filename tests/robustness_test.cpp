// Damaged banks, real and written: whatever the bytes say, the library
// answers with result codes, never a crash or a read out of bounds (run
// these under a sanitizer build to see the second).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "bank_writer.h"
#include "support/read_everything.h"
#include "support/temp_dir.h"

namespace {

using bankwriter::Bytes;

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
            ASSERT_TRUE(read_everything(dir.file("b.fsb"), 64, 16));
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
            ASSERT_TRUE(read_everything(dir.file("b.fsb"), 64, 16));
        }
    }
}

}  // namespace
