// Comparing two client folders and writing the patch between them.
#include "TreeDiff.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "GbkNames.h"
#include "HostFiles.h"
#include "base/PathText.h"
#include "base/StdioFile.h"
#include "client/ClientVersion.h"
#include "install/Leftovers.h"
#include "install/ResourceEntries.h"
#include "package/ArchiveCodec.h"
#include "package/ArchiveList.h"
#include "package/PackageReader.h"

namespace {

// Files and entries are compared and copied in pieces of this size; a piece of each side is all
// that is held in memory.
constexpr size_t kPiece = 1 << 20;

const char kIndexListName[] = "RAVN\\RAVNFileList.ini";
const char kIndexListEntry[] = "RAVN/RAVNFileList.ini";
const char kReserveFolder[] = "RAVN\\RAVNReserve";
const char kDeleteListName[] = "UpdateDelList.txt";
const char kStagingFolderName[] = "VelmoraPatch.staging";
// An installer's run lock, left only by a machine that stopped during a run.
const char kRunLockFileName[] = "VelmoraPatch.lock";



// The folder part of a '\\'-joined GBK name; empty at the top.
std::string ParentKey(const std::string& key) {
    const int last = FindLastChar(key.c_str(), '\\');
    return last < 0 ? std::string() : key.substr(0, static_cast<size_t>(last));
}

struct Node {
    std::string gbk;   // components joined by '\\'
    std::string host;  // where to read it
    bool isFolder = false;
    bool readOnly = false;
    uint64_t size = 0;
};

// One client folder, keyed by FoldedPath.
struct Tree {
    std::string dir;
    std::string label;  // "old" or "new", for messages
    std::map<std::string, Node> nodes;

    const Node* Find(const std::string& gbk) const {
        auto it = nodes.find(FoldedPath(gbk));
        return it == nodes.end() ? nullptr : &it->second;
    }
};

std::string Quote(const std::string& gbk) { return "\"" + ShowGbkName(gbk) + "\""; }

bool LoadTree(const std::string& dir, const char* label, bool checkNames, Tree* tree,
              std::vector<std::string>* problems, std::string* error) {
    tree->dir = dir;
    tree->label = label;
    std::vector<TreeItem> items;
    if (!ListTreeUnder(dir, &items, error)) return false;
    for (TreeItem& item : items) {
        Node node;
        node.host = dir;
        bool nameOk = true;
        for (const std::string& part : item.parts) {
            node.host = JoinHostPath(node.host, part);
            std::string gbk;
            if (!HostNameToGbk(part, &gbk)) {
                problems->push_back(std::string(label) + " folder: \"" + node.host +
                                    "\": the name has characters outside GBK (code page 936)");
                nameOk = false;
                break;
            }
            if (checkNames) {
                const std::string why = WindowsNameProblem(gbk);
                if (!why.empty()) {
                    problems->push_back(std::string(label) + " folder: \"" + node.host + "\": " + why);
                    nameOk = false;
                    break;
                }
            }
            if (!node.gbk.empty()) node.gbk += '\\';
            node.gbk += gbk;
        }
        if (!nameOk) continue;
        node.isFolder = item.isFolder;
        node.readOnly = item.readOnly;
        node.size = item.size;
        const std::string key = FoldedPath(node.gbk);
        auto placed = tree->nodes.emplace(key, node);
        if (!placed.second) {
            problems->push_back(std::string(label) + " folder: " + Quote(placed.first->second.gbk) + " and " +
                                Quote(node.gbk) + " differ only in letter case, which Windows cannot hold apart");
        }
    }
    return true;
}

bool ReadSmallFile(const std::string& path, std::string* text, std::string* error) {
    ByteBuffer data;
    if (!ReadWholeFile(path, 16u << 20, &data, error)) return false;
    text->assign(reinterpret_cast<const char*>(data.Data()), data.Size());
    return true;
}

// Reads ranges of one file, seeking only when a range does not start where the last one ended,
// so that entries stored back to back are read as one stream.
class RangeReader {
public:
    bool Open(const std::string& path) {
        if (!file_.Open(path, "rb")) return false;
        setvbuf(file_.Get(), nullptr, _IOFBF, 1 << 18);
        position_ = 0;
        return true;
    }
    bool Read(uint64_t offset, uint8_t* dest, size_t count) {
        if (offset != position_ && !SeekFile(file_.Get(), static_cast<int64_t>(offset), SEEK_SET)) return false;
        position_ = offset;
        if (!ReadExact(file_.Get(), dest, count)) {
            position_ = UINT64_MAX;
            return false;
        }
        position_ += count;
        return true;
    }

private:
    StdioFile file_;
    uint64_t position_ = 0;
};

// Where the new side's bytes go while they are compared: kept when they differ, dropped when not.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool Write(const uint8_t* data, size_t count) = 0;
    virtual bool Drop() = 0;  // the bytes turned out unchanged
};

// A plain file of the patch folder, created at the first write.
class FileSink : public Sink {
public:
    // folders: the file's parent folders, outermost first, made at the first write.
    FileSink(std::string path, std::vector<std::string> folders)
        : path_(std::move(path)), folders_(std::move(folders)) {}
    ~FileSink() override { file_.Close(); }
    bool Write(const uint8_t* data, size_t count) override {
        if (!file_ && !Create()) return false;
        written_ += count;
        return WriteExact(file_.Get(), data, count);
    }
    bool Drop() override {
        if (!file_) return true;
        file_.Close();
        return RemoveFile(path_);
    }
    // Closes a written file; creates an empty one when nothing was written.
    bool Finish() {
        if (!file_ && !Create()) return false;
        return file_.Close();
    }
    uint64_t Written() const { return written_; }

private:
    bool Create() {
        // Folders are made only for files that stay, so an unchanged file leaves none behind.
        for (const std::string& folder : folders_) MakeDirectory(folder);
        return file_.Open(path_, "wb");
    }

    std::string path_;
    std::vector<std::string> folders_;
    StdioFile file_;
    uint64_t written_ = 0;
};

