// The Unity builds of the shared corpus: every bank of their resource files
// named as the independent reader's names.json says, in the files written,
// in the JSON, and at the offset it gives.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/run_tool.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct UnityCorpus {
    std::string root;  // corpus/unity
    nlohmann::json names;  // resource file (relative to root): [{fsb_index, offset, name}, ...]
};

bool load(UnityCorpus& corpus) {
    const std::string base = CORPUS_DIR;
    corpus.root = base + "/unity";
    const std::string refs = base + "/unity-refs/names.json";
    if (!fs::is_directory(corpus.root) || !fs::is_regular_file(refs)) return false;
    std::ifstream in(refs);
    corpus.names = nlohmann::json::parse(in);
    return true;
}

// A bank's path as the tool printed it, relative to corpus/unity.
std::string relative(const std::string& printed, const std::string& root) {
    std::string rel = fs::path(printed).lexically_relative(root).generic_string();
    return rel;
}

TEST(UnityCorpus, AWalkNamesEveryBankAsTheReferenceSays) {
    UnityCorpus corpus;
    if (!load(corpus)) GTEST_SKIP() << "no Unity builds in the shared corpus";
    TempDir out;
    const ToolRun run = run_bankrip(with_test_jobs({"--json", "-q", "-o", out.path(), corpus.root}));
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    std::map<std::string, nlohmann::json> banks;
    for (const auto& bank : doc["banks"]) banks[relative(bank["path"].get<std::string>(), corpus.root)] = bank;
    for (const auto& [resource, expected] : corpus.names.items()) {
        SCOPED_TRACE(resource);
        ASSERT_TRUE(banks.count(resource)) << "not read by the walk";
        const nlohmann::json& sounds = banks[resource]["sounds"];
        ASSERT_EQ(sounds.size(), expected.size());
        const fs::path folder = fs::path(corpus.root + "/" + resource).parent_path();
        for (const auto& want : expected) {
            const nlohmann::json& got = sounds[want["fsb_index"].get<std::size_t>()];
            const std::string name = want["name"];
            EXPECT_EQ(got["name"], name);
            EXPECT_EQ(got["status"], "written");
            ASSERT_TRUE(got.contains("name_source")) << name;
            EXPECT_TRUE(fs::is_regular_file(folder / got["name_source"]["file"].get<std::string>()));
            const fs::path written = got["output"].get<std::string>();
            EXPECT_EQ(written.filename().string(), name + ".wav");
            EXPECT_TRUE(fs::is_regular_file(written)) << written;
        }
        // Once per resource file, which serialized file gave the names.
        std::string said = "/" + resource + ": sound names from the Unity serialized file";
        std::replace(said.begin(), said.end(), '/', static_cast<char>(fs::path::preferred_separator));
        std::size_t times = 0;
        for (std::size_t at = run.err.find(said); at != std::string::npos; at = run.err.find(said, at + 1)) ++times;
        EXPECT_EQ(times, 1u) << run.err;
    }
}

TEST(UnityCorpus, EachNameGoesToTheBankAtTheClipsOffset) {
    UnityCorpus corpus;
    if (!load(corpus)) GTEST_SKIP() << "no Unity builds in the shared corpus";
    for (const auto& [resource, expected] : corpus.names.items()) {
        SCOPED_TRACE(resource);
        // --scan lists each sound's bank offset.
        const ToolRun run = run_bankrip({"--scan", "--list", "--json", corpus.root + "/" + resource});
        ASSERT_EQ(run.status, 0) << run.err;
        const nlohmann::json sounds = nlohmann::json::parse(run.out)["banks"][0]["sounds"];
        ASSERT_EQ(sounds.size(), expected.size());
        for (const auto& want : expected) {
            const nlohmann::json& got = sounds[want["fsb_index"].get<std::size_t>()];
            EXPECT_EQ(got["bank_offset"], want["offset"]);
            EXPECT_EQ(got["name"], want["name"]);
        }
    }
}

}  // namespace
