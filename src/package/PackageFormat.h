// Byte layout of the installer's embedded package, its trailer and the package archive format.
//
// Installer program file, in file order:
//
//   +---------------------------+ 0
//   | executable image (PE)     |
//   +---------------------------+ trailerOffset - packageLength
//   | embedded package          |  packageLength bytes, a package archive (below)
//   +---------------------------+ trailerOffset
//   | PackageTrailer (32 bytes) |
//   +---------------------------+ trailerOffset + 32
//   | optional: padding to 8 and|  e.g. an Authenticode certificate table; ignored,
//   | a signature, or anything  |  which is why the trailer is found by scanning backwards
//   +---------------------------+ end of file
//
// PackageTrailer, all fields unsigned 32-bit little-endian:
//
//   off size field          meaning
//    0   4   magic1         "xrem" in file order
//    4   4   fromVersion    lowest client version the package applies to (0 = no lower bound)
//    8   4   toVersion      client version the package produces
//   12   4   packageLength  length of the embedded package
//   16   4   packageCrc     CRC-32 (IEEE 802.3, as zlib's crc32) of the embedded package
//   20   4   clientType     0 = full client, 1 = micro client, other values fit both kinds
//   24   4   magic2         "NGIS" in file order
//   28   4   magic3         "DRQV" in file order
//
// Packed version a.b.c.d: (a << 24) | (b << 16) | (c << 8) | d, shown "%d.%d.%d.%d",
// compared as an unsigned 32-bit integer. 1.3.0.190 = 0x010300BE, stored BE 00 03 01.
//
// Package archive (the embedded package, "patch.pkg" and the client archives), little-endian:
//
//   +---------------------------+ 0
//   | PackageHeader (16 bytes)  |  tag=100, entryCount, directoryOffset, directorySize
//   +---------------------------+ 16
//   | stored bytes of entries,  |  back to back in write order, no padding; bytes of a
//   | each a zlib stream        |  replaced entry stay here, unreferenced
//   +---------------------------+ directoryOffset (also where the next entry is written)
//   | entryCount records:       |
//   |   u16 nameLength N (<=1023)
//   |   N   name (GBK, no NUL; "\" or "/" as the producer wrote it, case kept)
//   |   u32 flags               |  1 in every embedded-package entry; carried, never tested
//   |   u32 dataOffset          |
//   |   u32 size                |  length after inflating
//   |   u32 storedSize          |  bytes at dataOffset
//   +---------------------------+ directoryOffset + directorySize = end of file
//
// Offsets are seeked as signed 32-bit values, so an archive stays below 2 GiB.
#pragma once

#include <cstdint>
#include <string>

// The fields are in file order, so the struct is the 32 bytes of the trailer on little-endian hosts.
struct PackageTrailer {
    uint32_t magic1;
    uint32_t fromVersion;
    uint32_t toVersion;
    uint32_t packageLength;
    uint32_t packageCrc;
    uint32_t clientType;
    uint32_t magic2;
    uint32_t magic3;
};
static_assert(sizeof(PackageTrailer) == 32, "the trailer is 32 bytes on disk");

// The magics as little-endian words: the bytes "xrem", "NGIS", "DRQV" in file order.
constexpr uint32_t kTrailerMagic1 = 0x6D657278u;  // 'x' 'r' 'e' 'm'
constexpr uint32_t kTrailerMagic2 = 0x5349474Eu;  // 'N' 'G' 'I' 'S'
constexpr uint32_t kTrailerMagic3 = 0x56515244u;  // 'D' 'R' 'Q' 'V'
constexpr uint32_t kTrailerSize = 32;

constexpr uint32_t kClientTypeFull = 0;
constexpr uint32_t kClientTypeMicro = 1;

struct PackageHeader {
    uint32_t tag;
    uint32_t entryCount;
    uint32_t directoryOffset;
    uint32_t directorySize;
};
static_assert(sizeof(PackageHeader) == 16, "the archive header is 16 bytes on disk");

constexpr uint32_t kPackageTag = 100;
constexpr uint32_t kPackageHeaderSize = 16;
constexpr uint32_t kMaxEntryNameLength = 1023;
constexpr uint32_t kDirectoryRecordFixedSize = 18;  // name length + four numbers

// One directory record in memory.
struct PackageEntry {
    std::string name;
    uint32_t flags = 0;
    uint32_t dataOffset = 0;
    uint32_t size = 0;
    uint32_t storedSize = 0;
};

inline uint32_t PackVersion(unsigned a, unsigned b, unsigned c, unsigned d) {
    return ((a & 0xFFu) << 24) | ((b & 0xFFu) << 16) | ((c & 0xFFu) << 8) | (d & 0xFFu);
}
