#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/KeptEntries.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package_test_support.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// A client archive whose entry i has size i and flags 7 * i, copied into a new archive.
class KeptEntries : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.Valid()); }

    void WriteClient(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& entries) {
        PackageWriter writer;
        ASSERT_TRUE(writer.Open(client_.c_str()));
        for (uint32_t i = 0; i < entries.size(); ++i) {
            const auto& e = entries[i];
            ASSERT_TRUE(writer.Add(e.first, e.second.data(), i, static_cast<uint32_t>(e.second.size()), 7 * i));
        }
        ASSERT_TRUE(writer.Save());
    }

    bool Copy(const PackageNameSet& skip) {
        PackageReader reader;
        PackageWriter writer;
        counts_.clear();
        if (!reader.Open(client_.c_str()) || !writer.Open(rebuilt_.c_str())) return false;
        const bool ok = CopyKeptEntries(reader, writer, skip, [this](int32_t n) { counts_.push_back(n); }, failed_);
        return writer.Save() && ok;
    }

    velsupport::TempFolder dir_{"vel_pkg"};
    std::string client_ = dir_ / "client.pkg";
    std::string rebuilt_ = dir_ / "client.pkg.tmp";
    std::vector<int32_t> counts_;
    std::string failed_;
};

}  // namespace

TEST_F(KeptEntries, CopiesStoredBytesOfEveryNameNotInTheSetUnchanged) {
    std::mt19937 rng(7);
    // No stored bytes here are a zlib stream, and size is no inflated length: the copy keeps
    // them only when nothing is inflated on the way.
    WriteClient({{"data\\a.bin", Bytes("replaced")},
                 {"Data\\A.bin", Bytes("other case")},
                 {"data/a.bin", Bytes("other separator")},
                 {"data\\\\a.bin", Bytes("doubled separator")},
                 {"empty", {}},
                 {"big", RandomBytes(rng, 1536 * 1024)},  // beyond the reader's first buffer
                 {"\xD7\xCA\xD4\xB4\\\x81\x5C.dds", Bytes("GBK")}});
    ASSERT_TRUE(Copy({"data\\a.bin", "not in the archive"}));
    EXPECT_EQ(counts_, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));

    PackageReader client, rebuilt;
    ASSERT_TRUE(client.Open(client_.c_str()));
    ASSERT_TRUE(rebuilt.Open(rebuilt_.c_str()));
    EXPECT_EQ(rebuilt.EntryCount(), 6u);
    PackageEntry want, got;
    ASSERT_TRUE(client.First(want));
    for (bool more = rebuilt.First(got) && client.Next(want); more; more = rebuilt.Next(got) && client.Next(want)) {
        EXPECT_EQ(got.name, want.name);
        EXPECT_EQ(got.size, want.size);
        EXPECT_EQ(got.flags, want.flags);
        const uint8_t* a = client.ReadStored(want.dataOffset, want.storedSize);
        const std::vector<uint8_t> wanted(a, a + want.storedSize);
        const uint8_t* b = rebuilt.ReadStored(got.dataOffset, got.storedSize);
        EXPECT_TRUE(b != nullptr && std::vector<uint8_t>(b, b + got.storedSize) == wanted) << want.name;
    }
}

TEST_F(KeptEntries, DamagedClientArchiveFails) {
    WriteClient({{"first", Bytes("11")}, {"second", Bytes("2222")}});
    std::vector<uint8_t> file = ReadBytes(client_);
    const std::vector<uint8_t> intact = file;
    // The second entry's data past the end of the file: named in the failure.
    PutLe32(file, GetLe32(file, 8) + 18 + 5 + 2 + 6 + 4, static_cast<uint32_t>(file.size()));
    ASSERT_TRUE(velsupport::WriteFileBytes(client_, file));
    EXPECT_FALSE(Copy({}));
    EXPECT_EQ(failed_, "second");
    EXPECT_EQ(counts_, (std::vector<int32_t>{1}));
    EXPECT_TRUE(Copy({"second"}));  // a skipped entry is never read

    // One record more than the directory holds: the walk ends early, which is no success.
    file = intact;
    PutLe32(file, 4, 3);
    ASSERT_TRUE(velsupport::WriteFileBytes(client_, file));
    EXPECT_FALSE(Copy({}));
    EXPECT_TRUE(failed_.empty());
}
