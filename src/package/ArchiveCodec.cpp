#include "package/ArchiveCodec.h"

#include "base/ByteOrder.h"

PackageTrailer DecodeTrailer(const uint8_t* p) {
    return PackageTrailer{LoadLe32(p),      LoadLe32(p + 4),  LoadLe32(p + 8),  LoadLe32(p + 12),
                          LoadLe32(p + 16), LoadLe32(p + 20), LoadLe32(p + 24), LoadLe32(p + 28)};
}

void EncodeTrailer(const PackageTrailer& t, uint8_t* out) {
    const uint32_t fields[8] = {t.magic1,     t.fromVersion, t.toVersion, t.packageLength,
                                t.packageCrc, t.clientType,  t.magic2,    t.magic3};
    for (unsigned i = 0; i < 8; ++i) StoreLe32(out + 4 * i, fields[i]);
}

bool HasTrailerMagics(const uint8_t* p) {
    return LoadLe32(p) == kTrailerMagic1 && LoadLe32(p + 24) == kTrailerMagic2 && LoadLe32(p + 28) == kTrailerMagic3;
}

PackageHeader DecodeHeader(const uint8_t* p) {
    return PackageHeader{LoadLe32(p), LoadLe32(p + 4), LoadLe32(p + 8), LoadLe32(p + 12)};
}

void EncodeHeader(const PackageHeader& header, uint8_t* out) {
    StoreLe32(out, header.tag);
    StoreLe32(out + 4, header.entryCount);
    StoreLe32(out + 8, header.directoryOffset);
    StoreLe32(out + 12, header.directorySize);
}

uint32_t DecodeNameLength(const uint8_t* p) { return LoadLe16(p); }

void DecodeRecordNumbers(const uint8_t* p, PackageEntry& entry) {
    entry.flags = LoadLe32(p);
    entry.dataOffset = LoadLe32(p + 4);
    entry.size = LoadLe32(p + 8);
    entry.storedSize = LoadLe32(p + 12);
}

size_t EncodeRecord(const PackageEntry& entry, uint8_t* out) {
    const uint16_t nameLength = static_cast<uint16_t>(entry.name.size());
    StoreLe16(out, nameLength);
    entry.name.copy(reinterpret_cast<char*>(out + 2), nameLength);
    uint8_t* numbers = out + 2 + nameLength;
    StoreLe32(numbers, entry.flags);
    StoreLe32(numbers + 4, entry.dataOffset);
    StoreLe32(numbers + 8, entry.size);
    StoreLe32(numbers + 12, entry.storedSize);
    return kDirectoryRecordFixedSize + nameLength;
}
