#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/ArchiveList.h"
#include "package_test_support.h"

namespace {

using Names = std::vector<std::string>;

Names ReadList(const velsupport::TempFolder& dir, const std::string& text) {
    const std::string path = dir / "package.cfg";
    EXPECT_TRUE(velsupport::WriteFileText(path, text));
    Names names{"stale"};
    EXPECT_TRUE(ReadArchiveListFile(path.c_str(), names));
    return names;
}

// Chooses among `names` with the files on disk given as path -> length; records every query.
ArchivePick Choose(Names& names, const std::map<std::string, uint32_t>& disk, uint32_t packageLength, std::string& path,
           std::vector<std::string>* queried = nullptr) {
    ArchiveFileQueries q;
    q.exists = [&](const char* p) {
        if (queried) queried->push_back(p);
        return disk.count(p) != 0;
    };
    q.length = [&](const char* p) { return disk.count(p) ? disk.at(p) : 0u; };
    return ChooseArchive(names, 0x010300BE, packageLength, q, path);
}

const char* const kNew = "D010300BE.pkg";

}  // namespace

TEST(ArchiveList, FirstTokenPerLineEachNameAtItsLastPlace) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    EXPECT_EQ(ReadList(dir, "A.pkg\nB.pkg\nA.pkg\n"), (Names{"B.pkg", "A.pkg"}));
    EXPECT_EQ(ReadList(dir, "  a.pkg  123\r\n\tA.pkg\tx\r\n\r\n   \nC.pkg"), (Names{"a.pkg", "A.pkg", "C.pkg"}));
    EXPECT_TRUE(ReadList(dir, "\n  \n\t\r\n\v\f\n").empty());

    Names names{"stale"};
    EXPECT_FALSE(ReadArchiveListFile((dir / "missing.cfg").c_str(), names));
    EXPECT_TRUE(names.empty());
}

TEST(ArchiveList, LongLinesAreReadInPiecesOf259Bytes) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::string line = "A.pkg";
    line.resize(259, ' ');
    EXPECT_EQ(ReadList(dir, line + "C.pkg more\nB.pkg\n"), (Names{"A.pkg", "C.pkg", "B.pkg"}));
    EXPECT_EQ(ReadList(dir, std::string(300, 'x') + "\n"), (Names{std::string(259, 'x'), std::string(41, 'x')}));
}

TEST(ArchiveList, OnlySingleFileNamesInsideTheFolderAreUsable) {
    // Trail bytes 0x5C and 0x7C belong to their GBK characters.
    for (const char* name : {"D010300BE.pkg", "a.pkg.", "com10.pkg", "CONSOLE", "\x81\x5C.pkg", "\xC4\x7C.pkg"})
        EXPECT_TRUE(IsUsableArchiveName(name)) << name;
    for (const char* name : {"", ".", "..", "..\\x.pkg", "sub/a.pkg", "\\\\srv\\s\\a", "C:a.pkg", "a:stream", "a|b",
                             "a*", "a?", "a\x01", "nul.pkg", "Con", "COM1.pkg", "lpt9", "\x81", "abc\xC4"})
        EXPECT_FALSE(IsUsableArchiveName(name)) << name;

    std::string path = "x";
    EXPECT_TRUE(ArchivePathFor(std::string(251, 'n'), path));  // exactly 259 characters
    EXPECT_EQ(path.size(), 259u);
    EXPECT_FALSE(ArchivePathFor(std::string(252, 'n'), path));
    EXPECT_TRUE(path.empty());
}

TEST(ArchiveList, ExtendsTheLastArchiveUpTo16MiBInUnsigned32Bits) {
    struct Case {
        uint32_t length, packageLength;
        ArchivePick expected;
    };
    const Case cases[] = {
        {16777216 - 1000, 1000, ArchivePick::Listed},  // exactly 16,777,216
        {16777216 - 1000, 1001, ArchivePick::New},   // 16,777,217
        {0xFFFFFFFFu, 0x1000001u, ArchivePick::Listed},  // wraps to 16,777,216
        {0xFFFFFFFFu, 0x1000002u, ArchivePick::New},   // wraps to 16,777,217
    };
    for (const Case& c : cases) {
        Names names{"B.pkg", "A.pkg"};
        std::string path;
        EXPECT_EQ(Choose(names, {{"package\\A.pkg", c.length}}, c.packageLength, path), c.expected) << c.packageLength;
        const bool extended = c.expected == ArchivePick::Listed;
        EXPECT_EQ(path, extended ? "package\\A.pkg" : "package\\D010300BE.pkg");
        EXPECT_EQ(names, extended ? (Names{"B.pkg", "A.pkg"}) : (Names{"B.pkg", "A.pkg", kNew}));
    }
}

TEST(ArchiveList, NewArchiveCases) {
    std::string path;
    Names names;
    EXPECT_EQ(Choose(names, {}, 1, path), ArchivePick::New);
    EXPECT_EQ(names, (Names{kNew}));

    // A missing last archive is extended whatever the package length.
    names = {"B.pkg", "A.pkg"};
    EXPECT_EQ(Choose(names, {{"package\\B.pkg", 1}}, 0xFFFFFFF0u, path), ArchivePick::Listed);
    EXPECT_EQ(path, "package\\A.pkg");

    // An earlier occurrence of the new name moves to the end.
    names = {kNew, "A.pkg"};
    EXPECT_EQ(Choose(names, {{"package\\A.pkg", 16777216}}, 1, path), ArchivePick::New);
    EXPECT_EQ(names, (Names{"A.pkg", kNew}));

    // A last name that is no plain file name stays listed but is never looked at or written.
    for (const std::string& hostile : {std::string("..\\evil.pkg"), std::string("NUL"), std::string(259, 'x')}) {
        names = {"A.pkg", hostile};
        std::vector<std::string> queried;
        EXPECT_EQ(Choose(names, {}, 1, path, &queried), ArchivePick::New);
        EXPECT_EQ(names, (Names{"A.pkg", hostile, kNew}));
        EXPECT_EQ(path, "package\\D010300BE.pkg");
        EXPECT_TRUE(queried.empty());
    }
}

TEST(ArchiveList, WrittenListReadsBackToTheSameNames) {
    const Names names{"B.pkg", "A.pkg", "\xD7\xCA\xD4\xB4.pkg"};
    EXPECT_EQ(ArchiveListText(names), "B.pkg\r\nA.pkg\r\n\xD7\xCA\xD4\xB4.pkg\r\n");
    EXPECT_EQ(ArchiveListText({}), "");
    velsupport::TempFolder folder{"vel_pkg"};
    const std::string path = folder / "package.cfg";
    ASSERT_TRUE(velsupport::WriteFileText(path, ArchiveListText(names)));
    Names back;
    ASSERT_TRUE(ReadArchiveListFile(path.c_str(), back));
    EXPECT_EQ(back, names);
}
