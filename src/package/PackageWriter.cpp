#include "package/PackageWriter.h"

#include <utility>

#include "package/ArchiveCodec.h"

namespace {

// Archives are seeked with signed 32-bit offsets, so nothing may be placed at or beyond 2 GiB.
constexpr uint64_t kMaxArchiveLength = 0x7FFFFFFFu;
constexpr size_t kDirectoryWindow = 65536;

bool ReadDirectory(RawFile& file, PackageHeader& header, std::vector<PackageEntry>& entries) {
    uint64_t length = 0;
    ReadWindow window;
    const uint8_t* bytes = nullptr;
    if (!window.Reserve(kDirectoryWindow) || !file.QueryLength(&length) || length < kPackageHeaderSize ||
        (bytes = window.At(file, length, 0, kPackageHeaderSize)) == nullptr)
        return false;
    header = DecodeHeader(bytes);
    // New data go to directoryOffset: it must lie after the header and within the file.
    if (header.directoryOffset < kPackageHeaderSize || header.directoryOffset > length) return false;

    uint64_t position = header.directoryOffset;
    for (uint32_t i = 0; i < header.entryCount; ++i) {
        const uint8_t* lengthBytes = window.At(file, length, position, 2);
        if (lengthBytes == nullptr) return false;
        const uint32_t nameLength = DecodeNameLength(lengthBytes);
        const uint8_t* record = nullptr;
        if (nameLength > kMaxEntryNameLength ||
            (record = window.At(file, length, position, kDirectoryRecordFixedSize + nameLength)) == nullptr)
            return false;
        position += kDirectoryRecordFixedSize + nameLength;

        PackageEntry entry;
        entry.name.assign(reinterpret_cast<const char*>(record + 2), nameLength);
        DecodeRecordNumbers(record + 2 + nameLength, entry);
        entries.push_back(std::move(entry));
    }
    return true;
}

}  // namespace

bool PackageWriter::Open(const char* path) {
    Discard();
    header_ = PackageHeader{};

    // The header of a new archive waits in the buffer: Save writes it with the rest, in one
    // write for an archive smaller than the buffer.
    bool created = false;
    if (file_.Open(path, RawFile::Mode::Update)) {
        if (!ReadDirectory(file_, header_, entries_)) {
            Discard();
            return false;
        }
        // A name listed twice keeps its first record, the one a replacement overwrites.
        for (size_t i = 0; i < entries_.size(); ++i) positions_.emplace(entries_[i].name, i);
    } else if (file_.Open(path, RawFile::Mode::CreateNew)) {
        header_ = PackageHeader{kPackageTag, 0, kPackageHeaderSize, 0};
        created = true;
    } else {
        return false;
    }
    if (!out_.Start(file_, created ? 0 : header_.directoryOffset, kWriteBufferSize)) {
        Discard();
        return false;
    }
    if (created) {
        uint8_t bytes[kPackageHeaderSize];
        EncodeHeader(header_, bytes);
        if (!out_.Write(bytes, sizeof bytes)) {
            Discard();
            return false;
        }
    }
    firstData_ = header_.directoryOffset;
    return true;
}

bool PackageWriter::Add(const std::string& name, const void* stored, uint32_t size, uint32_t storedSize,
                        uint32_t flags) {
    if (!file_.IsOpen() || name.size() > kMaxEntryNameLength || (stored == nullptr && storedSize != 0)) return false;
    const uint32_t offset = DataEnd();
    return AppendData(stored, storedSize) && AddRecord(name, offset, size, storedSize, flags);
}

bool PackageWriter::AppendData(const void* bytes, uint32_t count) {
    // Data past 2 GiB could not be seeked.
    if (!file_.IsOpen() || (bytes == nullptr && count != 0) ||
        static_cast<uint64_t>(header_.directoryOffset) + count > kMaxArchiveLength)
        return false;
    if (!out_.Write(bytes, count)) return false;
    header_.directoryOffset += count;
    return true;
}

bool PackageWriter::AddRecord(const std::string& name, uint32_t dataOffset, uint32_t size, uint32_t storedSize,
                              uint32_t flags) {
    // A longer name would make a record that no reader accepts.
    if (!file_.IsOpen() || name.size() > kMaxEntryNameLength || dataOffset < firstData_ ||
        static_cast<uint64_t>(dataOffset) + storedSize > header_.directoryOffset)
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
    entry->dataOffset = dataOffset;
    return true;
}

bool PackageWriter::Save() {
    if (!file_.IsOpen()) return false;
    bool ok = true;
    if (header_.entryCount > 0) {
        uint8_t record[kMaxDirectoryRecordSize];
        for (const PackageEntry& entry : entries_) {
            if (!out_.Write(record, EncodeRecord(entry, record))) {
                ok = false;
                break;
            }
        }
        if (ok) header_.directorySize = static_cast<uint32_t>(out_.Position() - header_.directoryOffset);
    }
    if (ok) {
        uint8_t bytes[kPackageHeaderSize];
        EncodeHeader(header_, bytes);
        ok = out_.Overwrite(0, bytes, sizeof bytes);
    }
    ok = out_.Finish() && ok;
    ok = file_.Close() && ok;
    return ok;
}

void PackageWriter::Discard() {
    out_.Abandon();
    file_.Close();
    entries_.clear();
    positions_.clear();
}
