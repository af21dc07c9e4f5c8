// File and folder operations against the real file system: attribute resets, parent folders,
// GBK names whose trail byte is '\\', and paths that do not fit the platform's buffers.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/FileSystem.h"
#include "scratch_folder.h"

namespace {

using Names = std::vector<std::string>;

class FileSystem : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        ASSERT_TRUE(scratch_.Enter());
    }
    velsupport::TempFolder scratch_{"velfs"};
};

// A relative path of exactly `length` characters: folders of 100 characters, then a last part.
std::string PathOfLength(size_t length, char last = '\0') {
    std::string path;
    char letter = 'a';
    while (path.size() + 101 < length) {
        path += std::string(100, letter++) + "\\";
    }
    path += std::string(length - path.size() - (last ? 1 : 0), 'z');
    if (last) path += last;
    return path;
}

}  // namespace

TEST_F(FileSystem, MakeDirsTreatsBothSeparatorsAndTheLastComponentAsFolders) {
    EXPECT_TRUE(MakeDirs("a\\b\\"));
    EXPECT_TRUE(MakeDirs("c/d"));
    EXPECT_TRUE(IsFolder("a\\b"));
    EXPECT_TRUE(IsFolder("c\\d"));
    EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"a", "c"}));

    // Existing folders and their content are left alone; blanks around the path are ignored.
    ASSERT_TRUE(WriteRawFile("a\\b\\keep.txt", "k"));
    EXPECT_TRUE(MakeDirs(" a/b/e \t"));
    EXPECT_TRUE(Exists("a\\b\\keep.txt"));
    EXPECT_EQ(NamesIn(scratch_ / "a\\b"), (Names{"e", "keep.txt"}));
}

