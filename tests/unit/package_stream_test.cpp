// Entries inflated piece by piece, directory records that lie about sizes, archives written in
// pieces and read back across the reader's block boundaries, and kept entries copied in runs.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/KeptEntries.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package_test_support.h"

namespace {

struct Collected {
    std::vector<uint8_t> bytes;
    size_t pieces = 0;
    size_t largestPiece = 0;
};

PackageReader::ContentSink Into(Collected& c) {
    return [&c](const uint8_t* bytes, size_t count) {
        c.bytes.insert(c.bytes.end(), bytes, bytes + count);
        ++c.pieces;
        c.largestPiece = std::max(c.largestPiece, count);
        return true;
    };
}

// One archive holding `stored` as the entry "x", with the size the record claims.
class LyingSizes : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.Valid()); }

    void Write(const std::vector<uint8_t>& stored, uint32_t claimedSize) {
        PackageWriter writer;
        ASSERT_TRUE(writer.Open(path_.c_str()));
        ASSERT_TRUE(writer.Add("x", stored.data(), claimedSize, static_cast<uint32_t>(stored.size()), 1));
        ASSERT_TRUE(writer.Save());
        ASSERT_TRUE(reader_.Open(path_.c_str()));
        ASSERT_TRUE(reader_.First(entry_));
    }

    velsupport::TempFolder dir_{"vel_pkg"};
    std::string path_ = dir_ / "lies.pkg";
    PackageReader reader_;
    PackageEntry entry_;
};

}  // namespace

TEST_F(LyingSizes, SizeOf4GiBMinusOneWithASmallStreamIsRefusedBeforeInflating) {
    // On the 32-bit build size + 1 wraps to 0: a buffer "of the entry's size" came out empty.
    Write(Deflate(std::vector<uint8_t>(65536, 0)), 0xFFFFFFFFu);
    EXPECT_FALSE(reader_.IsPlausible(entry_));
    Collected c;
    EXPECT_FALSE(reader_.InflateEntry(entry_, Into(c)));
    EXPECT_TRUE(c.bytes.empty());
}

TEST_F(LyingSizes, ClaimedSizeLargerThanTheContentFailsAtTheEnd) {
    std::mt19937 rng(1);
    const std::vector<uint8_t> data = RandomBytes(rng, 3000);
    Write(Deflate(data), 3001);
    EXPECT_TRUE(reader_.IsPlausible(entry_));
    Collected c;
    EXPECT_FALSE(reader_.InflateEntry(entry_, Into(c)));
    std::vector<uint8_t> oneBuffer(3001);
    EXPECT_FALSE(reader_.ReadUnpacked(oneBuffer.data(), 3001, entry_.dataOffset, entry_.storedSize));
}

TEST_F(LyingSizes, ClaimedSizeSmallerThanTheContentNeverHandsOnMore) {
    // 3 MiB of zeros: the content runs past the claimed size inside one piece and across pieces.
    const std::vector<uint8_t> data(3u << 20, 0);
    for (uint32_t claimed : {0u, 1u, (1u << 20) - 1, 1u << 20, (3u << 20) - 1}) {
        SCOPED_TRACE(claimed);
        Write(Deflate(data), claimed);
        Collected c;
        EXPECT_FALSE(reader_.InflateEntry(entry_, Into(c)));
        EXPECT_LE(c.bytes.size(), claimed);
        reader_.Close();
    }
}

TEST_F(LyingSizes, StreamCutShortOrStoredBytesBeyondTheFile) {
    std::mt19937 rng(2);
    std::vector<uint8_t> stored = Deflate(RandomBytes(rng, 5000));
    stored.resize(stored.size() - 3);
    Write(stored, 5000);
    Collected c;
    EXPECT_FALSE(reader_.InflateEntry(entry_, Into(c)));

    PackageEntry beyond = entry_;
    beyond.storedSize = static_cast<uint32_t>(reader_.FileLength());
    EXPECT_FALSE(reader_.IsPlausible(beyond));
    EXPECT_FALSE(reader_.InflateEntry(beyond, Into(c)));
}

