#include "package/PackageReader.h"

#include <memory>
#include <new>

#include <zlib.h>

#include "base/StdioFile.h"
#include "package/ArchiveCodec.h"

bool PackageReader::Open(const char* path) {
    Close();
    buffer_.reset(new (std::nothrow) uint8_t[kInitialBufferSize]);
    if (!buffer_) return false;
    capacity_ = kInitialBufferSize;

    if (!file_.Open(path, "rb")) {
        Close();
        return false;
    }
    const int64_t length = QueryStreamLength(file_.Get());
    uint8_t header[kPackageHeaderSize];
    if (length < static_cast<int64_t>(kPackageHeaderSize) || !SeekFile(file_.Get(), 0, SEEK_SET) ||
        !ReadExact(file_.Get(), header, sizeof header)) {
        Close();
        return false;
    }
    fileLength_ = static_cast<uint64_t>(length);
    header_ = DecodeHeader(header);
    current_ = -1;
    nextRecord_ = header_.directoryOffset;
    return true;
}

void PackageReader::Close() {
    file_.Close();
    buffer_.reset();
    capacity_ = 0;
    fileLength_ = 0;
    header_ = PackageHeader{};
    current_ = -1;
    nextRecord_ = 0;
}

bool PackageReader::First(PackageEntry& entry) {
    if (!file_ || header_.entryCount == 0) return false;
    current_ = -1;
    nextRecord_ = header_.directoryOffset;
    return Next(entry);
}

bool PackageReader::Next(PackageEntry& entry) {
    if (!file_ || current_ + 1 >= static_cast<int64_t>(header_.entryCount)) return false;
    ++current_;

    uint8_t lengthBytes[2];
    uint8_t numbers[16];
    bool ok = ReadAt(nextRecord_, lengthBytes, sizeof lengthBytes);
    const uint32_t nameLength = ok ? DecodeNameLength(lengthBytes) : 0;
    ok = ok && nameLength <= kMaxEntryNameLength && ReadAt(nextRecord_ + 2, name_, nameLength) &&
         ReadAt(nextRecord_ + 2 + nameLength, numbers, sizeof numbers);
    if (!ok) {
        // A damaged record ends the walk; the records after it cannot be located.
        current_ = header_.entryCount;
        return false;
    }
    name_[nameLength] = '\0';
    nextRecord_ += kDirectoryRecordFixedSize + nameLength;

    entry.name.assign(name_, nameLength);
    DecodeRecordNumbers(numbers, entry);
    return true;
}

const uint8_t* PackageReader::ReadStored(uint32_t dataOffset, uint32_t storedSize) {
    if (!file_ || static_cast<uint64_t>(dataOffset) + storedSize > fileLength_) return nullptr;
    if (!buffer_ || storedSize > capacity_) {
        // The old buffer is kept when the larger one cannot be had.
        uint8_t* grown = new (std::nothrow) uint8_t[storedSize > capacity_ ? storedSize : capacity_];
        if (grown == nullptr) return nullptr;
        buffer_.reset(grown);
        if (storedSize > capacity_) capacity_ = storedSize;
    }
    return ReadAt(dataOffset, buffer_.get(), storedSize) ? buffer_.get() : nullptr;
}

bool PackageReader::ReadUnpacked(uint8_t* dest, uint32_t capacity, uint32_t dataOffset, uint32_t storedSize) {
    if (!file_ || static_cast<uint64_t>(dataOffset) + storedSize > fileLength_) return false;
    if (dest == nullptr && capacity != 0) return false;

    std::unique_ptr<uint8_t[]> temporary;
    uint8_t* source = buffer_.get();
    if (!buffer_ || storedSize > capacity_) {
        temporary.reset(new (std::nothrow) uint8_t[storedSize]);
        if (!temporary) return false;
        source = temporary.get();
    }
    if (!ReadAt(dataOffset, source, storedSize)) return false;

    // zlib wants somewhere to point even when the content is empty.
    uint8_t empty = 0;
    uLongf produced = capacity;
    const int result = uncompress(capacity != 0 ? dest : &empty, &produced, source, storedSize);
    return result == Z_OK && produced == capacity;
}

bool PackageReader::ReadAt(uint64_t offset, void* dest, uint32_t count) {
    if (!file_ || offset + count > fileLength_) return false;
    if (count == 0) return true;
    // Skipping a seek to where the stream already is keeps the stdio buffer for the directory walk.
    if (TellFile(file_.Get()) != static_cast<int64_t>(offset) && !SeekFile(file_.Get(), static_cast<int64_t>(offset), SEEK_SET))
        return false;
    return ReadExact(file_.Get(), dest, count);
}
