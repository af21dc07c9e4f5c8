#include <gtest/gtest.h>

#include <string>

#include "app/CommandLine.h"

namespace {

std::string Folder(const char* commandLine, ArgValue expected = ArgValue::Found) {
    char folder[kPathBufferSize];
    EXPECT_EQ(ParseClientFolder(commandLine, folder, nullptr), expected) << commandLine;
    return folder;
}

std::string Title(const char* commandLine, bool expectUser) {
    char title[kPathBufferSize];
    bool hadUser = !expectUser;
    EXPECT_EQ(ParseMonitorTitle(commandLine, title, &hadUser, nullptr), ArgValue::Found) << commandLine;
    EXPECT_EQ(hadUser, expectUser) << commandLine;
    return title;
}

}  // namespace

TEST(CommandLine, ProgramNameIsSkippedWithGbkBytesAndQuotes) {
    struct Case {
        const char* whole;
        const char* arguments;
    } cases[] = {
        {"VelmoraPatch.exe /S /D=C:\\A", "/S /D=C:\\A"},
        {"\"C:\\Program Files\\VelmoraPatch.exe\" /S", "/S"},
        // An unquoted folder in GBK (下载 is CF C2 D4 D8): every byte above 0x7F belongs to the name.
        {"C:\\\xCF\xC2\xD4\xD8\\VelmoraPatch.exe /S /user L", "/S /user L"},
        // With '/' separators "/Setup/" must not be left behind to read as "/S".
        {"D:/\xCF\xC2\xD4\xD8/Setup/VelmoraPatch.exe", ""},
        {"D:/\xCF\xC2\xD4\xD8/Setup/VelmoraPatch.exe /D=D:\\Game", "/D=D:\\Game"},
        {"\"D:/\xCF\xC2 \xD4\xD8/Setup/VelmoraPatch.exe\"/S", "/S"},
        {"VelmoraPatch.exe\t \t/S", "/S"},
        {"VelmoraPatch.exe", ""},
        {"\"unterminated /S", ""},
        {"\"\" /S", "/S"},
        {"", ""},
        {"   /S", "/S"},
    };
    for (const Case& c : cases) EXPECT_STREQ(SkipProgramName(c.whole), c.arguments) << c.whole;
}

TEST(CommandLine, SilentSwitchIsACaseSensitiveSubstring) {
    EXPECT_TRUE(IsSilentCommandLine("/S"));
    EXPECT_TRUE(IsSilentCommandLine("x /D=C:\\A/S"));
    EXPECT_FALSE(IsSilentCommandLine("/s /D=C:\\A"));
    EXPECT_FALSE(IsSilentCommandLine(""));
}

TEST(CommandLine, ClientFolderCases) {
    EXPECT_EQ(Folder("/S /D=C:\\Games\\Velmora /user Launcher"), "C:\\Games\\Velmora\\");
    EXPECT_EQ(Folder("/S /D=C:\\Games\\Velmora\\   /user Launcher"), "C:\\Games\\Velmora\\");
    EXPECT_EQ(Folder("/S /D=/user Launcher"), "\\");
    EXPECT_EQ(Folder("/S /D="), "\\");
    EXPECT_EQ(Folder("/S /D=   "), "\\");
    EXPECT_EQ(Folder("/S /D=C:\\a/b\\c"), "C:\\a\\");
    // Only blanks are trimmed: a tab stays part of the value.
    EXPECT_EQ(Folder("/S /D=C:\\a\t /user x"), "C:\\a\t\\");
    // The first "/D=" counts.
    EXPECT_EQ(Folder("/S /D=C:\\one /D=C:\\two"), "C:\\one\\");
    Folder("/S /d=C:\\Games", ArgValue::Absent);
}

TEST(CommandLine, ClientFolderEndingInGbkTrailByte5CStillGetsItsSeparator) {
    // 乗 is 81 5C in GBK: its trail byte is not a backslash.
    EXPECT_EQ(Folder("/S /D=C:\\\x81\x5C"), "C:\\\x81\x5C\\");
    EXPECT_EQ(Folder("/S /D=C:\\\x81\x5C\\"), "C:\\\x81\x5C\\");
}

TEST(CommandLine, ClientFolderThatDoesNotFitIsRefused) {
    std::string fits = "/S /D=C:\\" + std::string(255, 'a');       // 259 with the separator
    std::string tooLong = "/S /D=C:\\" + std::string(256, 'a');    // 260 with the separator
    std::string valueTooLong = "/S /D=C:\\" + std::string(300, 'a');
    EXPECT_EQ(Folder(fits.c_str()).size(), 259u);
    EXPECT_EQ(Folder(tooLong.c_str(), ArgValue::TooLong), "");
    size_t length = 0;
    char folder[kPathBufferSize];
    EXPECT_EQ(ParseClientFolder(valueTooLong.c_str(), folder, &length), ArgValue::TooLong);
    EXPECT_EQ(length, 303u);
    // A long remainder after the value does not matter, only the value does.
    std::string longTail = "/S /D=C:\\x /user " + std::string(1000, 't');
    EXPECT_EQ(Folder(longTail.c_str()), "C:\\x\\");
}

TEST(CommandLine, MonitorTitleCases) {
    EXPECT_EQ(Title("/S /D=C:\\Games\\Velmora /user Launcher", true), "Launcher");
    EXPECT_EQ(Title("/S /user My Launcher Window   ", true), "My Launcher Window");
    EXPECT_EQ(Title("/S /user a/b", true), "a");
    EXPECT_EQ(Title("/S", false), "");
    EXPECT_EQ(Title("/S /D=C:\\x /user", false), "");
    EXPECT_EQ(Title("Launcher  /S", false), "Launcher");
    EXPECT_EQ(Title("/S /USER Launcher", false), "");
    EXPECT_EQ(Title("/S /user ", true), "");
}

TEST(CommandLine, MonitorTitleThatDoesNotFitIsRefused) {
    std::string tooLong = "/S /user " + std::string(260, 'w');
    char title[kPathBufferSize];
    bool hadUser = false;
    EXPECT_EQ(ParseMonitorTitle(tooLong.c_str(), title, &hadUser, nullptr), ArgValue::TooLong);
    EXPECT_TRUE(hadUser);
    EXPECT_STREQ(title, "");
    std::string fits = "/S /user " + std::string(259, 'w');
    EXPECT_EQ(ParseMonitorTitle(fits.c_str(), title, &hadUser, nullptr), ArgValue::Found);
    EXPECT_EQ(std::string(title).size(), 259u);
}
