// Sequential reader of a package archive (layout in PackageFormat.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/RawFile.h"
#include "package/PackageFormat.h"

class PackageReader {
public:
    static constexpr uint32_t kInitialBufferSize = 1048576;
    // Deflate turns at most 2 bits into a 258-byte match, so no stream inflates to more than
    // 1032 times its length: a size beyond that is a lie, seen before anything is inflated.
    static constexpr uint32_t kMaxInflateRatio = 1032;

    PackageReader() = default;
    ~PackageReader() { Close(); }
    PackageReader(const PackageReader&) = delete;
    PackageReader& operator=(const PackageReader&) = delete;

    // Allocates the 1 MiB buffer, opens the file and reads the 16-byte header. False (and nothing
    // held) when the file cannot be opened, is empty, or its header cannot be read in full.
    bool Open(const char* path);
    // Releases buffers and file; safe when not open and when called twice.
    void Close();
    bool IsOpen() const { return file_.IsOpen(); }

    // Restarts at the first directory record. False at once when entryCount is 0.
    bool First(PackageEntry& entry);
    // Reads the next directory record. False at the end, and for a record that is damaged
    // (name over 1023 bytes, cut short, or running past the end of the file): a damaged record
    // ends the walk and is never handed out.
    bool Next(PackageEntry& entry);

    // The stored bytes of one entry in the reader's reusable buffer, valid until the next
    // ReadStored, ReadUnpacked, InflateEntry or Close; null when they cannot be read in full
    // (including ranges beyond the end of the file, which are refused before anything is
    // allocated). Entries that follow each other in the file are read in 1 MiB blocks.
    const uint8_t* ReadStored(uint32_t dataOffset, uint32_t storedSize);
    // Inflates one entry into dest. True only when the stored bytes were read in full, zlib
    // succeeded and the content is exactly `capacity` bytes long (the callers pass the entry's size).
    bool ReadUnpacked(uint8_t* dest, uint32_t capacity, uint32_t dataOffset, uint32_t storedSize);

    // Receives the inflated content of an entry piece by piece; false stops the inflation.
    using ContentSink = std::function<bool(const uint8_t* bytes, size_t count)>;
    // Inflates an entry in pieces of at most 1 MiB, in constant memory whatever its size. True
    // only when the stream is whole and its content exactly entry.size bytes long; a stream that
    // runs past entry.size is stopped there, so the sink never gets more than entry.size bytes.
    bool InflateEntry(const PackageEntry& entry, const ContentSink& sink);

    // False for an entry whose stored bytes lie beyond the end of the file or whose size no
    // zlib stream of its stored size can inflate to: a damaged directory record.
    bool IsPlausible(const PackageEntry& entry) const;

    uint32_t EntryCount() const { return header_.entryCount; }
    const PackageHeader& Header() const { return header_; }
    uint64_t FileLength() const { return fileLength_; }

private:
    // Inflates into dest (when not null, `expected` bytes of room) or through the sink.
    bool Inflate(uint32_t dataOffset, uint32_t storedSize, uint64_t expected, uint8_t* dest, const ContentSink* sink);

    RawFile file_;
    // The entries' stored bytes; the directory records have a window of their own, so that a
    // walk that reads each entry's data after its record does not reread either block.
    ReadWindow data_;
    ReadWindow directory_;
    std::unique_ptr<uint8_t[]> inflated_;
    uint64_t fileLength_ = 0;
    PackageHeader header_{};
    int64_t current_ = -1;
    uint64_t nextRecord_ = 0;
};
