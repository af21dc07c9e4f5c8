#include "package/PackageWriter.h"

#include <utility>

#include "base/StdioFile.h"
#include "package/ArchiveCodec.h"

namespace {

// Archives are seeked with signed 32-bit offsets, so nothing may be placed at or beyond 2 GiB.
constexpr uint64_t kMaxArchiveLength = 0x7FFFFFFFu;

bool ReadDirectory(FILE* file, PackageHeader& header, std::vector<PackageEntry>& entries) {
    const int64_t length = QueryStreamLength(file);
    uint8_t bytes[kPackageHeaderSize];
    if (length < static_cast<int64_t>(kPackageHeaderSize) || !SeekFile(file, 0, SEEK_SET) ||
        !ReadExact(file, bytes, sizeof bytes))
        return false;
    header = DecodeHeader(bytes);
    // New data go to directoryOffset: it must lie after the header and within the file.
    if (header.directoryOffset < kPackageHeaderSize || header.directoryOffset > static_cast<uint64_t>(length) ||
        !SeekFile(file, header.directoryOffset, SEEK_SET))
        return false;

    uint64_t position = header.directoryOffset;
    char name[kMaxEntryNameLength];
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        uint8_t lengthBytes[2];
        uint8_t numbers[16];
        if (position + kDirectoryRecordFixedSize > static_cast<uint64_t>(length) ||
            !ReadExact(file, lengthBytes, sizeof lengthBytes))
            return false;
        const uint32_t nameLength = DecodeNameLength(lengthBytes);
        if (nameLength > kMaxEntryNameLength ||
            position + kDirectoryRecordFixedSize + nameLength > static_cast<uint64_t>(length) ||
            !ReadExact(file, name, nameLength) || !ReadExact(file, numbers, sizeof numbers))
            return false;
        position += kDirectoryRecordFixedSize + nameLength;

        PackageEntry entry;
        entry.name.assign(name, nameLength);
        DecodeRecordNumbers(numbers, entry);
        entries.push_back(std::move(entry));
    }
    return true;
}

bool WriteHeader(FILE* file, const PackageHeader& header) {
    uint8_t bytes[kPackageHeaderSize];
    EncodeHeader(header, bytes);
    return SeekFile(file, 0, SEEK_SET) && WriteExact(file, bytes, sizeof bytes);
}

}  // namespace

bool PackageWriter::Open(const char* path) {
    Discard();
    header_ = PackageHeader{};

    StdioFile file;
    if (file.Open(path, "rb")) {
        if (!ReadDirectory(file.Get(), header_, entries_)) {
            Discard();
            return false;
        }
        // A name listed twice keeps its first record, the one a replacement overwrites.
        for (size_t i = 0; i < entries_.size(); ++i) positions_.emplace(entries_[i].name, i);
    } else {
        header_ = PackageHeader{kPackageTag, 0, kPackageHeaderSize, 0};
        if (!file.Open(path, "wb") || !WriteHeader(file.Get(), header_) || !file.Close()) return false;
    }
    file.Close();

    if (!file_.Open(path, "r+b")) {
        Discard();
        return false;
    }
    return true;
}

bool PackageWriter::Add(const std::string& name, const void* stored, uint32_t size, uint32_t storedSize,
                        uint32_t flags) {
    // A longer name would make a record that no reader accepts; data past 2 GiB could not be seeked.
    if (!file_ || name.size() > kMaxEntryNameLength || (stored == nullptr && storedSize != 0) ||
        static_cast<uint64_t>(header_.directoryOffset) + storedSize > kMaxArchiveLength)
        return false;

    PackageEntry* entry = nullptr;
    auto found = positions_.find(name);
    if (found != positions_.end()) {
        entry = &entries_[found->second];
    } else {
        positions_.emplace(name, entries_.size());
        entries_.emplace_back();
        entry = &entries_.back();
        ++header_.entryCount;
    }
    entry->name = name;
    entry->flags = flags;
    entry->size = size;
    entry->storedSize = storedSize;
    entry->dataOffset = header_.directoryOffset;

    if (!SeekFile(file_.Get(), header_.directoryOffset, SEEK_SET) || !WriteExact(file_.Get(), stored, storedSize)) return false;
    header_.directoryOffset += storedSize;
    return true;
}

bool PackageWriter::Save() {
    if (!file_) return false;
    StdioFile file(file_.Release());

    if (header_.entryCount > 0) {
        if (!SeekFile(file.Get(), header_.directoryOffset, SEEK_SET)) return false;
        uint8_t record[kMaxDirectoryRecordSize];
        for (const PackageEntry& entry : entries_) {
            if (!WriteExact(file.Get(), record, EncodeRecord(entry, record))) return false;
        }
        const int64_t end = TellFile(file.Get());
        if (end < static_cast<int64_t>(header_.directoryOffset)) return false;
        header_.directorySize = static_cast<uint32_t>(end - header_.directoryOffset);
    }
    return WriteHeader(file.Get(), header_) && file.Close();
}

void PackageWriter::Discard() {
    file_.Close();
    entries_.clear();
    positions_.clear();
}
