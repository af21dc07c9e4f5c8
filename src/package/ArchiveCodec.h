// The byte form of the trailer, the archive header and the directory records (layout in
// PackageFormat.h): the one place that turns them into numbers and back, for the installer,
// its archive reader and writer, and the release tool.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/PackageFormat.h"

PackageTrailer DecodeTrailer(const uint8_t* bytes);              // 32 bytes
void EncodeTrailer(const PackageTrailer& trailer, uint8_t* out);  // 32 bytes
// True when the 32 bytes carry the three trailer magics.
bool HasTrailerMagics(const uint8_t* bytes);

PackageHeader DecodeHeader(const uint8_t* bytes);              // 16 bytes
void EncodeHeader(const PackageHeader& header, uint8_t* out);  // 16 bytes

// The name length that opens a record (2 bytes).
uint32_t DecodeNameLength(const uint8_t* bytes);
// The four numbers that close a record (16 bytes): flags, dataOffset, size, storedSize.
void DecodeRecordNumbers(const uint8_t* bytes, PackageEntry& entry);

// The largest record: name length, the longest name, four numbers.
constexpr size_t kMaxDirectoryRecordSize = kDirectoryRecordFixedSize + kMaxEntryNameLength;
// Writes the whole record of an entry whose name is at most kMaxEntryNameLength bytes into out
// (kMaxDirectoryRecordSize bytes); returns its length.
size_t EncodeRecord(const PackageEntry& entry, uint8_t* out);
