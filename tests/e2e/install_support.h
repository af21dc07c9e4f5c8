// Steps of the end-to-end installation tests: a client folder laid out the way a player's
// installation looks, installers built from packages the tests write, what the monitor window
// must see, and the client folder read back file by file (archives entry by entry, inflated).
#pragma once

#include "e2e_support.h"
#include "support/Handles.h"
#include "win/sleeper/RunningSleeper.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "PackTool.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"

namespace e2e {
// Kept apart from the shared steps so that names added there later cannot clash with these.
namespace install {

constexpr uint32_t kPatchFrom = 0x010300BD;   // 1.3.0.189
constexpr uint32_t kPatchTo = 0x010300BE;     // 1.3.0.190
constexpr uint32_t kArchiveSizeLimit = 16777216;
constexpr int32_t kTagProgress = -15;
constexpr int32_t kTagResult = -16;
constexpr uint32_t kCompletionMark = 0xFFFFFFFFu;

// How a folder shows up in a snapshot: folders matter too (created, removed), files by content.
constexpr char kFolderMark[] = "<folder>";
// Appended to the content of a read-only file: the attribute is part of what a run keeps.
constexpr char kReadOnlyMark[] = "\n<read-only>";

using Snapshot = std::map<std::string, std::string>;

inline void SnapshotInto(const std::string& root, const std::string& prefix, Snapshot* out)
{
    WIN32_FIND_DATAA found;
    const velsupport::ScopedFindHandle find(
        FindFirstFileA((root + (prefix.empty() ? "" : "\\" + prefix) + "\\*").c_str(), &found));
    if (!find.Valid())
        return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string relative = prefix.empty() ? name : prefix + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[relative + "\\"] = kFolderMark;
            SnapshotInto(root, relative, out);
        } else {
            std::string bytes;
            if (!velsupport::ReadFileText(root + "\\" + relative, &bytes))
                bytes = "<unreadable>";
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                bytes += kReadOnlyMark;
            (*out)[relative] = bytes;
        }
    } while (FindNextFileA(find.Get(), &found));
}

// Every file and folder under root, by path relative to it (folders end with '\\').
inline Snapshot TakeSnapshot(const std::string& root)
{
    Snapshot s;
    SnapshotInto(root, "", &s);
    return s;
}

// A resource index list naming the patches as items 1..n.
inline std::string FileList(const std::vector<std::string>& patches)
{
    std::string ini = "[FileList]\r\nFileCount=" + std::to_string(patches.size() + 1) + "\r\n";
    for (size_t i = 0; i < patches.size(); ++i)
        ini += "[FileItem" + std::to_string(i + 1) + "]\r\nFileName=" + patches[i] + "\r\n";
    return ini;
}

// Short, readable lines for a failure message: names, sizes and a hash instead of content.
inline std::vector<std::string> Describe(const Snapshot& s)
{
    std::vector<std::string> lines;
    for (const auto& item : s) {
        if (item.second == kFolderMark) {
            lines.push_back(harness::GbkToUtf8(item.first));
        } else {
            const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(item.second.data()),
                                    static_cast<uInt>(item.second.size()));
            lines.push_back(harness::GbkToUtf8(item.first) + " " + std::to_string(item.second.size()) + " bytes crc " +
                            std::to_string(crc));
        }
    }
    return lines;
}

// One archive entry as a client reads it: name and inflated content.
struct ArchiveEntry {
    std::string name;
    std::string data;
    bool operator==(const ArchiveEntry& o) const { return name == o.name && data == o.data; }
};

inline std::ostream& operator<<(std::ostream& os, const ArchiveEntry& e)
{
    const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
    return os << harness::GbkToUtf8(e.name) << " (" << e.data.size() << " bytes, crc " << crc << ")";
}

