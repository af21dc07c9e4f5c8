// velpack diff: the patch between two client folders, applied to the old one, must give the new
// one. "Applied" here is a model of the installer built from its portable pieces (archive list
// choice, resource entries, archive reader and writer); the Wine tests run the real installer.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "GbkNames.h"
#include "HostFiles.h"
#include "PackTool.h"
#include "TreeDiff.h"
#include "base/PathText.h"
#include "install/ResourceEntries.h"
#include "package/ArchiveList.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "support/Files.h"
#include "support/TempFolder.h"
#include "velpack/GeneratedClients.h"

namespace {

using namespace clientpairs;

void RemovePath(const std::string& path) {
    if (IsDirectory(path)) {
        RemoveFolderTree(path);
    } else {
        SetReadOnly(path, false);
        RemoveFile(path);
    }
}

void PutFile(const std::string& path, const std::string& data) {
    if (IsRegularFile(path)) SetReadOnly(path, false);
    ASSERT_TRUE(velsupport::WriteFileText(path, data)) << path;
    SetReadOnly(path, false);
}

// The installer's merge of the resource index, on files.
void MergeIndex(const std::string& root, const std::string& newList) {
    const std::string list = HostPath(root, "RAVN\\RAVNFileList.ini");
    const std::string reserve = HostPath(root, "RAVN\\RAVNReserve\\RAVNFileList.ini");
    std::string current;
    const bool haveCurrent = velsupport::ReadFileText(list, &current);
    if (haveCurrent && current == newList) return;
    ASSERT_TRUE(velsupport::MakeFolders(HostPath(root, "RAVN\\RAVNReserve")));
    if (haveCurrent) {
        PutFile(reserve, current);
    } else if (velsupport::FileExists(reserve)) {
        RemovePath(reserve);
    }
    const std::vector<std::string> oldPatches = haveCurrent ? IndexListPatches(current) : std::vector<std::string>();
    const std::vector<std::string> newPatches = IndexListPatches(newList);
    if (newPatches.size() == 1 && !oldPatches.empty()) {
        for (const std::string& name : oldPatches) {
            if (std::find(newPatches.begin(), newPatches.end(), name) != newPatches.end()) continue;
            const std::string from = HostPath(root, "RAVN\\RAVNDownload\\" + name);
            std::string data;
            if (!velsupport::ReadFileText(from, &data)) continue;
            PutFile(HostPath(root, "RAVN\\RAVNReserve\\" + name), data);
            RemovePath(from);
        }
    }
    PutFile(list, newList);
}

// Installs the package on the client folder the way the installer does, in the order of its
// commit: plain files, the index merge, the delete list, the rebuilt archive, the archive list.
void InstallModel(const std::string& package, const std::string& root) {
    PackageReader patch;
    ASSERT_TRUE(patch.Open(package.c_str()));
    std::vector<std::string> names;
    ReadArchiveListFile(JoinHostPath(JoinHostPath(root, "package"), "package.cfg").c_str(), names);
    ArchiveFileQueries queries;
    queries.exists = [&root](const char* path) { return IsRegularFile(HostPath(root, path)); };
    queries.length = [&root](const char* path) -> uint32_t {
        uint64_t size = 0;
        return FileSizeOf(HostPath(root, path), &size) ? static_cast<uint32_t>(size) : 0;
    };
    std::string archivePath;
    uint64_t packageLength = 0;
    ASSERT_TRUE(FileSizeOf(package, &packageLength));
    ASSERT_EQ(ChooseArchive(names, 0x01000002, static_cast<uint32_t>(packageLength), queries, archivePath),
              ArchivePick::Listed);

    std::set<std::string> patchNames;
    std::vector<PackageEntry> entries;
    PackageEntry entry;
    for (bool more = patch.First(entry); more; more = patch.Next(entry)) {
        patchNames.insert(entry.name);
        entries.push_back(entry);
    }
    const std::string temp = HostPath(root, archivePath) + ".rebuilt";
    PackageWriter writer;
    RemoveFile(temp);
    ASSERT_TRUE(writer.Open(temp.c_str()));
    {
        PackageReader client;
        if (client.Open(HostPath(root, archivePath).c_str())) {
            for (bool more = client.First(entry); more; more = client.Next(entry)) {
                if (patchNames.count(entry.name)) continue;
                const uint8_t* stored = client.ReadStored(entry.dataOffset, entry.storedSize);
                ASSERT_NE(stored, nullptr);
                ASSERT_TRUE(writer.Add(entry.name, stored, entry.size, entry.storedSize, entry.flags));
            }
        }
    }
    std::string deleteList;
    std::string indexList;
    bool haveIndexList = false;
    for (const PackageEntry& item : entries) {
        if (IsResourceEntry(item.name.c_str())) {
            const uint8_t* stored = patch.ReadStored(item.dataOffset, item.storedSize);
            ASSERT_NE(stored, nullptr);
            ASSERT_TRUE(writer.Add(item.name, stored, item.size, item.storedSize, item.flags));
            continue;
        }
        std::string data(item.size, '\0');
        ASSERT_TRUE(patch.ReadUnpacked(reinterpret_cast<uint8_t*>(&data[0]), item.size, item.dataOffset, item.storedSize));
        if (EqualsIgnoringAsciiCase(item.name.c_str(), "UpdateDelList.txt")) {
            deleteList = data;
        } else if (EqualsIgnoringAsciiCase(item.name.c_str(), "RAVN/RAVNFileList.ini")) {
            indexList = data;
            haveIndexList = true;
        } else {
            ASSERT_TRUE(IsContainedRelativePath(item.name.c_str())) << item.name;
            PutFile(HostPath(root, item.name), data);
        }
    }
    ASSERT_TRUE(writer.Save());
    if (haveIndexList) MergeIndex(root, indexList);
    size_t start = 0;
    while (start < deleteList.size()) {
        size_t end = deleteList.find('\n', start);
        if (end == std::string::npos) end = deleteList.size();
        std::string line = deleteList.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        if (line.empty() || line.size() > 256) continue;
        RemovePath(HostPath(root, line));
    }
    SetReadOnly(HostPath(root, archivePath), false);
    ASSERT_TRUE(RenameReplacing(temp, HostPath(root, archivePath)));
    PutFile(JoinHostPath(JoinHostPath(root, "package"), "package.cfg"), ArchiveListText(names));
}

class OwnFolder : public velsupport::TempFolder {
public:
    OwnFolder() : velsupport::TempFolder("veldiff") { EXPECT_TRUE(Valid()); }
};

std::string ReadAll(const std::string& path) {
    std::string data;
    return velsupport::ReadFileText(path, &data) ? data : std::string("<unreadable>");
}

#ifdef _WIN32
constexpr int kPairs = 12;  // under Wine every file operation is slower
#else
constexpr int kPairs = 100;
#endif

TEST(TreeDiff, GeneratedClientPairsInstallToTheNewClientFromMinimalPatches) {
    for (int seed = 1; seed <= kPairs; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        OwnFolder dir;
        Random random(static_cast<uint64_t>(seed));
        const ClientSpec oldSpec = RandomOldClient(random);
        const ClientSpec newSpec = RandomNewClient(oldSpec, random);
        Materialize(oldSpec, dir / "old");
        Materialize(newSpec, dir / "new");
        Materialize(oldSpec, dir / "installed");

        DiffResult diff;
        std::string error;
        ASSERT_TRUE(DiffTrees(dir / "old", dir / "new", dir / "patch", DiffOptions(), &diff, &error)) << error;
        // Nothing unchanged travels: every plain file and entry in the patch differs from the old one.
        for (const DiffItem& item : diff.items) {
            if (item.kind == DiffItem::Kind::PlainFile) {
                auto was = oldSpec.files.find(item.name);
                const FileSpec& now = newSpec.files.at(item.name);
                EXPECT_TRUE(was == oldSpec.files.end() || was->second.data != now.data || was->second.readOnly)
                    << ShowGbkName(item.name);
            } else if (item.kind == DiffItem::Kind::ArchiveEntry) {
                bool same = false;
                for (const StoredEntry& entry : oldSpec.archives.at(item.archive)) {
                    for (const StoredEntry& now : newSpec.archives.at(item.archive)) {
                        same = same || (entry.name == item.name && now.name == item.name && entry.content == now.content &&
                                        entry.flags == now.flags);
                    }
                }
                EXPECT_FALSE(same) << ShowGbkName(item.name);
            }
        }
        if (diff.items.empty()) continue;

        ASSERT_TRUE(PackFolder(dir / "patch", dir / "patch.pkg", &error)) << error;
        ASSERT_TRUE(CheckArchiveChoice(dir / "old", 0, &error)) << error;
        InstallModel(dir / "patch.pkg", dir / "installed");
        const auto got = Snapshot(dir / "installed");
        const auto want = Snapshot(dir / "new");
        EXPECT_TRUE(got == want) << Differences(got, want);

        // The same two folders give the same bytes.
        DiffResult again;
        ASSERT_TRUE(DiffTrees(dir / "old", dir / "new", dir / "patch2", DiffOptions(), &again, &error)) << error;
        ASSERT_TRUE(PackFolder(dir / "patch2", dir / "patch2.pkg", &error)) << error;
        EXPECT_TRUE(ReadAll(dir / "patch.pkg") == ReadAll(dir / "patch2.pkg"));
    }
}

// One refusal: the old and new folders, and what the message must name.
struct Refusal {
    const char* what;
    void (*change)(ClientSpec& old, ClientSpec& now);
    const char* named;
};

ClientSpec SmallClient() {
    ClientSpec spec;
    spec.files["update.cfg"] = {"ver=1.0.0.1\r\n", false};
    spec.files["data\\a.txt"] = {"a", false};
    spec.archiveList = {"D00.pkg", "D01.pkg"};
    spec.archives["D00.pkg"] = {StoredEntry{"Res\\old.bin", 1, "old", Z_DEFAULT_COMPRESSION}};
    spec.archives["D01.pkg"] = {StoredEntry{"Res\\last.bin", 1, "last", Z_DEFAULT_COMPRESSION}};
    return spec;
}

TEST(TreeDiff, RefusesWhatAPatchCannotExpressAndNamesIt) {
    const Refusal refusals[] = {
        {"an archive entry removed", [](ClientSpec&, ClientSpec& now) { now.archives["D01.pkg"].clear(); }, "Res\\last.bin"},
        {"a changed archive list", [](ClientSpec&, ClientSpec& now) { now.archiveList.push_back("D02.pkg"); }, "D02.pkg"},
        {"an entry changed in an archive other than the last",
         [](ClientSpec&, ClientSpec& now) { now.archives["D00.pkg"][0].content = "new"; }, "Res\\old.bin"},
        {"an entry outside the resource folders",
         [](ClientSpec&, ClientSpec& now) { now.archives["D01.pkg"].push_back(StoredEntry{"ResBin\\x", 1, "x", 6}); },
         "ResBin\\x"},
        {"a plain file in a resource folder", [](ClientSpec&, ClientSpec& now) { now.files["sound\\x.wav"] = {"x", false}; },
         "sound\\x.wav"},
        {"a name whose letter case alone changed",
         [](ClientSpec&, ClientSpec& now) {
             now.files.erase("data\\a.txt");
             now.files["data\\A.txt"] = {"a", false};
         },
         "data\\A.txt"},
        {"a file that became a folder",
         [](ClientSpec&, ClientSpec& now) {
             now.files.erase("data\\a.txt");
             now.files["data\\a.txt\\inner"] = {"a", false};
         },
         "data\\a.txt"},
        {"a new empty folder", [](ClientSpec&, ClientSpec& now) { now.emptyFolders.insert("fresh"); }, "fresh"},
        {"a new read-only file", [](ClientSpec&, ClientSpec& now) { now.files["ro.txt"] = {"r", true}; }, "ro.txt"},
        {"a file that became read-only", [](ClientSpec&, ClientSpec& now) { now.files["data\\a.txt"].readOnly = true; },
         "data\\a.txt"},
        {"a file every installation removes", [](ClientSpec&, ClientSpec& now) { now.files["tmp.tmp"] = {"t", false}; },
         "tmp.tmp"},
        {"an installer's run lock left in the old folder",
         [](ClientSpec& old, ClientSpec&) { old.files["VelmoraPatch.lock"] = {"", false}; }, "VelmoraPatch.lock"},
        {"a file named like the delete list",
         [](ClientSpec&, ClientSpec& now) { now.files["updatedellist.txt"] = {"t", false}; }, "updatedellist.txt"},
        {"two names Windows cannot hold apart",
         [](ClientSpec&, ClientSpec& now) { now.files["DATA\\a.txt"] = {"b", false}; }, "letter case"},
        {"an index merge the new folder does not show",
         [](ClientSpec& old, ClientSpec& now) {
             old.files["RAVN\\RAVNFileList.ini"] = {IndexListText({"p1.vpk"}), false};
             now.files["RAVN\\RAVNFileList.ini"] = {IndexListText({"p2.vpk"}), false};
         },
         "RAVN\\RAVNReserve\\RAVNFileList.ini"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        OwnFolder dir;
        ClientSpec oldSpec = SmallClient();
        ClientSpec newSpec = SmallClient();
        refusal.change(oldSpec, newSpec);
        Materialize(oldSpec, dir / "old");
        Materialize(newSpec, dir / "new");
        ASSERT_TRUE(velsupport::MakeFolders(dir / "patch"));
        DiffResult diff;
        std::string error;
        EXPECT_FALSE(DiffTrees(dir / "old", dir / "new", dir / "patch", DiffOptions(), &diff, &error));
        ASSERT_FALSE(diff.problems.empty()) << error;
        std::string all;
        for (const std::string& problem : diff.problems) all += problem + "\n";
        EXPECT_NE(all.find(ShowGbkName(refusal.named)), std::string::npos) << all;
        // The patch folder is left as it was: empty.
        std::vector<TreeItem> inside;
        ASSERT_TRUE(ListTreeUnder(dir / "patch", &inside, &error));
        EXPECT_TRUE(inside.empty());
    }
}

TEST(TreeDiff, ArchiveThatWouldOverflowStartsNoNewArchive) {
    OwnFolder dir;
    ClientSpec spec = SmallClient();
    Materialize(spec, dir / "old");
    uint64_t length = 0;
    ASSERT_TRUE(FileSizeOf(HostPath(dir / "old", "package\\D01.pkg"), &length));
    std::string why;
    // At exactly the limit the archive is extended; one byte more starts a new one.
    EXPECT_TRUE(CheckArchiveChoice(dir / "old", static_cast<uint32_t>(kArchiveSizeLimit - length), &why)) << why;
    EXPECT_FALSE(CheckArchiveChoice(dir / "old", static_cast<uint32_t>(kArchiveSizeLimit - length + 1), &why));
    EXPECT_NE(why.find("D01.pkg"), std::string::npos) << why;
}

TEST(TreeDiff, IdenticalFoldersGiveAnEmptyPatchAndReadOnlyClearedIsDelivered) {
    OwnFolder dir;
    ClientSpec spec = SmallClient();
    spec.files["data\\a.txt"].readOnly = true;
    Materialize(spec, dir / "old");
    Materialize(spec, dir / "same");
    DiffResult diff;
    std::string error;
    ASSERT_TRUE(DiffTrees(dir / "old", dir / "same", dir / "patch", DiffOptions(), &diff, &error)) << error;
    EXPECT_TRUE(diff.items.empty());
    EXPECT_TRUE(diff.deleteLines.empty());

    spec.files["data\\a.txt"].readOnly = false;
    Materialize(spec, dir / "writable");
    SetReadOnly(HostPath(dir / "writable", "data\\a.txt"), false);
    DiffOptions measured;
    measured.measureCompression = true;
    ASSERT_TRUE(DiffTrees(dir / "old", dir / "writable", dir / "patch2", measured, &diff, &error)) << error;
    ASSERT_EQ(diff.items.size(), 1u);
    EXPECT_EQ(diff.items[0].name, "data\\a.txt");
    EXPECT_GT(diff.items[0].storedSize, 0u);
    EXPECT_EQ(ReadAll(HostPath(dir / "patch2", "data\\a.txt")), "a");
}

// The stored entries travel in an archive of their own, which ends with its directory even when
// the entry compared last was unchanged after its bytes had been copied for the comparison.
TEST(TreeDiff, StoredEntriesKeepFlagsAndEndWithTheirDirectory) {
    OwnFolder dir;
    ClientSpec oldSpec = SmallClient();
    Random random(99);
    oldSpec.archives["D01.pkg"].push_back(StoredEntry{"Res\\big.bin", 1, random.Bytes(300000), 9});
    ClientSpec newSpec = oldSpec;
    newSpec.archives["D01.pkg"][0].content = "changed";
    newSpec.archives["D01.pkg"][0].flags = 7;
    newSpec.archives["D01.pkg"][1].level = 1;  // stored anew, same content
    Materialize(oldSpec, dir / "old");
    Materialize(newSpec, dir / "new");
    DiffResult diff;
    std::string error;
    ASSERT_TRUE(DiffTrees(dir / "old", dir / "new", dir / "patch", DiffOptions(), &diff, &error)) << error;
    ASSERT_EQ(diff.items.size(), 1u);
    EXPECT_EQ(diff.items[0].name, "Res\\last.bin");

    PackageReader stored;
    ASSERT_TRUE(stored.Open(JoinHostPath(dir / "patch", kStoredEntriesFile).c_str()));
    EXPECT_EQ(stored.FileLength(), uint64_t{stored.Header().directoryOffset} + stored.Header().directorySize);
    PackageEntry entry;
    ASSERT_TRUE(stored.First(entry));
    EXPECT_EQ(entry.flags, 7u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stored.ReadStored(entry.dataOffset, entry.storedSize)),
                          entry.storedSize),
              Deflate("changed", Z_DEFAULT_COMPRESSION));
    EXPECT_FALSE(stored.Next(entry));
}

TEST(ProfileText, FindsValuesAsTheProfileFunctionsDo) {
    const std::string text = "[version]\r\n ver = 2 \r\n[Version]\r\nVer=0\r\n[Other]\r\nName=\"quoted\"\r\nN=-3x\r\n";
    EXPECT_EQ(ProfileInt(text, "Version", "Ver", 7), 2);  // first section of that name, any case
    std::string value;
    EXPECT_TRUE(ProfileString(text, "other", "name", &value));
    EXPECT_EQ(value, "quoted");
    EXPECT_EQ(ProfileInt(text, "Other", "N", 7), -3);
    EXPECT_EQ(ProfileInt(text, "Other", "Missing", 7), 7);
    EXPECT_EQ(ProfileInt("[Version]\nVer=abc\n", "Version", "Ver", 7), 0);
    EXPECT_EQ(IndexListPatches(IndexListText({"a.vpk", "b.vpk"})), (std::vector<std::string>{"a.vpk", "b.vpk"}));
    EXPECT_TRUE(IndexListPatches("[FileList]\nFileCount=1\n[FileItem0]\nFileName=x\n").empty());
}

}  // namespace