// The archive of stored entries: header, the entries' bytes, the directory.
class StoredEntriesWriter {
public:
    bool Open(const std::string& path) {
        path_ = path;
        if (!file_.Open(path, "wb")) return false;
        uint8_t header[kPackageHeaderSize] = {};
        end_ = kPackageHeaderSize;
        return WriteExact(file_.Get(), header, sizeof(header));
    }
    // The sink of one entry's stored bytes, starting at the current end of the data.
    class EntrySink : public Sink {
    public:
        explicit EntrySink(StoredEntriesWriter& writer) : writer_(writer), start_(writer.end_) {}
        bool Write(const uint8_t* data, size_t count) override {
            if (writer_.end_ + count > kMaxArchiveLengthForEntries) return false;
            writer_.end_ += count;
            return WriteExact(writer_.file_.Get(), data, count);
        }
        bool Drop() override {
            // Rewinding keeps the file as long as the largest kept entries, not all compared ones.
            writer_.end_ = start_;
            return SeekFile(writer_.file_.Get(), static_cast<int64_t>(start_), SEEK_SET);
        }
        uint32_t Start() const { return static_cast<uint32_t>(start_); }

    private:
        StoredEntriesWriter& writer_;
        uint64_t start_;
    };
    void Keep(const PackageEntry& entry) { entries_.push_back(entry); }
    bool HasEntries() const { return !entries_.empty(); }

    // Writes the directory and the header. An empty archive is removed instead.
    bool Finish() {
        if (entries_.empty()) {
            file_.Close();
            return RemoveFile(path_);
        }
        if (!SeekFile(file_.Get(), static_cast<int64_t>(end_), SEEK_SET)) return false;
        uint8_t record[kMaxDirectoryRecordSize];
        uint64_t directorySize = 0;
        for (const PackageEntry& entry : entries_) {
            const size_t length = EncodeRecord(entry, record);
            if (!WriteExact(file_.Get(), record, length)) return false;
            directorySize += length;
        }
        // The bytes of an unchanged entry compared last may lie beyond the directory: the archive
        // ends with its directory, like every archive this system writes.
        const uint64_t length = end_ + directorySize;
        if (fflush(file_.Get()) != 0 || !TruncateOpenFile(file_.Get(), length)) return false;
        const PackageHeader header{kPackageTag, static_cast<uint32_t>(entries_.size()), static_cast<uint32_t>(end_),
                                   static_cast<uint32_t>(directorySize)};
        uint8_t bytes[kPackageHeaderSize];
        EncodeHeader(header, bytes);
        if (!SeekFile(file_.Get(), 0, SEEK_SET) || !WriteExact(file_.Get(), bytes, sizeof(bytes))) return false;
        return file_.Close();
    }
    uint64_t End() const { return end_; }

private:
    static constexpr uint64_t kMaxArchiveLengthForEntries = 0x7FFFFFFFu;
    std::string path_;
    StdioFile file_;
    uint64_t end_ = 0;
    std::vector<PackageEntry> entries_;
};

// Streams the stored bytes of one entry, in pieces: from the archive, or from memory when they
// were read already.
struct StoredStream {
    RangeReader* reader = nullptr;
    uint64_t offset = 0;
    uint32_t remaining = 0;
    const uint8_t* memory = nullptr;

    // Up to kPiece bytes into piece; 0 at the end, -1 on a read failure.
    long Next(uint8_t* piece) {
        const size_t n = std::min<size_t>(remaining, kPiece);
        if (n == 0) return 0;
        if (memory) {
            memcpy(piece, memory + offset, n);
        } else if (!reader->Read(offset, piece, n)) {
            return -1;
        }
        offset += n;
        remaining -= static_cast<uint32_t>(n);
        return static_cast<long>(n);
    }
};

enum class Compared { Same, Different, Failed };

// Compares two byte streams of equal length piece by piece, the new side's bytes going to sink
// until the end: the sink is dropped when they are the same. Only a piece of each is held.
template <typename NextOld, typename NextNew>
Compared CompareStreams(NextOld nextOld, NextNew nextNew, Sink& sink, uint8_t* oldPiece, uint8_t* newPiece) {
    bool different = false;
    for (;;) {
        const long n = nextNew(newPiece);
        if (n < 0) return Compared::Failed;
        if (n == 0) break;
        if (!different) {
            const long m = nextOld(oldPiece);
            if (m != n) return Compared::Failed;
            different = memcmp(oldPiece, newPiece, static_cast<size_t>(n)) != 0;
        }
        if (!sink.Write(newPiece, static_cast<size_t>(n))) return Compared::Failed;
    }
    if (!different && !sink.Drop()) return Compared::Failed;
    return different ? Compared::Different : Compared::Same;
}

// Inflates one stored entry piece by piece, handing its raw bytes to a sink as they are read.
class InflateStream {
public:
    InflateStream(StoredStream stored, Sink* tee) : stored_(stored), tee_(tee) {
        memset(&z_, 0, sizeof(z_));
        ok_ = inflateInit(&z_) == Z_OK;
    }
    ~InflateStream() { inflateEnd(&z_); }
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // Up to kPiece inflated bytes; 0 at the end of the stream, -1 when it is damaged or unreadable.
    long Next(uint8_t* out) {
        if (!ok_) return -1;
        if (ended_) return 0;
        z_.next_out = out;
        z_.avail_out = kPiece;
        while (z_.avail_out > 0 && !ended_) {
            if (z_.avail_in == 0) {
                const long n = stored_.Next(in_.get());
                if (n < 0) return Fail();
                if (n == 0) return z_.avail_out == kPiece ? Fail() : Produced();  // cut short
                if (tee_ && !tee_->Write(in_.get(), static_cast<size_t>(n))) return Fail();
                z_.next_in = in_.get();
                z_.avail_in = static_cast<uInt>(n);
            }
            const int rc = inflate(&z_, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                ended_ = true;
            } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
                return Fail();
            } else if (rc == Z_BUF_ERROR && z_.avail_in > 0) {
                return Fail();
            }
        }
        return Produced();
    }
    // Passes the stored bytes not read yet to the tee, without inflating them.
    bool CopyRest() {
        if (tee_ == nullptr) return true;
        uint8_t* piece = in_.get();
        for (;;) {
            const long n = stored_.Next(piece);
            if (n < 0) return false;
            if (n == 0) return true;
            if (!tee_->Write(piece, static_cast<size_t>(n))) return false;
        }
    }
    bool EndedCleanly() const { return ended_ && z_.avail_in == 0 && stored_.remaining == 0; }

