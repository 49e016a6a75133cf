#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include <filesystem>

#include "platform/platform.h"
#include "support/platform_expectations.h"
#include "support/temp_dir.h"

namespace {

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
