#include <gtest/gtest.h>

#include "wav/output_name.h"

namespace {

std::string name_of(const char* name, int index = 0) {
    UsedNames used;
    return output_name(name, index, used);
}

TEST(OutputName, ExtensionFromTheLastDotBecomesWav) {
    EXPECT_EQ("boom.wav", name_of("boom.ogg"));
    EXPECT_EQ("a.b.wav", name_of("a.b.c"));
    EXPECT_EQ("voice", name_of("voice"));
    EXPECT_EQ(".wav", name_of(".hidden"));
    EXPECT_EQ("trailing.wav", name_of("trailing."));
}

TEST(OutputName, SeparatorsNeverLeaveTheDestination) {
    // The extension rule still applies after the separators go.
    EXPECT_EQ(".._..wav", name_of("../../etc/passwd"));
    EXPECT_EQ("etc_passwd", name_of("etc/passwd"));
    EXPECT_EQ("dir_sub_x.wav", name_of("dir\\sub/x.wav"));
    EXPECT_EQ("_abs.wav", name_of("/abs.wav"));
}

TEST(OutputName, EmptyAndDotNamesFallBackToTheIndex) {
    EXPECT_EQ("subsound_0000.wav", name_of("", 0));
    EXPECT_EQ("subsound_0007.wav", name_of(".", 7));
    EXPECT_EQ("subsound_0012.wav", name_of("..", 12));
    EXPECT_EQ("subsound_12345.wav", name_of("", 12345));
    // After the separators are replaced these are ordinary names.
    EXPECT_EQ("_", name_of("/"));
}

TEST(OutputName, RepeatedNamesAreNumberedBeforeTheirExtension) {
    UsedNames used;
    EXPECT_EQ("x.wav", output_name("x.ogg", 0, used));
    EXPECT_EQ("x (2).wav", output_name("x.wav", 1, used));
    EXPECT_EQ("x (3).wav", output_name("x.mp3", 2, used));
    EXPECT_EQ("voice", output_name("voice", 3, used));
    EXPECT_EQ("voice (2)", output_name("voice", 4, used));
    // A name that happens to look numbered is numbered on top when taken.
    EXPECT_EQ("x (2) (2).wav", output_name("x (2).wav", 5, used));
    EXPECT_EQ("subsound_0006.wav", output_name("", 6, used));
    EXPECT_EQ("subsound_0006 (2).wav", output_name("subsound_0006.wav", 7, used));
}

TEST(OutputName, LongNamesAreNotCut) {
    const std::string long_name(300, 'n');
    EXPECT_EQ(long_name, name_of(long_name.c_str()));
    EXPECT_EQ(long_name + ".wav", name_of((long_name + ".ext").c_str()));
}

}  // namespace