private:
    long Fail() {
        ok_ = false;
        return -1;
    }
    long Produced() { return static_cast<long>(kPiece - z_.avail_out); }

    StoredStream stored_;
    Sink* tee_;
    z_stream z_;
    bool ok_ = false;
    bool ended_ = false;
    std::unique_ptr<uint8_t[]> in_{new uint8_t[kPiece]};
};

// Two entries of equal size stored differently: equal when they inflate to the same content.
Compared CompareInflated(StoredStream oldStored, StoredStream newStored, Sink& sink, uint8_t* oldPiece,
                         uint8_t* newPiece) {
    InflateStream oldSide(oldStored, nullptr);
    InflateStream newSide(newStored, &sink);
    size_t oldHave = 0;
    size_t oldUsed = 0;
    bool different = false;
    for (;;) {
        const long n = newSide.Next(newPiece);
        if (n <= 0) {
            // The end of the new side: the old one must end here too.
            if (n < 0) different = true;
            if (!different && oldUsed == oldHave) {
                const long m = oldSide.Next(oldPiece);
                different = m != 0;
            } else {
                different = true;
            }
            break;
        }
        size_t done = 0;
        while (done < static_cast<size_t>(n)) {
            if (oldUsed == oldHave) {
                const long m = oldSide.Next(oldPiece);
                if (m <= 0) {
                    different = true;
                    break;
                }
                oldHave = static_cast<size_t>(m);
                oldUsed = 0;
            }
            const size_t step = std::min(oldHave - oldUsed, static_cast<size_t>(n) - done);
            if (memcmp(oldPiece + oldUsed, newPiece + done, step) != 0) {
                different = true;
                break;
            }
            oldUsed += step;
            done += step;
        }
        if (different) break;
    }
    if (different) return newSide.CopyRest() ? Compared::Different : Compared::Failed;
    if (!newSide.EndedCleanly()) return newSide.CopyRest() ? Compared::Different : Compared::Failed;
    return sink.Drop() ? Compared::Same : Compared::Failed;
}

// A client archive's directory, in order, with its names looked up exactly.
struct ArchiveDirectory {
    bool present = false;
    std::vector<PackageEntry> entries;
    std::unordered_map<std::string, size_t> byName;
};

bool ReadArchiveDirectory(const Tree& tree, const std::string& gbk, ArchiveDirectory* dir,
                          std::vector<std::string>* problems) {
    const Node* node = tree.Find(gbk);
    if (node == nullptr) return true;
    if (node->isFolder) {
        problems->push_back(tree.label + " folder: the client archive " + Quote(gbk) + " is a folder");
        return false;
    }
    dir->present = true;
    PackageReader reader;
    if (!reader.Open(node->host.c_str())) {
        problems->push_back(tree.label + " folder: the client archive " + Quote(gbk) + " cannot be read as an archive");
        return false;
    }
    PackageEntry entry;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) {
        if (!dir->byName.emplace(entry.name, dir->entries.size()).second) {
            problems->push_back(tree.label + " folder: the client archive " + Quote(gbk) + " holds the entry " +
                                Quote(entry.name) + " twice");
            return false;
        }
        dir->entries.push_back(entry);
    }
    if (dir->entries.size() != reader.EntryCount()) {
        problems->push_back(tree.label + " folder: the directory of the client archive " + Quote(gbk) +
                            " is damaged after " + std::to_string(dir->entries.size()) + " entries");
        return false;
    }
    return true;
}

std::string ReasonForPlainName(const std::string& gbk) {
    if (IsResourceEntry(gbk.c_str())) {
        return "lies in a resource folder, whose files an installer puts into the client archive, not the folder";
    }
    if (!FitsPathBuffer(gbk.c_str())) return "has a path longer than 259 characters, which an installer refuses";
    return std::string();
}

// The patch being assembled, and the problems found on the way.
class DiffRun {
public:
    DiffRun(const DiffOptions& options, DiffResult* result) : options_(options), result_(result) {}

    bool Run(const std::string& oldDir, const std::string& newDir, const std::string& outDir, std::string* error);

private:
    void Problem(const std::string& text) { result_->problems.push_back(text); }
    bool CheckSpecialNames();
    bool CheckArchiveList();
    void PlanIndexMerge();
    void PlanFolders();
    bool ComparePlainFiles(std::string* error);
    Compared CompareFileInto(const Node& was, const Node& now, FileSink& sink, std::string* error);
    bool CopyFileInto(const Node& now, FileSink& sink, std::string* error);
    bool CompareArchives(std::string* error);
    void PlanDeletes();
    bool WriteLists(std::string* error);
    bool MeasureCompression(std::string* error);
    std::string OutPath(const std::string& gbk, std::vector<std::string>* folders = nullptr) const;
    FileSink SinkFor(const std::string& gbk) const;

    const DiffOptions& options_;
    DiffResult* result_;
    Tree old_;
    Tree new_;
    std::string outDir_;
    std::vector<std::string> archives_;  // the archive list (the same in both folders)
    std::string chosenArchive_;          // the last listed: where new entries go
    std::set<std::string> handledKeys_;  // keys the plain comparison leaves alone
    bool mergeRuns_ = false;
    std::set<std::string> deliveredNames_;
    std::unique_ptr<uint8_t[]> oldPiece_{new uint8_t[kPiece]};
    std::unique_ptr<uint8_t[]> newPiece_{new uint8_t[kPiece]};
    // Inflated content, while the pieces above may hold the stored bytes.
    std::unique_ptr<uint8_t[]> oldOut_{new uint8_t[kPiece]};
    std::unique_ptr<uint8_t[]> newOut_{new uint8_t[kPiece]};
};

