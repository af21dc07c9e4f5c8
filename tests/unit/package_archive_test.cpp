#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package_test_support.h"

namespace {

struct Content {
    std::string name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> stored;
};

// Text-like, random, empty and repetitive contents, so streams of every shape go through zlib.
std::vector<Content> MakeContents(std::mt19937& rng, int count) {
    std::vector<Content> contents;
    for (int i = 0; i < count; ++i) {
        Content c;
        c.name = (i % 2 ? "ResBin\\tdr\\item" : "LNCH/data") + std::to_string(i) + ".bin";
        const size_t length = (i % 5 == 0) ? 0 : rng() % 40000;
        switch (i % 3) {
            case 0: c.data = RandomBytes(rng, length); break;
            case 1: c.data.assign(length, static_cast<uint8_t>('A' + i)); break;
            default:
                for (size_t k = 0; k < length; ++k) c.data.push_back(static_cast<uint8_t>("ver=1.3.0.190\r\n"[k % 15]));
        }
        c.stored = Deflate(c.data);
        contents.push_back(std::move(c));
    }
    return contents;
}

bool WriteArchive(const std::string& path, const std::vector<Content>& contents) {
    PackageWriter writer;
    if (!writer.Open(path.c_str())) return false;
    for (const Content& c : contents) {
        if (!writer.Add(c.name, c.stored.data(), static_cast<uint32_t>(c.data.size()),
                        static_cast<uint32_t>(c.stored.size()), 1))
            return false;
    }
    return writer.Save();
}

std::vector<PackageEntry> ReadDirectory(PackageReader& reader) {
    std::vector<PackageEntry> entries;
    PackageEntry entry;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) entries.push_back(entry);
    return entries;
}

// Directory record bytes, for building damaged archives by hand.
void AppendRecord(std::vector<uint8_t>& file, uint16_t nameLength, const std::string& name, uint32_t dataOffset,
                  uint32_t size, uint32_t storedSize) {
    file.push_back(static_cast<uint8_t>(nameLength));
    file.push_back(static_cast<uint8_t>(nameLength >> 8));
    file.insert(file.end(), name.begin(), name.end());
    const size_t at = file.size();
    file.resize(at + 16);
    PutLe32(file, at, 1);
    PutLe32(file, at + 4, dataOffset);
    PutLe32(file, at + 8, size);
    PutLe32(file, at + 12, storedSize);
}

// One good entry "a.txt" holding "hello", then the directory built by `directory`.
template <typename Build>
std::vector<uint8_t> HandMadeArchive(uint32_t entryCount, Build directory) {
    const std::vector<uint8_t> stored = Deflate({'h', 'e', 'l', 'l', 'o'});
    std::vector<uint8_t> file(16);
    file.insert(file.end(), stored.begin(), stored.end());
    PutLe32(file, 0, 100);
    PutLe32(file, 4, entryCount);
    PutLe32(file, 8, static_cast<uint32_t>(file.size()));
    AppendRecord(file, 5, "a.txt", 16, 5, static_cast<uint32_t>(stored.size()));
    directory(file, static_cast<uint32_t>(stored.size()));
    PutLe32(file, 12, static_cast<uint32_t>(file.size() - GetLe32(file, 8)));
    return file;
}

}  // namespace

TEST(PackageArchive, RoundTripThroughZlib) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(99);
    const std::vector<Content> contents = MakeContents(rng, 40);
    const std::string path = dir / "patch.pkg";
    ASSERT_TRUE(WriteArchive(path, contents));

    // The layout: data back to back from 16, then the directory up to the end of the file.
    const std::vector<uint8_t> file = ReadBytes(path);
    uint32_t dataEnd = 16, directorySize = 0;
    for (const Content& c : contents) {
        dataEnd += static_cast<uint32_t>(c.stored.size());
        directorySize += 18 + static_cast<uint32_t>(c.name.size());
    }
    ASSERT_EQ(file.size(), dataEnd + directorySize);
    EXPECT_EQ(GetLe32(file, 0), 100u);
    EXPECT_EQ(GetLe32(file, 4), 40u);
    EXPECT_EQ(GetLe32(file, 8), dataEnd);
    EXPECT_EQ(GetLe32(file, 12), directorySize);
    EXPECT_EQ(file[16], 0x78);
    EXPECT_EQ(file[17], 0x9C);

    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    EXPECT_EQ(reader.EntryCount(), 40u);
    EXPECT_EQ(reader.FileLength(), file.size());
    size_t i = 0;
    uint32_t expectedOffset = 16;
    PackageEntry entry;
    // Data reads between directory records move the file position; the walk must not care.
    for (bool more = reader.First(entry); more; more = reader.Next(entry), ++i) {
        ASSERT_LT(i, contents.size());
        const Content& c = contents[i];
        EXPECT_EQ(entry.name, c.name);
        EXPECT_EQ(entry.flags, 1u);
        EXPECT_EQ(entry.dataOffset, expectedOffset);
        EXPECT_EQ(entry.size, c.data.size());
        ASSERT_EQ(entry.storedSize, c.stored.size());
        expectedOffset += entry.storedSize;

        const uint8_t* stored = reader.ReadStored(entry.dataOffset, entry.storedSize);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(stored, stored + entry.storedSize), c.stored);
        std::vector<uint8_t> data(entry.size + 1, 0xEE);
        ASSERT_TRUE(reader.ReadUnpacked(data.data(), entry.size, entry.dataOffset, entry.storedSize));
        data.pop_back();
        EXPECT_EQ(data, c.data) << c.name;
    }
    EXPECT_EQ(i, contents.size());
    EXPECT_FALSE(reader.Next(entry));
    // Enumerating again from the start gives the same directory.
    EXPECT_EQ(ReadDirectory(reader).size(), contents.size());
    reader.Close();
    reader.Close();
    EXPECT_FALSE(reader.First(entry));
    EXPECT_EQ(reader.ReadStored(16, 1), nullptr);
}

