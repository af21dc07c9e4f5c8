#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/InstallLog.h"
#include "package_test_support.h"

namespace {

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// The message part of a line, after checking its "[hh:mm:ss] " stamp.
std::string Message(const std::string& line) {
    EXPECT_GE(line.size(), 11u);
    EXPECT_EQ(line[0], '[');
    EXPECT_EQ(line[3], ':');
    EXPECT_EQ(line[6], ':');
    EXPECT_EQ(line[9], ']');
    EXPECT_EQ(line[10], ' ');
    return line.substr(11);
}

class InstallLogTest : public ::testing::Test {
protected:
    void TearDown() override { InstallLog::Close(); }
    velsupport::TempFolder folder_{"vel_pkg"};
    std::string path_ = folder_ / "install.log";
};

}  // namespace

TEST_F(InstallLogTest, WritesStampedLinesAndTextsVerbatim) {
    ASSERT_TRUE(InstallLog::OpenPath(path_.c_str()));
    InstallLog::Write("命令行参数:%s", "/S /D=C:\\Games");
    InstallLog::Write("发送错误消息:%d", 506);
    InstallLog::WriteText("C:\\100%s\\%d%n");
    auto lines = ReadLines(path_);  // flushed per line: readable while the log is open
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(Message(lines[0]), "命令行参数:/S /D=C:\\Games");
    EXPECT_EQ(Message(lines[1]), "发送错误消息:506");
    EXPECT_EQ(Message(lines[2]), "C:\\100%s\\%d%n");
}

TEST_F(InstallLogTest, ReopeningEmptiesTheFileAndClosedLogIgnoresWrites) {
    ASSERT_TRUE(InstallLog::OpenPath(path_.c_str()));
    InstallLog::Write("first run");
    InstallLog::Close();
    InstallLog::Write("lost");
    InstallLog::WriteText("lost too");
    ASSERT_EQ(ReadLines(path_).size(), 1u);
    ASSERT_TRUE(InstallLog::OpenPath(path_.c_str()));
    InstallLog::Write("second run");
    auto lines = ReadLines(path_);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Message(lines[0]), "second run");
}

TEST_F(InstallLogTest, OverLongMessagesAreCutAtACharacterBoundary) {
    ASSERT_TRUE(InstallLog::OpenPath(path_.c_str()));
    std::string ascii(1000, 'a');
    std::string chinese;
    for (int i = 0; i < 300; ++i) chinese += "表";
    InstallLog::WriteText(ascii.c_str());
    InstallLog::Write("%s", chinese.c_str());
    InstallLog::WriteText(("x" + chinese).c_str());
    InstallLog::Write("after");
    auto lines = ReadLines(path_);
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i = 0; i < 3; ++i) {
        // "[hh:mm:ss] " + message + line end within 259 bytes.
        EXPECT_LE(lines[i].size() + 1, 259u);
        std::string message = Message(lines[i]);
        EXPECT_GT(message.size(), 200u);
        size_t start = i == 2 ? 1 : 0;
        if (i > 0) {
            EXPECT_EQ((message.size() - start) % 2, 0u) << "half a GBK character left at the end";
        }
    }
    EXPECT_EQ(Message(lines[3]), "after");
}

TEST(InstallLogPath, BesideTheProgramWithGbkTrailByteFolders) {
    char path[kPathBufferSize];
    ASSERT_TRUE(InstallLog::BuildPathBeside("C:\\Games\\\x81\x5C\\Patch.exe", "install.log", path));
    EXPECT_STREQ(path, "C:\\Games\\\x81\x5C\\install.log");
    // The trail byte of 乗 must not be taken for the last backslash.
    ASSERT_TRUE(InstallLog::BuildPathBeside("C:\\\x81\x5CPatch.exe", "install.log", path));
    EXPECT_STREQ(path, "C:\\install.log");
    ASSERT_TRUE(InstallLog::BuildPathBeside("Patch.exe", "install.log", path));
    EXPECT_STREQ(path, "Patch.exe\\install.log");
}

TEST(InstallLogPath, PathsOver258CharactersAreRefused) {
    char path[kPathBufferSize];
    std::string folder = "C:\\" + std::string(243, 'f');  // 246 characters
    std::string program = folder + "\\p.exe";
    ASSERT_TRUE(InstallLog::BuildPathBeside(program.c_str(), "install.log", path));  // 246+1+11 = 258
    EXPECT_EQ(strlen(path), 258u);
    std::string longer = "C:\\" + std::string(244, 'f') + "\\p.exe";
    EXPECT_FALSE(InstallLog::BuildPathBeside(longer.c_str(), "install.log", path));
    EXPECT_STREQ(path, "");
}

TEST(InstallLogStamp, HasTheClockFormat) {
    const char* stamp = InstallLog::Timestamp();
    ASSERT_EQ(strlen(stamp), 10u);
    int h = -1, m = -1, s = -1;
    ASSERT_EQ(sscanf(stamp, "[%2d:%2d:%2d]", &h, &m, &s), 3);
    EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && s >= 0 && s <= 60);
}