std::string DiffRun::OutPath(const std::string& gbk, std::vector<std::string>* folders) const {
    // Host names on Windows are GBK too: the components come from a lead-byte-aware split, never
    // from a search for '\\' in the joined path.
    std::string path = outDir_;
    const std::vector<std::string> parts = SplitGbkPath(gbk);
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string host;
        GbkToHostName(parts[i], &host);
        path = JoinHostPath(path, host);
        if (folders && i + 1 < parts.size()) folders->push_back(path);
    }
    return path;
}

FileSink DiffRun::SinkFor(const std::string& gbk) const {
    std::vector<std::string> folders;
    std::string path = OutPath(gbk, &folders);
    return FileSink(std::move(path), std::move(folders));
}

bool DiffRun::CheckSpecialNames() {
    const size_t before = result_->problems.size();
    // What an installation removes whatever the patch says: the extracted package, and what
    // older installers left beside their targets.
    std::vector<const char*> removed = {"patch.pkg"};
    removed.insert(removed.end(), std::begin(kInstallerLeftovers), std::end(kInstallerLeftovers));
    for (const char* name : removed) {
        const Node* node = new_.Find(name);
        if (node && !node->isFolder) {
            Problem("new folder: " + Quote(node->gbk) + " is removed by every installation; a patch cannot leave it");
        }
    }
    for (Tree* tree : {&old_, &new_}) {
        for (const char* name : {kStagingFolderName, kRunLockFileName}) {
            if (tree->Find(name)) {
                Problem(tree->label + " folder: holds " + name +
                        ", an unfinished installation; let an installer finish it first");
            }
        }
    }
    return result_->problems.size() == before;
}

bool DiffRun::CheckArchiveList() {
    const std::string listName = std::string(kArchiveFolderPrefix) + "package.cfg";
    const Node* oldList = old_.Find(listName);
    const Node* newList = new_.Find(listName);
    if (newList == nullptr || newList->isFolder) {
        Problem("new folder: has no " + listName + "; every installation writes one");
        return false;
    }
    std::vector<std::string> newNames;
    std::vector<std::string> oldNames;
    ReadArchiveListFile(newList->host.c_str(), newNames);
    if (oldList && !oldList->isFolder) ReadArchiveListFile(oldList->host.c_str(), oldNames);
    if (oldNames != newNames) {
        std::string shown;
        for (const std::string& name : newNames) shown += " " + ShowGbkName(name);
        std::string was;
        for (const std::string& name : oldNames) was += " " + ShowGbkName(name);
        Problem("the client archive list " + listName + " changed (old:" + was + "; new:" + shown +
                "); a patch cannot change it");
        return false;
    }
    archives_ = newNames;
    handledKeys_.insert(FoldedPath(listName));
    for (const std::string& name : archives_) handledKeys_.insert(FoldedPath(kArchiveFolderPrefix + name));

    std::string why;
    if (!CheckArchiveChoice(old_.dir, 0, &why)) {
        Problem(why);
        return false;
    }
    chosenArchive_ = archives_.back();
    for (const std::string& name : archives_) {
        const Node* node = new_.Find(kArchiveFolderPrefix + name);
        if (node && node->readOnly) {
            Problem("new folder: the client archive " + Quote(node->gbk) +
                    " is read-only; the installer writes the archive it rebuilds as an ordinary file");
        }
        // The chosen archive leaves by the ".tmp" beside it; such a file cannot stay.
        const Node* temp = new_.Find(kArchiveFolderPrefix + name + ".tmp");
        if (name == chosenArchive_ && temp) {
            Problem("new folder: " + Quote(temp->gbk) + " is removed by every installation; a patch cannot leave it");
        }
    }
    return true;
}

// The installer merges the resource index when the patch brings a new list: the old list becomes
// the reserve copy, and with exactly one new patch the patches no longer listed move from the
// download folder to the reserve folder. The new folder must look like that outcome.
void DiffRun::PlanIndexMerge() {
    const Node* oldList = old_.Find(kIndexListName);
    const Node* newList = new_.Find(kIndexListName);
    if (newList == nullptr || newList->isFolder) return;
    std::string newText;
    std::string oldText;
    std::string error;
    if (!ReadSmallFile(newList->host, &newText, &error)) {
        Problem(error);
        return;
    }
    const bool haveOld = oldList && !oldList->isFolder;
    if (haveOld && !ReadSmallFile(oldList->host, &oldText, &error)) {
        Problem(error);
        return;
    }
    if (haveOld && oldText == newText) {
        if (oldList->readOnly != newList->readOnly && newList->readOnly) {
            Problem("new folder: " + Quote(newList->gbk) + " became read-only; a patch cannot set that attribute");
        }
        handledKeys_.insert(FoldedPath(kIndexListName));
        return;
    }
    mergeRuns_ = true;
    handledKeys_.insert(FoldedPath(kIndexListName));
    if (newList->readOnly) {
        Problem("new folder: " + Quote(newList->gbk) + " is read-only; the merged list is written as an ordinary file");
    }
    DiffItem item;
    item.kind = DiffItem::Kind::IndexList;
    item.name = kIndexListEntry;
    item.isNew = !haveOld;
    item.size = newText.size();
    result_->items.push_back(item);
    deliveredNames_.insert(kIndexListEntry);

    const std::string reserveList = std::string(kReserveFolder) + "\\RAVNFileList.ini";
    handledKeys_.insert(FoldedPath(reserveList));
    const Node* newReserve = new_.Find(reserveList);
    std::string reserveText;
    const bool haveReserve = newReserve && !newReserve->isFolder && ReadSmallFile(newReserve->host, &reserveText, &error);
    if (haveOld != haveReserve || reserveText != oldText) {
        Problem("new folder: " + Quote(reserveList) + " must " +
                (haveOld ? "be the old folder's resource index list" : "not exist") +
                ": the merge keeps the list it replaces there");
    }
    const Node* reserveFolder = new_.Find(kReserveFolder);
    if (reserveFolder == nullptr || !reserveFolder->isFolder) {
        Problem(std::string("new folder: has no folder ") + kReserveFolder + ", which the merge of the resource index makes");
    }

    const std::vector<std::string> oldPatches = haveOld ? IndexListPatches(oldText) : std::vector<std::string>();
    const std::vector<std::string> newPatches = IndexListPatches(newText);
    if (newPatches.size() != 1 || oldPatches.empty()) return;
    for (const std::string& name : oldPatches) {
        if (std::find(newPatches.begin(), newPatches.end(), name) != newPatches.end()) continue;
        if (!IsContainedRelativePath(name.c_str()) || FindFirstSeparator(name.c_str()) >= 0) continue;
        const std::string source = "RAVN\\RAVNDownload\\" + name;
        const std::string target = std::string(kReserveFolder) + "\\" + name;
        if (!FitsPathBuffer(source.c_str()) || !FitsPathBuffer(target.c_str())) continue;
        const Node* oldSource = old_.Find(source);
        if (oldSource == nullptr || oldSource->isFolder) continue;
        handledKeys_.insert(FoldedPath(source));
        handledKeys_.insert(FoldedPath(target));
        const Node* newSource = new_.Find(source);
        const Node* newTarget = new_.Find(target);
        std::string sourceText;
        std::string targetText;
        const bool same = newTarget && !newTarget->isFolder && ReadSmallFile(oldSource->host, &sourceText, &error) &&
                          ReadSmallFile(newTarget->host, &targetText, &error) && sourceText == targetText;
        if (newSource || !same) {
            Problem("new folder: the merge moves the patch " + Quote(source) + ", which the new list no longer names, to " +
                    Quote(target) + "; the new folder must have it there and only there");
        }
    }
}

