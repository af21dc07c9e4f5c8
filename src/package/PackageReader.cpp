#include "package/PackageReader.h"

#include <cstring>
#include <new>

#include <zlib.h>

#include "package/ArchiveCodec.h"

namespace {

// Directory records are at most 1041 bytes; 64 KiB holds a few thousand typical ones.
constexpr size_t kDirectoryWindow = 65536;
// Inflated content is handed on in pieces of this size.
constexpr size_t kInflatePiece = 1048576;

}  // namespace

bool PackageReader::Open(const char* path) {
    Close();
    if (!data_.Reserve(kInitialBufferSize) || !directory_.Reserve(kDirectoryWindow) || !file_.Open(path, RawFile::Mode::Read)) {
        Close();
        return false;
    }
    uint64_t length = 0;
    const uint8_t* header = nullptr;
    // The header comes through the data window: a small archive is then read whole at once.
    if (!file_.QueryLength(&length) || length < kPackageHeaderSize ||
        (header = data_.At(file_, length, 0, kPackageHeaderSize)) == nullptr) {
        Close();
        return false;
    }
    fileLength_ = length;
    header_ = DecodeHeader(header);
    current_ = -1;
    nextRecord_ = header_.directoryOffset;
    return true;
}

void PackageReader::Close() {
    file_.Close();
    data_.Release();
    directory_.Release();
    inflated_.reset();
    fileLength_ = 0;
    header_ = PackageHeader{};
    current_ = -1;
    nextRecord_ = 0;
}

bool PackageReader::First(PackageEntry& entry) {
    if (!file_.IsOpen() || header_.entryCount == 0) return false;
    current_ = -1;
    nextRecord_ = header_.directoryOffset;
    return Next(entry);
}

bool PackageReader::Next(PackageEntry& entry) {
    if (!file_.IsOpen() || current_ + 1 >= static_cast<int64_t>(header_.entryCount)) return false;
    ++current_;

    const uint8_t* lengthBytes = directory_.At(file_, fileLength_, nextRecord_, 2);
    const uint32_t nameLength = lengthBytes != nullptr ? DecodeNameLength(lengthBytes) : 0;
    const uint8_t* record = nullptr;
    if (lengthBytes == nullptr || nameLength > kMaxEntryNameLength ||
        (record = directory_.At(file_, fileLength_, nextRecord_, kDirectoryRecordFixedSize + nameLength)) == nullptr) {
        // A damaged record ends the walk; the records after it cannot be located.
        current_ = header_.entryCount;
        return false;
    }
    nextRecord_ += kDirectoryRecordFixedSize + nameLength;
    entry.name.assign(reinterpret_cast<const char*>(record + 2), nameLength);
    DecodeRecordNumbers(record + 2 + nameLength, entry);
    return true;
}

const uint8_t* PackageReader::ReadStored(uint32_t dataOffset, uint32_t storedSize) {
    if (!file_.IsOpen() || static_cast<uint64_t>(dataOffset) + storedSize > fileLength_) return nullptr;
    if (storedSize > data_.Capacity() && !data_.Grow(storedSize)) return nullptr;
    return data_.At(file_, fileLength_, dataOffset, storedSize);
}

bool PackageReader::ReadUnpacked(uint8_t* dest, uint32_t capacity, uint32_t dataOffset, uint32_t storedSize) {
    if (dest == nullptr && capacity != 0) return false;
    return Inflate(dataOffset, storedSize, capacity, dest, nullptr);
}

bool PackageReader::InflateEntry(const PackageEntry& entry, const ContentSink& sink) {
    if (!IsPlausible(entry)) return false;
    if (!inflated_) {
        inflated_.reset(new (std::nothrow) uint8_t[kInflatePiece]);
        if (!inflated_) return false;
    }
    return Inflate(entry.dataOffset, entry.storedSize, entry.size, nullptr, &sink);
}

bool PackageReader::IsPlausible(const PackageEntry& entry) const {
    return file_.IsOpen() && static_cast<uint64_t>(entry.dataOffset) + entry.storedSize <= fileLength_ &&
           static_cast<uint64_t>(entry.size) <= static_cast<uint64_t>(entry.storedSize) * kMaxInflateRatio;
}

bool PackageReader::Inflate(uint32_t dataOffset, uint32_t storedSize, uint64_t expected, uint8_t* dest,
                            const ContentSink* sink) {
    if (!file_.IsOpen() || static_cast<uint64_t>(dataOffset) + storedSize > fileLength_) return false;

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    struct End {
        z_stream* s;
        ~End() { inflateEnd(s); }
    } end{&stream};

    // zlib wants somewhere to point even when there is no room at all: it must then report that
    // the output is full rather than write.
    uint8_t spare = 0;
    uint64_t produced = 0;
    uint64_t consumedAt = dataOffset;
    const uint64_t storedEnd = static_cast<uint64_t>(dataOffset) + storedSize;
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (consumedAt == storedEnd) return false;  // the stream is cut short
            const uint64_t rest = storedEnd - consumedAt;
            const size_t piece = rest < data_.Capacity() ? static_cast<size_t>(rest) : data_.Capacity();
            const uint8_t* in = data_.At(file_, fileLength_, consumedAt, piece);
            if (in == nullptr) return false;
            stream.next_in = const_cast<Bytef*>(in);
            stream.avail_in = static_cast<uInt>(piece);
            consumedAt += piece;
        }
        // One byte beyond the declared size is asked for, so that content longer than the
        // size is seen and refused rather than cut.
        const uint64_t room = expected - produced + 1;
        uint8_t* out = nullptr;
        size_t outSize = 0;
        if (sink == nullptr) {
            out = room > 1 ? dest + produced : &spare;
            outSize = room > 1 ? static_cast<size_t>(room - 1 < (1u << 30) ? room - 1 : (1u << 30)) : 1;
        } else {
            out = inflated_.get();
            outSize = room < kInflatePiece ? static_cast<size_t>(room) : kInflatePiece;
        }
        stream.next_out = out;
        stream.avail_out = static_cast<uInt>(outSize);
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return false;
        const size_t made = outSize - stream.avail_out;
        if (made == 0 && result == Z_BUF_ERROR && stream.avail_in != 0) return false;
        if (out == &spare && made != 0) return false;  // longer than the room
        produced += made;
        if (produced > expected) return false;
        if (sink != nullptr && made != 0 && !(*sink)(out, made)) return false;
    }
    return produced == expected;
}
