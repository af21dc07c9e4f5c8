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

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

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

namespace {

const std::string kZiYuan = "\xD7\xCA\xD4\xB4";  // 资源
const std::string kJou = "\x81\x5C";             // 乗: its trail byte is '\'

// Small deterministic generator, the same on every host and library.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 11);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    std::string Bytes(size_t n) {
        std::string data(n, '\0');
        // Runs of one byte now and then, so that compression has something to do.
        for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>(Chance(30) && i > 0 ? data[i - 1] : Next());
        return data;
    }

private:
    uint64_t state_;
};

struct StoredEntry {
    std::string name;
    uint32_t flags = 1;
    std::string content;
    int level = Z_DEFAULT_COMPRESSION;
};

struct FileSpec {
    std::string data;
    bool readOnly = false;
};

// A client folder: files by GBK name ('\\' between components), empty folders, client archives.
struct ClientSpec {
    std::map<std::string, FileSpec> files;
    std::set<std::string> emptyFolders;
    std::vector<std::string> archiveList;
    std::map<std::string, std::vector<StoredEntry>> archives;
};

std::string HostPath(const std::string& root, const std::string& gbk) {
    std::string path = root;
    for (const std::string& part : SplitGbkPath(gbk)) {
        if (part.empty()) continue;
        std::string host;
        EXPECT_TRUE(GbkToHostName(part, &host)) << ShowGbkName(gbk);
        path = JoinHostPath(path, host);
    }
    return path;
}

void SetReadOnly(const std::string& path, bool readOnly) {
#ifdef _WIN32
    SetFileAttributesA(path.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
    chmod(path.c_str(), readOnly ? 0444 : 0644);
#endif
}

std::string Deflate(const std::string& data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

void WriteArchive(const std::string& path, const std::vector<StoredEntry>& entries) {
    RemoveFile(path);
    PackageWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str())) << path;
    for (const StoredEntry& entry : entries) {
        const std::string stored = Deflate(entry.content, entry.level);
        ASSERT_TRUE(writer.Add(entry.name, stored.data(), static_cast<uint32_t>(entry.content.size()),
                               static_cast<uint32_t>(stored.size()), entry.flags));
    }
    ASSERT_TRUE(writer.Save());
}

void Materialize(const ClientSpec& spec, const std::string& root) {
    ASSERT_TRUE(velsupport::MakeFolders(root));
    for (const std::string& folder : spec.emptyFolders) ASSERT_TRUE(velsupport::MakeFolders(HostPath(root, folder)));
    for (const auto& [name, file] : spec.files) {
        const std::string path = HostPath(root, name);
        ASSERT_TRUE(velsupport::WriteFileText(path, file.data)) << path;
        if (file.readOnly) SetReadOnly(path, true);
    }
    if (!spec.archiveList.empty()) {
        ASSERT_TRUE(velsupport::WriteFileText(HostPath(root, "package\\package.cfg"), ArchiveListText(spec.archiveList)));
    }
    for (const auto& [name, entries] : spec.archives) WriteArchive(HostPath(root, "package\\" + name), entries);
}

// What a folder holds, as the comparison sees it: file bytes and read-only attribute; client
// archives by their entries (name, flags, size, content); the archive list by its names.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> seen;
    std::vector<TreeItem> items;
    std::string error;
    EXPECT_TRUE(ListTreeUnder(root, &items, &error)) << error;
    std::vector<std::string> archives;
    ReadArchiveListFile(JoinHostPath(JoinHostPath(root, "package"), "package.cfg").c_str(), archives);
    std::set<std::string> archivePaths;
    for (const std::string& name : archives) archivePaths.insert(HostPath(root, "package\\" + name));
    for (const TreeItem& item : items) {
        std::string path = root;
        std::string shown;
        for (const std::string& part : item.parts) {
            path = JoinHostPath(path, part);
            shown += "/" + part;
        }
        if (item.isFolder) {
            seen[shown] = "<folder>";
            continue;
        }
        std::string value = item.readOnly ? "<read-only>" : "";
        if (shown == "/package/package.cfg") {
            for (const std::string& name : archives) value += name + "|";
        } else if (archivePaths.count(path)) {
            PackageReader reader;
            EXPECT_TRUE(reader.Open(path.c_str())) << path;
            std::map<std::string, std::string> entries;
            PackageEntry entry;
            for (bool more = reader.First(entry); more; more = reader.Next(entry)) {
                std::string content(entry.size, '\0');
                EXPECT_TRUE(reader.ReadUnpacked(reinterpret_cast<uint8_t*>(&content[0]), entry.size, entry.dataOffset,
                                                entry.storedSize));
                entries[entry.name] = std::to_string(entry.flags) + ":" + content;
            }
            for (const auto& [name, content] : entries) value += "[" + name + "=" + content + "]";
        } else {
            std::string data;
            EXPECT_TRUE(velsupport::ReadFileText(path, &data)) << path;
            value += data;
        }
        seen[shown] = value;
    }
    return seen;
}

