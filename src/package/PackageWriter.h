// Creates or extends a package archive (layout in PackageFormat.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/StdioFile.h"
#include "package/PackageFormat.h"

class PackageWriter {
public:
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
    // Writes the directory after the data, then the header, and closes. False when nothing is
    // open or a write falls short. The file is closed afterwards either way.
    bool Save();
    // Closes without writing and forgets the directory.
    void Discard();

    bool IsOpen() const { return static_cast<bool>(file_); }
    const std::vector<PackageEntry>& Entries() const { return entries_; }
    const PackageHeader& Header() const { return header_; }

private:
    StdioFile file_;
    PackageHeader header_{};
    std::vector<PackageEntry> entries_;
    // Name to its place in entries_: a rebuild adds thousands of names, each looked up once.
    std::unordered_map<std::string, size_t> positions_;
};
