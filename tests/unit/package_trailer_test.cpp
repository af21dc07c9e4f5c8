#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/Crc32.h"
#include "package/PackageTrailer.h"
#include "package_test_support.h"

namespace {

constexpr size_t kScanBlock = 1u << 20;  // the scanner's block of candidate offsets

std::vector<uint8_t> TrailerBytes(uint32_t packageLength, uint32_t crc, uint32_t clientType, uint32_t salt = 0) {
    std::vector<uint8_t> t(32);
    PutLe32(t, 0, kTrailerMagic1);
    PutLe32(t, 4, 0x01020000u + salt);
    PutLe32(t, 8, 0x010300BEu);
    PutLe32(t, 12, packageLength);
    PutLe32(t, 16, crc);
    PutLe32(t, 20, clientType);
    PutLe32(t, 24, kTrailerMagic2);
    PutLe32(t, 28, kTrailerMagic3);
    return t;
}

void Plant(std::vector<uint8_t>& file, size_t at, const std::vector<uint8_t>& bytes) {
    std::memcpy(file.data() + at, bytes.data(), bytes.size());
}

// The plain scan: every offset from length - 32 down to 1, three whole-word magics.
int ReferenceScan(const std::vector<uint8_t>& file, int32_t* offset) {
    if (file.size() <= 32) return -9999;
    const uint8_t* p = file.data();
    for (size_t n = file.size() - 32; n >= 1; --n) {
        if (p[n] == 'x' && std::memcmp(p + n, "xrem", 4) == 0 && std::memcmp(p + n + 24, "NGIS", 4) == 0 &&
            std::memcmp(p + n + 28, "DRQV", 4) == 0) {
            *offset = static_cast<int32_t>(n);
            return 0;
        }
    }
    return -9999;
}

// Random bytes drawn mostly from the magics' letters, so that partial magics abound.
std::vector<uint8_t> MagicSoup(std::mt19937& rng, size_t length) {
    static const char kLetters[] = "xremNGISDRQV";
    std::vector<uint8_t> file(length);
    for (uint8_t& b : file) b = (rng() % 4 == 0) ? static_cast<uint8_t>(rng()) : kLetters[rng() % 12];
    return file;
}

void PlantPieces(std::mt19937& rng, std::vector<uint8_t>& file, int count) {
    if (file.size() < 32) return;
    for (int i = 0; i < count; ++i) {
        const size_t at = rng() % (file.size() - 31);
        std::vector<uint8_t> t = TrailerBytes(rng(), rng(), rng() % 3, rng());
        switch (rng() % 4) {
            case 0: break;                                       // whole trailer
            case 1: t[rng() % 4] ^= 0x20; break;                 // magic1 spoiled
            case 2: t[24 + rng() % 4] ^= 0x01; break;            // magic2 spoiled
            default: t[28 + rng() % 4] ^= 0x80; break;           // magic3 spoiled
        }
        Plant(file, at, t);
    }
}

void ExpectScanOfWrittenFile(const std::string& path, const std::vector<uint8_t>& file, const std::string& what) {
    int32_t expectedOffset = -1;
    const int expected = ReferenceScan(file, &expectedOffset);
    PackageTrailer trailer{};
    int32_t offset = -1;
    ASSERT_EQ(CodeOf(FindPackageTrailer(path.c_str(), &trailer, &offset)), expected) << what;
    if (expected == 0) {
        ASSERT_EQ(offset, expectedOffset) << what;
        EXPECT_EQ(std::memcmp(&trailer, file.data() + offset, 32), 0) << what;
    }
}

void ExpectSameAsReference(const velsupport::TempFolder& dir, const std::vector<uint8_t>& file,
                           const std::string& what) {
    const std::string path = dir / "scan.bin";
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    ExpectScanOfWrittenFile(path, file, what);
}

// Overwrites bytes of a written file in place, and of its copy in memory.
bool Patch(const std::string& path, std::vector<uint8_t>& file, size_t at, const std::vector<uint8_t>& bytes) {
    Plant(file, at, bytes);
    FILE* f = std::fopen(path.c_str(), "r+b");
    if (f == nullptr) return false;
    const bool ok = std::fseek(f, static_cast<long>(at), SEEK_SET) == 0 &&
                    std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

TEST(PackageTrailerScan, ShortAndMissingFiles) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    PackageTrailer trailer{};
    int32_t offset = 0;
    EXPECT_EQ(FindPackageTrailer((dir / "missing.exe").c_str(), &trailer, &offset), Result::PackageDamaged);

    const std::vector<uint8_t> whole = TrailerBytes(5, 6, 0);
    const std::string path = dir / "short.bin";
    ASSERT_TRUE(velsupport::WriteFileBytes(path, {}));
    EXPECT_EQ(FindPackageTrailer(path.c_str(), &trailer, &offset), Result::NoPackage);
    ASSERT_TRUE(velsupport::WriteFileBytes(path, whole));  // 32 bytes: the trailer sits at offset 0, never examined
    EXPECT_EQ(FindPackageTrailer(path.c_str(), &trailer, &offset), Result::NoPackage);

    std::vector<uint8_t> file(1, 'x');
    file.insert(file.end(), whole.begin(), whole.end());  // 33 bytes: offset 1
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    ASSERT_EQ(FindPackageTrailer(path.c_str(), &trailer, &offset), Result::Ok);
    EXPECT_EQ(offset, 1);
    EXPECT_EQ(trailer.packageLength, 5u);
    EXPECT_EQ(trailer.packageCrc, 6u);
    EXPECT_EQ(trailer.toVersion, 0x010300BEu);

    file = whole;  // trailer at 0 followed by more bytes: still never found
    file.resize(5000, 0);
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    EXPECT_EQ(FindPackageTrailer(path.c_str(), &trailer, &offset), Result::NoPackage);
}

TEST(PackageTrailerScan, NearestToTheEndWinsPastASignature) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(7);
    std::vector<uint8_t> file = RandomBytes(rng, 3 * kScanBlock);
    Plant(file, 100, TrailerBytes(1, 1, 0));
    Plant(file, 2 * kScanBlock + 17, TrailerBytes(2, 2, 1));
    // Only one or two magics after the real trailer, as a signature blob might hold.
    std::vector<uint8_t> partial = TrailerBytes(3, 3, 0);
    partial[28] = 'd';
    Plant(file, file.size() - 16384, partial);
    partial = TrailerBytes(3, 3, 0);
    partial[24] = 'n';
    partial[28] = 'd';
    Plant(file, file.size() - 40, partial);

