// The archive choice, the temporary update package and the archive list in a real client folder:
// each test owns a scratch folder with a "package" folder, made current, and a launcher reporter without a window.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "client/ClientArchive.h"
#include "install/TemporaryPackage.h"
#include "report/LauncherReporter.h"
#include "scratch_folder.h"
#include "support/MonitorWindow.h"

namespace {

using Strings = std::vector<std::string>;

bool MakeArchive(const char* path, const Strings& namesAndContents) {
    PackageWriter writer;
    if (!writer.Open(path)) return false;
    for (size_t i = 0; i + 1 < namesAndContents.size(); i += 2) {
        const std::string& content = namesAndContents[i + 1];
        uLongf length = compressBound(static_cast<uLong>(content.size()));
        std::vector<Bytef> stored(length);
        if (compress(stored.data(), &length, reinterpret_cast<const Bytef*>(content.data()),
                     static_cast<uLong>(content.size())) != Z_OK ||
            !writer.Add(namesAndContents[i], stored.data(), static_cast<uint32_t>(content.size()),
                        static_cast<uint32_t>(length), 1))
            return false;
    }
    return writer.Save();
}

// Names and inflated contents, alternating, as MakeArchive takes them.
Strings ArchiveItems(const char* path) {
    Strings items;
    PackageReader reader;
    PackageEntry entry;
    for (bool more = reader.Open(path) && reader.First(entry); more; more = reader.Next(entry)) {
        std::string content(entry.size + 1, '\0');
        if (!reader.ReadUnpacked(reinterpret_cast<uint8_t*>(&content[0]), entry.size, entry.dataOffset, entry.storedSize))
            content = "<unreadable>";
        content.resize(entry.size);
        items.push_back(entry.name);
        items.push_back(content);
    }
    return items;
}

std::string FileText(const char* path) {
    std::string bytes;
    return velsupport::ReadFileText(path, &bytes) ? bytes : "<missing>";
}

const char* const kArchive = "package\\A.pkg";
const char* const kTemp = "package\\A.pkg.tmp";
const char* const kList = "package\\package.cfg";

class TemporaryPackage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Valid() && folder_.Enter());
        ASSERT_TRUE(CreateDirectoryA("package", nullptr));
        trailer_.toVersion = 0x010300BE;
        ASSERT_TRUE(MakeArchive("patch.pkg", {"ResBin\\b.dds", "new b", "ResBin\\C.dds", "new C"}));
        ASSERT_TRUE(patch_.Open("patch.pkg"));
    }

    bool Build(const char* temp = kTemp) { return Build(silent_, temp); }
    bool Build(Reporter& reporter, const char* temp = kTemp) {
        return BuildTemporaryPackage(writer_, temp, kArchive, patch_, &rebuilt_, reporter) == Result::Ok;
    }

    velsupport::TempFolder folder_{"vel-tmppkg"};
    LauncherReporter silent_{reinterpret_cast<HWND>(static_cast<INT_PTR>(1))};  // no window
    PackageTrailer trailer_{};
    ArchiveChoice choice_;
    PackageReader patch_;
    PackageWriter writer_;
    bool rebuilt_ = false;
};

}  // namespace

TEST_F(TemporaryPackage, TemporaryPackageThatCannotBeCreated) {
    const std::string longTemp = "package\\" + std::string(252, 't') + ".tmp";
    EXPECT_FALSE(Build(longTemp.c_str()));  // refused as it is, never cut to another name
    EXPECT_EQ(silent_.StatusText(), "不能建立临时更新包" + longTemp);
    EXPECT_FALSE(patch_.IsOpen());
    EXPECT_TRUE(NamesIn("package").empty());

    ASSERT_TRUE(RemoveDirectoryA("package"));
    ASSERT_TRUE(patch_.Open("patch.pkg"));
    EXPECT_FALSE(Build());
    EXPECT_EQ(silent_.StatusText(), "不能建立临时更新包package\\A.pkg.tmp");
    EXPECT_FALSE(patch_.IsOpen());
    EXPECT_FALSE(writer_.IsOpen());
    EXPECT_FALSE(rebuilt_);
}

