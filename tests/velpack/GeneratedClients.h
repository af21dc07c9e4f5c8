// Client folder pairs for the tests of velpack diff: a seeded generator of an old client and of
// a new one that differs from it only in ways a patch can express, folders written from them,
// and a folder read back the way the comparison sees it. Shared by the native tests and the
// end-to-end tests that run the real installer under Wine.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

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
#include "TreeDiff.h"
#include "package/ArchiveList.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "support/Files.h"

namespace clientpairs {

inline const std::string kZiYuan = "\xD7\xCA\xD4\xB4";  // 资源
inline const std::string kJou = "\x81\x5C";             // 乗: its trail byte is '\'

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

inline std::string HostPath(const std::string& root, const std::string& gbk) {
    std::string path = root;
    for (const std::string& part : SplitGbkPath(gbk)) {
        if (part.empty()) continue;
        std::string host;
        EXPECT_TRUE(GbkToHostName(part, &host)) << ShowGbkName(gbk);
        path = JoinHostPath(path, host);
    }
    return path;
}

inline void SetReadOnly(const std::string& path, bool readOnly) {
#ifdef _WIN32
    SetFileAttributesA(path.c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
    chmod(path.c_str(), readOnly ? 0444 : 0644);
#endif
}

inline std::string Deflate(const std::string& data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
                        static_cast<uLong>(data.size()), level),
              Z_OK);
    out.resize(size);
    return out;
}

inline void WriteArchive(const std::string& path, const std::vector<StoredEntry>& entries) {
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

inline void Materialize(const ClientSpec& spec, const std::string& root) {
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
inline std::map<std::string, std::string> Snapshot(const std::string& root) {
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
inline std::string Differences(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want) {
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

inline std::string IndexListText(const std::vector<std::string>& patches) {
    std::string text = "[FileList]\r\nFileCount=" + std::to_string(patches.size() + 1) + "\r\n";
    text += "[FileItem0]\r\nFileName=base.vpk\r\n";
    for (size_t i = 0; i < patches.size(); ++i) {
        text += "[FileItem" + std::to_string(i + 1) + "]\r\nFileName=" + patches[i] + "\r\n";
    }
    return text;
}

inline const char* const kPlainFolders[] = {"data", "ui", "ResBin", "Config\\sub"};
inline const char* const kResourceFolders[] = {"Res", "sound", "map\\town"};

inline std::string PlainFolder(Random& random) {
    switch (random.Below(6)) {
    case 0:
        return kZiYuan;
    case 1:
        return "data\\" + kJou + "x";
    default:
        return kPlainFolders[random.Below(4)];
    }
}

inline std::string Content(Random& random) {
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

inline ClientSpec RandomOldClient(Random& random) {
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
inline ClientSpec RandomNewClient(const ClientSpec& old, Random& random) {
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

}  // namespace clientpairs