TEST(PackageArchive, EmptyArchiveAndUnopenableFiles) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir / "empty.pkg";
    ASSERT_TRUE(WriteArchive(path, {}));
    const std::vector<uint8_t> expected = {100, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ReadBytes(path), expected);

    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    PackageEntry entry;
    EXPECT_FALSE(reader.First(entry));
    EXPECT_FALSE(reader.Next(entry));

    ASSERT_TRUE(velsupport::WriteFileBytes(path, {}));
    EXPECT_FALSE(reader.Open(path.c_str()));
    EXPECT_FALSE(reader.IsOpen());
    ASSERT_TRUE(velsupport::WriteFileBytes(path, std::vector<uint8_t>(15, 0)));
    EXPECT_FALSE(reader.Open(path.c_str()));
    EXPECT_FALSE(reader.Open((dir / "missing.pkg").c_str()));
    PackageReader never;
    EXPECT_FALSE(never.First(entry));

    PackageWriter writer;
    EXPECT_FALSE(writer.Save());
    EXPECT_FALSE(writer.Open((dir / "no/such/folder.pkg").c_str()));
    EXPECT_FALSE(writer.Open(path.c_str()));  // 15 bytes: no header to extend
}

TEST(PackageArchive, NamesAreMatchedByExactBytes) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir / "names.pkg";
    const std::vector<uint8_t> first = Deflate(std::vector<uint8_t>(100, 'a'));
    const std::vector<uint8_t> second = Deflate(std::vector<uint8_t>(200, 'b'));
    PackageWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    const uint32_t firstSize = static_cast<uint32_t>(first.size());
    const uint32_t secondSize = static_cast<uint32_t>(second.size());
    ASSERT_TRUE(writer.Add("ResBin\\tdr\\a.dat", first.data(), 100, firstSize, 1));
    ASSERT_TRUE(writer.Add("ResBin/tdr/a.dat", first.data(), 100, firstSize, 1));
    ASSERT_TRUE(writer.Add("resbin\\TDR\\A.dat", first.data(), 100, firstSize, 1));
    ASSERT_TRUE(writer.Add("ResBin\\tdr\\a.dat", second.data(), 200, secondSize, 7));
    EXPECT_FALSE(writer.Add(std::string(1024, 'n'), first.data(), 100, firstSize, 1));
    ASSERT_TRUE(writer.Add(std::string(1023, 'n'), first.data(), 100, firstSize, 1));
    EXPECT_EQ(writer.Header().entryCount, 4u);
    ASSERT_TRUE(writer.Save());

    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    const std::vector<PackageEntry> entries = ReadDirectory(reader);
    ASSERT_EQ(entries.size(), 4u);
    // The replaced entry keeps its place and points at the second copy; the first copy stays.
    EXPECT_EQ(entries[0].name, "ResBin\\tdr\\a.dat");
    EXPECT_EQ(entries[0].dataOffset, 16 + 3 * firstSize);
    EXPECT_EQ(entries[0].size, 200u);
    EXPECT_EQ(entries[0].flags, 7u);
    EXPECT_EQ(entries[1].name, "ResBin/tdr/a.dat");
    EXPECT_EQ(entries[2].name, "resbin\\TDR\\A.dat");
    EXPECT_EQ(entries[3].name.size(), 1023u);
    const std::vector<uint8_t> file = ReadBytes(path);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), file.begin() + 16));

    std::vector<uint8_t> data(200);
    EXPECT_TRUE(reader.ReadUnpacked(data.data(), 200, entries[0].dataOffset, entries[0].storedSize));
    EXPECT_EQ(data, std::vector<uint8_t>(200, 'b'));
}

