// Times the rebuild of a client archive into a temporary update package (kept entries copied in
// stored form, then the directory saved) against a plain copy of the same file. Run on demand:
//   bench_rebuild [folder]      (default: the system temp folder; about 50 MB of files)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <zlib.h>

#include "package/KeptEntries.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"

namespace {

constexpr uint64_t kArchiveTarget = 16u * 1024u * 1024u;
constexpr int kEntries = 5000;
constexpr int kRounds = 11;
constexpr size_t kCopyBlock = 128u * 1024u;  // what cp uses for a regular file

using Clock = std::chrono::steady_clock;

// Text-like bytes: 16 letters with a skew, so zlib keeps a little over half of them.
std::vector<uint8_t> CompressibleBytes(std::mt19937& rng, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) {
        const uint32_t r = rng();
        b = static_cast<uint8_t>('a' + ((r & 0xF) & ((r >> 4) & 0xF)) + ((r >> 8) & 1));
    }
    return bytes;
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> stored(length);
    if (compress(stored.data(), &length, data.data(), static_cast<uLong>(data.size())) != Z_OK) return {};
    stored.resize(length);
    return stored;
}

std::string EntryName(int i) {
    char name[64];
    std::snprintf(name, sizeof name, "ResBin\\tdr\\item%05d.dds", i);
    return name;
}

// A client archive of kEntries zlib entries whose stored bytes add up to about 16 MiB.
bool BuildClientArchive(const std::string& path) {
    std::mt19937 rng(20240601);
    PackageWriter writer;
    if (!writer.Open(path.c_str())) return false;
    uint64_t stored = 0;
    double ratio = 0.6;  // stored / raw, corrected as entries are written
    uint64_t rawTotal = 0;
    const uint64_t dataTarget = kArchiveTarget - kEntries * 45u;  // room for the directory records
    for (int i = 0; i < kEntries; ++i) {
        const double wanted = static_cast<double>(dataTarget - std::min(stored, dataTarget)) / (kEntries - i);
        const size_t raw = static_cast<size_t>(wanted / ratio * (0.5 + (rng() % 1000) / 1000.0)) + 1;
        const std::vector<uint8_t> packed = Deflate(CompressibleBytes(rng, raw));
        if (packed.empty() || !writer.Add(EntryName(i), packed.data(), static_cast<uint32_t>(raw),
                                          static_cast<uint32_t>(packed.size()), 1))
            return false;
        stored += packed.size();
        rawTotal += raw;
        ratio = static_cast<double>(stored) / static_cast<double>(rawTotal);
    }
    return writer.Save();
}

// An embedded package that replaces every tenth client entry and brings 100 new ones.
bool BuildPatch(const std::string& path) {
    std::mt19937 rng(7);
    PackageWriter writer;
    if (!writer.Open(path.c_str())) return false;
    for (int i = 0; i < kEntries + 1000; i += 10) {
        const std::vector<uint8_t> packed = Deflate(CompressibleBytes(rng, 2000));
        if (!writer.Add(EntryName(i), packed.data(), 2000, static_cast<uint32_t>(packed.size()), 1)) return false;
    }
    return writer.Save();
}

bool Rebuild(const std::string& client, const std::string& patch, const std::string& out, uint32_t* kept) {
    PackageReader patchReader;
    PackageReader clientReader;
    PackageWriter writer;
    if (!patchReader.Open(patch.c_str()) || !clientReader.Open(client.c_str()) || !writer.Open(out.c_str()))
        return false;
    PackageNameSet names;
    CollectEntryNames(patchReader, names);
    std::string failedName;
    if (!CopyKeptEntries(clientReader, writer, names, [](int32_t) {}, failedName)) return false;
    *kept = writer.Header().entryCount;
    return writer.Save();
}

bool PlainCopy(const std::string& from, const std::string& to) {
    static std::vector<uint8_t> block(kCopyBlock);
    FILE* in = std::fopen(from.c_str(), "rb");
    FILE* out = std::fopen(to.c_str(), "wb");
    bool ok = in != nullptr && out != nullptr;
    size_t got;
    while (ok && (got = std::fread(block.data(), 1, block.size(), in)) > 0)
        ok = std::fwrite(block.data(), 1, got, out) == got;
    if (in != nullptr) {
        ok = !std::ferror(in) && ok;
        std::fclose(in);
    }
    if (out != nullptr) ok = std::fclose(out) == 0 && ok;
    return ok;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path base = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    const std::filesystem::path folder = base / ("vel_bench_rebuild_" + std::to_string(std::random_device{}()));
    if (!std::filesystem::create_directory(folder, error)) {
        std::fprintf(stderr, "cannot create %s\n", folder.string().c_str());
        return 1;
    }
    const std::string client = (folder / "client.pkg").string();
    const std::string patch = (folder / "patch.pkg").string();
    const std::string rebuilt = (folder / "client.pkg.tmp").string();
    const std::string copy = (folder / "client.copy").string();

    int status = 0;
    if (!BuildClientArchive(client) || !BuildPatch(patch)) {
        std::fprintf(stderr, "cannot build the archives\n");
        status = 1;
    }
    const double bytes = static_cast<double>(std::filesystem::file_size(client, error));

    // Wall-clock and processor time (user and system) of each round; the contenders take turns
    // so that other load on the machine hits both alike.
    std::vector<double> rebuildMs, copyMs, rebuildCpuMs, copyCpuMs;
    uint32_t kept = 0;
    for (int round = 0; status == 0 && round < kRounds; ++round) {
        std::filesystem::remove(rebuilt, error);
        auto start = Clock::now();
        std::clock_t cpu = std::clock();
        if (!Rebuild(client, patch, rebuilt, &kept)) status = 1;
        rebuildCpuMs.push_back(1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
        rebuildMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        std::filesystem::remove(copy, error);
        start = Clock::now();
        cpu = std::clock();
        if (!PlainCopy(client, copy)) status = 1;
        copyCpuMs.push_back(1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
        copyMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }

    if (status == 0) {
        const double rebuild = Median(rebuildMs);
        const double plain = Median(copyMs);
        std::printf("client archive: %.0f bytes, %d entries; kept %u, skipped %u; %d rounds, medians\n", bytes,
                    kEntries, kept, kEntries - kept, kRounds);
        const double rebuildCpu = Median(rebuildCpuMs);
        const double plainCpu = Median(copyCpuMs);
        std::printf("             wall ms     MB/s   best ms    cpu ms  MB/s of cpu\n");
        std::printf("rebuild    %9.2f %8.1f %9.2f %9.2f %8.1f\n", rebuild, bytes / 1e3 / rebuild,
                    *std::min_element(rebuildMs.begin(), rebuildMs.end()), rebuildCpu, bytes / 1e3 / rebuildCpu);
        std::printf("plain copy %9.2f %8.1f %9.2f %9.2f %8.1f\n", plain, bytes / 1e3 / plain,
                    *std::min_element(copyMs.begin(), copyMs.end()), plainCpu, bytes / 1e3 / plainCpu);
        std::printf("rebuild / copy: %.2f wall, %.2f cpu (MB = 10^6 bytes)\n", rebuild / plain, rebuildCpu / plainCpu);
    } else {
        std::fprintf(stderr, "a round failed\n");
    }
    std::filesystem::remove_all(folder, error);
    return status;
}