// Folders: a patch makes a folder only as the parent of a file it writes, and removes one only
// through the delete list.
void DiffRun::PlanFolders() {
    std::set<std::string> holdingFiles;
    for (const auto& [key, node] : new_.nodes) {
        if (node.isFolder) continue;
        for (std::string parent = ParentKey(key); !parent.empty(); parent = ParentKey(parent)) {
            if (!holdingFiles.insert(parent).second) break;
        }
    }
    for (const auto& [key, node] : new_.nodes) {
        const auto old = old_.nodes.find(key);
        if (old == old_.nodes.end()) {
            if (node.isFolder && !holdingFiles.count(key) && !(mergeRuns_ && key == FoldedPath(kReserveFolder))) {
                Problem("new folder: the empty folder " + Quote(node.gbk) + " cannot be made by a patch, which carries files only");
            }
            continue;
        }
        const Node& was = old->second;
        if (was.isFolder != node.isFolder) {
            Problem(Quote(node.gbk) + " is a " + (was.isFolder ? "folder" : "file") + " in the old folder and a " +
                    (node.isFolder ? "folder" : "file") + " in the new one; a patch cannot change one into the other");
        } else if (was.gbk != node.gbk) {
            Problem(Quote(was.gbk) + " is " + Quote(node.gbk) +
                    " in the new folder: a patch cannot change only the letter case of a name");
        }
    }
}

// Two files of equal length, piece by piece; the new one's pieces go to sink, which is dropped
// when they are the same.
Compared DiffRun::CompareFileInto(const Node& was, const Node& now, FileSink& sink, std::string* error) {
    StdioFile oldFile;
    StdioFile newFile;
    if (!oldFile.Open(was.host, "rb") || !newFile.Open(now.host, "rb")) {
        *error = "cannot open \"" + (oldFile ? now.host : was.host) + "\": " + LastErrorText();
        return Compared::Failed;
    }
    bool different = false;
    for (uint64_t left = now.size; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kPiece));
        if (!ReadExact(newFile.Get(), newPiece_.get(), n) ||
            (!different && !ReadExact(oldFile.Get(), oldPiece_.get(), n))) {
            *error = "cannot read \"" + now.host + "\" or \"" + was.host + "\" in full";
            return Compared::Failed;
        }
        different = different || memcmp(oldPiece_.get(), newPiece_.get(), n) != 0;
        left -= n;
        // A last piece that is the same needs no copy: the file is dropped then.
        if ((different || left > 0) && !sink.Write(newPiece_.get(), n)) {
            *error = "cannot write \"" + OutPath(now.gbk) + "\": " + LastErrorText();
            return Compared::Failed;
        }
    }
    if (!different && !sink.Drop()) {
        *error = "cannot remove \"" + OutPath(now.gbk) + "\": " + LastErrorText();
        return Compared::Failed;
    }
    return different ? Compared::Different : Compared::Same;
}

bool DiffRun::CopyFileInto(const Node& now, FileSink& sink, std::string* error) {
    StdioFile file;
    if (!file.Open(now.host, "rb")) {
        *error = "cannot open \"" + now.host + "\": " + LastErrorText();
        return false;
    }
    for (uint64_t left = now.size; left > 0;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kPiece));
        if (!ReadExact(file.Get(), newPiece_.get(), n)) {
            *error = "cannot read \"" + now.host + "\" in full";
            return false;
        }
        if (!sink.Write(newPiece_.get(), n)) {
            *error = "cannot write \"" + OutPath(now.gbk) + "\": " + LastErrorText();
            return false;
        }
        left -= n;
    }
    return true;
}

