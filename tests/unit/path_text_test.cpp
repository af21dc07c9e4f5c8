#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/PathText.h"

TEST(PathText, SeparatorScansSkipGbkTrailBytes) {
    // 乗 = 81 5C, 表 = B1 ED, 能 = C4 DC; only real backslashes count.
    const char* path = "a\\\x81\x5C\\b\x81\x5C";
    EXPECT_EQ(FindLastChar(path, '\\'), 4);
    EXPECT_EQ(FindFirstSeparator("\x81\x5Cx/y"), 3);
    EXPECT_EQ(FindFirstSeparator("\x81\x5C"), -1);
    EXPECT_EQ(FindLastChar("abc", '\\'), -1);
    EXPECT_TRUE(EndsWithChar("C:\\", '\\'));
    EXPECT_FALSE(EndsWithChar("C:\\\x81\x5C", '\\'));
    EXPECT_FALSE(EndsWithChar("", '\\'));
    // A lone lead byte at the very end is a character of its own.
    EXPECT_EQ(FindLastChar("a\\\x81", '\\'), 1);
}

TEST(PathText, TrimBlanks) {
    char text[32];
    strcpy(text, " \tabc\r\n");
    EXPECT_EQ(TrimBlanks(text), 3u);
    EXPECT_STREQ(text, "abc");
    strcpy(text, "");
    EXPECT_EQ(TrimBlanks(text), 0u);
    strcpy(text, "  ");
    EXPECT_EQ(TrimBlanks(text), 0u);
    EXPECT_STREQ(text, "");
    strcpy(text, "a b");
    EXPECT_EQ(TrimBlanks(text), 3u);
}

TEST(PathText, BoundedCopiesNeverOverrun) {
    char small[8];
    memset(small, 'x', sizeof(small));
    EXPECT_TRUE(CopyBounded(small, sizeof(small), "1234567"));
    EXPECT_FALSE(CopyBounded(small, sizeof(small), "12345678"));
    EXPECT_STREQ(small, "");
    strcpy(small, "abc");
    EXPECT_TRUE(AppendBounded(small, sizeof(small), "defg"));
    EXPECT_FALSE(AppendBounded(small, sizeof(small), "h"));
    EXPECT_STREQ(small, "abcdefg");
    EXPECT_FALSE(FormatBounded(small, sizeof(small), "%s.tmp", "abcd"));
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(FormatBounded(small, sizeof(small), "%s.tmp", "ab"));
}

TEST(PathText, GbkSafePrefixNeverSplitsACharacter) {
    EXPECT_EQ(GbkSafePrefixLength("ab\xB1\xED", 3), 2u);
    EXPECT_EQ(GbkSafePrefixLength("ab\xB1\xED", 4), 4u);
    EXPECT_EQ(GbkSafePrefixLength("abc", 10), 3u);
}

TEST(PathText, FirstPathComponent) {
    char out[kPathBufferSize];
    EXPECT_TRUE(FirstPathComponent(out, sizeof(out), "Res\\a\\b.bin"));
    EXPECT_STREQ(out, "Res");
    EXPECT_TRUE(FirstPathComponent(out, sizeof(out), "sound/c.wav"));
    EXPECT_STREQ(out, "sound");
    EXPECT_TRUE(FirstPathComponent(out, sizeof(out), "update.cfg"));
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(FirstPathComponent(out, sizeof(out), "\\x"));
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(FirstPathComponent(out, sizeof(out), "\x81\x5C\\x"));
    EXPECT_STREQ(out, "\x81\x5C");
    std::string longFirst = std::string(300, 'a') + "\\b";
    EXPECT_FALSE(FirstPathComponent(out, sizeof(out), longFirst.c_str()));
    EXPECT_STREQ(out, "");
}

TEST(PathText, ContainedRelativePaths) {
    EXPECT_TRUE(IsContainedRelativePath("update.cfg"));
    EXPECT_TRUE(IsContainedRelativePath("Res\\a\\b.bin"));
    EXPECT_TRUE(IsContainedRelativePath("a..b\\c.d"));
    EXPECT_TRUE(IsContainedRelativePath("\x81\x5C\\x"));
    EXPECT_FALSE(IsContainedRelativePath(""));
    EXPECT_FALSE(IsContainedRelativePath("..\\evil.dll"));
    EXPECT_FALSE(IsContainedRelativePath("a/../../evil"));
    EXPECT_FALSE(IsContainedRelativePath("a\\.."));
    EXPECT_FALSE(IsContainedRelativePath("a\\.. \\b"));
    EXPECT_FALSE(IsContainedRelativePath("a\\...\\b"));
    EXPECT_FALSE(IsContainedRelativePath(".\\a"));
    EXPECT_FALSE(IsContainedRelativePath("\\Windows\\x"));
    EXPECT_FALSE(IsContainedRelativePath("/etc/x"));
    EXPECT_FALSE(IsContainedRelativePath("C:\\x"));
    EXPECT_FALSE(IsContainedRelativePath("C:x"));
    EXPECT_FALSE(IsContainedRelativePath("a.txt:stream"));
}

TEST(PathText, DosDeviceNamesAreNeverContained) {
    // In any component, any letter case, with an extension, trailing dots or blanks.
    for (const char* device : {"CON", "con", "Nul", "AUX", "prn", "COM1", "com9", "LPT1", "lpt9", "nul.txt",
                               "CON.tar.gz", "aux.", "NUL  ", "con .log", "COM3. .", "LPT2 .x"}) {
        EXPECT_FALSE(IsContainedRelativePath(device)) << device;
        EXPECT_FALSE(IsContainedRelativePath(("Res\\" + std::string(device)).c_str())) << device;
        EXPECT_FALSE(IsContainedRelativePath((std::string(device) + "/x.bin").c_str())) << device;
        EXPECT_FALSE(IsContainedRelativePath(("\xB5\xD8\\" + std::string(device) + "\\a").c_str())) << device;
    }
    // Names that only look alike are ordinary files.
    for (const char* name : {"CONFIG", "console.txt", "NULL", "COM0", "COM10", "LPT", "LPT10.txt", "con_x",
                             "xcon", "aux1", ".con", "com1x.ini", "\xB5\xD8" "CON"}) {
        EXPECT_TRUE(IsContainedRelativePath(name)) << name;
        EXPECT_TRUE(IsContainedRelativePath(("a\\" + std::string(name) + "\\b").c_str())) << name;
    }
}

TEST(PathText, CaseFoldingLeavesGbkCharactersAlone) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase("RAVN/RAVNFileList.ini", "ravn/ravnfilelist.INI"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("", ""));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("a", "ab"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("ab", "a"));
    // 乗 is 81 5C and 乕 is 81 41 ('A'): folding the trail byte would turn it into 81 61.
    EXPECT_TRUE(EqualsIgnoringAsciiCase("\x81\x41.exe", "\x81\x41.EXE"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("\x81\x41", "\x81\x61"));
}
