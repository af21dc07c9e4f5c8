// libFuzzer target: untrusted bytes as a package archive (reader walk, stored and inflated reads,
// the writer's directory load and rewrite) and as an installer (trailer scan, extraction).
//
// Configure with clang and -DVEL_FUZZ=ON; ctest runs it briefly. A longer run on demand:
//   mkdir -p /tmp/vel-fuzz-corpus
//   <build>/tests/fuzz/fuzz_package_reader -max_total_time=3600 -max_len=65536 -timeout=10 \
//       -rss_limit_mb=2048 /tmp/vel-fuzz-corpus tests/fuzz/corpus
// The default malloc limit (the RSS limit) also catches any allocation sized from a bogus record.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "package/PackageReader.h"
#include "package/PackageTrailer.h"
#include "package/PackageWriter.h"

namespace {

constexpr uint32_t kMaxUnpacked = 4u << 20;
constexpr int kMaxEntries = 4096;

// Paths built once and never destroyed, so that the exit handler can still use them. tmpfs is
// preferred: rewriting a file on disk thousands of times a second waits on write-back.
const std::string& TempPath(const char* suffix) {
    std::error_code error;
    std::filesystem::path dir = "/dev/shm";
    if (!std::filesystem::is_directory(dir, error)) dir = std::filesystem::temp_directory_path();
    return *new std::string((dir / ("vel_fuzz_" + std::to_string(getpid()) + suffix)).string());
}

const std::string& InputPath() {
    static const std::string& path = TempPath(".pkg");
    return path;
}

const std::string& OutputPath() {
    static const std::string& path = TempPath(".out");
    return path;
}

void RemoveTemporaries() {
    std::remove(InputPath().c_str());
    std::remove(OutputPath().c_str());
}

bool WriteInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

std::vector<PackageEntry> Walk(PackageReader& reader, bool readData) {
    std::vector<PackageEntry> entries;
    PackageEntry entry;
    for (bool more = reader.First(entry); more && entries.size() < kMaxEntries; more = reader.Next(entry)) {
        if (entry.name.size() > kMaxEntryNameLength) std::abort();
        entries.push_back(entry);
        if (!readData) continue;
        const uint8_t* stored = reader.ReadStored(entry.dataOffset, entry.storedSize);
        if (stored != nullptr && entry.storedSize > 0) {
            // Touch both ends so that ASan checks the whole range was allocated.
            volatile uint8_t ends = static_cast<uint8_t>(stored[0] ^ stored[entry.storedSize - 1]);
            (void)ends;
        }
        if (entry.size <= kMaxUnpacked) {
            std::unique_ptr<uint8_t[]> content(new uint8_t[entry.size == 0 ? 1 : entry.size]);
            reader.ReadUnpacked(content.get(), entry.size, entry.dataOffset, entry.storedSize);
        }
    }
    return entries;
}

bool SameEntries(const std::vector<PackageEntry>& a, const std::vector<PackageEntry>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].flags != b[i].flags || a[i].dataOffset != b[i].dataOffset ||
            a[i].size != b[i].size || a[i].storedSize != b[i].storedSize)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(RemoveTemporaries);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteInput(data, size)) return 0;
    const char* path = InputPath().c_str();

    PackageReader reader;
    if (reader.Open(path)) Walk(reader, true);
    reader.Close();

    PackageTrailer trailer{};
    int32_t offset = 0;
    if (FindPackageTrailer(path, &trailer, &offset) == Result::Ok) {
        if (offset < 1 || static_cast<size_t>(offset) + kTrailerSize > size) std::abort();
        CopyEmbeddedPackage(path, OutputPath().c_str(), trailer, offset);
    }

    // A directory the writer accepts, written back in place, reads back the same.
    PackageWriter writer;
    if (writer.Open(path)) {
        const std::vector<PackageEntry> loaded = writer.Entries();
        if (loaded.size() <= kMaxEntries) {
            if (!writer.Save()) std::abort();
            if (!reader.Open(path) || !SameEntries(Walk(reader, false), loaded)) std::abort();
        }
    }
    return 0;
}