// Reads every entry of an archive in directory order through the product's reader and inflates
// it; false with `problem` when the archive cannot be opened, a record is damaged, or an entry
// does not inflate to exactly its size.
inline bool ReadArchive(const std::string& path, std::vector<ArchiveEntry>* entries, std::string* problem)
{
    entries->clear();
    PackageReader reader;
    if (!reader.Open(path.c_str())) {
        *problem = "cannot open " + path;
        return false;
    }
    if (reader.Header().tag != kPackageTag) {
        *problem = "wrong tag in " + path;
        return false;
    }
    PackageEntry entry;
    for (bool have = reader.First(entry); have; have = reader.Next(entry)) {
        std::string data(entry.size, '\0');
        if (entry.size != 0 &&
            !reader.ReadUnpacked(reinterpret_cast<uint8_t*>(&data[0]), entry.size, entry.dataOffset, entry.storedSize)) {
            *problem = "entry " + entry.name + " does not inflate to its size";
            return false;
        }
        entries->push_back({entry.name, data});
    }
    if (entries->size() != reader.EntryCount()) {
        *problem = "directory of " + path + " ends after " + std::to_string(entries->size()) + " of " +
                   std::to_string(reader.EntryCount()) + " records";
        return false;
    }
    return true;
}

inline std::vector<ArchiveEntry> EntriesOf(const std::vector<PackFile>& files)
{
    std::vector<ArchiveEntry> entries;
    for (const PackFile& f : files)
        entries.push_back({f.name, f.data});
    return entries;
}

// Writes an archive whose file is exactly `length` bytes: one entry of zeros stored with zlib's
// level 0 (fast, and its stored size follows the content size), its name padded to make up the
// last bytes. The entry goes to `entry` for later comparison.
inline bool WriteArchiveOfLength(const std::string& path, uint32_t length, ArchiveEntry* entry, std::string* problem)
{
    const uint32_t fixed = kPackageHeaderSize + kDirectoryRecordFixedSize;
    uint32_t contentSize = length - fixed - 600;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string content(contentSize, '\0');
        uLongf storedSize = compressBound(contentSize);
        std::string stored(storedSize, '\0');
        if (compress2(reinterpret_cast<Bytef*>(&stored[0]), &storedSize, reinterpret_cast<const Bytef*>(content.data()),
                      contentSize, 0) != Z_OK) {
            *problem = "zlib failed";
            return false;
        }
        const int64_t nameLength = int64_t{length} - fixed - int64_t{storedSize};
        if (nameLength < 8 || nameLength > kMaxEntryNameLength) {
            contentSize = static_cast<uint32_t>(int64_t{contentSize} + nameLength - 600);
            continue;
        }
        std::string name = "Res\\big";
        name.append(static_cast<size_t>(nameLength) - name.size() - 4, 'x');
        name += ".bin";
        DeleteFileA(path.c_str());
        PackageWriter writer;
        if (!writer.Open(path.c_str()) ||
            !writer.Add(name, stored.data(), contentSize, static_cast<uint32_t>(storedSize), 1) || !writer.Save()) {
            *problem = "cannot write " + path;
            return false;
        }
        *entry = {name, content};
        std::string written;
        if (!velsupport::ReadFileText(path, &written) || written.size() != length) {
            *problem = path + " came out " + std::to_string(written.size()) + " bytes long";
            return false;
        }
        return true;
    }
    *problem = "no name length fits";
    return false;
}

// The percentage a silent run sends for a progress position (all signed 32-bit, truncating).
inline uint32_t Percent(int32_t position, int32_t width, bool phased, bool building)
{
    if (width == 0)
        return 0;
    const int32_t p = position * 100 / width;
    if (!phased)
        return static_cast<uint32_t>(p);
    return static_cast<uint32_t>(building ? p / 10 : p * 9 / 10 + 10);
}

// What decides the progress messages of one installation.
struct ProgressPlan {
    bool archiveExists = false;   // an existing client archive is rebuilt: two phases
    uint32_t archiveEntries = 0;  // its directory entries, kept or replaced
    uint32_t patchEntries = 0;
    uint32_t entriesHandled = 0;  // entries done before the loop ended (all of them on success)
};