TEST_F(FileSystem, WriteWholeFileOverReadOnlyHiddenFilesLeavesArchiveOnly) {
    ASSERT_TRUE(WriteRawFile("ro.bin", "old content", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("hs.bin", "old", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    EXPECT_TRUE(WriteWholeFile("ro.bin", "new", 3));
    EXPECT_TRUE(WriteWholeFile("hs.bin", "fresh", 5));

    std::string bytes;
    ASSERT_TRUE(velsupport::ReadFileText("ro.bin", &bytes));
    EXPECT_EQ(bytes, "new");  // truncated, not overlaid
    EXPECT_EQ(AttributesOf("ro.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(velsupport::ReadFileText("hs.bin", &bytes));
    EXPECT_EQ(bytes, "fresh");
    EXPECT_EQ(AttributesOf("hs.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(FileSystem, WriteWholeFileCreatesParentFoldersAndEmptyFiles) {
    const char bytes[] = {'\0', '\n', '\r', '\x1a', 'x'};  // binary: no line-end translation
    EXPECT_TRUE(WriteWholeFile("x\\y\\z.bin", bytes, sizeof(bytes)));
    EXPECT_TRUE(WriteWholeFile("p/q/empty.bin", nullptr, 0));

    std::string read;
    ASSERT_TRUE(velsupport::ReadFileText("x\\y\\z.bin", &read));
    EXPECT_EQ(read, std::string(bytes, sizeof(bytes)));
    ASSERT_TRUE(velsupport::ReadFileText("p\\q\\empty.bin", &read));
    EXPECT_EQ(read, "");
    EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"p", "x"}));
}

TEST_F(FileSystem, CopyFileOverReplacesReadOnlyTargetsAndCreatesFolders) {
    ASSERT_TRUE(WriteRawFile("source.bin", "source bytes", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("target.bin", "old", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

    EXPECT_TRUE(CopyFileOver("target.bin", "source.bin"));
    EXPECT_TRUE(CopyFileOver("new\\dir/copy.bin", "source.bin"));
    EXPECT_FALSE(CopyFileOver("never.bin", "missing.bin"));

    std::string bytes;
    ASSERT_TRUE(velsupport::ReadFileText("target.bin", &bytes));
    EXPECT_EQ(bytes, "source bytes");
    // The copy takes the archive attribute alone, not the source's read-only one.
    EXPECT_EQ(AttributesOf("target.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(velsupport::ReadFileText("new\\dir\\copy.bin", &bytes));
    EXPECT_EQ(bytes, "source bytes");
    EXPECT_EQ(AttributesOf("new\\dir\\copy.bin"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(Exists("never.bin"));
}

TEST_F(FileSystem, DeleteFileForceAndFileExists) {
    ASSERT_TRUE(WriteRawFile("ro.txt", "r", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(CreateDirectoryA("folder", nullptr));

    EXPECT_TRUE(FileExists("folder"));
    EXPECT_TRUE(FileExists("ro.txt"));
    EXPECT_TRUE(FileExists("*.txt"));
    EXPECT_FALSE(FileExists("missing.txt"));
    EXPECT_FALSE(FileExists("*.none"));

    EXPECT_NE(DeleteFileForce("ro.txt"), 0);
    EXPECT_FALSE(Exists("ro.txt"));
    EXPECT_EQ(DeleteFileForce("ro.txt"), 0);
}

TEST_F(FileSystem, RemoveTreeRemovesNestedFoldersWithReadOnlyFiles) {
    ASSERT_TRUE(MakeDirs("tree\\one\\two"));
    ASSERT_TRUE(MakeDirs("tree\\empty"));
    ASSERT_TRUE(WriteRawFile("tree\\top.txt", "t", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("tree\\one\\hidden.txt", "h", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(WriteRawFile("tree\\one\\two\\deep.txt", "d", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(MakeDirs("second\\inner"));
    ASSERT_TRUE(WriteRawFile("second\\inner\\x.txt", "x", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("sibling.txt", "s"));

    RemoveTree("tree");
    RemoveTree("second\\");  // a trailing separator names the same folder
    RemoveTree("missing");
    RemoveTree("sibling.txt");  // not a folder: left alone

    EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"sibling.txt"}));
}

TEST_F(FileSystem, GbkNamesWithBackslashTrailBytes) {
    // "乗" is 81 5C in GBK: a plain byte scan would see a separator in its middle.
    EXPECT_TRUE(WriteWholeFile("乗.txt", "1", 1));
    EXPECT_TRUE(WriteWholeFile("乗\\表.txt", "2", 1));
    EXPECT_TRUE(MakeDirs("表\\乗"));
    ASSERT_TRUE(WriteRawFile("source.txt", "3"));
    EXPECT_TRUE(CopyFileOver("乗\\乗\\乗.txt", "source.txt"));

    EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"source.txt", "乗", "乗.txt", "表"}));
    EXPECT_EQ(NamesIn(scratch_ / "乗"), (Names{"乗", "表.txt"}));
    EXPECT_EQ(NamesIn(scratch_ / "乗\\乗"), (Names{"乗.txt"}));
    EXPECT_TRUE(IsFolder("表\\乗"));
    EXPECT_TRUE(FileExists("乗\\表.txt"));

    EXPECT_NE(DeleteFileForce("乗.txt"), 0);
    RemoveTree("乗");
    RemoveTree("表");
    EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"source.txt"}));
}

TEST_F(FileSystem, MakeDirsRefusesPathsWithoutRoomForTheClosingSeparator) {
    // 259 characters fill the buffer: the separator MakeDirs appends no longer fits.
    EXPECT_FALSE(MakeDirs(PathOfLength(259).c_str()));
    EXPECT_FALSE(MakeDirs(PathOfLength(260, '\\').c_str()));
    EXPECT_FALSE(MakeDirs(PathOfLength(400).c_str()));
    EXPECT_EQ(NamesIn(scratch_.Path()), Names{});

    // A path that already ends with its separator, or leaves room for one, is made.
    EXPECT_TRUE(MakeDirs(PathOfLength(259, '\\').c_str()));
    EXPECT_TRUE(velsupport::FolderExists(std::string(100, 'a')));
    RemoveTree(std::string(100, 'a').c_str());
    EXPECT_TRUE(MakeDirs(PathOfLength(258).c_str()));
    EXPECT_TRUE(velsupport::FolderExists(std::string(100, 'a')));
}

TEST_F(FileSystem, OverLongNamesAreRefusedWithoutSideEffects) {
    const std::string tooLong = PathOfLength(260);
    const std::string wayTooLong = PathOfLength(1000);
    ASSERT_TRUE(WriteRawFile("source.txt", "s"));

    EXPECT_FALSE(WriteWholeFile(tooLong.c_str(), "x", 1));
    EXPECT_FALSE(WriteWholeFile(wayTooLong.c_str(), "x", 1));
    EXPECT_EQ(OpenForWriting(tooLong.c_str(), "wb"), nullptr);
    EXPECT_FALSE(CopyFileOver(tooLong.c_str(), "source.txt"));
    EXPECT_FALSE(CopyFileOver("copy.txt", tooLong.c_str()));
    EXPECT_FALSE(FileExists(wayTooLong.c_str()));
    EXPECT_EQ(DeleteFileForce(wayTooLong.c_str()), 0);
    RemoveTree(wayTooLong.c_str());
    ResetAttributes(wayTooLong.c_str());

    // Nothing was made for them, not even the leading folders.
    EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"source.txt"}));
}

TEST_F(FileSystem, RemoveTreeLeavesChildrenWhosePathDoesNotFit) {
    // A folder with a 201-character name; its children are made from inside it, where their
    // relative names are short.
    const std::string deep = std::string(100, 'd') + "\\" + std::string(100, 'e');
    ASSERT_TRUE(MakeDirs(deep.c_str()));
    ASSERT_TRUE(scratch_.Enter(deep));
    ASSERT_TRUE(WriteRawFile("short.txt", "s", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile(std::string(80, 'L') + ".txt", "l"));
    ASSERT_TRUE(scratch_.Enter());

    RemoveTree(deep.c_str());

    // The child that fits is gone; the one that does not stays, and so does its folder.
    EXPECT_EQ(NamesIn(deep), (Names{std::string(80, 'L') + ".txt"}));
}
