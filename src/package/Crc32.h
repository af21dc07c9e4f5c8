// Incremental CRC-32 (IEEE 802.3, reflected 0xEDB88320), the same function as zlib's crc32.
#pragma once

#include <cstddef>
#include <cstdint>

class Crc32 {
public:
    // Sets the running value to 0xFFFFFFFF.
    void Start();
    void Update(const void* data, size_t count);
    // Complements the running value; afterwards Value() is the CRC.
    void Finish();
    uint32_t Value() const { return value_; }

    // CRC of one buffer in a single call.
    static uint32_t Of(const void* data, size_t count);

private:
    uint32_t value_ = 0;
};
