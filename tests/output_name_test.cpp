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

TEST(OutputName, ControlBytesNeverReachTheTerminalOrTheFileSystem) {
    EXPECT_EQ("a_[2J_b.wav", name_of("a\x1b[2J\nb.ogg"));
    EXPECT_EQ("del_", name_of("del\x7f"));
    EXPECT_EQ("caf\xc3\xa9.wav", name_of("caf\xc3\xa9.ogg"));  // other bytes stay
}

TEST(OutputName, LongNamesAreShortenedBeforeTheirExtension) {
    const std::string n300(300, 'n');
    EXPECT_EQ(std::string(255, 'n'), name_of(n300.c_str()));
    EXPECT_EQ(std::string(251, 'n') + ".wav", name_of((n300 + ".ext").c_str()));
    // A 255-byte name whose extension is shorter than ".wav".
    EXPECT_EQ(std::string(251, 'n') + ".wav", name_of((std::string(253, 'n') + ".x").c_str()));
    // Never inside a UTF-8 character: 2-byte characters, the cut at byte 251 falls in one.
    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "\xc3\xa9";
    EXPECT_EQ(accents.substr(0, 250) + ".wav", name_of((accents + ".ogg").c_str()));
    // Two long names that shorten alike are numbered, still within 255 bytes.
    UsedNames used;
    EXPECT_EQ(std::string(255, 'n'), output_name((n300 + "a").c_str(), 0, used));
    EXPECT_EQ(std::string(251, 'n') + " (2)", output_name((n300 + "b").c_str(), 1, used));
}

}  // namespace
