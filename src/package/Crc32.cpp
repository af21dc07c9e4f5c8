#include "package/Crc32.h"

#include <zlib.h>

// zlib's crc32 is the same function (reflected 0xEDB88320, bytes in order) computed several bytes
// per step from its built-in tables, about ten times faster than one table lookup per byte.
// zlib keeps the value complemented between calls; this class keeps the raw running value.

void Crc32::Start() {
    value_ = 0xFFFFFFFFu;
}

void Crc32::Update(const void* data, size_t count) {
    const Bytef* bytes = static_cast<const Bytef*>(data);
    uLong crc = value_ ^ 0xFFFFFFFFu;
    // zlib takes an unsigned int count; a null buffer would make it return its initial value.
    while (count > 0) {
        const uInt piece = count > 0x40000000u ? 0x40000000u : static_cast<uInt>(count);
        crc = crc32(crc, bytes, piece);
        bytes += piece;
        count -= piece;
    }
    value_ = static_cast<uint32_t>(crc) ^ 0xFFFFFFFFu;
}

void Crc32::Finish() {
    value_ ^= 0xFFFFFFFFu;
}

uint32_t Crc32::Of(const void* data, size_t count) {
    Crc32 crc;
    crc.Start();
    crc.Update(data, count);
    crc.Finish();
    return crc.Value();
}
