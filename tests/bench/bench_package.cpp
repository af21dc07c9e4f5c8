// Times the trailer scan and the package extraction against plain reads and copies of the same
// bytes, on a 50 MB installer-like file and a 50 MB file without a trailer. Run on demand:
//   bench_package [folder]      (default: the system temp folder; about 100 MB of files)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "package/Crc32.h"
#include "package/PackageFormat.h"
#include "package/PackageTrailer.h"

namespace {

constexpr size_t kFileSize = 50u * 1000u * 1000u;
constexpr size_t kImageSize = 2u * 1024u * 1024u;
constexpr size_t kSignatureSize = 16u * 1024u;
constexpr int kRounds = 11;

using Clock = std::chrono::steady_clock;

void Fill(std::vector<uint8_t>& bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const uint32_t word = rng();
        std::memcpy(&bytes[i], &word, 4);
    }
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// Reads the whole file in 1 MiB blocks; returns the byte count.
size_t PlainRead(const std::string& path) {
    static std::vector<uint8_t> block(1u << 20);
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return 0;
    size_t total = 0, got;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) total += got;
    std::fclose(file);
    return total;
}

// Copies `length` bytes from `offset` with blocks of `blockSize`, optionally computing the CRC.
bool PlainCopy(const std::string& from, const std::string& to, long offset, size_t length, size_t blockSize,
               bool crc) {
    std::vector<uint8_t> block(blockSize);
    FILE* in = std::fopen(from.c_str(), "rb");
    FILE* out = std::fopen(to.c_str(), "wb");
    bool ok = in != nullptr && out != nullptr && std::fseek(in, offset, SEEK_SET) == 0;
    Crc32 sum;
    sum.Start();
    while (ok && length > 0) {
        const size_t count = std::min(length, blockSize);
        ok = std::fread(block.data(), 1, count, in) == count;
        if (ok && crc) sum.Update(block.data(), count);
        ok = ok && std::fwrite(block.data(), 1, count, out) == count;
        length -= count;
    }
    if (in != nullptr) std::fclose(in);
    if (out != nullptr) ok = std::fclose(out) == 0 && ok;
    return ok;
}

// Times the contenders in turns, round after round, so that background load and write-back hit
// them alike; keeps each one's best time (-1 when one failed).
std::vector<double> BestMs(const std::vector<std::function<bool()>>& contenders, const std::string& removeFirst) {
    std::vector<double> best(contenders.size(), 1e300);
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            if (!removeFirst.empty()) std::remove(removeFirst.c_str());
            const Clock::time_point start = Clock::now();
            const bool ok = contenders[i]();
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (!ok) best[i] = -1;
            if (best[i] >= 0 && ms < best[i]) best[i] = ms;
        }
    }
    return best;
}

void Row(const char* what, size_t bytes, double ms) {
    if (ms < 0) {
        std::printf("%-48s %9s  FAILED\n", what, "");
        return;
    }
    std::printf("%-48s %7.1f MB %9.2f ms %9.0f MB/s\n", what, bytes / 1e6, ms, bytes / 1e6 / (ms / 1e3));
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path base =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    const std::filesystem::path dir = base / ("vel_bench_package_" + std::to_string(std::random_device()()));
    if (!std::filesystem::create_directories(dir, error)) {
        std::fprintf(stderr, "cannot create %s\n", dir.string().c_str());
        return 1;
    }
    const std::string installer = (dir / "setup.exe").string();
    const std::string plain = (dir / "plain.bin").string();
    const std::string out = (dir / "patch.pkg").string();

    // Installer: image, package, trailer, padding to 8, a 16 KiB signature; 50 MB in all.
    std::vector<uint8_t> bytes(kFileSize);
    Fill(bytes, 1);
    const size_t trailerOffset = (kFileSize - kSignatureSize - kTrailerSize) & ~size_t{7};
    const uint32_t packageLength = static_cast<uint32_t>(trailerOffset - kImageSize);
    PackageTrailer trailer{kTrailerMagic1, PackVersion(1, 2, 0, 0), PackVersion(1, 3, 0, 190), packageLength,
                           Crc32::Of(&bytes[kImageSize], packageLength), kClientTypeFull, kTrailerMagic2,
                           kTrailerMagic3};
    std::memcpy(&bytes[trailerOffset], &trailer, sizeof trailer);
    bool ok = WriteFile(installer, bytes);
    Fill(bytes, 2);
    ok = ok && WriteFile(plain, bytes);
    bytes.clear();
    bytes.shrink_to_fit();
    if (!ok) {
        std::fprintf(stderr, "cannot write the test files in %s\n", dir.string().c_str());
        std::filesystem::remove_all(dir, error);
        return 1;
    }

    PackageTrailer found{};
    int32_t offset = 0;
    const bool foundOk = FindPackageTrailer(installer.c_str(), &found, &offset) == Result::Ok &&
                         offset == static_cast<int32_t>(trailerOffset);
    const bool noneOk = FindPackageTrailer(plain.c_str(), &found, &offset) == Result::NoPackage;
    std::printf("checks: trailer %s, no trailer %s\n\n", foundOk ? "found at its offset" : "WRONG",
                noneOk ? "rejected" : "WRONG");

    std::printf("%-48s %10s %12s %14s\n", "best of 11, warm cache", "bytes", "time", "rate");
    PlainRead(installer);
    PlainRead(plain);
    std::vector<double> ms = BestMs({[&] { return FindPackageTrailer(installer.c_str(), &found, &offset) == Result::Ok; },
                                     [&] { return PlainRead(installer) == kFileSize; },
                                     [&] { return FindPackageTrailer(plain.c_str(), &found, &offset) == Result::NoPackage; },
                                     [&] { return PlainRead(plain) == kFileSize; }},
                                    "");
    Row("FindPackageTrailer, trailer + 16 KiB signature", kFileSize, ms[0]);
    Row("plain read of the same file", kFileSize, ms[1]);
    Row("FindPackageTrailer, no trailer", kFileSize, ms[2]);
    Row("plain read of the same file", kFileSize, ms[3]);

    const long start = static_cast<long>(kImageSize);
    const int32_t at = static_cast<int32_t>(trailerOffset);
    ms = BestMs({[&] { return CopyEmbeddedPackage(installer.c_str(), out.c_str(), trailer, at) == Result::Ok; },
                 [&] { return PlainCopy(installer, out, start, packageLength, 65536, false); },
                 [&] { return PlainCopy(installer, out, start, packageLength, 1024, false); },
                 [&] { return PlainCopy(installer, out, start, packageLength, 65536, true); },
                 [&] { return PlainCopy(installer, out, start, packageLength, 1024, true); }},
                out);
    Row("CopyEmbeddedPackage", packageLength, ms[0]);
    Row("plain copy, 64 KiB blocks", packageLength, ms[1]);
    Row("plain copy, 1 KiB blocks", packageLength, ms[2]);
    Row("plain copy, 64 KiB blocks, with Crc32", packageLength, ms[3]);
    Row("plain copy, 1 KiB blocks, with Crc32", packageLength, ms[4]);

    std::filesystem::remove_all(dir, error);
    return foundOk && noneOk ? 0 : 1;
}