// The progress percentages in the order a monitor sees them: the start of the temporary
// package, its building phase, the install phase entry by entry, and the final position,
// each only when it differs from the one before (the installer sends no repeats).
inline std::vector<uint32_t> ExpectedProgress(const ProgressPlan& plan)
{
    std::vector<uint32_t> p;
    int32_t width = 0;   // the range before anything has set it
    p.push_back(Percent(0, width, false, false));
    if (plan.archiveExists) {
        p.push_back(Percent(0, width, true, true));
        width = static_cast<int32_t>(plan.archiveEntries);
        for (uint32_t i = 1; i <= plan.archiveEntries; ++i)
            p.push_back(Percent(static_cast<int32_t>(i), width, true, true));
    }
    width = static_cast<int32_t>(plan.patchEntries);
    const bool phased = plan.archiveExists;
    p.push_back(Percent(0, width, phased, false));
    for (uint32_t k = 1; k <= plan.entriesHandled; ++k)
        p.push_back(Percent(static_cast<int32_t>(k), width, phased, false));
    p.push_back(Percent(width, width, phased, false));
    p.erase(std::unique(p.begin(), p.end()), p.end());
    return p;
}

inline velsupport::CopyDataRecord ProgressMessage(uint32_t percent)
{
    velsupport::CopyDataRecord m;
    m.tag = kTagProgress;
    m.data = percent;
    return m;
}

inline velsupport::CopyDataRecord ResultMessage(uint32_t number, const std::string& text)
{
    velsupport::CopyDataRecord m;
    m.tag = kTagResult;
    m.data = number;
    m.bytes = text + std::string(1, '\0');
    m.cbData = static_cast<uint32_t>(m.bytes.size());
    return m;
}

inline std::vector<velsupport::CopyDataRecord> ProgressMessages(const std::vector<uint32_t>& percents)
{
    std::vector<velsupport::CopyDataRecord> m;
    for (uint32_t p : percents)
        m.push_back(ProgressMessage(p));
    return m;
}

// The messages of a successful installation: its progress, then the completion pair.
inline std::vector<velsupport::CopyDataRecord> SuccessMessages(const ProgressPlan& plan)
{
    std::vector<velsupport::CopyDataRecord> m = ProgressMessages(ExpectedProgress(plan));
    m.push_back(ProgressMessage(100));
    m.push_back(ProgressMessage(kCompletionMark));
    return m;
}

inline std::vector<std::string> Describe(const std::vector<velsupport::CopyDataRecord>& messages)
{
    std::vector<std::string> lines;
    for (const velsupport::CopyDataRecord& m : messages) {
        std::string line = (m.tag == kTagProgress ? "progress " : m.tag == kTagResult ? "result " : "tag " +
                            std::to_string(m.tag) + " ") + std::to_string(m.data) + " cb " + std::to_string(m.cbData);
        if (!m.bytes.empty())
            line += " \"" + harness::GbkToUtf8(m.bytes.substr(0, m.bytes.size() - 1)) + "\"" +
                    (m.bytes.back() == '\0' ? "\\0" : "(no terminator)");
        lines.push_back(line);
    }
    return lines;
}

// True when `lines` occur in the log in this order (other lines may come between them).
inline bool LogHasInOrder(const std::vector<std::string>& log, const std::vector<std::string>& lines)
{
    size_t next = 0;
    for (const std::string& line : log) {
        if (next < lines.size() && line == lines[next])
            ++next;
    }
    return next == lines.size();
}

inline size_t LogCount(const std::vector<std::string>& log, const std::string& line)
{
    return static_cast<size_t>(std::count(log.begin(), log.end(), line));
}

inline bool LogMentions(const std::vector<std::string>& log, const std::string& part)
{
    for (const std::string& line : log) {
        if (line.find(part) != std::string::npos)
            return true;
    }
    return false;
}

// Holds a file open so that nobody else may open it (share mode 0), or with the given sharing.
class LockedFile {
public:
    explicit LockedFile(const std::string& path, DWORD share = 0, DWORD access = GENERIC_READ)
        : handle_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }
    bool Held() const { return handle_.Valid(); }

private:
    velsupport::ScopedHandle handle_;
};

// A test with a client folder "client" beside its own installer copy. The installer's current
// folder is the test folder, as when a launcher starts it from elsewhere.
class ClientInstallTest : public InstallerTest {
protected:
    void SetUp() override
    {
        InstallerTest::SetUp();
        if (HasFatalFailure())
            return;
        UseClient("client");
    }

    // Makes a new, empty client folder of that name in the test folder the one the next steps
    // and runs work on.
    void UseClient(const std::string& name)
    {
        client_ = Folder() / name;
        ASSERT_TRUE(CreateDirectoryA(client_.c_str(), nullptr)) << client_;
    }