TEST_F(TemporaryPackage, MissingClientArchiveStartsEmptyAndReplacesALeftover) {
    ASSERT_TRUE(MakeArchive(kTemp, {"stale", "from an earlier attempt"}));
    ASSERT_TRUE(SetFileAttributesA(kTemp, FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(Build());
    EXPECT_EQ(silent_.StatusText(), "正在生成临时安装文件...");
    EXPECT_FALSE(rebuilt_);
    EXPECT_TRUE(patch_.IsOpen());
    ASSERT_TRUE(writer_.Save());
    EXPECT_TRUE(ArchiveItems(kTemp).empty());
    EXPECT_FALSE(Exists(kArchive));
}

TEST_F(TemporaryPackage, ClientArchiveWithoutEntriesCountsAsRebuilt) {
    ASSERT_TRUE(MakeArchive(kArchive, {}));
    ASSERT_TRUE(Build());
    EXPECT_TRUE(rebuilt_);
    EXPECT_TRUE(writer_.IsOpen());
    EXPECT_TRUE(writer_.Entries().empty());
}

TEST_F(TemporaryPackage, ZeroByteClientArchiveCannotBeOpened) {
    ASSERT_TRUE(WriteRawFile(kArchive, ""));
    EXPECT_FALSE(Build());
    EXPECT_EQ(silent_.StatusText(), "打开数据包package\\A.pkg时出错！");
    EXPECT_FALSE(patch_.IsOpen());
    EXPECT_FALSE(writer_.IsOpen());
    EXPECT_FALSE(rebuilt_);
    EXPECT_TRUE(Exists(kTemp));  // saved empty, deleted by the next attempt
}

TEST_F(TemporaryPackage, KeepsEntriesThePatchDoesNotCarryWithBuildingProgress) {
    ASSERT_TRUE(MakeArchive(kArchive, {"ResBin\\a.dds", "old a", "ResBin\\b.dds", "old b", "ResBin\\c.dds", "old c",
                                       "ResBin/C.dds", "old C", "e4", "", "e5", "", "e6", "", "e7", "", "e8", "",
                                       "e9", ""}));
    velsupport::MonitorWindow monitor("", velsupport::MonitorWindow::Kind::MessageOnly);
    ASSERT_TRUE(monitor.Valid()) << monitor.CreationError();
    LauncherReporter launcher(monitor.Handle());
    launcher.SetProgressRange(0, 7);  // left over from an earlier phase
    ASSERT_TRUE(Build(launcher));
    EXPECT_TRUE(rebuilt_);
    EXPECT_TRUE(patch_.IsOpen());
    // 0 on the old range (the 0 of the new one is a repeat and not sent), then the building
    // phase: count * 100 / 10 / 10.
    std::vector<uint32_t> percentages;
    for (const velsupport::CopyDataRecord& record : monitor.Records()) percentages.push_back(record.data);
    EXPECT_EQ(percentages, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(launcher.ProgressRange(), 10);

    ASSERT_TRUE(writer_.Save());
    EXPECT_EQ(ArchiveItems(kTemp), (Strings{"ResBin\\a.dds", "old a", "ResBin\\c.dds", "old c", "ResBin/C.dds", "old C",
                                            "e4", "", "e5", "", "e6", "", "e7", "", "e8", "", "e9", ""}));
}

TEST_F(TemporaryPackage, UnreadableEntryFailsNamingIt) {
    const char* gbkName = "\xD7\xCA\xD4\xB4\\\x81\x5C.dds";  // 资源\乗.dds, a trail byte 0x5C
    ASSERT_TRUE(MakeArchive(kArchive, {"first", "1", gbkName, "2"}));
    std::string bytes = FileText(kArchive);
    const uint32_t directory = *reinterpret_cast<const uint32_t*>(&bytes[8]);
    const uint32_t beyond = static_cast<uint32_t>(bytes.size());
    // The second record's dataOffset: after record 1, its own name length, 11-byte name and flags.
    bytes.replace(directory + 18 + 5 + 2 + 11 + 4, 4, reinterpret_cast<const char*>(&beyond), 4);
    ASSERT_TRUE(WriteRawFile(kArchive, bytes));

    EXPECT_FALSE(Build());
    EXPECT_EQ(silent_.StatusText(), std::string("生成临时更新包过程中，添加文件") + gbkName + "时出错！");
    EXPECT_FALSE(patch_.IsOpen());
    EXPECT_FALSE(writer_.IsOpen());
    EXPECT_EQ(ArchiveItems(kTemp), (Strings{"first", "1"}));
}

TEST_F(TemporaryPackage, ChoiceLooksAtTheArchiveOnDisk) {
    EXPECT_EQ(ChooseClientArchive(choice_, kList, trailer_), ArchivePick::New);
    EXPECT_EQ(choice_.path, "package\\D010300BE.pkg");
    EXPECT_EQ(choice_.list, (Strings{"D010300BE.pkg"}));

    ASSERT_TRUE(WriteRawFile(kList, "A.pkg\r\nB.pkg\r\n..\\x.pkg\r\nA.pkg 100\r\n"));
    ASSERT_TRUE(WriteRawFile(kArchive, std::string(100, 'x')));
    trailer_.packageLength = 16777216 - 100;
    EXPECT_EQ(ChooseClientArchive(choice_, kList, trailer_), ArchivePick::Listed);
    EXPECT_EQ(choice_.path, kArchive);
    EXPECT_EQ(choice_.list, (Strings{"B.pkg", "..\\x.pkg", "A.pkg"}));

    trailer_.packageLength = 16777216 - 99;
    EXPECT_EQ(ChooseClientArchive(choice_, kList, trailer_), ArchivePick::New);
    EXPECT_EQ(choice_.list, (Strings{"B.pkg", "..\\x.pkg", "A.pkg", "D010300BE.pkg"}));
}
