// Which file of a --replace folder stands for which sound, across the ways
// of unpacking whose numbering of repeated names differs.
#include <gtest/gtest.h>

#include "driver/replace_names.h"

namespace {

// Sound 0 is Vorbis, sound 1 PCM, both named "a": a WAV unpack numbers the
// second as a repeat, one with --keep-original does not.
const std::vector<std::vector<std::string>> kStyles{
    {"a.wav", "a (2).wav"},   // WAV
    {"a.ogg", "a.wav"},       // WAV, --keep-original
};

TEST(ReplaceNames, TheWayOfUnpackingThatClaimsMostFilesNumbersThem) {
    ReplaceMatch wav = match_replacement_files(kStyles, {"a.wav", "a (2).wav"});
    EXPECT_EQ(0u, wav.style);
    EXPECT_EQ((std::map<int, std::string>{{0, "a.wav"}, {1, "a (2).wav"}}), wav.file_of);
    ReplaceMatch kept = match_replacement_files(kStyles, {"a.ogg", "a.wav"});
    EXPECT_EQ(1u, kept.style);
    EXPECT_EQ((std::map<int, std::string>{{0, "a.ogg"}, {1, "a.wav"}}), kept.file_of);
    EXPECT_TRUE(kept.unmatched.empty());
    // A tie goes to the first way: a.wav alone is sound 0's.
    EXPECT_EQ((std::map<int, std::string>{{0, "a.wav"}}), match_replacement_files(kStyles, {"a.wav"}).file_of);
}

TEST(ReplaceNames, AnyExtensionReadBackStandsForASoundUnlessTwoSoundsShareItsStem) {
    const std::vector<std::vector<std::string>> styles{{"x.wav", "y.wav"}};
    ReplaceMatch m = match_replacement_files(styles, {"x.mp3", "y.flac", "y.txt", "z.wav"});
    EXPECT_EQ((std::map<int, std::string>{{0, "x.mp3"}, {1, "y.flac"}}), m.file_of);
    EXPECT_EQ((std::vector<std::string>{"y.txt", "z.wav"}), m.unmatched);
    // "a.flac" could be either sound of the --keep-original names: neither.
    m = match_replacement_files({kStyles[1]}, {"a.flac"});
    EXPECT_TRUE(m.file_of.empty());
    EXPECT_EQ(std::vector<std::string>{"a.flac"}, m.unmatched);
}

TEST(ReplaceNames, TwoFilesForOneSoundAreBothNamed) {
    const ReplaceMatch m = match_replacement_files({{"x.wav", "y.wav"}}, {"x.flac", "x.wav", "y.ogg"});
    EXPECT_EQ((std::map<int, std::string>{{1, "y.ogg"}}), m.file_of);
    EXPECT_EQ((std::map<int, std::vector<std::string>>{{0, {"x.flac", "x.wav"}}}), m.doubled);
}

}  // namespace
