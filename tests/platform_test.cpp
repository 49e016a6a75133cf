#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

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

}  // namespace