// Lists where two snapshots differ, for a readable failure.
std::string Differences(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want) {
    std::string text;
    for (const auto& [path, value] : want) {
        auto it = got.find(path);
        if (it == got.end()) {
            text += "  missing " + path + "\n";
        } else if (it->second != value) {
            text += "  differs " + path + " (" + std::to_string(it->second.size()) + " vs " +
                    std::to_string(value.size()) + " bytes)\n";
        }
    }
    for (const auto& [path, value] : got) {
        if (!want.count(path)) text += "  extra   " + path + "\n";
    }
    return text;
}

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

std::string IndexListText(const std::vector<std::string>& patches) {
    std::string text = "[FileList]\r\nFileCount=" + std::to_string(patches.size() + 1) + "\r\n";
    text += "[FileItem0]\r\nFileName=base.vpk\r\n";
    for (size_t i = 0; i < patches.size(); ++i) {
        text += "[FileItem" + std::to_string(i + 1) + "]\r\nFileName=" + patches[i] + "\r\n";
    }
    return text;
}

const char* const kPlainFolders[] = {"data", "ui", "ResBin", "Config\\sub"};
const char* const kResourceFolders[] = {"Res", "sound", "map\\town"};

std::string PlainFolder(Random& random) {
    switch (random.Below(6)) {
    case 0:
        return kZiYuan;
    case 1:
        return "data\\" + kJou + "x";
    default:
        return kPlainFolders[random.Below(4)];
    }
}

std::string Content(Random& random) {
    switch (random.Below(8)) {
    case 0:
        return std::string();
    case 1:
        // Now and then more than one piece of comparison (1 MiB).
        return random.Bytes(random.Chance(12) ? (1u << 20) + random.Below(300000) : 20000 + random.Below(60000));
    default:
        return random.Bytes(random.Below(4000));
    }
}

ClientSpec RandomOldClient(Random& random) {
    ClientSpec spec;
    spec.files["update.cfg"] = {"ver=1.0.0.1\r\nrealver=x\r\n", false};
    spec.files["LNCH\\mmog_data.xml"] = {"<mmog version=\"1\"/>", false};
    const uint32_t fileCount = 3 + random.Below(25);
    for (uint32_t i = 0; i < fileCount; ++i) {
        const std::string folder = random.Chance(20) ? std::string() : PlainFolder(random) + "\\";
        const std::string stem = random.Chance(30) ? kZiYuan + kJou : "f";
        spec.files[folder + stem + std::to_string(i) + ".dat"] = {Content(random), random.Chance(15)};
    }
    if (random.Chance(30)) spec.emptyFolders.insert("empty\\inner");
    const uint32_t archiveCount = 1 + random.Below(2);
    for (uint32_t a = 0; a < archiveCount; ++a) {
        const std::string name = "D0" + std::to_string(a) + ".pkg";
        spec.archiveList.push_back(name);
        std::vector<StoredEntry>& entries = spec.archives[name];
        const uint32_t entryCount = random.Below(12);
        for (uint32_t e = 0; e < entryCount; ++e) {
            StoredEntry entry;
            entry.name = std::string(kResourceFolders[random.Below(3)]) + "\\" + (random.Chance(30) ? kJou : "") + "e" +
                         std::to_string(a) + "_" + std::to_string(e) + ".bin";
            entry.content = random.Chance(10) ? std::string() : random.Bytes(random.Below(5000));
            entry.flags = random.Chance(20) ? 3 : 1;
            entries.push_back(entry);
        }
    }
    if (random.Chance(50)) {
        spec.files["RAVN\\RAVNFileList.ini"] = {IndexListText({"p1.vpk", "p2.vpk"}), false};
        spec.files["RAVN\\RAVNDownload\\p1.vpk"] = {random.Bytes(300), false};
        spec.files["RAVN\\RAVNDownload\\p2.vpk"] = {random.Bytes(300), false};
    }
    return spec;
}

