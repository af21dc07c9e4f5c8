#include "package/PackageTrailer.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "package/Crc32.h"
#include "base/RawFile.h"
#include "base/StdioFile.h"
#include "package/ArchiveCodec.h"
#include "base/Result.h"

namespace {

// Candidate offsets examined per read; each block also holds the 31 bytes that a trailer starting
// at its last candidate needs, so consecutive blocks overlap by 31 bytes.
constexpr uint32_t kScanBlockCandidates = 1u << 20;
// Trailer offsets are signed 32-bit.
constexpr int64_t kMaxTrailerOffset = 0x7FFFFFFF;
// Fixed, so memory use does not grow with the package; each block is one read and one write
// (1 KiB blocks through stdio copied about 1.7 times slower than 64 KiB blocks).
constexpr uint32_t kCopyBlockSize = 1048576;

// Positions examined together: a cheap test on the whole group ('x' at i and 'm' at i + 3, which
// compilers vectorise) rules out almost every group before any trailer is compared.
constexpr size_t kFilterGroup = 512;
constexpr uint8_t kMagicByte0 = static_cast<uint8_t>(kTrailerMagic1);
constexpr uint8_t kMagicByte3 = static_cast<uint8_t>(kTrailerMagic1 >> 24);

bool GroupMayHoldTrailer(const uint8_t* p) {
    uint8_t any = 0;
    for (size_t i = 0; i < kFilterGroup; ++i)
        any |= static_cast<uint8_t>((p[i] == kMagicByte0) & (p[i + 3] == kMagicByte3));
    return any != 0;
}

// The highest index below `candidates` at which a whole trailer starts, or -1. The block holds
// candidates + 31 bytes.
int64_t LastTrailerIn(const uint8_t* block, size_t candidates) {
    size_t end = candidates;
    while (end > 0) {
        const size_t begin = end > kFilterGroup ? end - kFilterGroup : 0;
        if (end - begin < kFilterGroup || GroupMayHoldTrailer(block + begin)) {
            for (size_t at = end; at-- > begin;)
                if (block[at] == kMagicByte0 && HasTrailerMagics(block + at)) return static_cast<int64_t>(at);
        }
        end = begin;
    }
    return -1;
}

}  // namespace

Result FindPackageTrailer(const char* path, PackageTrailer* trailer, int32_t* trailerOffset) {
    StdioFile file;
    if (!file.Open(path, "rb")) return Result::PackageDamaged;
    const int64_t length = QueryStreamLength(file.Get());
    if (length < 0) return Result::PackageDamaged;
    if (length <= static_cast<int64_t>(kTrailerSize)) return Result::NoPackage;

    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kScanBlockCandidates + kTrailerSize - 1]);
    if (!block) return Result::PackageDamaged;

    int64_t last = length - kTrailerSize;
    if (last > kMaxTrailerOffset) last = kMaxTrailerOffset;
    // Blocks go backwards so that the trailer nearest the end is found first.
    while (last >= 1) {
        const int64_t first = last >= kScanBlockCandidates ? last - kScanBlockCandidates + 1 : 1;
        const size_t candidates = static_cast<size_t>(last - first + 1);
        if (!SeekFile(file.Get(), first, SEEK_SET) ||
            !ReadExact(file.Get(), block.get(), candidates + kTrailerSize - 1))
            return Result::PackageDamaged;
        const int64_t at = LastTrailerIn(block.get(), candidates);
        if (at >= 0) {
            if (trailer != nullptr) {
                *trailer = DecodeTrailer(block.get() + at);
            }
            if (trailerOffset != nullptr) *trailerOffset = static_cast<int32_t>(first + at);
            return Result::Ok;
        }
        last = first - 1;
    }
    return Result::NoPackage;
}

Result CopyEmbeddedPackage(const char* programPath, const char* outPath, const PackageTrailer& trailer,
                        int32_t trailerOffset) {
    RawFile program;
    if (!program.Open(programPath, RawFile::Mode::Read)) return Result::PackageDamaged;
    RawFile out;
    if (!out.Open(outPath, RawFile::Mode::Create)) return Result::WriteFailed;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBlockSize]);
    if (!buffer) return Result::OutOfMemory;

    // A package claimed to start before the file is treated as unreadable, never clamped.
    if (trailerOffset < 0 || trailer.packageLength > static_cast<uint32_t>(trailerOffset))
        return Result::PackageDamaged;
    const uint64_t start = static_cast<uint64_t>(trailerOffset) - trailer.packageLength;

    Crc32 crc;
    crc.Start();
    uint64_t done = 0;
    while (done < trailer.packageLength) {
        const uint64_t rest = trailer.packageLength - done;
        const uint32_t count = rest < kCopyBlockSize ? static_cast<uint32_t>(rest) : kCopyBlockSize;
        if (!program.ReadAt(start + done, buffer.get(), count)) return Result::PackageDamaged;
        crc.Update(buffer.get(), count);
        if (!out.WriteAt(done, buffer.get(), count)) return Result::WriteFailed;
        done += count;
    }
    crc.Finish();
    program.Close();
    if (!out.Close()) return Result::WriteFailed;
    return crc.Value() == trailer.packageCrc ? Result::Ok : Result::CrcMismatch;
}

Result CheckClientType(bool clientIsMicro, uint32_t clientType) {
    if (clientIsMicro) return clientType == kClientTypeFull ? Result::PackageForFull : Result::Ok;
    return clientType == kClientTypeMicro ? Result::PackageForMicro : Result::Ok;
}

void FormatPackedVersion(uint32_t version, char* out, unsigned outSize) {
    if (out == nullptr || outSize == 0) return;
    std::snprintf(out, outSize, "%d.%d.%d.%d", static_cast<int>(version >> 24),
                  static_cast<int>((version >> 16) & 0xFFu), static_cast<int>((version >> 8) & 0xFFu),
                  static_cast<int>(version & 0xFFu));
}