bool DiffRun::ComparePlainFiles(std::string* error) {
    for (const auto& [key, node] : new_.nodes) {
        if (node.isFolder || handledKeys_.count(key)) continue;
        const auto oldIt = old_.nodes.find(key);
        const Node* was = oldIt == old_.nodes.end() ? nullptr : &oldIt->second;
        if (was && (was->isFolder || was->gbk != node.gbk)) continue;  // refused by PlanFolders

        const std::string why = ReasonForPlainName(node.gbk);
        FileSink sink = SinkFor(node.gbk);
        const bool deliverable = why.empty() && !node.readOnly;
        if (was && was->size == node.size) {
            ++result_->filesCompared;
            const Compared outcome = CompareFileInto(*was, node, sink, error);
            if (outcome == Compared::Failed) return false;
            if (outcome == Compared::Same) {
                if (!was->readOnly && node.readOnly) {
                    Problem("new folder: " + Quote(node.gbk) + " became read-only; a patch cannot set that attribute");
                    continue;
                }
                if (!was->readOnly || node.readOnly) continue;
                // Written again, the file comes out writable: the one way to clear the attribute.
                // Its bytes are read a second time only in this rare case.
                if (deliverable && !CopyFileInto(node, sink, error)) return false;
            }
        } else if (deliverable && !CopyFileInto(node, sink, error)) {
            return false;
        }
        if (!why.empty()) {
            sink.Drop();
            Problem("new folder: " + Quote(node.gbk) + (was ? " changed" : " is new") + ", but it " + why);
            continue;
        }
        if (node.readOnly) {
            sink.Drop();
            Problem("new folder: " + Quote(node.gbk) + " is read-only; a patch writes its files as ordinary files");
            continue;
        }
        if (!sink.Finish()) {
            *error = "cannot write \"" + OutPath(node.gbk) + "\": " + LastErrorText();
            return false;
        }
        DiffItem item;
        item.kind = DiffItem::Kind::PlainFile;
        item.name = node.gbk;
        item.isNew = was == nullptr;
        item.size = node.size;
        deliveredNames_.insert(node.gbk);
        result_->items.push_back(item);
    }
    return true;
}

bool DiffRun::CompareArchives(std::string* error) {
    StoredEntriesWriter stored;
    if (!stored.Open(JoinHostPath(outDir_, kStoredEntriesFile))) {
        *error = "cannot create \"" + JoinHostPath(outDir_, kStoredEntriesFile) + "\": " + LastErrorText();
        return false;
    }
    for (const std::string& archive : archives_) {
        const std::string gbk = kArchiveFolderPrefix + archive;
        ArchiveDirectory oldDir;
        ArchiveDirectory newDir;
        if (!ReadArchiveDirectory(old_, gbk, &oldDir, &result_->problems) ||
            !ReadArchiveDirectory(new_, gbk, &newDir, &result_->problems)) {
            continue;
        }
        for (const PackageEntry& entry : oldDir.entries) {
            if (!newDir.byName.count(entry.name)) {
                Problem("the entry " + Quote(entry.name) + " of the client archive " + Quote(gbk) +
                        " is not in the new folder; a patch cannot remove an archive entry");
            }
        }
        if (!newDir.present) continue;
        RangeReader oldReader;
        RangeReader newReader;
        if ((oldDir.present && !oldReader.Open(old_.Find(gbk)->host)) || !newReader.Open(new_.Find(gbk)->host)) {
            *error = "cannot open the client archive " + Quote(gbk) + ": " + LastErrorText();
            return false;
        }
        for (const PackageEntry& entry : newDir.entries) {
            const auto oldIt = oldDir.byName.find(entry.name);
            const PackageEntry* was = oldIt == oldDir.byName.end() ? nullptr : &oldDir.entries[oldIt->second];
            StoredEntriesWriter::EntrySink sink(stored);
            StoredStream newStream{&newReader, entry.dataOffset, entry.storedSize};
            Compared outcome = Compared::Different;
            if (was && was->flags == entry.flags && was->size == entry.size) {
                ++result_->entriesCompared;
                StoredStream oldStream{&oldReader, was->dataOffset, was->storedSize};
                if (was->storedSize == entry.storedSize && entry.storedSize <= kPiece) {
                    // Both fit one piece: equal bytes are the common case; bytes that differ may
                    // still inflate to the same content (another compressor), which decides.
                    if (oldStream.Next(oldPiece_.get()) != static_cast<long>(entry.storedSize) ||
                        newStream.Next(newPiece_.get()) != static_cast<long>(entry.storedSize)) {
                        outcome = Compared::Failed;
                    } else if (memcmp(oldPiece_.get(), newPiece_.get(), entry.storedSize) == 0) {
                        outcome = Compared::Same;
                    } else {
                        outcome = CompareInflated(StoredStream{nullptr, 0, was->storedSize, oldPiece_.get()},
                                                  StoredStream{nullptr, 0, entry.storedSize, newPiece_.get()}, sink,
                                                  oldOut_.get(), newOut_.get());
                    }
                } else if (was->storedSize == entry.storedSize) {
                    // Longer entries stored alike are compared as stored; should their bytes
                    // differ, the entry counts as changed without inflating it.
                    outcome = CompareStreams([&](uint8_t* p) { return oldStream.Next(p); },
                                             [&](uint8_t* p) { return newStream.Next(p); }, sink, oldPiece_.get(),
                                             newPiece_.get());
                } else {
                    outcome = CompareInflated(oldStream, newStream, sink, oldOut_.get(), newOut_.get());
                }
            } else {
                for (;;) {
                    const long n = newStream.Next(newPiece_.get());
                    if (n < 0) {
                        outcome = Compared::Failed;
                        break;
                    }
                    if (n == 0) break;
                    if (!sink.Write(newPiece_.get(), static_cast<size_t>(n))) {
                        outcome = Compared::Failed;
                        break;
                    }
                }
            }
            if (outcome == Compared::Failed) {
                *error = "cannot copy the entry " + Quote(entry.name) + " of the client archive " + Quote(gbk);
                return false;
            }
            if (outcome == Compared::Same) continue;

            std::string why;
            if (archive != chosenArchive_) {
                why = "an installer adds entries only to the last listed archive, " +
                      Quote(kArchiveFolderPrefix + chosenArchive_);
            } else if (!IsContainedRelativePath(entry.name.c_str())) {
                why = "its name leads out of the client folder";
            } else if (!IsResourceEntry(entry.name.c_str())) {
                why = "it is not in a resource folder, so an installer would write it as a plain file";
            } else if (deliveredNames_.count(entry.name)) {
                why = "a plain file of the patch has the same name";
            }
            if (!why.empty()) {
                sink.Drop();
                Problem("the entry " + Quote(entry.name) + " of the client archive " + Quote(gbk) +
                        (was ? " changed" : " is new") + ", but " + why);
                continue;
            }
            PackageEntry kept = entry;
            kept.dataOffset = sink.Start();
            stored.Keep(kept);
            DiffItem item;
            item.kind = DiffItem::Kind::ArchiveEntry;
            item.name = entry.name;
            item.archive = archive;
            item.isNew = was == nullptr;
            item.size = entry.size;
            item.storedSize = entry.storedSize;
            result_->items.push_back(item);
        }
    }
    if (!stored.Finish()) {
        *error = "cannot write \"" + JoinHostPath(outDir_, kStoredEntriesFile) + "\": " + LastErrorText();
        return false;
    }
    return true;
}

