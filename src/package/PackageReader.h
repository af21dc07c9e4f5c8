// Sequential reader of a package archive (layout in PackageFormat.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/StdioFile.h"
#include "package/PackageFormat.h"

class PackageReader {
public:
    static constexpr uint32_t kInitialBufferSize = 1048576;

    PackageReader() = default;
    ~PackageReader() { Close(); }
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    // Allocates the 1 MiB buffer, opens the file and reads the 16-byte header. False (and nothing
    // held) when the file cannot be opened, is empty, or its header cannot be read in full.
    bool Open(const char* path);
    // Releases buffer and file; safe when not open and when called twice.
    void Close();
    bool IsOpen() const { return static_cast<bool>(file_); }

    // Restarts at the first directory record. False at once when entryCount is 0.
    bool First(PackageEntry& entry);
    // Reads the next directory record. False at the end, and for a record that is damaged
    // (name over 1023 bytes, cut short, or running past the end of the file): a damaged record
    // ends the walk and is never handed out.
    bool Next(PackageEntry& entry);

    // The stored bytes of one entry in the reader's reusable buffer, valid until the next
    // ReadStored, ReadUnpacked (which reuses the buffer) or Close; null when they cannot be read
    // in full (including ranges beyond the end of the file, which are refused before anything is
    // allocated).
    const uint8_t* ReadStored(uint32_t dataOffset, uint32_t storedSize);
    // Inflates one entry into dest. True only when the stored bytes were read in full, zlib
    // succeeded and the content is exactly `capacity` bytes long (the callers pass the entry's size).
    bool ReadUnpacked(uint8_t* dest, uint32_t capacity, uint32_t dataOffset, uint32_t storedSize);

    uint32_t EntryCount() const { return header_.entryCount; }
    const PackageHeader& Header() const { return header_; }
    uint64_t FileLength() const { return fileLength_; }

private:
    bool ReadAt(uint64_t offset, void* dest, uint32_t count);

    StdioFile file_;
    std::unique_ptr<uint8_t[]> buffer_;
    uint32_t capacity_ = 0;
    uint64_t fileLength_ = 0;
    PackageHeader header_{};
    int64_t current_ = -1;
    uint64_t nextRecord_ = 0;
    char name_[kMaxEntryNameLength + 1] = {};
};
