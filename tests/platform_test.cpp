#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/output_kind.h"
#include "platform/platform.h"
#include "support/platform_expectations.h"
#include "support/temp_dir.h"

namespace {

bool replaceable_mp3(const std::vector<std::uint8_t>& bytes) {
    const std::size_t n = std::min(bytes.size(), platform::kKindHeadBytes);
    return platform::starts_like_output("x.mp3", bytes.data(), n, bytes.size());
}

// What stands at an .mp3 name is replaced only when it is an MP3 file as
// the tool writes one: whole frames of one stream (or an ID3 tag), never
// text or a run of 0xFF that happens to match a sync word.
TEST(OutputKind, AnMp3FileIsFramesOfOneStreamNotASyncWord) {
    for (const char* name : {"layer3_untagged.mp3", "layer3_tagged.mp3", "layer2_160k.mp2", "layer3_mono40.mp3"}) {
        const auto stream = read_file(std::string(MPEG_FIXTURES_DIR) + "/" + name);
        if (stream.empty()) GTEST_SKIP() << "the MPEG fixtures were not made: lame makes them at build time";
        EXPECT_TRUE(replaceable_mp3(stream)) << name;
    }
    const auto stream = read_file(std::string(MPEG_FIXTURES_DIR) + "/layer3_untagged.mp3");
    // One frame alone, as a sound of one frame gives.
    const std::size_t first = 417;  // 128 kbps at 44.1 kHz, no padding
    if (stream.size() > first && stream[2] == 0x90 && (stream[2] & 2) == 0) {
        EXPECT_TRUE(replaceable_mp3(std::vector<std::uint8_t>(stream.begin(), stream.begin() + first)));
    }
    EXPECT_FALSE(replaceable_mp3(std::vector<std::uint8_t>(8192, 0xFF)));
    std::vector<std::uint8_t> utf16{0xFF, 0xFE};
    for (const char c : std::string("a note, in UTF-16 as Notepad saves it")) utf16.insert(utf16.end(), {static_cast<std::uint8_t>(c), 0});
    EXPECT_FALSE(replaceable_mp3(utf16));
    // A frame whose successor is of another layer is no stream of ours.
    std::vector<std::uint8_t> mixed(stream.begin(), stream.begin() + 4000);
    const std::size_t length = first + ((mixed[2] >> 1) & 1);
    if (mixed[2] >> 4 == 9 && ((mixed[2] >> 2) & 3) == 0) {
        mixed[length + 1] ^= 0x06;
        EXPECT_FALSE(replaceable_mp3(mixed));
    }
    std::vector<std::uint8_t> id3{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 10};
    EXPECT_TRUE(replaceable_mp3(id3));
}

TEST(Platform, RemoveFileLeavesAnythingButRegularFilesAlone) {
    TempDir dir;
#if !defined(_WIN32)
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    platform::remove_file(fifo);
    EXPECT_TRUE(file_exists(fifo));
#endif
    platform::remove_file(dir.path());
    EXPECT_TRUE(file_exists(dir.path()));
    write_file(dir.file("f"), {1});
    platform::remove_file(dir.file("f"));
    EXPECT_FALSE(file_exists(dir.file("f")));
}

TEST(Platform, MakeDirectoriesCreatesParentsAndAcceptsExistingOnes) {
    TempDir dir;
    std::string error;
    EXPECT_TRUE(platform::make_directories(dir.file("a/b/c/"), error)) << error;
    EXPECT_TRUE(platform::make_directories(dir.file("a/b"), error)) << error;
    write_file(dir.file("file"), {1});
    EXPECT_FALSE(platform::make_directories(dir.file("file"), error));
    EXPECT_FALSE(platform::make_directories(dir.file("file/x"), error));
    EXPECT_EQ(system_text(SystemError::parent_is_a_file), error);
}

TEST(Platform, ExecutableFolderEndsWithTheSeparator) {
    const std::string folder = platform::executable_folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(platform::kSeparator, folder.back());
#if defined(_WIN32)
    EXPECT_TRUE(file_exists(folder + "bankrip_tests.exe"));
#else
    EXPECT_TRUE(file_exists(folder + "bankrip_tests"));
#endif
}

TEST(OutputFile, TheNameHoldsNothingUntilTheFileIsComplete) {
    TempDir dir;
    platform::OutputFolder folder;
    std::string error;
    ASSERT_TRUE(folder.open(dir.path(), error)) << error;
    platform::OutputFile file;
    ASSERT_TRUE(file.create(folder, "a.wav", dir.file("a.wav"), {})) << file.error();
    ASSERT_TRUE(file.write("RIFF", 4));
    ASSERT_TRUE(file.write_at(0, "W", 1));
    const std::vector<std::string> during = list_dir(dir.path());
    ASSERT_EQ(1u, during.size());
    EXPECT_EQ(0u, during[0].find(".bankrip-")) << during[0];
    ASSERT_TRUE(file.commit()) << file.error();
    EXPECT_EQ((std::vector<std::string>{"a.wav"}), list_dir(dir.path()));
    EXPECT_EQ((std::vector<std::uint8_t>{'W', 'I', 'F', 'F'}), read_file(dir.file("a.wav")));
    // A file given up on leaves nothing, under any name.
    ASSERT_TRUE(file.create(folder, "b.wav", dir.file("b.wav"), {})) << file.error();
    ASSERT_TRUE(file.write("x", 1));
    file.discard();
    EXPECT_EQ((std::vector<std::string>{"a.wav"}), list_dir(dir.path()));
    {
        platform::OutputFile abandoned;
        ASSERT_TRUE(abandoned.create(folder, "c.wav", dir.file("c.wav"), {}));
    }
    EXPECT_EQ((std::vector<std::string>{"a.wav"}), list_dir(dir.path()));
}

TEST(OutputFile, WhatIsInTheWayIsCheckedAgainBeforeTheRename) {
    TempDir dir;
    platform::OutputFolder folder;
    std::string error;
    ASSERT_TRUE(folder.open(dir.path(), error)) << error;
    platform::OutputFile file;
    ASSERT_TRUE(file.create(folder, "a", dir.file("a"), {})) << file.error();
    ASSERT_TRUE(file.write("new", 3));
    write_file(dir.file("a"), {'t', 'e', 'x', 't'});  // came while the file was written
    EXPECT_FALSE(file.commit());
    EXPECT_EQ((std::vector<std::uint8_t>{'t', 'e', 'x', 't'}), read_file(dir.file("a")));
    EXPECT_EQ((std::vector<std::string>{"a"}), list_dir(dir.path()));
}

TEST(OutputFolder, KnowsItsFilesByIdentityNotByName) {
    TempDir dir;
    platform::OutputFolder folder;
    std::string error;
    ASSERT_TRUE(folder.open(dir.path(), error)) << error;
    platform::OutputFile file;
    ASSERT_TRUE(file.create(folder, "mine", dir.file("mine"), {}));
    ASSERT_TRUE(file.commit());
    write_file(dir.file("theirs"), {});
    EXPECT_TRUE(folder.holds_written("mine"));
    EXPECT_FALSE(folder.holds_written("theirs"));
    EXPECT_FALSE(folder.holds_written("nothing"));
    // A second name for the same file, as a folding volume gives one.
    std::error_code link_error;
    std::filesystem::create_hard_link(dir.file("mine"), dir.file("second"), link_error);
    if (link_error) GTEST_SKIP() << "no hard links here: " << link_error.message();
    EXPECT_TRUE(folder.holds_written("second"));
}

}  // namespace