// Everything of the old folder that the new one lacks, each folder once rather than its files.
void DiffRun::PlanDeletes() {
    for (const auto& [key, node] : old_.nodes) {
        if (new_.nodes.count(key) || handledKeys_.count(key)) continue;
        const std::string parent = ParentKey(key);
        if (!parent.empty() && !new_.nodes.count(parent)) continue;  // its folder goes as a whole
        // The installer reads ".\\" + the line into 259 characters and trims blanks at its end.
        if (node.gbk.size() > kPathBufferSize - 4) {
            Problem("old folder: " + Quote(node.gbk) + " is to be deleted, but its name is too long for the delete list");
            continue;
        }
        if (node.gbk.back() == ' ' || node.gbk.back() == '\t') {
            Problem("old folder: " + Quote(node.gbk) + " is to be deleted, but the delete list drops blanks at the end of a name");
            continue;
        }
        result_->deleteLines.push_back(node.gbk);
    }
}

bool DiffRun::WriteLists(std::string* error) {
    if (mergeRuns_) {
        const Node* list = new_.Find(kIndexListName);
        std::string text;
        if (!ReadSmallFile(list->host, &text, error)) return false;
        FileSink sink = SinkFor(kIndexListEntry);
        if (!sink.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()) || !sink.Finish()) {
            *error = "cannot write \"" + OutPath(kIndexListEntry) + "\": " + LastErrorText();
            return false;
        }
    }
    if (result_->deleteLines.empty()) return true;
    std::string text;
    for (const std::string& line : result_->deleteLines) text += line + "\r\n";
    FileSink sink = SinkFor(kDeleteListName);
    if (!sink.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()) || !sink.Finish()) {
        *error = "cannot write \"" + OutPath(kDeleteListName) + "\": " + LastErrorText();
        return false;
    }
    DiffItem item;
    item.kind = DiffItem::Kind::DeleteList;
    item.name = kDeleteListName;
    item.isNew = true;
    item.size = text.size();
    result_->items.push_back(item);
    return true;
}

// Deflates a file of the patch folder only to count its compressed bytes, as PackFolder will.
bool CompressedSize(const std::string& path, uint64_t* size) {
    StdioFile file;
    if (!file.Open(path, "rb")) return false;
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return false;
    std::unique_ptr<uint8_t[]> in(new uint8_t[kPiece]);
    std::unique_ptr<uint8_t[]> out(new uint8_t[kPiece]);
    uint64_t total = 0;
    bool ok = true;
    for (bool end = false; ok && !end;) {
        const size_t n = fread(in.get(), 1, kPiece, file.Get());
        end = n < kPiece;
        z.next_in = in.get();
        z.avail_in = static_cast<uInt>(n);
        int rc = Z_OK;
        do {
            z.next_out = out.get();
            z.avail_out = kPiece;
            rc = deflate(&z, end ? Z_FINISH : Z_NO_FLUSH);
            total += kPiece - z.avail_out;
        } while (z.avail_out == 0 && rc != Z_STREAM_END);
        ok = rc != Z_STREAM_ERROR && ferror(file.Get()) == 0;
    }
    deflateEnd(&z);
    *size = total;
    return ok;
}

bool DiffRun::MeasureCompression(std::string* error) {
    for (DiffItem& item : result_->items) {
        if (item.kind == DiffItem::Kind::ArchiveEntry) continue;
        if (!CompressedSize(OutPath(item.name), &item.storedSize)) {
            *error = "cannot read back \"" + OutPath(item.name) + "\"";
            return false;
        }
    }
    return true;
}

bool DiffRun::Run(const std::string& oldDir, const std::string& newDir, const std::string& outDir,
                  std::string* error) {
    outDir_ = outDir;
    if (!LoadTree(oldDir, "old", false, &old_, &result_->problems, error) ||
        !LoadTree(newDir, "new", true, &new_, &result_->problems, error)) {
        return false;
    }
    CheckSpecialNames();
    CheckArchiveList();
    PlanIndexMerge();
    PlanFolders();
    PlanDeletes();
    if (!result_->problems.empty()) return true;  // refused before anything was read or written

    if (IsDirectory(outDir)) {
        std::vector<TreeItem> inside;
        if (!ListTreeUnder(outDir, &inside, error)) return false;
        if (!inside.empty()) {
            *error = "the patch folder \"" + outDir + "\" is not empty";
            return false;
        }
    } else if (!MakeDirectory(outDir)) {
        *error = "cannot create the patch folder \"" + outDir + "\": " + LastErrorText();
        return false;
    }
    if (!ComparePlainFiles(error) || !CompareArchives(error) || !WriteLists(error)) return false;
    if (options_.measureCompression && !MeasureCompression(error)) return false;
    return true;
}

std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

