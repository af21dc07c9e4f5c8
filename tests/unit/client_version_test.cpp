#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "client/ClientVersion.h"
#include "package_test_support.h"

namespace {

// ReadVersionFromStream over the given file content; the version, or -2 when there is none.
int64_t ReadFrom(const std::string& content) {
    velsupport::TempFolder folder{"vel_pkg"};
    std::string path = folder / "update.cfg";
    EXPECT_TRUE(velsupport::WriteFileText(path, content));
    FILE* f = fopen(path.c_str(), "r");
    uint32_t version = 0;
    bool found = ReadVersionFromStream(f, &version);
    fclose(f);
    return found ? static_cast<int64_t>(version) : -2;
}

}  // namespace

TEST(ParseVersion, Components) {
    EXPECT_EQ(ParseVersion("1.3.0.190"), 0x010300BEu);
    EXPECT_EQ(ParseVersion(" 1. 3. 0. 190"), 0x010300BEu);
    EXPECT_EQ(ParseVersion("1.3.0.256"), 0x01030100u);      // excess falls on the component before
    EXPECT_EQ(ParseVersion("1.3.0.190.7"), 0x010300BEu);
    EXPECT_EQ(ParseVersion("1.3.0.190\r"), 0x010300BEu);
    EXPECT_EQ(ParseVersion("1.3.0.190 trailing"), 0x010300BEu);
    EXPECT_EQ(ParseVersion("0.0.0.0"), 0u);
    EXPECT_EQ(ParseVersion("255.255.255.255"), 0xFFFFFFFFu);
}

TEST(ParseVersion, ShortAndOddTexts) {
    EXPECT_EQ(ParseVersion("1.3"), 0x01030000u);  // missing components read as 0
    EXPECT_EQ(ParseVersion("7"), 0x07000000u);
    EXPECT_EQ(ParseVersion(""), 0u);
    EXPECT_EQ(ParseVersion("x.y.z.w"), 0u);
    // Only the first 63 characters are looked at.
    std::string padded = std::string(62, ' ') + "1.2.3.4";
    EXPECT_EQ(ParseVersion(padded.c_str()), 0x01000000u);
}

TEST(ReadVersion, KeyMustBeExactlyVer) {
    EXPECT_EQ(ReadFrom("ver=1.3.0.190\n"), 0x010300BE);
    EXPECT_EQ(ReadFrom("realver=1.3.0.200\nver=1.3.0.190\n"), 0x010300BE);
    EXPECT_EQ(ReadFrom("Ver=1.3.0.190\nver =1.3.0.190\n"), -2);
    EXPECT_EQ(ReadFrom(" ver=1.3.0.190\n"), -2);
    EXPECT_EQ(ReadFrom("\xEF\xBB\xBFver=1.3.0.190\n"), -2);
    EXPECT_EQ(ReadFrom("\xEF\xBB\xBFver=1.3.0.190\nver=1.3.0.189\n"), 0x010300BD);
    EXPECT_EQ(ReadFrom("exe=velmora.exe\r\nver=1.3.0.190\r\nport=80\r\n"), 0x010300BE);
    EXPECT_EQ(ReadFrom("ver=1.3.0.190"), 0x010300BE);  // last line without a break
    EXPECT_EQ(ReadFrom("ver=1.0.0.1\nver=2.0.0.2\n"), 0x01000001);  // the first match wins
    EXPECT_EQ(ReadFrom(""), -2);
    EXPECT_EQ(ReadFrom("no equals here\n"), -2);
}

TEST(ReadVersion, OverLongLinesAreSkippedWhole) {
    // The tail of a long line must never pass for a "ver" line of its own.
    std::string trap = std::string(255, 'x') + "ver=9.9.9.9\n";
    EXPECT_EQ(ReadFrom(trap + "ver=1.3.0.190\n"), 0x010300BE);
    EXPECT_EQ(ReadFrom(trap), -2);
    std::string huge = "a=" + std::string(100000, 'y') + "\nver=1.2.3.4\n";
    EXPECT_EQ(ReadFrom(huge), 0x01020304);
    // A line of exactly 255 characters still counts.
    std::string exact = "ver=1.2.3.4" + std::string(255 - 11, ' ') + "\n";
    EXPECT_EQ(ReadFrom(exact), 0x01020304);
    EXPECT_EQ(ReadFrom("ver=1.2.3.4" + std::string(255 - 11, ' ')), 0x01020304);
}

TEST(ReadVersion, NulBytesDoNotShortenALine) {
    using namespace std::string_literals;
    // A NUL early in a long line: its tail is still part of that line, not a "ver" line.
    std::string trap = "x\0"s + std::string(253, 'x') + "ver=9.9.9.9\n";
    EXPECT_EQ(ReadFrom(trap + "ver=1.3.0.190\n"), 0x010300BE);
    EXPECT_EQ(ReadFrom(trap), -2);
    // A line with a NUL that fits is read as it is; the key must still be exactly "ver".
    EXPECT_EQ(ReadFrom("ver=1.2.3.4\0junk\n"s), 0x01020304);
    EXPECT_EQ(ReadFrom("ver\0=1.2.3.4\nver=5.6.7.8\n"s), 0x05060708);
    EXPECT_EQ(ReadFrom("\0ver=1.2.3.4\n"s), -2);
}

TEST(VersionMessage, BothForms) {
    EXPECT_EQ(FormatVersionMessage(0x010300BD, 0x010300BD, 0x010300BE),
              "当前客户端版本: 1.3.0.189  \n更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190");
    EXPECT_EQ(FormatVersionMessage(0, 0, 0x010300BE), "当前客户端版本: 0.0.0.0  更新包支持更新到版本 1.3.0.190");
    EXPECT_EQ(FormatVersionMessage(0xFFFFFFFF, 1, 0xFFFFFFFF),
              "当前客户端版本: 255.255.255.255  \n更新包支持: 从版本 0.0.0.1 更新到版本 255.255.255.255");
}

TEST(VersionRange, Boundaries) {
    const uint32_t from = 0x010300BD, to = 0x010300BE;
    EXPECT_EQ(CheckVersionRange(0x010300BD, from, to), Result::Ok);
    EXPECT_EQ(CheckVersionRange(0x010300BE, from, to), Result::Ok);
    EXPECT_EQ(CheckVersionRange(0x010300BC, from, to), Result::ClientTooOld);
    EXPECT_EQ(CheckVersionRange(0x010300BF, from, to), Result::ClientUpToDate);
    EXPECT_EQ(CheckVersionRange(0, 0, to), Result::Ok);
    // Unsigned comparison: 200.0.0.0 is above 1.0.0.0.
    EXPECT_EQ(CheckVersionRange(0xC8000000u, 0, 0x01000000u), Result::ClientUpToDate);
}