namespace {

TEST(OutputFolder, ChildFoldersAreMadeFromTheParentAsOpenedNeverThroughALink) {
    using Child = platform::OutputFolder::Child;
    TempDir dir;
    std::filesystem::create_directories(dir.file("out"));
    std::filesystem::create_directories(dir.file("elsewhere"));
    platform::OutputFolder root;
    std::string error;
    ASSERT_TRUE(root.open(dir.file("out"), error)) << error;
    platform::OutputFolder a;
    ASSERT_EQ(Child::opened, a.open_child(root, "a", error)) << error;
    platform::OutputFile file;
    ASSERT_TRUE(file.create(a, "x.wav", "x.wav", {})) << file.error();
    ASSERT_TRUE(file.commit()) << file.error();
    EXPECT_TRUE(file_exists(dir.file("out/a/x.wav")));
    platform::OutputFolder again;
    ASSERT_EQ(Child::opened, again.open_child(root, "a", error)) << error;
    EXPECT_EQ(a.id().file, again.id().file) << "the folder that is there is taken as it is";
    EXPECT_NE(root.id().file, a.id().file);
    write_file(dir.file("out/f"), {1});
    platform::OutputFolder f;
    EXPECT_EQ(Child::not_a_folder, f.open_child(root, "f", error));
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(Child::failed, f.open_child(f, "y", error)) << "a parent that is not open";
#if !defined(_WIN32)
    std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("out/link"));
    platform::OutputFolder link;
    EXPECT_EQ(Child::link, link.open_child(root, "link", error));
    EXPECT_EQ("a symbolic link is in the way; not followed", error);
    // The parent renamed and a link put in its place: children are still made in it.
    std::filesystem::rename(dir.file("out"), dir.file("moved"));
    std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("out"));
    platform::OutputFolder b;
    ASSERT_EQ(Child::opened, b.open_child(root, "b", error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("moved/b")));
    EXPECT_TRUE(list_dir(dir.file("elsewhere")).empty());
#endif
}

}  // namespace