    const std::string path = dir / "installer.exe";
    ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
    PackageTrailer trailer{};
    int32_t offset = 0;
    ASSERT_EQ(FindPackageTrailer(path.c_str(), &trailer, &offset), Result::Ok);
    EXPECT_EQ(offset, static_cast<int32_t>(2 * kScanBlock + 17));
    EXPECT_EQ(trailer.packageLength, 2u);
    ExpectSameAsReference(dir, file, "signature");
}

TEST(PackageTrailerScan, TrailersAroundBlockBoundaries) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(11);
    // Lengths where the last block holds 0, 1 or a few candidates, and trailers straddling the
    // boundaries between the first, second and third blocks read from the end.
    for (size_t length : {kScanBlock + 31, kScanBlock + 32, kScanBlock + 33, kScanBlock + 64, 2 * kScanBlock + 32,
                          2 * kScanBlock + 33, 2 * kScanBlock + 1000}) {
        std::vector<uint8_t> file = RandomBytes(rng, length);
        const std::string path = dir / "boundary.bin";
        ASSERT_TRUE(velsupport::WriteFileBytes(path, file));
        ExpectScanOfWrittenFile(path, file, "no trailer, length " + std::to_string(length));
        const size_t last = length - 32;
        std::vector<size_t> offsets = {1, 2, 31, 32, last, last - 1};
        for (size_t boundary = kScanBlock; boundary <= last; boundary += kScanBlock)
            for (int d = -34; d <= 34; d += (d > -3 && d < 3) ? 1 : 11)
                if (last - boundary + 1 + d >= 1 && last - boundary + 1 + d <= last)
                    offsets.push_back(last - boundary + 1 + d);
        for (size_t at : offsets) {
            const std::vector<uint8_t> saved(file.begin() + at, file.begin() + at + 32);
            ASSERT_TRUE(Patch(path, file, at, TrailerBytes(9, 9, 0)));
            ExpectScanOfWrittenFile(path, file, "length " + std::to_string(length) + " at " + std::to_string(at));
            ASSERT_TRUE(Patch(path, file, at, saved));
        }
    }
}

TEST(PackageTrailerScan, RandomFilesMatchTheByteByByteScan) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(12345);
    for (int round = 0; round < 300; ++round) {
        const size_t length = (round % 50 == 0) ? kScanBlock + rng() % (2 * kScanBlock) : rng() % 5000;
        std::vector<uint8_t> file = MagicSoup(rng, length);
        PlantPieces(rng, file, static_cast<int>(rng() % 6));
        ExpectSameAsReference(dir, file, "round " + std::to_string(round));
    }
}

namespace {

struct Installer {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> package;
    PackageTrailer trailer{};
    int32_t offset = 0;
};

Installer MakeInstaller(std::mt19937& rng, uint32_t packageLength) {
    Installer installer;
    installer.bytes = RandomBytes(rng, 3000);
    installer.package = RandomBytes(rng, packageLength);
    installer.offset = static_cast<int32_t>(installer.bytes.size() + packageLength);
    installer.bytes.insert(installer.bytes.end(), installer.package.begin(), installer.package.end());
    const std::vector<uint8_t> t = TrailerBytes(packageLength, Crc32::Of(installer.package.data(), packageLength), 0);
    installer.bytes.insert(installer.bytes.end(), t.begin(), t.end());
    std::memcpy(&installer.trailer, t.data(), 32);
    const std::vector<uint8_t> signature = RandomBytes(rng, 2048);
    installer.bytes.insert(installer.bytes.end(), signature.begin(), signature.end());
    return installer;
}

}  // namespace