TEST_F(LyingSizes, LargeEntryComesInBoundedPiecesAndASinkCanStopIt) {
    std::mt19937 rng(3);
    std::vector<uint8_t> data = RandomBytes(rng, (5u << 20) + 17);
    for (size_t i = 0; i < data.size(); i += 3) data[i] = 0;
    Write(Deflate(data), static_cast<uint32_t>(data.size()));
    Collected c;
    ASSERT_TRUE(reader_.InflateEntry(entry_, Into(c)));
    EXPECT_TRUE(c.bytes == data);
    EXPECT_GE(c.pieces, 6u);
    EXPECT_LE(c.largestPiece, size_t{1} << 20);

    size_t calls = 0;
    EXPECT_FALSE(reader_.InflateEntry(entry_, [&calls](const uint8_t*, size_t) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2u);
}

TEST_F(LyingSizes, EmptyContentInflatesWithoutASinkCall) {
    Write(Deflate({}), 0);
    Collected c;
    EXPECT_TRUE(reader_.InflateEntry(entry_, Into(c)));
    EXPECT_EQ(c.pieces, 0u);
}

TEST(PackageStream, EntryWrittenInPiecesAndManyRecordsAcrossBlockBoundaries) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir / "pieces.pkg";
    std::mt19937 rng(4);

    // More than the writer's buffer of data and a directory far larger than the reader's
    // directory window, with names of every length so records straddle each block boundary.
    std::vector<std::pair<std::string, std::vector<uint8_t>>> small;
    PackageWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    const std::vector<uint8_t> big = RandomBytes(rng, (1u << 20) + 4321);
    const std::vector<uint8_t> bigStored = Deflate(big);
    const uint32_t bigOffset = writer.DataEnd();
    for (size_t at = 0; at < bigStored.size(); at += 1000) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1000, bigStored.size() - at));
        ASSERT_TRUE(writer.AppendData(bigStored.data() + at, n));
    }
    ASSERT_TRUE(writer.AddRecord("big", bigOffset, static_cast<uint32_t>(big.size()),
                                 static_cast<uint32_t>(bigStored.size()), 1));
    for (int i = 0; i < 3000; ++i) {
        std::string name(1 + (i * 37) % kMaxEntryNameLength, static_cast<char>('a' + i % 26));
        name += std::to_string(i);
        if (name.size() > kMaxEntryNameLength) name.erase(0, name.size() - kMaxEntryNameLength);
        small.emplace_back(name, RandomBytes(rng, static_cast<size_t>(i % 50)));
        const std::vector<uint8_t> stored = Deflate(small.back().second);
        ASSERT_TRUE(writer.Add(name, stored.data(), static_cast<uint32_t>(small.back().second.size()),
                               static_cast<uint32_t>(stored.size()), 1));
    }
    // A record may only point at bytes this writer wrote.
    EXPECT_FALSE(writer.AddRecord("past the data", writer.DataEnd() - 2, 1, 3, 1));
    EXPECT_FALSE(writer.AddRecord("the header", 0, 1, 3, 1));
    ASSERT_TRUE(writer.Save());

    const std::vector<uint8_t> file = ReadBytes(path);
    EXPECT_EQ(GetLe32(file, 0), kPackageTag);
    EXPECT_EQ(GetLe32(file, 4), 3001u);
    EXPECT_EQ(file.size(), GetLe32(file, 8) + uint64_t{GetLe32(file, 12)});

    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    PackageEntry e;
    ASSERT_TRUE(reader.First(e));
    EXPECT_EQ(e.name, "big");
    std::vector<uint8_t> data(e.size);
    ASSERT_TRUE(reader.ReadUnpacked(data.data(), e.size, e.dataOffset, e.storedSize));
    EXPECT_TRUE(data == big);
    for (const auto& expected : small) {
        ASSERT_TRUE(reader.Next(e));
        ASSERT_EQ(e.name, expected.first);
        Collected c;
        ASSERT_TRUE(reader.InflateEntry(e, Into(c)));
        ASSERT_TRUE(c.bytes == expected.second);
    }
    EXPECT_FALSE(reader.Next(e));
}

TEST(PackageStream, ReopenedArchiveRecordsOnlyItsNewData) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir / "reopen.pkg";
    const std::vector<uint8_t> stored = Deflate({'a', 'b'});
    {
        PackageWriter writer;
        ASSERT_TRUE(writer.Open(path.c_str()));
        ASSERT_TRUE(writer.Add("old", stored.data(), 2, static_cast<uint32_t>(stored.size()), 1));
        ASSERT_TRUE(writer.Save());
    }
    PackageWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    // The old directory lies where new data go: a record pointing at the old data or the old
    // directory would be overwritten or misread.
    EXPECT_FALSE(writer.AddRecord("again", 16, 2, static_cast<uint32_t>(stored.size()), 1));
    ASSERT_TRUE(writer.Add("new", stored.data(), 2, static_cast<uint32_t>(stored.size()), 1));
    ASSERT_TRUE(writer.Save());
    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    EXPECT_EQ(reader.EntryCount(), 2u);
}