TEST(PackageArchive, ReopenAndAddOneEntry) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(5);
    std::vector<Content> contents = MakeContents(rng, 6);
    const std::string path = dir / "D010300BE.pkg";
    ASSERT_TRUE(WriteArchive(path, contents));
    const std::vector<uint8_t> before = ReadBytes(path);
    const uint32_t oldDirectory = GetLe32(before, 8);

    Content added{"update.cfg", {'v', 'e', 'r', '=', '2'}, {}};
    added.stored = Deflate(added.data);
    PackageWriter writer;
    ASSERT_TRUE(writer.Open(path.c_str()));
    ASSERT_EQ(writer.Entries().size(), 6u);
    ASSERT_TRUE(writer.Add(added.name, added.stored.data(), 5, static_cast<uint32_t>(added.stored.size()), 1));
    ASSERT_TRUE(writer.Save());
    contents.push_back(added);

    const std::vector<uint8_t> after = ReadBytes(path);
    EXPECT_TRUE(std::equal(before.begin() + 16, before.begin() + oldDirectory, after.begin() + 16));
    EXPECT_EQ(GetLe32(after, 4), 7u);
    EXPECT_EQ(GetLe32(after, 8), oldDirectory + added.stored.size());
    EXPECT_EQ(after.size(), GetLe32(after, 8) + GetLe32(after, 12));

    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    const std::vector<PackageEntry> entries = ReadDirectory(reader);
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[6].dataOffset, oldDirectory);
    for (size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].name, contents[i].name);
        std::vector<uint8_t> data(entries[i].size);
        ASSERT_TRUE(reader.ReadUnpacked(data.data(), entries[i].size, entries[i].dataOffset, entries[i].storedSize));
        EXPECT_EQ(data, contents[i].data);
    }
}

TEST(PackageArchive, EntriesLargerThanTheBuffer) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(8);
    std::vector<Content> contents(3);
    contents[0] = {"big.bin", RandomBytes(rng, 1536 * 1024), {}};   // stored > 1 MiB
    contents[1] = {"small.txt", {'o', 'k'}, {}};
    contents[2] = {"huge.bin", RandomBytes(rng, 2560 * 1024), {}};
    for (Content& c : contents) c.stored = Deflate(c.data);
    ASSERT_GT(contents[0].stored.size(), PackageReader::kInitialBufferSize);
    const std::string path = dir / "big.pkg";
    ASSERT_TRUE(WriteArchive(path, contents));

    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    const std::vector<PackageEntry> entries = ReadDirectory(reader);
    ASSERT_EQ(entries.size(), 3u);
    // Inflating first: the stored bytes go through a temporary buffer.
    for (size_t i : {0u, 2u, 1u}) {
        std::vector<uint8_t> data(entries[i].size);
        ASSERT_TRUE(reader.ReadUnpacked(data.data(), entries[i].size, entries[i].dataOffset, entries[i].storedSize));
        EXPECT_EQ(data, contents[i].data);
    }
    // Then the buffer grows for each larger entry and is reused for smaller ones.
    for (size_t i : {0u, 1u, 2u, 0u, 1u}) {
        const uint8_t* stored = reader.ReadStored(entries[i].dataOffset, entries[i].storedSize);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(std::vector<uint8_t>(stored, stored + entries[i].storedSize), contents[i].stored);
        std::vector<uint8_t> data(entries[i].size);
        ASSERT_TRUE(reader.ReadUnpacked(data.data(), entries[i].size, entries[i].dataOffset, entries[i].storedSize));
        EXPECT_EQ(data, contents[i].data);
    }
}

TEST(PackageArchive, InflatedLengthMustMatchTheCapacity) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(6);
    const std::vector<Content> contents = {{"x.bin", RandomBytes(rng, 5000), Deflate(RandomBytes(rng, 5000))},
                                           {"empty", {}, Deflate({})}};
    const std::string path = dir / "sizes.pkg";
    ASSERT_TRUE(WriteArchive(path, contents));
    PackageReader reader;
    ASSERT_TRUE(reader.Open(path.c_str()));
    const std::vector<PackageEntry> entries = ReadDirectory(reader);
    ASSERT_EQ(entries.size(), 2u);
    const PackageEntry& e = entries[0];
    std::vector<uint8_t> data(6000);
    EXPECT_TRUE(reader.ReadUnpacked(data.data(), 5000, e.dataOffset, e.storedSize));
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 4999, e.dataOffset, e.storedSize));
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 5001, e.dataOffset, e.storedSize));
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 0, e.dataOffset, e.storedSize));
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 5000, e.dataOffset, e.storedSize - 1));  // cut stream
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 5000, e.dataOffset + 1, e.storedSize));  // not a stream
    EXPECT_TRUE(reader.ReadUnpacked(nullptr, 0, entries[1].dataOffset, entries[1].storedSize));
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 1, entries[1].dataOffset, entries[1].storedSize));

    // A corrupted byte inside the deflate data or the Adler-32.
    std::vector<uint8_t> file = ReadBytes(path);
    file[e.dataOffset + e.storedSize - 2] ^= 0x01;
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    ASSERT_TRUE(reader.Open(path.c_str()));
    EXPECT_FALSE(reader.ReadUnpacked(data.data(), 5000, e.dataOffset, e.storedSize));
}

