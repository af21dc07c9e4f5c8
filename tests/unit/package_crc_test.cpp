#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "package/Crc32.h"
#include "package_test_support.h"

namespace {

// One table lookup per byte, the textbook form of the same CRC.
uint32_t BytewiseCrc(const uint8_t* data, size_t count) {
    uint32_t table[256];
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    uint32_t value = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) value = (value >> 8) ^ table[(value ^ data[i]) & 0xFFu];
    return value ^ 0xFFFFFFFFu;
}

}  // namespace

TEST(PackageCrc, KnownVectors) {
    struct Vector {
        const char* text;
        uint32_t crc;
    };
    const Vector vectors[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const Vector& v : vectors) EXPECT_EQ(Crc32::Of(v.text, std::strlen(v.text)), v.crc) << v.text;

    const std::vector<uint8_t> zeros(32, 0x00), ones(32, 0xFF);
    EXPECT_EQ(Crc32::Of(zeros.data(), zeros.size()), 0x190A55ADu);
    EXPECT_EQ(Crc32::Of(ones.data(), ones.size()), 0xFF6CAB0Bu);
}

TEST(PackageCrc, MatchesTheBytewiseFormAndZlibIncrementallyOrNot) {
    std::mt19937 rng(20240611);
    for (size_t length : {1u, 2u, 3u, 7u, 255u, 256u, 1023u, 1024u, 1025u, 65537u, 300000u}) {
        const std::vector<uint8_t> data = RandomBytes(rng, length);
        const uint32_t expected = static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
        EXPECT_EQ(BytewiseCrc(data.data(), data.size()), expected) << length;
        EXPECT_EQ(Crc32::Of(data.data(), data.size()), expected) << length;

        Crc32 crc;
        crc.Start();
        size_t done = 0;
        while (done < data.size()) {
            const size_t piece = std::min<size_t>(data.size() - done, rng() % 3000);
            crc.Update(piece == 0 ? nullptr : data.data() + done, piece);
            done += piece;
        }
        crc.Finish();
        EXPECT_EQ(crc.Value(), expected) << length;

        // Start resets whatever an earlier use left behind.
        crc.Start();
        crc.Update(data.data(), data.size());
        crc.Finish();
        EXPECT_EQ(crc.Value(), expected) << length;
    }
}
