// Creates or extends a package archive (layout in PackageFormat.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/RawFile.h"
#include "package/PackageFormat.h"

class PackageWriter {
public:
    // Data and directory go to the file through a buffer of this size: a few large writes
    // instead of a seek and a write per entry.
    static constexpr size_t kWriteBufferSize = 1048576;

    PackageWriter() = default;
    ~PackageWriter() { Discard(); }
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    // Opens an existing archive (its directory is loaded) or creates a new, empty one, then keeps
    // the file open for update. False when it can neither be opened nor created, its directory
    // cannot be read, or it cannot be reopened for update.
    bool Open(const char* path);
    // Appends the stored bytes at directoryOffset; a name already present (same bytes exactly)
    // is replaced in place in the directory. False on a short write: the archive must then not
    // be installed.
    bool Add(const std::string& name, const void* stored, uint32_t size, uint32_t storedSize, uint32_t flags);

    // The two halves of Add, for stored bytes that come in pieces (a run of entries copied from
    // another archive in one block, or one entry deflated as it is written). AppendData writes
    // bytes at DataEnd(); AddRecord then lists an entry whose bytes were appended since Open.
    uint32_t DataEnd() const { return header_.directoryOffset; }
    bool AppendData(const void* bytes, uint32_t count);
    bool AddRecord(const std::string& name, uint32_t dataOffset, uint32_t size, uint32_t storedSize, uint32_t flags);

    // Writes the directory after the data, then the header, and closes. False when nothing is
    // open or a write falls short. The file is closed afterwards either way.
    bool Save();
    // Closes without writing and forgets the directory.
    void Discard();

    bool IsOpen() const { return file_.IsOpen(); }
    const std::vector<PackageEntry>& Entries() const { return entries_; }
    const PackageHeader& Header() const { return header_; }

private:
    RawFile file_;
    SequentialWriter out_;
    PackageHeader header_{};
    // Where this writer's own data begin: records may point only at bytes written since Open.
    uint32_t firstData_ = 0;
    std::vector<PackageEntry> entries_;
    // Name to its place in entries_: a rebuild adds thousands of names, each looked up once.
    std::unordered_map<std::string, size_t> positions_;
};
