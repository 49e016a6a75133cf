// Unity's serialized files as the reader takes them, and the names the
// options form gives the banks of a resource file from them.
#include <algorithm>
#include <chrono>
#include <map>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "bank_writer.h"
#include "support/run_tool.h"
#include "support/temp_dir.h"
#include "support/unity_writer.h"
#include "unity/serialized_file.h"

namespace {

using unitywriter::Clip;
using unitywriter::Layout;

std::vector<Clip> two_clips() {
    return {{20, "tick-tock", "sharedassets0.resource", 0, 4096},
            {-7, "coin-1", "archive:/CAB-1/sharedassets0.resource", 1ull << 33, 1234}};
}

bool read(const unitywriter::Bytes& bytes, std::vector<unity::AudioClip>& clips, std::string& error,
          std::size_t* unreadable = nullptr, std::string* clip_error = nullptr) {
    const unity::MemorySource source(bytes.data(), bytes.size());
    clips.clear();
    return unity::read_audio_clips(source, clips, error, unreadable, clip_error);
}

void expect_clips(const unitywriter::Bytes& bytes, const std::vector<Clip>& want) {
    std::vector<unity::AudioClip> got;
    std::string error;
    std::size_t unreadable = 0;
    std::string clip_error;
    ASSERT_TRUE(read(bytes, got, error, &unreadable, &clip_error)) << error;
    EXPECT_EQ(unreadable, 0u) << clip_error;
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].path_id, want[i].path_id);
        EXPECT_EQ(got[i].name, want[i].name);
        EXPECT_EQ(got[i].source, want[i].source);
        EXPECT_EQ(got[i].offset, want[i].offset);
        EXPECT_EQ(got[i].size, want[i].size);
    }
}

TEST(UnitySerializedFile, EveryFormatInBothByteOrdersWithAndWithoutTypeTrees) {
    for (const std::uint32_t format : {9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u, 17u, 19u, 20u, 21u, 22u, 23u}) {
        for (const bool big : {false, true}) {
            for (const bool trees : {false, true}) {
                if (format < 13 && !trees) continue;  // those always carry them
                for (const char* version : {"5.6.0f3", "2017.3.1f1", "2020.3.36f1"}) {
                    SCOPED_TRACE(std::to_string(format) + (big ? " big-endian " : " little-endian ") +
                                 (trees ? "with trees " : "without trees ") + version);
                    Layout layout;
                    layout.format = format;
                    layout.big_endian = big;
                    layout.type_trees = trees;
                    layout.unity_version = version;
                    std::vector<Clip> clips = two_clips();
                    if (format < 14) clips[1].path_id = 21;  // 32-bit IDs
                    expect_clips(unitywriter::write_serialized(layout, clips), clips);
                }
            }
        }
    }
}

TEST(UnitySerializedFile, TypeTreesAreWalkedNotTakenForTheVersionsLayout) {
    // A field no version's layout has, before m_Resource: only the tree finds
    // m_Resource behind it; Unity's common strings stand for some names.
    for (const std::uint32_t format : {9u, 12u, 17u, 22u}) {
        for (const bool common : {false, true}) {
            SCOPED_TRACE(format);
            Layout layout;
            layout.format = format;
            layout.type_trees = true;
            layout.extra_field = true;
            layout.common_strings = common;
            expect_clips(unitywriter::write_serialized(layout, two_clips()), two_clips());
        }
    }
    // Without its tree the same bytes do not give that clip.
    Layout layout;
    layout.extra_field = true;
    layout.type_trees = false;
    std::vector<unity::AudioClip> got;
    std::string error;
    ASSERT_TRUE(read(unitywriter::write_serialized(layout, two_clips()), got, error)) << error;
    for (const unity::AudioClip& clip : got) EXPECT_NE(clip.source, "sharedassets0.resource");
}

