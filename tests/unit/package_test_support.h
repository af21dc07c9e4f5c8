// Byte helpers and zlib streams for the portable tests; own folders and whole files come from
// velsupport (TempFolder, WriteFileBytes, ReadFileBytes).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/Files.h"
#include "support/TempFolder.h"

// The whole file; empty when it cannot be read.
inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    velsupport::ReadFileBytes(path, &bytes);
    return bytes;
}

inline std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// A zlib stream (78 9C) of the data, as the release tool stores entries.
inline std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> stored(length);
    if (compress(stored.data(), &length, data.data(), static_cast<uLong>(data.size())) != Z_OK) return {};
    stored.resize(length);
    return stored;
}

inline void PutLe32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}