TEST(PackageStream, KeptEntriesInRunsAroundGapsSkipsAndDisorder) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string client = dir / "client.pkg";
    const std::string rebuilt = dir / "client.pkg.tmp";
    std::mt19937 rng(5);
    std::vector<std::vector<uint8_t>> bytes;
    for (int i = 0; i < 40; ++i) bytes.push_back(RandomBytes(rng, static_cast<size_t>(i == 7 ? 3u << 20 : i * 100)));
    {
        PackageWriter writer;
        ASSERT_TRUE(writer.Open(client.c_str()));
        for (int i = 0; i < 40; ++i) {
            // Entry 12 is written twice: its first bytes stay as a gap nothing points at.
            if (i == 12) {
                ASSERT_TRUE(writer.Add("e12", bytes[3].data(), 0, static_cast<uint32_t>(bytes[3].size()), 1));
            }
            ASSERT_TRUE(writer.Add("e" + std::to_string(i), bytes[i].data(), static_cast<uint32_t>(i),
                                   static_cast<uint32_t>(bytes[i].size()), static_cast<uint32_t>(i)));
        }
        // Entry 30's data written again at the end: its record then points past entries 31 to 39.
        ASSERT_TRUE(writer.Add("e30", bytes[30].data(), 30, static_cast<uint32_t>(bytes[30].size()), 30));
        ASSERT_TRUE(writer.Save());
    }
    const PackageNameSet skip = {"e0", "e5", "e6", "e20", "e39", "absent"};
    PackageReader reader;
    PackageWriter writer;
    ASSERT_TRUE(reader.Open(client.c_str()));
    ASSERT_TRUE(writer.Open(rebuilt.c_str()));
    std::vector<int32_t> progress;
    std::string failed;
    ASSERT_TRUE(CopyKeptEntries(reader, writer, skip, [&progress](int32_t n) { progress.push_back(n); }, failed));
    ASSERT_TRUE(writer.Save());
    reader.Close();

    std::vector<int32_t> counted(40);
    for (int i = 0; i < 40; ++i) counted[i] = i + 1;
    EXPECT_EQ(progress, counted);

    ASSERT_TRUE(reader.Open(rebuilt.c_str()));
    PackageEntry e;
    std::vector<std::string> names;
    for (bool more = reader.First(e); more; more = reader.Next(e)) {
        names.push_back(e.name);
        const int i = std::stoi(e.name.substr(1));
        EXPECT_EQ(e.size, static_cast<uint32_t>(i));
        EXPECT_EQ(e.flags, static_cast<uint32_t>(i));
        const uint8_t* stored = reader.ReadStored(e.dataOffset, e.storedSize);
        ASSERT_NE(stored, nullptr);
        EXPECT_TRUE(std::equal(bytes[i].begin(), bytes[i].end(), stored)) << e.name;
    }
    EXPECT_EQ(names.size(), 35u);
    // Only the bytes of kept entries were copied: no gap, no skipped entry's bytes.
    uint64_t keptBytes = 0;
    for (int i = 0; i < 40; ++i) {
        if (skip.count("e" + std::to_string(i)) == 0) keptBytes += bytes[i].size();
    }
    EXPECT_EQ(uint64_t{reader.Header().directoryOffset}, kPackageHeaderSize + keptBytes);
}

TEST(PackageStream, OneStoredEntryCopiedInBlocksAndDamagedRecordsRefused) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string source = dir / "patch.pkg";
    const std::string target = dir / "target.pkg";
    std::mt19937 rng(6);
    const std::vector<uint8_t> big = RandomBytes(rng, (3u << 20) + 5);
    {
        PackageWriter writer;
        ASSERT_TRUE(writer.Open(source.c_str()));
        ASSERT_TRUE(writer.Add("Res\\big.bin", big.data(), 77, static_cast<uint32_t>(big.size()), 9));
        ASSERT_TRUE(writer.Save());
    }
    PackageReader reader;
    PackageWriter writer;
    ASSERT_TRUE(reader.Open(source.c_str()));
    ASSERT_TRUE(writer.Open(target.c_str()));
    PackageEntry e;
    ASSERT_TRUE(reader.First(e));
    ASSERT_TRUE(CopyStoredEntry(reader, writer, e));

    PackageEntry pastTheEnd = e;
    pastTheEnd.name = "empty but past the end";
    pastTheEnd.dataOffset = static_cast<uint32_t>(reader.FileLength()) + 1;
    pastTheEnd.storedSize = 0;
    EXPECT_FALSE(CopyStoredEntry(reader, writer, pastTheEnd));
    PackageEntry wrapping = e;
    wrapping.dataOffset = 0xFFFFFFF0u;
    EXPECT_FALSE(CopyStoredEntry(reader, writer, wrapping));
    ASSERT_TRUE(writer.Save());
    reader.Close();

    ASSERT_TRUE(reader.Open(target.c_str()));
    ASSERT_TRUE(reader.First(e));
    EXPECT_EQ(e.name, "Res\\big.bin");
    EXPECT_EQ(e.size, 77u);
    EXPECT_EQ(e.flags, 9u);
    ASSERT_EQ(e.storedSize, big.size());
    const uint8_t* stored = reader.ReadStored(e.dataOffset, e.storedSize);
    ASSERT_NE(stored, nullptr);
    EXPECT_TRUE(std::equal(big.begin(), big.end(), stored));
    EXPECT_FALSE(reader.Next(e));
}