TEST(PackageExtract, CopiesWholeBlocksAndTheRest) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(3);
    for (uint32_t length : {0u, 1u, 1023u, 1024u, 1025u, 65535u, 65536u, 65537u, 200000u}) {
        const Installer installer = MakeInstaller(rng, length);
        const std::string exe = dir / "setup.exe", out = dir / "patch.pkg";
        ASSERT_TRUE(velsupport::WriteFileBytes(exe, installer.bytes));
        PackageTrailer found{};
        int32_t offset = 0;
        ASSERT_EQ(FindPackageTrailer(exe.c_str(), &found, &offset), Result::Ok);
        ASSERT_EQ(offset, installer.offset);
        EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), out.c_str(), found, offset), Result::Ok) << length;
        EXPECT_EQ(ReadBytes(out), installer.package) << length;
    }
}

TEST(PackageExtract, FailuresKeepWhatWasCopied) {
    velsupport::TempFolder dir{"vel_pkg"};
    ASSERT_TRUE(dir.Valid());
    std::mt19937 rng(4);
    Installer installer = MakeInstaller(rng, 5000);
    const std::string exe = dir / "setup.exe", out = dir / "patch.pkg";

    // A flipped byte in the package: the whole package is still written, then the CRC fails.
    std::vector<uint8_t> damaged = installer.bytes;
    damaged[installer.offset - 1234] ^= 0x10;
    ASSERT_TRUE(velsupport::WriteFileBytes(exe, damaged));
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), out.c_str(), installer.trailer, installer.offset), Result::CrcMismatch);
    std::vector<uint8_t> expected = installer.package;
    expected[5000 - 1234] ^= 0x10;
    EXPECT_EQ(ReadBytes(out), expected);

    ASSERT_TRUE(velsupport::WriteFileBytes(exe, installer.bytes));
    // A package that would start before the file: nothing from before offset 0 is copied.
    PackageTrailer tooLong = installer.trailer;
    tooLong.packageLength = static_cast<uint32_t>(installer.offset) + 1;
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), out.c_str(), tooLong, installer.offset), Result::PackageDamaged);
    EXPECT_TRUE(ReadBytes(out).empty());
    tooLong.packageLength = 0xFFFFFFFFu;
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), out.c_str(), tooLong, installer.offset), Result::PackageDamaged);
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), out.c_str(), installer.trailer, -5), Result::PackageDamaged);

    // A package running past the end of the file: short read after what could be copied.
    const int32_t beyond = static_cast<int32_t>(installer.bytes.size()) + 100;
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), out.c_str(), installer.trailer, beyond), Result::PackageDamaged);
    const std::vector<uint8_t> partial = ReadBytes(out);
    ASSERT_LE(partial.size(), 5000u);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), installer.bytes.end() - 4900));

    EXPECT_EQ(CopyEmbeddedPackage((dir / "missing.exe").c_str(), out.c_str(), installer.trailer, installer.offset),
              Result::PackageDamaged);
    // An output that cannot be created: a missing folder, or a folder in the way.
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), (dir / "no/such/patch.pkg").c_str(), installer.trailer,
                                  installer.offset),
              Result::WriteFailed);
    ASSERT_TRUE(velsupport::MakeFolders(dir / "folder.pkg"));
    EXPECT_EQ(CopyEmbeddedPackage(exe.c_str(), (dir / "folder.pkg").c_str(), installer.trailer, installer.offset),
              Result::WriteFailed);
    // The program file was closed on every exit: it can be replaced and removed.
    EXPECT_TRUE(velsupport::WriteFileBytes(exe, {}));
    EXPECT_TRUE(std::filesystem::remove(exe));
}

TEST(PackageTrailerRules, ClientTypeAndVersionText) {
    EXPECT_EQ(CheckClientType(true, 0), Result::PackageForFull);
    EXPECT_EQ(CheckClientType(true, 1), Result::Ok);
    EXPECT_EQ(CheckClientType(false, 1), Result::PackageForMicro);
    EXPECT_EQ(CheckClientType(false, 0), Result::Ok);
    EXPECT_EQ(CheckClientType(true, 2), Result::Ok);
    EXPECT_EQ(CheckClientType(false, 2), Result::Ok);
    EXPECT_EQ(CheckClientType(false, 0xFFFFFFFFu), Result::Ok);

    char text[16];
    FormatPackedVersion(0x010300BEu, text, sizeof text);
    EXPECT_STREQ(text, "1.3.0.190");
    FormatPackedVersion(PackVersion(255, 255, 255, 255), text, sizeof text);
    EXPECT_STREQ(text, "255.255.255.255");
    FormatPackedVersion(0, text, sizeof text);
    EXPECT_STREQ(text, "0.0.0.0");
    char tiny[5] = {'?', '?', '?', '?', '#'};
    FormatPackedVersion(0x010300BEu, tiny, 4);
    EXPECT_STREQ(tiny, "1.3");
    EXPECT_EQ(tiny[4], '#');
}
