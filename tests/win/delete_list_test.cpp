// The patch's delete list applied to a real client folder: line ends, blanks, read-only content,
// over-long lines, and names that try to reach outside the client folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/FileSystem.h"
#include "install/DeleteList.h"
#include "install/Transaction.h"
#include "scratch_folder.h"

namespace {

using Names = std::vector<std::string>;

// The list as an installation applies it: every name it yields is a removal step of a commit.
// False when the list cannot be read or the commit fails.
bool ApplyDeleteList() {
    std::vector<std::string> targets;
    if (!ReadDeleteList("UpdateDelList.txt", &targets)) return false;
    Transaction transaction(0);
    if (!transaction.Begin()) return false;
    for (const std::string& target : targets) transaction.AddRemove(target);
    MergeTimer timer;
    std::string failure;
    return transaction.Commit(timer, &failure) == Result::Ok;
}

// The client folder is "client" inside the scratch folder and the current folder; files beside
// it stand for everything outside the game.
class DeleteList : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch_.Valid());
        ASSERT_TRUE(CreateDirectoryA((scratch_ / "client").c_str(), nullptr));
        ASSERT_TRUE(WriteRawFile(scratch_ / "outside.txt", "o"));
        ASSERT_TRUE(CreateDirectoryA((scratch_ / "other").c_str(), nullptr));
        ASSERT_TRUE(WriteRawFile(scratch_ / "other\\x.txt", "x"));
        ASSERT_TRUE(scratch_.Enter("client"));
    }
    static void WriteList(const std::string& bytes) { ASSERT_TRUE(WriteRawFile("UpdateDelList.txt", bytes)); }
    // What is left in the client folder, the list itself aside.
    Names ClientNames() const {
        Names names;
        for (const std::string& name : NamesIn(scratch_ / "client")) {
            if (name != "UpdateDelList.txt") names.push_back(name);
        }
        return names;
    }
    void ExpectOutsideUntouched() const {
        EXPECT_EQ(NamesIn(scratch_.Path()), (Names{"client", "other", "outside.txt"}));
        EXPECT_EQ(NamesIn(scratch_ / "other"), (Names{"x.txt"}));
    }
    velsupport::TempFolder scratch_{"veldel"};
};

}  // namespace

TEST_F(DeleteList, MissingOrEmptyListDeletesNothing) {
    ASSERT_TRUE(WriteRawFile("keep.txt", "k"));
    EXPECT_FALSE(ApplyDeleteList());
    WriteList("");
    EXPECT_TRUE(ApplyDeleteList());
    EXPECT_EQ(ClientNames(), (Names{"keep.txt"}));
}

TEST_F(DeleteList, LineEndsAndBlanks) {
    for (const char* name : {"crlf.txt", "lf.txt", "space.txt", "tab.txt", "last.txt", " lead.txt", "lead.txt",
                             "keep.txt"}) {
        ASSERT_TRUE(WriteRawFile(name, "x")) << name;
    }
    ASSERT_TRUE(MakeDirs("sub"));
    ASSERT_TRUE(WriteRawFile("sub\\slash.txt", "x"));
    // Blanks at the start of a line belong to the name; blank-only lines name nothing.
    WriteList("crlf.txt\r\nlf.txt\nspace.txt  \r\ntab.txt\t\n   \n\t\r\n\n lead.txt\nsub/slash.txt\nlast.txt");

    EXPECT_TRUE(ApplyDeleteList());
    EXPECT_EQ(ClientNames(), (Names{"keep.txt", "lead.txt", "sub"}));
    EXPECT_EQ(NamesIn("sub"), Names{});
}