TEST(UnitySerializedFile, VersionsBeforeUnity5WithoutTreesAreRefusedByName) {
    Layout layout;
    layout.unity_version = "4.7.2f1";
    std::vector<unity::AudioClip> got;
    std::string error, clip_error;
    std::size_t unreadable = 0;
    ASSERT_TRUE(read(unitywriter::write_serialized(layout, two_clips()), got, error, &unreadable, &clip_error));
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(unreadable, 2u);
    EXPECT_NE(clip_error.find("4.7.2f1"), std::string::npos) << clip_error;
}

// After bytes were put into a format-17 file's metadata: its header made
// to say so, so that the file is read as far as them.
void grown(unitywriter::Bytes& file, std::size_t added) {
    auto get = [&](std::size_t at) {
        return std::uint32_t{file[at]} << 24 | std::uint32_t{file[at + 1]} << 16 | std::uint32_t{file[at + 2]} << 8 |
               file[at + 3];
    };
    auto put = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put(0, get(0) + static_cast<std::uint32_t>(added));
    put(4, static_cast<std::uint32_t>(file.size()));
    put(12, get(12) + static_cast<std::uint32_t>(added));
}

// Hostile files: each fails with a reason or reads, quickly and within
// bounded memory, never crashes.
TEST(UnitySerializedFile, HostileFilesFailClearly) {
    Layout tree_layout;
    tree_layout.type_trees = true;
    for (const Layout& layout : {Layout{}, tree_layout}) {
        const unitywriter::Bytes whole = unitywriter::write_serialized(layout, two_clips());
        // Cut at every length, and with every byte of the metadata flipped.
        for (std::size_t cut = 0; cut < whole.size(); ++cut) {
            unitywriter::Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
            std::vector<unity::AudioClip> got;
            std::string error;
            EXPECT_FALSE(read(part, got, error)) << cut;  // the header's size no longer fits
            EXPECT_FALSE(error.empty());
        }
        for (std::size_t at = 0; at < whole.size(); ++at) {
            unitywriter::Bytes flipped = whole;
            flipped[at] ^= 0xFF;
            std::vector<unity::AudioClip> got;
            std::string error;
            read(flipped, got, error);
        }
    }

    auto expect_failure = [](unitywriter::Bytes bytes, const std::string& words) {
        std::vector<unity::AudioClip> got;
        std::string error, clip_error;
        std::size_t unreadable = 0;
        const bool ok = read(bytes, got, error, &unreadable, &clip_error);
        const std::string said = ok ? clip_error : error;
        EXPECT_TRUE(!ok || unreadable > 0) << words;
        EXPECT_NE(said.find(words), std::string::npos) << said;
    };
    auto put32be = [](unitywriter::Bytes& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    const unitywriter::Bytes plain = unitywriter::write_serialized(Layout{}, two_clips());
    // Sizes in the header that lie.
    unitywriter::Bytes lying = plain;
    put32be(lying, 0, 0xFFFFFFF0u);
    expect_failure(lying, "metadata is larger");
    lying = plain;
    put32be(lying, 4, static_cast<std::uint32_t>(plain.size() + 1));
    expect_failure(lying, "gives a size of");
    lying = plain;
    put32be(lying, 12, 0x7FFFFFFFu);
    expect_failure(lying, "past the end of the file");

    // A name a megabyte long, and one whose length says two gigabytes.
    std::vector<Clip> clips = two_clips();
    clips[0].name.assign(1 << 20, 'a');
    expect_failure(unitywriter::write_serialized(Layout{}, clips), "m_Name is longer than");
    unitywriter::Bytes huge = plain;
    const std::string name = "tick-tock";
    const auto at = std::search(huge.begin(), huge.end(), name.begin(), name.end()) - huge.begin();
    huge[static_cast<std::size_t>(at) - 4] = 0xFF;
    huge[static_cast<std::size_t>(at) - 1] = 0x7F;
    expect_failure(huge, "m_Name is longer than");

    // An object table, and a type tree, that claim more than the file holds.
    Layout trees;
    trees.type_trees = true;
    unitywriter::Bytes tree_file = unitywriter::write_serialized(trees, two_clips());
    // The first tree's node count is just after the first type's hash.
    const std::size_t nodes_at = 20 + std::string("5.6.0f3").size() + 1 + 4 + 1 + 4 + 4 + 1 + 2 + 16;
    ASSERT_EQ(tree_file[nodes_at], 2);
    tree_file[nodes_at + 3] = 0x7F;
    expect_failure(tree_file, "type tree's size");
}

TEST(UnitySerializedFile, TreesNestingWithoutEndAndHugeArraysAreBounded) {
    // A blob tree whose levels climb one by one far past any real tree.
    Layout layout;
    layout.type_trees = true;
    unitywriter::Bytes file = unitywriter::write_serialized(layout, two_clips());
    const std::size_t nodes_at = 20 + std::string("5.6.0f3").size() + 1 + 4 + 1 + 4 + 4 + 1 + 2 + 16;
    const std::size_t first_node = nodes_at + 8;
    // The GameObject's tree: two nodes; make it a chain of 200 by widening.
    unitywriter::Bytes deep(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(nodes_at));
    unitywriter::Bytes tail(file.begin() + static_cast<std::ptrdiff_t>(first_node + 2 * 24 + 28), file.end());
    auto put = [&](std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i) deep.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const int levels = 200;
    put(levels, 4);
    put(2, 4);  // "x\0"
    for (int i = 0; i < levels; ++i) {
        put(1, 2);
        put(static_cast<std::uint64_t>(i & 0xFF), 1);
        put(0, 1);
        put(0, 4);
        put(0, 4);
        put(4, 4);
        put(static_cast<std::uint64_t>(i), 4);
        put(0, 4);
    }
    deep.push_back('x');
    deep.push_back(0);
    // After its string buffer ("GameObject\0Base\0int\0m_Layer\0"), the rest as before.
    deep.insert(deep.end(), tail.begin(), tail.end());
    grown(deep, deep.size() - file.size());
    std::vector<unity::AudioClip> got;
    std::string error;
    EXPECT_FALSE(read(deep, got, error));
    EXPECT_NE(error.find("levels do not make a tree"), std::string::npos) << error;

    // The nested form, a chain of children 1000 deep.
    Layout old;
    old.format = 9;
    unitywriter::Bytes nested = unitywriter::write_serialized(old, two_clips());
    const std::string marker = std::string("GameObject") + '\0' + "Base" + '\0';
    const auto at = static_cast<std::size_t>(std::search(nested.begin(), nested.end(), marker.begin(), marker.end()) -
                                              nested.begin());
    unitywriter::Bytes chain(nested.begin(), nested.begin() + static_cast<std::ptrdiff_t>(at));
    for (int i = 0; i < 1000; ++i) {
        const char node[] = "t\0n\0";
        chain.insert(chain.end(), node, node + 4);
        for (std::uint32_t v : {4u, 0u, 0u, 1u, 0u, 1u}) {
            for (int b = 0; b < 4; ++b) chain.push_back(static_cast<std::uint8_t>(v >> (8 * b)));
        }
    }
    const unitywriter::Bytes rest(nested.begin() + static_cast<std::ptrdiff_t>(at), nested.end());
    chain.insert(chain.end(), rest.begin(), rest.end());
    grown(chain, chain.size() - nested.size());
    EXPECT_FALSE(read(chain, got, error));
    EXPECT_NE(error.find("deeper"), std::string::npos) << error;

    // An array of two billion ints in an object of a few dozen bytes:
    // refused at once.
    Layout arrays;
    arrays.type_trees = true;
    arrays.extra_field = true;
    unitywriter::Bytes big_array = unitywriter::write_serialized(arrays, two_clips());
    const std::uint8_t three[] = {3, 0, 0, 0, 0x11, 0x11, 0x11, 0x11};
    auto it = std::search(big_array.begin(), big_array.end(), three, three + 8);
    ASSERT_NE(it, big_array.end());
    it[3] = 0x7F;
    const auto start = std::chrono::steady_clock::now();
    std::size_t unreadable = 0;
    std::string clip_error;
    ASSERT_TRUE(read(big_array, got, error, &unreadable, &clip_error)) << error;
    EXPECT_EQ(unreadable, 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

// The tool on a folder as a Unity build leaves it.
struct UnityFolder {
    TempDir dir;
    std::string resource;
    std::vector<std::uint64_t> offsets, sizes;  // of each bank in the resource file

    explicit UnityFolder(int banks, const std::string& name = "sharedassets0.resource") {
        bankwriter::Bytes whole;
        for (int i = 0; i < banks; ++i) {
            bankwriter::Sound sound;
            sound.frames = 64 + static_cast<std::uint32_t>(i);
            sound.data.assign(2 * sound.frames, static_cast<std::uint8_t>(i));
            const bankwriter::Bytes bank = bankwriter::write_fsb5({sound}, 2);
            offsets.push_back(whole.size());
            sizes.push_back(bank.size());
            whole.insert(whole.end(), bank.begin(), bank.end());
            whole.resize((whole.size() + 31) / 32 * 32, 0);  // Unity pads between banks
        }
        resource = dir.file(name);
        bankwriter::save(resource, whole);
    }
    void serialized(const std::string& name, const std::vector<Clip>& clips, Layout layout = {}) const {
        const unitywriter::Bytes bytes = unitywriter::write_serialized(layout, clips);
        bankwriter::save(dir.file(name), bankwriter::Bytes(bytes.begin(), bytes.end()));
    }
};

nlohmann::json sounds_of(const ToolRun& run) { return nlohmann::json::parse(run.out)["banks"][0]["sounds"]; }

TEST(UnityNames, BanksAreNamedByOffsetAndOnlyByClipsThatFit) {
    UnityFolder folder(6);
    const std::string me = "sharedassets0.resource";
    std::vector<Clip> clips = {
        // Out of the banks' order: matched by offset.
        {31, "second", me, folder.offsets[1], folder.sizes[1]},
        {30, "first", me, folder.offsets[0], folder.sizes[0]},
        // The same name twice: numbered as repeats are.
        {32, "boom", me, folder.offsets[2], folder.sizes[2]},
        {33, "boom", me, folder.offsets[3], folder.sizes[3]},
        // Another resource file's clip at bank 4's offset: not this file's.
        {34, "elsewhere", "sharedassets1.resource", folder.offsets[4], folder.sizes[4]},
        // An offset on no bank, and a size that is not the bank's.
        {35, "nowhere", me, folder.offsets[4] + 4, folder.sizes[4]},
        {36, "wrong size", me, folder.offsets[5], folder.sizes[5] + 32},
    };
    folder.serialized("sharedassets0.assets", clips);
    TempDir out;
    const ToolRun run = run_bankrip(with_test_jobs({"--json", "-q", "-o", out.path(), folder.resource}));
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json sounds = sounds_of(run);
    ASSERT_EQ(sounds.size(), 6u);
    const char* want[] = {"first.wav", "second.wav", "boom.wav", "boom (2).wav", "subsound_0004.wav",
                          "subsound_0005.wav"};
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(std::filesystem::path(sounds[i]["output"].get<std::string>()).filename(), want[i]);
        EXPECT_TRUE(std::filesystem::is_regular_file(sounds[i]["output"].get<std::string>()));
    }
    EXPECT_EQ(sounds[0]["name"], "first");
    EXPECT_EQ(sounds[0]["name_source"]["file"], "sharedassets0.assets");
    EXPECT_EQ(sounds[0]["name_source"]["path_id"], 30);
    EXPECT_FALSE(sounds[4].contains("name_source"));
    // Said once: where the names came from, and that two clips did not fit.
    EXPECT_NE(run.err.find("sound names from the Unity serialized file beside it: sharedassets0.assets; 2 clips"),
              std::string::npos)
        << run.err;

    // The listing says the same.
    const ToolRun list = run_bankrip({"--list", folder.resource});
    EXPECT_NE(list.out.find("first (clip in sharedassets0.assets, path ID 30)"), std::string::npos) << list.out;
}

TEST(UnityNames, TheBankFirstFormAndOtherFilesKeepTheirNames) {
    UnityFolder folder(2);
    folder.serialized("sharedassets0.assets", {{30, "first", "sharedassets0.resource", folder.offsets[0], folder.sizes[0]}});
    // The bank-first form: names as before.
    TempDir out;
    const ToolRun first_form = run_bankrip({folder.resource, out.path()});
    ASSERT_EQ(first_form.status, 0) << first_form.err;
    EXPECT_TRUE(std::filesystem::exists(out.file("subsound_0000.wav"))) << first_form.out;
    EXPECT_FALSE(std::filesystem::exists(out.file("first.wav")));

    // A resource file no serialized file names: said once, numbered names.
    UnityFolder lonely(1, "resources.resource");
    lonely.serialized("sharedassets0.assets", {{30, "first", "sharedassets0.resource", 0, lonely.sizes[0]}});
    const ToolRun run = run_bankrip({"--json", "--list", lonely.resource});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(sounds_of(run)[0]["name"], "");
    EXPECT_NE(run.err.find("none of the Unity serialized files beside it (sharedassets0.assets) names it"),
              std::string::npos)
        << run.err;
}

TEST(UnityNames, EverySerializedFileOfTheFolderIsReadAndEachFolderOnce) {
    UnityFolder folder(3);
    const std::string me = "sharedassets0.resource";
    Layout big;
    big.format = 22;
    big.big_endian = true;
    big.unity_version = "2020.3.36f1";
    // In two parts, as the player keeps large files.
    const unitywriter::Bytes level = unitywriter::write_serialized(big, {{5, "from level", me, folder.offsets[2], folder.sizes[2]}});
    const auto half = static_cast<std::ptrdiff_t>(level.size() / 2);
    bankwriter::save(folder.dir.file("level0.split0"), bankwriter::Bytes(level.begin(), level.begin() + half));
    bankwriter::save(folder.dir.file("level0.split1"), bankwriter::Bytes(level.begin() + half, level.end()));
    Layout trees;
    trees.type_trees = true;
    trees.extra_field = true;
    folder.serialized("resources.assets", {{6, "from resources", me, folder.offsets[0], folder.sizes[0]}}, trees);
    bankwriter::save(folder.dir.file("not unity.assets"), bankwriter::Bytes{1, 2, 3});
    // A second resource file in the same folder: named from the same reading.
    UnityFolder dummy(1);
    const bankwriter::Bytes second = read_file(dummy.resource);
    bankwriter::save(folder.dir.file("other.resource"), bankwriter::Bytes(second.begin(), second.end()));
    folder.serialized("sharedassets1.assets", {{7, "other's", "other.resource", 0, dummy.sizes[0]}});

    const ToolRun run = run_bankrip({"--json", "--list", folder.dir.path()});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json doc = nlohmann::json::parse(run.out);
    std::map<std::string, nlohmann::json> banks;
    for (const auto& bank : doc["banks"]) banks[std::filesystem::path(bank["path"].get<std::string>()).filename().string()] = bank["sounds"];
    ASSERT_EQ(banks.size(), 2u) << run.out;
    EXPECT_EQ(banks["sharedassets0.resource"][0]["name"], "from resources");
    EXPECT_EQ(banks["sharedassets0.resource"][1]["name"], "");
    EXPECT_EQ(banks["sharedassets0.resource"][2]["name"], "from level");
    EXPECT_EQ(banks["sharedassets0.resource"][2]["name_source"]["file"], "level0.split0");
    EXPECT_EQ(banks["other.resource"][0]["name"], "other's");
    EXPECT_NE(run.err.find("beside it: level0.split0, resources.assets"), std::string::npos) << run.err;
}

}  // namespace
