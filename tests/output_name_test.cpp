#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

// The options form (every name with its extension) writes no hidden file:
// leading dots become underscores and start no extension. The bank-first
// form keeps its names as ever.
TEST(OutputName, TheOptionsFormWritesNoHiddenFiles) {
    const auto options_name = [](const char* name) {
        UsedNames used;
        return output_name(name, 3, used, true, ".wav");
    };
    EXPECT_EQ("_tmpXBcUDK.wav", options_name(".tmpXBcUDK"));
    EXPECT_EQ("_hidden.wav", options_name(".hidden.ogg"));
    EXPECT_EQ("__x.wav", options_name("..x"));
    EXPECT_EQ("subsound_0003.wav", options_name("."));
    EXPECT_EQ("subsound_0003.wav", options_name(".."));
    EXPECT_EQ("a.wav", options_name("a.b"));
    EXPECT_EQ(".wav", name_of(".tmpXBcUDK"));
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

TEST(OutputName, ManyRepeatsOfOneNameCostLittle) {
    // A bank can name every subsound alike: counting up from (2) for each
    // took half a minute for these.
    UsedNames used;
    const auto start = std::chrono::steady_clock::now();
    std::string last;
    for (int i = 0; i < 20000; ++i) last = output_name("x.ogg", i, used);
    EXPECT_EQ("x (20000).wav", last);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(OutputName, ControlBytesNeverReachTheTerminalOrTheFileSystem) {
    EXPECT_EQ("a_[2J_b.wav", name_of("a\x1b[2J\nb.ogg"));
    EXPECT_EQ("del_", name_of("del\x7f"));
    EXPECT_EQ("caf\xc3\xa9.wav", name_of("caf\xc3\xa9.ogg"));  // other bytes stay
}

TEST(OutputName, C1ControlsAreControlBytesToo) {
    // U+009B (CSI) as UTF-8, and a stray 0x9B, which a terminal that is not
    // in UTF-8 takes as CSI.
    EXPECT_EQ("a_2Jb.wav", name_of("a\xc2\x9b" "2Jb.ogg"));
    // (Under Windows' rules a raw 0x9B is a sign of the code page: below.)
    if (!UsedNames::WINDOWS_RULES) {
        EXPECT_EQ("a_2Jb.wav", name_of("a\x9b" "2Jb.ogg"));
    }
    EXPECT_EQ("x_y", name_of("x\xc2\x85y"));
    // Characters whose inner bytes fall in 0x80..0x9F stay: U+203A, U+20AC, U+00A0.
    EXPECT_EQ("\xe2\x80\xba\xe2\x82\xac\xc2\xa0.wav", name_of("\xe2\x80\xba\xe2\x82\xac\xc2\xa0.ogg"));
    // In a Windows code page 0x80..0x9F are letters and signs (0x92 is a
    // right quote in 1252): kept under Windows' rules, where names are read so.
    UsedNames windows;
    windows.windows_rules = true;
    EXPECT_EQ("don\x92t.wav", output_name("don\x92t.ogg", 0, windows));
    EXPECT_EQ("a_b.wav", output_name("a\xc2\x9b" "b.ogg", 1, windows));
}

TEST(PrintableName, ControlsGoSeparatorsAndCleanTextStay) {
    EXPECT_EQ("out/a_[31m_b.fsb", printable_name("out/a\x1b[31m\rb.fsb", false));
    EXPECT_EQ("_]0;title_", printable_name("\x9b]0;title\x07", false));
    EXPECT_EQ("_x", printable_name("\xc2\x9bx", true));
    EXPECT_EQ("\x9bx", printable_name("\x9bx", true));
    const std::string clean = "C:\\games\\caf\xc3\xa9 (2)/x.wav";
    EXPECT_EQ(clean, printable_name(clean, false));
    EXPECT_EQ(clean, printable_name(clean, true));
}

TEST(BankFolderName, NeverLeavesTheDestination) {
    for (const bool windows : {false, true}) {
        EXPECT_EQ("__", bank_folder_name("..", windows)) << "the bank named ...fsb";
        EXPECT_EQ("_", bank_folder_name(".", windows));
        EXPECT_EQ("_", bank_folder_name("", windows));
        EXPECT_EQ("a_b_c", bank_folder_name("a/b\\c", windows));
        EXPECT_EQ("x_[2J_", bank_folder_name("x\x1b[2J\xc2\x9b", windows));
        EXPECT_EQ("...x", bank_folder_name("...x", windows));
    }
    // Windows drops trailing dots and spaces, so ".. " would be "..".
    EXPECT_EQ(".. ", bank_folder_name(".. ", false));
    EXPECT_EQ("___", bank_folder_name(".. ", true));
    EXPECT_EQ("a_", bank_folder_name("a.", true));
    EXPECT_EQ("_CON", bank_folder_name("CON", true));
    EXPECT_EQ("_lpt1.x", bank_folder_name("lpt1.x", true));
    EXPECT_EQ("CON", bank_folder_name("CON", false));
}

TEST(BankFolderName, LongNamesLeaveRoomForTheirNumber) {
    const std::string n252(252, 'n');
    EXPECT_EQ(n252, bank_folder_name(n252));
    EXPECT_EQ(std::string(251, 'n') + " (2)", numbered_folder_name(n252, 2));
    EXPECT_EQ(n252, numbered_folder_name(n252, 1));
    EXPECT_EQ(std::string(255, 'n'), bank_folder_name(std::string(400, 'n')));
    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "\xc3\xa9";
    EXPECT_EQ(accents.substr(0, 254), bank_folder_name(accents)) << "not inside a character";
    EXPECT_EQ(accents.substr(0, 246) + " (12345)", numbered_folder_name(bank_folder_name(accents), 12345));
    // A cut that ends in a space would lose it on Windows.
    EXPECT_EQ(std::string(254, 'n') + "_", bank_folder_name(std::string(254, 'n') + " tail", true));
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
    // Bytes that only look like the inside of characters are cut all the same, not to nothing.
    // (0xA1, since a stray byte 0x80 to 0x9F is a C1 control to a terminal.)
    EXPECT_EQ(std::string(255, '\xa1'), name_of(std::string(300, '\xa1').c_str()));
    std::string odd(301, '\xbf');
    odd[0] = 'a';
    EXPECT_EQ(odd.substr(0, 251) + ".wav", name_of((odd + ".x").c_str()));
    // Two long names that shorten alike are numbered, still within 255 bytes.
    UsedNames used;
    EXPECT_EQ(std::string(255, 'n'), output_name((n300 + "a").c_str(), 0, used));
    EXPECT_EQ(std::string(251, 'n') + " (2)", output_name((n300 + "b").c_str(), 1, used));
}

// A volume that ignores case, as Windows drives, FAT sticks and macOS do:
// the files written so far, by their folded names.
struct CaseFoldingVolume {
    std::set<std::string> files;
    static std::string folded(std::string name) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name;
    }
    std::string write(const char* subsound_name, int index, UsedNames& used) {
        used.reaches_written = [this](const std::string& n) { return files.count(folded(n)) != 0; };
        const std::string name = output_name(subsound_name, index, used);
        EXPECT_TRUE(files.insert(folded(name)).second) << name << " overwrote a file of the run";
        return name;
    }
};

TEST(OutputName, NamesReachingAFileOfTheRunAreNumberedAsRepeats) {
    CaseFoldingVolume volume;
    UsedNames used;
    EXPECT_EQ("Boom", volume.write("Boom", 0, used));
    EXPECT_EQ("boom (2)", volume.write("boom", 1, used));
    EXPECT_EQ("BOOM (3)", volume.write("BOOM", 2, used));  // "BOOM (2)" reaches "boom (2)"
    EXPECT_EQ("bOOm (4)", volume.write("bOOm", 3, used));
    EXPECT_EQ("x.wav", volume.write("x.ogg", 4, used));
    EXPECT_EQ("X (2).wav", volume.write("X.mp3", 5, used));
    EXPECT_EQ("other", volume.write("other", 6, used));
}

TEST(OutputName, WindowsDeviceNamesGetAnUnderscore) {
    UsedNames used;
    used.windows_rules = true;
    for (const char* device : {"CON", "prn", "Aux", "nul", "COM1", "com9", "LPT1", "lpt9"}) {
        EXPECT_EQ(std::string("_") + device, output_name(device, 0, used));
    }
    // With an extension, any extension, or spaces before it.
    EXPECT_EQ("_con.wav", output_name("con.ogg", 0, used));
    EXPECT_EQ("_NUL.tar.wav", output_name("NUL.tar.gz", 0, used));
    EXPECT_EQ("_aux .wav", output_name("aux .x", 0, used));
    // Only those exact names.
    EXPECT_EQ("COM0", output_name("COM0", 0, used));
    EXPECT_EQ("COM10", output_name("COM10", 0, used));
    EXPECT_EQ("CONSOLE", output_name("CONSOLE", 0, used));
    EXPECT_EQ("xNUL", output_name("xNUL", 0, used));
    // Elsewhere these are ordinary names.
    UsedNames posix;
    posix.windows_rules = false;
    EXPECT_EQ("CON", output_name("CON", 0, posix));
}

TEST(OutputName, WindowsTrailingDotsAndSpacesBecomeUnderscores) {
    UsedNames used;
    used.windows_rules = true;
    EXPECT_EQ("a_", output_name("a ", 0, used));
    EXPECT_EQ("b___", output_name("b   ", 0, used));
    EXPECT_EQ("a.wav", output_name("a.", 0, used));  // the extension rule first
    EXPECT_EQ("a..wav", output_name("a..", 0, used));
    // Shortened at a space, a name keeps its last byte visible.
    const std::string spaced = std::string(254, 'n') + " x";
    EXPECT_EQ(std::string(254, 'n') + "_", output_name(spaced.c_str(), 0, used));
}

TEST(OutputName, TheNamesOfARunCostLessThan32BytesEach) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "needs glibc's heap statistics";
#else
    constexpr int kCount = 1 << 20;
    const std::size_t before = mallinfo2().uordblks;
    std::size_t peak = 0;
    {
        UsedNames used;
        for (int i = 0; i < kCount; ++i) {
            output_name(i % 2 ? "" : "same.ogg", i, used);  // new names and repeats
            if ((i & 0xFFFF) == 0) peak = std::max(peak, mallinfo2().uordblks - before);
        }
        peak = std::max(peak, mallinfo2().uordblks - before);
    }
    EXPECT_LE(peak, 32u * kCount) << peak / kCount << " bytes per name";
#endif
}

}  // namespace