TEST_F(DeleteList, FoldersGoWithTheirReadOnlyContentAndProtectedFilesGoToo) {
    ASSERT_TRUE(MakeDirs("Res\\old\\deeper"));
    ASSERT_TRUE(WriteRawFile("Res\\old\\a.bin", "a", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("Res\\old\\deeper\\b.bin", "b", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(WriteRawFile("Res\\kept.bin", "k"));
    ASSERT_TRUE(WriteRawFile("ro.dll", "r", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("hidden.dat", "h", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    WriteList("Res\\old\r\nro.dll\r\nhidden.dat\r\nmissing.txt\r\n");

    EXPECT_TRUE(ApplyDeleteList());
    EXPECT_EQ(ClientNames(), (Names{"Res"}));
    EXPECT_EQ(NamesIn("Res"), (Names{"kept.bin"}));
}

TEST_F(DeleteList, OverLongLinesAreSkippedWholeAndReadingGoesOn) {
    for (const char* name : {"f", "tail.txt", "ail.txt", "after.txt"}) ASSERT_TRUE(WriteRawFile(name, "x"));
    // 256 characters make a usable name; 257 leave no room in the path.
    const std::string folder = std::string(100, 'd');
    const std::string name256 = folder + "\\" + std::string(155, 'n');
    const std::string name257 = folder + "\\" + std::string(156, 'n');
    ASSERT_TRUE(MakeDirs(folder.c_str()));
    ASSERT_TRUE(scratch_.Enter("client\\" + folder));
    ASSERT_TRUE(WriteRawFile(std::string(155, 'n'), "x"));
    ASSERT_TRUE(WriteRawFile(std::string(156, 'n'), "x"));
    ASSERT_TRUE(scratch_.Enter("client"));
    // Cut to its first characters, the first line would name "f"; the rest of the second line
    // must not be read as a line of its own.
    WriteList("f" + std::string(299, ' ') + "\r\n" + std::string(258, 'q') + "tail.txt\r\n" + name257 + "\r\n" +
              name256 + "\r\nafter.txt\r\n");

    EXPECT_TRUE(ApplyDeleteList());
    EXPECT_EQ(ClientNames(), (Names{"ail.txt", folder, "f", "tail.txt"}));
    EXPECT_EQ(NamesIn(folder), (Names{std::string(156, 'n')}));
}

TEST_F(DeleteList, NamesLeadingOutOfTheClientFolderAreNeverActedOn) {
    ASSERT_TRUE(MakeDirs("sub"));
    ASSERT_TRUE(WriteRawFile("sub\\keep.txt", "k"));
    ASSERT_TRUE(WriteRawFile("keep.txt", "k"));
    ASSERT_TRUE(WriteRawFile("last.txt", "x"));
    const std::string outside = scratch_ / "outside.txt";
    const std::string client = scratch_ / "client";
    const std::string rootRelative = outside.substr(2);  // "\\users\\...", without the drive
    const std::string hostile[] = {
        "..\\outside.txt", "../other", "sub\\..\\..\\outside.txt", "sub/../../other",
        "..", "...", ". ", ".. \\outside.txt", ".", ".\\", "sub\\..", "sub\\.\\..",
        outside, client, scratch_ / "other", rootRelative, "\\" + rootRelative, "/" + rootRelative.substr(1),
        outside.substr(0, 2) + "..\\outside.txt", "keep.txt:stream",
        "\\\\?\\" + outside, "",
    };
    std::string list;
    for (const std::string& line : hostile) list += line + "\r\n";
    WriteList(list + "last.txt");

    EXPECT_TRUE(ApplyDeleteList());
    ExpectOutsideUntouched();
    // Inside the client folder only the one plain name went.
    EXPECT_EQ(ClientNames(), (Names{"keep.txt", "sub"}));
    EXPECT_EQ(NamesIn("sub"), (Names{"keep.txt"}));
}

// A device name opens the device in any folder: such lines never become a target, also with an
// extension, in another letter case, deeper in the path or with what Windows strips at the end.
TEST_F(DeleteList, DosDeviceNamesAreNeverTargets) {
    WriteList("CON\r\nnul.txt\r\nsub\\Aux\r\nPRN.log.\r\nCOM1 \r\nlpt9\\x.bin\r\nCOM3 .ini\r\n"
              "console.txt\r\nCOM10\r\nsub/lpt\r\n");
    std::vector<std::string> targets;
    ASSERT_TRUE(ReadDeleteList("UpdateDelList.txt", &targets));
    EXPECT_EQ(targets, (Names{".\\console.txt", ".\\COM10", ".\\sub/lpt"}));
}
