// Positioned reads and writes in any order, with a file pointer that only follows the calls that
// continue where the last one ended: every byte must land, and be read, where it was meant to.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/RawFile.h"
#include "support/Files.h"
#include "support/TempFolder.h"

namespace {

std::vector<uint8_t> Pattern(size_t length, uint32_t seed) {
    std::vector<uint8_t> bytes(length);
    std::mt19937 random(seed);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    return velsupport::ReadFileText(path, &bytes) ? bytes : "<missing>";
}

class RawFileOrder : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.Valid()); }
    velsupport::TempFolder dir_{"vel_raw"};
    std::string path_ = dir_ / "f.bin";
};

}  // namespace

TEST_F(RawFileOrder, WritesInAnyOrderLandAtTheirOffsets) {
    const std::vector<uint8_t> whole = Pattern(100000, 1);
    // Pieces written front to back, then backwards, then shuffled, each order on a fresh file.
    std::vector<std::pair<size_t, size_t>> pieces;
    for (size_t at = 0; at < whole.size(); at += 7001) pieces.emplace_back(at, std::min<size_t>(7001, whole.size() - at));
    for (int order = 0; order < 3; ++order) {
        SCOPED_TRACE(order);
        if (order == 1) std::reverse(pieces.begin(), pieces.end());
        if (order == 2) std::shuffle(pieces.begin(), pieces.end(), std::mt19937(7));
        RawFile file;
        ASSERT_TRUE(file.Open(path_.c_str(), RawFile::Mode::Create));
        for (const auto& piece : pieces) ASSERT_TRUE(file.WriteAt(piece.first, &whole[piece.first], piece.second));
        ASSERT_TRUE(file.Close());
        EXPECT_EQ(FileBytes(path_), std::string(whole.begin(), whole.end()));
    }
}

TEST_F(RawFileOrder, ReadsAfterWritesAndFailuresStartWhereAsked) {
    const std::vector<uint8_t> whole = Pattern(5000, 2);
    RawFile file;
    ASSERT_TRUE(file.Open(path_.c_str(), RawFile::Mode::Create));
    // A gap first: the bytes in front of the first write read as zeros.
    ASSERT_TRUE(file.WriteAt(1000, &whole[1000], 4000));
    ASSERT_TRUE(file.WriteAt(0, &whole[0], 500));
    std::vector<uint8_t> got(5000, 0xEE);
    ASSERT_TRUE(file.ReadAt(500, &got[500], 500));
    EXPECT_EQ(std::vector<uint8_t>(got.begin() + 500, got.begin() + 1000), std::vector<uint8_t>(500, 0));
    ASSERT_TRUE(file.WriteAt(500, &whole[500], 500));

    // A read past the end fails, and so does one that runs over it; the next call starts where asked.
    EXPECT_FALSE(file.ReadAt(6000, got.data(), 10));
    EXPECT_FALSE(file.ReadAt(4990, got.data(), 20));
    ASSERT_TRUE(file.ReadAt(0, got.data(), 5000));
    EXPECT_EQ(got, whole);
    // Reads that continue each other, then one that goes back.
    ASSERT_TRUE(file.ReadAt(100, got.data(), 100));
    ASSERT_TRUE(file.ReadAt(200, got.data() + 100, 100));
    ASSERT_TRUE(file.ReadAt(50, got.data() + 200, 10));
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 200, whole.begin() + 100));
    EXPECT_TRUE(std::equal(got.begin() + 200, got.begin() + 210, whole.begin() + 50));
    // A write after a read continues at its own offset, not where the read ended.
    const uint8_t mark[3] = {'a', 'b', 'c'};
    ASSERT_TRUE(file.WriteAt(4999, mark, 3));
    ASSERT_TRUE(file.Close());
    std::string expected(whole.begin(), whole.begin() + 4999);
    expected += "abc";
    EXPECT_EQ(FileBytes(path_), expected);
}

TEST_F(RawFileOrder, SequentialWriterOverwritesFlushedBytesAndGoesOn) {
    const std::vector<uint8_t> whole = Pattern(300000, 3);
    RawFile file;
    ASSERT_TRUE(file.Open(path_.c_str(), RawFile::Mode::Create));
    SequentialWriter writer;
    ASSERT_TRUE(writer.Start(file, 16, 65536));
    // Pieces smaller and larger than the buffer; a header written last over the first bytes of
    // the file, and a patch of bytes that left the buffer long ago, then more at the end.
    size_t at = 0;
    for (size_t piece : {1000u, 70000u, 3u, 65536u, 50000u}) {
        ASSERT_TRUE(writer.Write(&whole[at], piece));
        at += piece;
    }
    const uint8_t patch[4] = {1, 2, 3, 4};
    ASSERT_TRUE(writer.Overwrite(16 + 500, patch, 4));
    ASSERT_TRUE(writer.Write(&whole[at], whole.size() - at));
    const uint8_t header[16] = {'h', 'e', 'a', 'd'};
    ASSERT_TRUE(writer.Overwrite(0, header, 16));
    ASSERT_TRUE(writer.Finish());
    ASSERT_TRUE(file.Close());

    std::string expected(reinterpret_cast<const char*>(header), 16);
    expected.append(whole.begin(), whole.end());
    std::copy(patch, patch + 4, expected.begin() + 16 + 500);
    EXPECT_EQ(FileBytes(path_), expected);
}
