// Release tool for the patch installer: builds package archives and installers, checks and unpacks them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "package/PackageFormat.h"

class TempFileGuard;

// One file to put into a package.
struct PackFile {
    std::string name;  // archive name: GBK bytes, '\\' or '/' as given
    std::string data;  // content before compression
};

// Every offset in an archive is seeked as a signed 32-bit value, and so is the trailer's offset.
constexpr uint64_t kMaxArchiveLength = 0x7FFFFFFFu;

// Strict "a.b.c.d": four parts of 1 to 3 decimal digits, each at most 255; nothing else.
bool ParseVersionArg(const char* text, uint32_t* packed);
// ParseVersionArg, or "0" for "no lower bound" (packed 0).
bool ParseFromVersionArg(const char* text, uint32_t* packed);
// "full" (0), "micro" (1), or a decimal number up to 4294967295.
bool ParseClientTypeArg(const char* text, uint32_t* clientType);
// "1.3.0.190 (0x010300BE)".
std::string ShowVersion(uint32_t packed);

// Deflate cannot do better than about 1032:1, so a directory record claiming more is damaged.
inline bool EntrySizeIsPossible(uint32_t size, uint32_t storedSize) {
    return uint64_t{size} <= uint64_t{storedSize} * 1032u + 64u;
}

// Writes a new archive holding the files in the given order, each a zlib stream at zlib's default
// level (header 78 9C) with flags 1. Names are taken as they are; only the format's limits are
// enforced (non-empty, at most 1023 bytes, no name twice, archive below 2 GiB). The archive is
// written under a temporary name and renamed, so a failure leaves no partial outPkg.
bool WritePackage(const std::vector<PackFile>& files, const std::string& outPkg, std::string* error);

// One file found by CollectFolderFiles.
struct FolderFile {
    std::string archiveName;  // GBK, components joined by '\\'
    std::string hostPath;     // where to read it
};

// Every regular file under folder, named relative to it with '\\' separators in GBK, sorted by
// those name bytes. Fails when a name has no GBK form or would not be a valid Windows name.
bool CollectFolderFiles(const std::string& folder, std::vector<FolderFile>* files, std::string* error);
// Packs what CollectFolderFiles finds, in its order, as WritePackage does. An empty folder fails.
bool PackFolder(const std::string& folder, const std::string& outPkg, std::string* error);

struct BuildOptions {
    // Accept a stub that does not start with "MZ", that already carries a trailer (the new one,
    // nearer the end, is the one an installer finds), or an empty package.
    bool force = false;
};

// Writes outExe = stub bytes + package bytes + 32-byte trailer, through a temporary name. Refuses
// a stub that already carries a trailer, a package over 2 GiB, and an installer whose trailer
// offset would not fit a signed 32-bit value. The package's content is not examined here.
bool BuildInstaller(const std::string& stubExe, const std::string& packagePath, uint32_t fromVersion,
                    uint32_t toVersion, uint32_t clientType, const std::string& outExe, std::string* error);
bool BuildInstaller(const std::string& stubExe, const std::string& packagePath, uint32_t fromVersion,
                    uint32_t toVersion, uint32_t clientType, const std::string& outExe,
                    const BuildOptions& options, std::string* error);

// What examining an installer or a plain archive found.
struct FileReport {
    uint64_t fileLength = 0;

    bool hasTrailer = false;
    PackageTrailer trailer{};
    int32_t trailerOffset = 0;
    bool crcComputed = false;
    uint32_t computedCrc = 0;

    bool archiveOpened = false;  // the 16-byte header could be read
    PackageHeader header{};
    uint64_t archiveLength = 0;
    std::vector<PackageEntry> entries;  // the directory records that could be read, in order

    // Everything found wrong, one sentence each; empty when the file is sound.
    std::vector<std::string> problems;
};

// Finds the archive in path: the embedded package of an installer (copied to a temporary file
// owned by temp, its CRC computed) or the file itself. Fills the trailer part of report. False
// with error only when the file cannot be read at all; damage goes to report->problems, and then
// archivePath is empty when there is no archive to look at.
bool LocateArchive(const std::string& path, FileReport* report, TempFileGuard* temp,
                   std::string* archivePath, std::string* error);
// LocateArchive and a walk of the directory. With inflateEntries every entry is inflated and must
// give exactly its size. False only when the file cannot be read at all.
bool ExamineFile(const std::string& path, bool inflateEntries, FileReport* report, std::string* error);
// The human-readable listing of "velpack inspect".
void PrintFileReport(FILE* out, const std::string& path, const FileReport& report);

struct ExtractSummary {
    unsigned written = 0;
    std::vector<std::string> problems;  // refused or failed entries, and damage found on the way
};
// Writes every entry of the archive (or an installer's embedded package) inflated under outDir,
// which is created when missing. Unsafe names are refused and the rest still extracted. False
// when the file cannot be read at all or outDir cannot be created.
bool ExtractArchiveFile(const std::string& path, const std::string& outDir, ExtractSummary* summary,
                        std::string* error);

// The command line; returns the exit code: 0 done, 1 a bad file or a failed step, 2 bad usage.
int RunPackTool(int argc, char** argv);