TEST(PackageArchive, DamagedArchivesFailCleanly) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    const std::string path = dir / "damaged.pkg";
    PackageReader reader;
    PackageWriter writer;
    PackageEntry entry;
    const PackageEntry untouched{"sentinel", 11, 22, 33, 44};

    // The walk yields the good record, then stops at the damaged one without handing it out.
    auto expectOneGoodThenEnd = [&](const std::vector<uint8_t>& file, const char* what) {
        ASSERT_TRUE(velsupport::WriteFileBytes(path, file)) << what;
        ASSERT_TRUE(reader.Open(path.c_str())) << what;
        ASSERT_TRUE(reader.First(entry)) << what;
        EXPECT_EQ(entry.name, "a.txt") << what;
        entry = untouched;
        EXPECT_FALSE(reader.Next(entry)) << what;
        EXPECT_EQ(entry.name, untouched.name) << what;
        EXPECT_EQ(entry.dataOffset, untouched.dataOffset) << what;
        EXPECT_FALSE(reader.Next(entry)) << what;
        EXPECT_FALSE(writer.Open(path.c_str())) << what;  // the writer refuses to extend it
    };

    expectOneGoodThenEnd(HandMadeArchive(2, [](std::vector<uint8_t>& f, uint32_t) {
                             AppendRecord(f, 1024, std::string(1024, 'n'), 16, 5, 5);
                         }),
                         "name length 1024");
    expectOneGoodThenEnd(HandMadeArchive(2, [](std::vector<uint8_t>& f, uint32_t) {
                             AppendRecord(f, 0xFFFF, std::string(100, 'n'), 16, 5, 5);
                         }),
                         "name length 65535");
    for (size_t cut : {1u, 2u, 7u, 17u}) {
        std::vector<uint8_t> file = HandMadeArchive(2, [](std::vector<uint8_t>& f, uint32_t stored) {
            AppendRecord(f, 5, "b.txt", 16, 5, stored);
        });
        file.resize(file.size() - cut);
        expectOneGoodThenEnd(file, "directory cut short");
    }
    expectOneGoodThenEnd(HandMadeArchive(0xFFFFFFFFu, [](std::vector<uint8_t>&, uint32_t) {}), "count too large");

    // Records that point outside the file.
    std::vector<uint8_t> file = HandMadeArchive(4, [](std::vector<uint8_t>& f, uint32_t stored) {
        AppendRecord(f, 3, "far", 0x7FFFFF00u, 5, stored);
        AppendRecord(f, 4, "huge", 16, 0xFFFFFFF0u, 0xFFFFFFF0u);
        AppendRecord(f, 4, "wrap", 0xFFFFFFF0u, 5, 0x20u);
    });
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    ASSERT_TRUE(reader.Open(path.c_str()));
    const std::vector<PackageEntry> entries = ReadDirectory(reader);
    ASSERT_EQ(entries.size(), 4u);
    std::vector<uint8_t> data(64);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(reader.ReadStored(entries[i].dataOffset, entries[i].storedSize), nullptr) << entries[i].name;
        EXPECT_FALSE(reader.ReadUnpacked(data.data(), 5, entries[i].dataOffset, entries[i].storedSize));
    }
    EXPECT_EQ(reader.ReadStored(static_cast<uint32_t>(file.size()) - 4, 5), nullptr);
    EXPECT_NE(reader.ReadStored(static_cast<uint32_t>(file.size()) - 4, 4), nullptr);
    // After all the refusals the good entry still reads.
    ASSERT_TRUE(reader.ReadUnpacked(data.data(), 5, entries[0].dataOffset, entries[0].storedSize));
    EXPECT_EQ(std::memcmp(data.data(), "hello", 5), 0);

    // A directory offset beyond the file.
    PutLe32(file, 8, static_cast<uint32_t>(file.size()) + 10);
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    ASSERT_TRUE(reader.Open(path.c_str()));
    EXPECT_FALSE(reader.First(entry));
    EXPECT_FALSE(writer.Open(path.c_str()));
}