// Changes a patch can express: files added, changed, removed (alone or with their folder), a
// read-only attribute cleared, entries of the last archive added or changed, the index replaced.
ClientSpec RandomNewClient(const ClientSpec& old, Random& random) {
    ClientSpec spec = old;
    spec.files["update.cfg"].data = "ver=1.0.0.2\r\nrealver=x\r\n";
    std::vector<std::string> names;
    for (const auto& [name, file] : spec.files) {
        if (name.compare(0, 5, "RAVN\\") != 0 && name != "update.cfg") names.push_back(name);
    }
    for (const std::string& name : names) {
        const uint32_t roll = random.Below(100);
        FileSpec& file = spec.files[name];
        if (roll < 15) {
            spec.files.erase(name);
        } else if (roll < 30) {
            file.data = Content(random);
            file.readOnly = false;
        } else if (roll < 35 && !file.data.empty()) {
            // Same length, one byte different, late in the file.
            file.data.back() = static_cast<char>(file.data.back() ^ 0x20);
            file.readOnly = false;
        } else if (roll < 40) {
            file.readOnly = false;
        }
    }
    if (random.Chance(30)) {
        const std::string folder = PlainFolder(random);
        for (auto it = spec.files.begin(); it != spec.files.end();) {
            it = it->first.compare(0, folder.size() + 1, folder + "\\") == 0 ? spec.files.erase(it) : std::next(it);
        }
    }
    if (random.Chance(50)) spec.emptyFolders.clear();
    const uint32_t added = random.Below(6);
    for (uint32_t i = 0; i < added; ++i) {
        const std::string folder = random.Chance(40) ? "new" + std::to_string(i) + "\\" + kZiYuan + "\\" : PlainFolder(random) + "\\";
        spec.files[folder + "n" + std::to_string(i) + kJou + ".txt"] = {Content(random), false};
    }
    std::vector<StoredEntry>& last = spec.archives[spec.archiveList.back()];
    for (StoredEntry& entry : last) {
        const uint32_t roll = random.Below(100);
        if (roll < 15) {
            entry.content = random.Bytes(random.Below(5000));
        } else if (roll < 25) {
            entry.level = 1;  // the same content stored differently: not a change
        } else if (roll < 30) {
            entry.flags ^= 2;
        } else if (roll < 35 && !entry.content.empty()) {
            entry.content[0] = static_cast<char>(entry.content[0] ^ 1);
            entry.level = 9;
        }
    }
    const uint32_t newEntries = random.Below(4);
    for (uint32_t i = 0; i < newEntries; ++i) {
        StoredEntry entry;
        entry.name = std::string(kResourceFolders[random.Below(3)]) + "\\added" + std::to_string(i) + kJou + ".bin";
        entry.content = random.Bytes(random.Below(3000));
        last.push_back(entry);
    }
    if (spec.files.count("RAVN\\RAVNFileList.ini") && random.Chance(60)) {
        // One new patch: the installer's merge moves the two old ones to the reserve folder.
        spec.files["RAVN\\RAVNReserve\\RAVNFileList.ini"] = spec.files["RAVN\\RAVNFileList.ini"];
        spec.files["RAVN\\RAVNFileList.ini"] = {IndexListText({"p3.vpk"}), false};
        for (const char* name : {"p1.vpk", "p2.vpk"}) {
            spec.files[std::string("RAVN\\RAVNReserve\\") + name] = spec.files[std::string("RAVN\\RAVNDownload\\") + name];
            spec.files.erase(std::string("RAVN\\RAVNDownload\\") + name);
        }
        spec.files["RAVN\\RAVNDownload\\p3.vpk"] = {random.Bytes(500), false};
    }
    return spec;
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