    const std::string& Client() const { return client_; }
    std::string At(const std::string& relative) const { return client_ + "\\" + relative; }

    void Put(const std::string& relative, const std::string& bytes)
    {
        ASSERT_TRUE(velsupport::WriteFileText(At(relative), bytes)) << relative;
    }
    void PutArchive(const std::string& relative, const std::vector<PackFile>& files)
    {
        std::string error;
        ASSERT_TRUE(velsupport::WriteFileText(At(relative), "")) << relative;   // its folder
        ASSERT_TRUE(WritePackage(files, At(relative), &error)) << error;
    }
    void MakeReadOnly(const std::string& relative)
    {
        ASSERT_TRUE(SetFileAttributesA(At(relative).c_str(), FILE_ATTRIBUTE_READONLY)) << relative;
    }
    std::string Text(const std::string& relative) const
    {
        std::string bytes;
        EXPECT_TRUE(velsupport::ReadFileText(At(relative), &bytes)) << relative;
        return bytes;
    }
    bool Exists(const std::string& relative) const { return velsupport::FileExists(At(relative)); }

    std::vector<ArchiveEntry> ArchiveAt(const std::string& relative) const
    {
        std::vector<ArchiveEntry> entries;
        std::string problem;
        EXPECT_TRUE(ReadArchive(At(relative), &entries, &problem)) << problem;
        return entries;
    }

    // Writes the package of `files` and the installer carrying it; returns the package length.
    uint32_t BuildPatch(const std::vector<PackFile>& files)
    {
        const std::string pkg = Folder() / "source.pkg";
        std::string error;
        EXPECT_TRUE(WritePackage(files, pkg, &error)) << error;
        EXPECT_TRUE(BuildInstaller(BareInstallerPath(), pkg, kPatchFrom, kPatchTo, 0, Installer(), &error)) << error;
        packageBytes_.clear();
        EXPECT_TRUE(velsupport::ReadFileText(pkg, &packageBytes_));
        DeleteFileA(pkg.c_str());
        return static_cast<uint32_t>(packageBytes_.size());
    }
    // The package of the last BuildPatch, as "patch.pkg" holds it after the extraction.
    const std::string& PackageBytes() const { return packageBytes_; }

    SilentResult RunSilent(const std::vector<harness::BoxAnswer>& answers = {})
    {
        const std::string title = UniqueTitle("Vel 安装监视");
        harness::MonitorOptions options;
        options.title = title;
        options.answers = answers;
        options.timeoutMs = kRunTimeoutMs;
        const std::string log = LogPathBeside(Installer());
        DeleteFileA(log.c_str());
        SilentResult r;
        r.run = harness::RunWithMonitor(Installer(), "/S /D=" + client_ + " /user " + title, options);
        EXPECT_TRUE(r.run.started) << r.run.error;
        EXPECT_FALSE(r.run.timedOut) << "the installer did not end within " << kRunTimeoutMs << " ms";
        r.logExists = velsupport::FileExists(log);
        r.log = harness::ReadLogLines(log);
        return r;
    }

    // The monitor window's handle as the log writes it.
    static std::string HandleText(const SilentResult& r)
    {
        return std::to_string(static_cast<int>(static_cast<intptr_t>(r.run.monitorWindow)));
    }

    // The log lines of every installation that reaches its end, in their order.
    static std::vector<std::string> CompletedRunLines(const SilentResult& r)
    {
        return {"正在准备安装更新包...", "正在生成临时安装文件...", "开始安装更新包...",
                "上报完成安装进度：HWND " + HandleText(r), "升级成功！"};
    }

private:
    std::string client_;
    std::string packageBytes_;
};

// Compares a folder with what it must hold, listing names and sizes on a difference.
#define EXPECT_FOLDER(actual, expected) \
    EXPECT_EQ(::e2e::install::Describe(actual), ::e2e::install::Describe(expected))
#define EXPECT_MESSAGES(actual, expected) \
    EXPECT_EQ(::e2e::install::Describe(actual), ::e2e::install::Describe(expected))

}  // namespace install
}  // namespace e2e
