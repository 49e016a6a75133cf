// Every file written in another format than WAV, over the real banks of the
// shared corpus, decodes back to the samples of the WAV of the same sound:
// FLAC with libFLAC (its MD5 checked, as `flac -t` does).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "support/decode_back.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

const char* const kFolders[] = {"banks", "synthetic", "containers", "vorbis", "vorbis-mobile", "encrypted", "loops"};

// Each sound's output file by bank and index, from the JSON of a run.
std::map<std::pair<std::string, int>, std::pair<std::string, std::string>> outputs(const ToolRun& run) {
    std::map<std::pair<std::string, int>, std::pair<std::string, std::string>> files;
    const auto doc = nlohmann::json::parse(run.out);
    for (const auto& bank : doc["banks"]) {
        for (const auto& sound : bank["sounds"]) {
            if (sound["status"] != "written") continue;
            files[{bank["path"], sound["index"]}] = {sound["output"], sound["format"]};
        }
    }
    return files;
}

TEST(CorpusFormats, EveryFlacFileDecodesToItsWav) {
    const std::string corpus = CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no shared corpus beside the project";
    TempDir dir;
    std::size_t checked = 0;
    for (const std::string folder : kFolders) {
        const std::string banks = corpus + "/" + folder;
        if (!std::filesystem::is_directory(banks)) continue;
        const ToolRun wav = run_bankrip({"--json", "-q", "-o", dir.file(folder + "-wav"), banks});
        const ToolRun flac = run_bankrip({"--json", "-q", "--format", "flac", "-o", dir.file(folder + "-flac"), banks});
        ASSERT_EQ(wav.status, flac.status) << folder << ": " << flac.err;
        const auto wavs = outputs(wav);
        for (const auto& [sound, file] : outputs(flac)) {
            const auto& [path, format] = file;
            ASSERT_TRUE(wavs.count(sound)) << path;
            const std::vector<std::uint8_t> expected = wav_data(wavs.at(sound).first);
            if (format == "wav") {
                EXPECT_EQ(expected, wav_data(path)) << path;
                continue;
            }
            ASSERT_EQ("flac", format) << path;
            const FlacDecode d = decode_flac(path);
            EXPECT_TRUE(d.ok) << path << ": does not decode, or its MD5 does not match";
            EXPECT_TRUE(d.data == expected) << path << ": " << d.data.size() << " bytes, the WAV's " << expected.size();
            ++checked;
        }
    }
    EXPECT_GT(checked, 0u);
    std::printf("%zu FLAC files decoded to their WAV's samples\n", checked);
}

}  // namespace