std::string TrimmedBlanks(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && strchr(" \t\r\n", text[begin])) ++begin;
    while (end > begin && strchr(" \t\r\n", text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

bool ProfileString(const std::string& text, const char* section, const char* key, std::string* value) {
    const std::string wantSection = AsciiLower(section);
    const std::string wantKey = AsciiLower(key);
    bool inSection = false;
    bool sectionSeen = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = TrimmedBlanks(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            const std::string name = AsciiLower(TrimmedBlanks(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)));
            if (inSection) return false;  // only the first section of that name is read
            inSection = !sectionSeen && name == wantSection;
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        if (AsciiLower(TrimmedBlanks(line.substr(0, equals))) != wantKey) continue;
        std::string found = TrimmedBlanks(line.substr(equals + 1));
        // A value in matching quotes loses them, as the profile functions do.
        if (found.size() >= 2 && (found[0] == '"' || found[0] == '\'') && found.back() == found[0]) {
            found = found.substr(1, found.size() - 2);
        }
        *value = found;
        return true;
    }
    return false;
}

int ProfileInt(const std::string& text, const char* section, const char* key, int fallback) {
    std::string value;
    if (!ProfileString(text, section, key, &value)) return fallback;
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return 0;
    long long number = 0;
    for (; *p >= '0' && *p <= '9' && number < 0x100000000LL; ++p) number = number * 10 + (*p - '0');
    return static_cast<int>(static_cast<uint32_t>(negative ? -number : number));
}

std::vector<std::string> IndexListPatches(const std::string& text) {
    std::vector<std::string> patches;
    int count = ProfileInt(text, "FileList", "FileCount", 0);
    if (count <= 1) return patches;
    count = std::min(count, 1001);
    for (int i = 1; i < count; ++i) {
        std::string name;
        ProfileString(text, ("FileItem" + std::to_string(i)).c_str(), "FileName", &name);
        if (name.size() > kPathBufferSize - 2) name.resize(GbkSafePrefixLength(name.c_str(), kPathBufferSize - 2));
        patches.push_back(name);
    }
    return patches;
}

bool DiffTrees(const std::string& oldDir, const std::string& newDir, const std::string& outDir,
               const DiffOptions& options, DiffResult* result, std::string* error) {
    *result = DiffResult();
    const bool outExisted = IsDirectory(outDir);
    DiffRun run(options, result);
    const bool ok = run.Run(oldDir, newDir, outDir, error);
    if (ok && result->problems.empty()) return true;
    if (ok) *error = result->problems.front();
    // Nothing half made stays behind: the folder is emptied (it was empty) or removed.
    if (IsDirectory(outDir)) {
        std::vector<TreeItem> inside;
        if (outExisted && ListTreeUnder(outDir, &inside, error)) {
            for (const TreeItem& item : inside) {
                if (item.parts.size() != 1) continue;
                const std::string path = JoinHostPath(outDir, item.parts[0]);
                if (item.isFolder) {
                    RemoveFolderTree(path);
                } else {
                    RemoveFile(path);
                }
            }
        } else if (!outExisted) {
            RemoveFolderTree(outDir);
        }
    }
    return false;
}

bool CheckArchiveChoice(const std::string& oldDir, uint32_t packageLength, std::string* why) {
    std::vector<std::string> names;
    ReadArchiveListFile(JoinHostPath(JoinHostPath(oldDir, "package"), "package.cfg").c_str(), names);
    if (names.empty()) {
        *why = "the old folder lists no client archive in package\\package.cfg; an installer would start a new one";
        return false;
    }
    const std::string last = names.back();
    ArchiveFileQueries files;
    files.exists = [&oldDir](const char* path) {
        std::string host = oldDir;
        for (const std::string& part : SplitGbkPath(path)) {
            std::string name;
            GbkToHostName(part, &name);
            host = JoinHostPath(host, name);
        }
        return IsRegularFile(host);
    };
    files.length = [&oldDir](const char* path) -> uint32_t {
        std::string host = oldDir;
        for (const std::string& part : SplitGbkPath(path)) {
            std::string name;
            GbkToHostName(part, &name);
            host = JoinHostPath(host, name);
        }
        uint64_t size = 0;
        return FileSizeOf(host, &size) ? static_cast<uint32_t>(size) : 0;
    };
    std::string chosen;
    if (ChooseArchive(names, 0, packageLength, files, chosen) == ArchivePick::Listed) return true;
    if (!IsUsableArchiveName(last.c_str())) {
        *why = "the last listed client archive " + Quote(last) + " is not a usable file name; an installer would start a new one";
    } else {
        *why = "the client archive " + Quote(kArchiveFolderPrefix + last) + " (" + std::to_string(files.length(("package\\" + last).c_str())) +
               " bytes) and a package of " + std::to_string(packageLength) + " bytes exceed " +
               std::to_string(kArchiveSizeLimit) + " bytes together; an installer would start a new archive and change the list";
    }
    return false;
}

bool ReadTreeVersion(const std::string& dir, uint32_t* version) {
    StdioFile file;
    if (!file.Open(JoinHostPath(dir, "update.cfg"), "r")) return false;
    return ReadVersionFromStream(file.Get(), version);
}

uint32_t ReadTreeClientType(const std::string& dir) {
    std::string text;
    std::string error;
    if (!ReadSmallFile(JoinHostPath(JoinHostPath(dir, "Config"), "MiniClient.ini"), &text, &error)) return 0;
    return ProfileInt(text, "Version", "Ver", 0) != 0 ? 1u : 0u;
}

bool RemoveFolderTree(const std::string& path) {
    std::vector<TreeItem> items;
    std::string error;
    if (ListTreeUnder(path, &items, &error)) {
        // Deepest first, so every folder is empty when its turn comes.
        std::sort(items.begin(), items.end(),
                  [](const TreeItem& a, const TreeItem& b) { return a.parts.size() > b.parts.size(); });
        for (const TreeItem& item : items) {
            std::string host = path;
            for (const std::string& part : item.parts) host = JoinHostPath(host, part);
            if (item.isFolder) {
                RemoveEmptyFolder(host);
            } else {
                ClearReadOnly(host);
                RemoveFile(host);
            }
        }
    }
    RemoveEmptyFolder(path);
    return !IsDirectory(path);
}
