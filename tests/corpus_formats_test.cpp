// Every file written in another format than WAV, over the real banks of the
// shared corpus, decodes back to the samples of the WAV of the same sound:
// FLAC with libFLAC (its MD5 checked, as `flac -t` does), Ogg Vorbis with
// libvorbisfile (and passes ogginfo), MP3 with libmpg123.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "support/decode_back.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

const char* const kFolders[] = {"banks", "synthetic", "containers", "vorbis", "vorbis-mobile",
                                "vorbis-unmatched", "encrypted", "loops"};

struct Output {
    std::string path;
    std::string format;
    unsigned frames = 0;
};

// Each sound's output file by bank and index, from the JSON of a run.
std::map<std::pair<std::string, int>, Output> outputs(const ToolRun& run) {
    std::map<std::pair<std::string, int>, Output> files;
    const auto doc = nlohmann::json::parse(run.out);
    for (const auto& bank : doc["banks"]) {
        for (const auto& sound : bank["sounds"]) {
            if (sound["status"] != "written") continue;
            files[{bank["path"], sound["index"]}] = {sound["output"], sound["format"], sound["frames"]};
        }
    }
    return files;
}

const char* const kOggInfo = "/usr/bin/ogginfo";

bool ogginfo_available() {
#if defined(_WIN32)
    return false;  // a Linux program: not under wine
#else
    return file_exists(kOggInfo);
#endif
}

// What ogginfo says of a file it finds fault with; empty when it finds none.
std::string ogginfo_complaints(const std::string& path) {
    const ToolRun run = run_tool(kOggInfo, {path});
    if (run.status == 0 && run.out.find("WARNING") == std::string::npos &&
        run.out.find("ERROR") == std::string::npos) {
        return "";
    }
    return run.out + run.err;
}

struct Checked {
    std::size_t flac = 0, ogg = 0, mp3 = 0, mp3_longer = 0, mp3_shorter = 0;
};

// A decoded .ogg holds exactly the WAV's samples. A decoded .mp3 holds them
// over the sound's length, and runs past it by less than one frame, as the
// frame that reaches the length is whole (a sound opening with a tag frame
// counts it in its length, where its WAV ends in a frame of silence that
// the .mp3 does not hold).
void check_lossy(const Output& file, const std::vector<std::uint8_t>& wav, unsigned channels, Checked& checked) {
    if (file.format == "ogg") {
        const LossyDecode d = decode_ogg(file.path);
        EXPECT_TRUE(d.ok) << file.path << ": " << d.error;
        EXPECT_TRUE(d.data == wav) << file.path << ": " << d.data.size() << " bytes, the WAV's " << wav.size();
        if (ogginfo_available()) {
            EXPECT_EQ("", ogginfo_complaints(file.path)) << file.path;
        }
        ++checked.ogg;
        return;
    }
    ASSERT_EQ("mp3", file.format) << file.path;
    const LossyDecode d = decode_mp3(file.path);
    EXPECT_TRUE(d.ok) << file.path << ": " << d.error;
    const std::size_t frame_bytes = 2 * channels;
    const std::size_t frame_samples = 1152 * frame_bytes;  // the most samples one frame holds
    std::size_t common = std::min(d.data.size(), wav.size());
    if (d.data.size() < wav.size()) {
        // Only a tag frame's silence may be missing.
        EXPECT_LE(wav.size() - d.data.size(), frame_samples) << file.path;
        ++checked.mp3_shorter;
        EXPECT_TRUE(std::all_of(wav.begin() + static_cast<std::ptrdiff_t>(common), wav.end(),
                                [](std::uint8_t b) { return b == 0; }))
            << file.path << ": the WAV goes on past the .mp3 with sound";
    } else {
        EXPECT_LT(d.data.size() - wav.size(), frame_samples) << file.path;
        if (d.data.size() > wav.size()) ++checked.mp3_longer;
    }
    EXPECT_TRUE(std::equal(wav.begin(), wav.begin() + static_cast<std::ptrdiff_t>(common), d.data.begin()))
        << file.path << ": the samples differ from the WAV's";
    ++checked.mp3;
}

TEST(CorpusFormats, EveryFileOfEveryFormatDecodesToItsWav) {
    const std::string corpus = CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no shared corpus beside the project";
    if (!ogginfo_available()) std::printf("ogginfo is not here (Debian's vorbis-tools): the .ogg files are only decoded\n");
    TempDir dir;
    Checked checked;
    for (const std::string folder : kFolders) {
        const std::string banks = corpus + "/" + folder;
        if (!std::filesystem::is_directory(banks)) continue;
        const auto run = [&](const std::string& name, std::vector<std::string> options) {
            std::vector<std::string> args{"--json", "-q", "-o", dir.file(folder + "-" + name)};
            args.insert(args.end(), options.begin(), options.end());
            args.push_back(banks);
            return run_bankrip(args);
        };
        const ToolRun wav = run("wav", {});
        const ToolRun flac = run("flac", {"--format", "flac"});
        const ToolRun original = run("original", {"--keep-original"});
        const ToolRun both = run("both", {"--keep-original", "--format", "flac"});
        for (const ToolRun* r : {&flac, &original, &both}) ASSERT_EQ(wav.status, r->status) << folder << ": " << r->err;
        const auto wavs = outputs(wav);
        const auto flacs = outputs(flac);
        const auto originals = outputs(original);

        for (const auto& [sound, file] : flacs) {
            ASSERT_TRUE(wavs.count(sound)) << file.path;
            const std::vector<std::uint8_t> expected = wav_data(wavs.at(sound).path);
            if (file.format == "wav") {
                EXPECT_EQ(expected, wav_data(file.path)) << file.path;
                continue;
            }
            ASSERT_EQ("flac", file.format) << file.path;
            const FlacDecode d = decode_flac(file.path);
            EXPECT_TRUE(d.ok) << file.path << ": does not decode, or its MD5 does not match";
            EXPECT_TRUE(d.data == expected) << file.path << ": " << d.data.size() << " bytes, the WAV's " << expected.size();
            ++checked.flac;
        }
        for (const auto& [sound, file] : originals) {
            ASSERT_TRUE(wavs.count(sound)) << file.path;
            if (file.format == "wav") {
                EXPECT_EQ(read_file(wavs.at(sound).path), read_file(file.path)) << file.path;
                continue;
            }
            const std::vector<std::uint8_t> expected = wav_data(wavs.at(sound).path);
            const std::vector<std::uint8_t> head = read_file(wavs.at(sound).path);
            check_lossy(file, expected, head.size() > 23 ? head[22] : 1, checked);  // the WAV header's channels
        }
        // Both options at once: the kept originals as above, the rest as
        // --format flac writes them, byte for byte.
        for (const auto& [sound, file] : outputs(both)) {
            const std::map<std::pair<std::string, int>, Output>& same =
                file.format == "ogg" || file.format == "mp3" ? originals : flacs;
            ASSERT_TRUE(same.count(sound)) << file.path;
            EXPECT_EQ(same.at(sound).format, file.format) << file.path;
            EXPECT_EQ(read_file(same.at(sound).path), read_file(file.path)) << file.path;
        }
    }
    EXPECT_GT(checked.flac, 0u);
    EXPECT_GT(checked.ogg, 0u);
    EXPECT_GT(checked.mp3, 0u);
    std::printf("decoded to their WAV's samples: %zu FLAC, %zu Ogg Vorbis, %zu MP3 files (%zu running past the "
                "sound's length within their last frame, %zu without the silent frame of a tag)\n",
                checked.flac, checked.ogg, checked.mp3, checked.mp3_longer, checked.mp3_shorter);
}

}  // namespace
