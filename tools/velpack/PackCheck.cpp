// Reading installers and archives back: the trailer, the CRC, the directory and every entry.
#include <cinttypes>
#include <cstring>

#include "GbkNames.h"
#include "HostFiles.h"
#include "PackTool.h"
#include "package/Crc32.h"
#include "package/PackageReader.h"
#include "package/PackageTrailer.h"

namespace {

bool CrcOfFile(const std::string& path, uint32_t* value) {
    StdioFile file;
    ByteBuffer block;
    if (!file.Open(path, "rb") || !block.Allocate(1 << 20)) return false;
    Crc32 crc;
    crc.Start();
    size_t n;
    while ((n = fread(block.Data(), 1, block.Size(), file.Get())) > 0) crc.Update(block.Data(), n);
    if (ferror(file.Get())) return false;
    crc.Finish();
    *value = crc.Value();
    return true;
}

std::string Hex32(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08" PRIX32, value);
    return text;
}

std::string EntryLabel(size_t index, const PackageEntry& entry) {
    return "entry " + std::to_string(index + 1) + " \"" + ShowGbkName(entry.name) + "\"";
}

void CheckArchive(const std::string& archivePath, bool inflateEntries, FileReport* report) {
    std::vector<std::string>& problems = report->problems;
    PackageReader reader;
    if (!reader.Open(archivePath.c_str())) {
        problems.push_back(report->hasTrailer ? "the embedded package has no readable archive header"
                                              : "no package trailer, and too short for an archive header");
        return;
    }
    report->archiveOpened = true;
    report->header = reader.Header();
    report->archiveLength = reader.FileLength();
    const PackageHeader& header = report->header;
    const uint64_t length = report->archiveLength;

    if (header.tag != kPackageTag) {
        problems.push_back(std::string(report->hasTrailer ? "the embedded package" : "no package trailer, and the file") +
                           " is not a package archive (header tag " + std::to_string(header.tag) + ", not 100)");
        return;
    }
    if (header.directoryOffset < kPackageHeaderSize || header.directoryOffset > length) {
        problems.push_back("directoryOffset " + std::to_string(header.directoryOffset) + " lies outside the archive (16.." +
                           std::to_string(length) + ")");
        return;
    }
    if (uint64_t{header.directoryOffset} + header.directorySize != length) {
        problems.push_back("the directory (offset " + std::to_string(header.directoryOffset) + ", size " +
                           std::to_string(header.directorySize) + ") does not end at the archive's end (" +
                           std::to_string(length) + ")");
    }

    PackageEntry entry;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) {
        report->entries.push_back(entry);
    }
    if (report->entries.size() != header.entryCount) {
        problems.push_back("directory record " + std::to_string(report->entries.size() + 1) + " of " +
                           std::to_string(header.entryCount) + " cannot be read");
    }

    ByteBuffer content;
    for (size_t i = 0; i < report->entries.size(); ++i) {
        const PackageEntry& e = report->entries[i];
        if (e.name.empty()) problems.push_back(EntryLabel(i, e) + ": empty name");
        if (e.dataOffset < kPackageHeaderSize || uint64_t{e.dataOffset} + e.storedSize > header.directoryOffset) {
            problems.push_back(EntryLabel(i, e) + ": stored bytes at " + std::to_string(e.dataOffset) + "+" +
                               std::to_string(e.storedSize) + " lie outside the data region (16.." +
                               std::to_string(header.directoryOffset) + ")");
            continue;
        }
        if (!inflateEntries) continue;
        if (!EntrySizeIsPossible(e.size, e.storedSize)) {
            problems.push_back(EntryLabel(i, e) + ": size " + std::to_string(e.size) + " cannot come from " +
                               std::to_string(e.storedSize) + " stored bytes");
            continue;
        }
        if (content.Size() < e.size && !content.Allocate(e.size)) {
            problems.push_back(EntryLabel(i, e) + ": out of memory for " + std::to_string(e.size) + " bytes");
            continue;
        }
        if (!reader.ReadUnpacked(content.Data(), e.size, e.dataOffset, e.storedSize)) {
            problems.push_back(EntryLabel(i, e) + ": does not inflate to exactly " + std::to_string(e.size) + " bytes");
        }
    }
}

}  // namespace

bool LocateArchive(const std::string& path, FileReport* report, TempFileGuard* temp,
                   std::string* archivePath, std::string* error) {
    archivePath->clear();
    if (!IsRegularFile(path) || !FileSizeOf(path, &report->fileLength)) {
        *error = "cannot read \"" + path + "\": no such file";
        return false;
    }
    const Result found = FindPackageTrailer(path.c_str(), &report->trailer, &report->trailerOffset);
    if (found == Result::PackageDamaged) {
        *error = "cannot read \"" + path + "\"";
        return false;
    }
    if (found != Result::Ok) {
        *archivePath = path;
        return true;
    }

    report->hasTrailer = true;
    const PackageTrailer& trailer = report->trailer;
    if (trailer.packageLength > static_cast<uint32_t>(report->trailerOffset)) {
        report->problems.push_back("packageLength " + std::to_string(trailer.packageLength) +
                                   " is larger than the trailer offset " + std::to_string(report->trailerOffset) +
                                   ": the package would start before the file");
        return true;
    }
    if (trailer.packageLength == 0) {
        report->problems.push_back("packageLength is 0: the installer carries no package");
        return true;
    }
    std::string copy;
    if (!MakeTempFile(&copy)) {
        *error = "cannot create a temporary file: " + LastErrorText();
        return false;
    }
    temp->Reset(copy);
    const Result copied = CopyEmbeddedPackage(path.c_str(), copy.c_str(), trailer, report->trailerOffset);
    if (copied != Result::Ok && copied != Result::CrcMismatch) {
        *error = copied == Result::PackageDamaged ? "cannot read the embedded package of \"" + path + "\""
                                  : "cannot write the temporary copy \"" + copy + "\"";
        return false;
    }
    if (!CrcOfFile(copy, &report->computedCrc)) {
        *error = "cannot read back the temporary copy \"" + copy + "\"";
        return false;
    }
    report->crcComputed = true;
    if (report->computedCrc != trailer.packageCrc) {
        report->problems.push_back("package CRC-32 is " + Hex32(report->computedCrc) + ", the trailer says " +
                                   Hex32(trailer.packageCrc));
    }
    *archivePath = copy;
    return true;
}

bool ExamineFile(const std::string& path, bool inflateEntries, FileReport* report, std::string* error) {
    *report = FileReport();
    TempFileGuard temp;
    std::string archivePath;
    if (!LocateArchive(path, report, &temp, &archivePath, error)) return false;
    if (!archivePath.empty()) CheckArchive(archivePath, inflateEntries, report);
    return true;
}

void PrintFileReport(FILE* out, const std::string& path, const FileReport& report) {
    fprintf(out, "%s: %" PRIu64 " bytes\n", path.c_str(), report.fileLength);
    if (report.hasTrailer) {
        const PackageTrailer& t = report.trailer;
        const uint64_t after = report.fileLength - static_cast<uint64_t>(report.trailerOffset) - kTrailerSize;
        fprintf(out, "installer trailer at offset %" PRId32 "\n", report.trailerOffset);
        fprintf(out, "  fromVersion    %s%s\n", ShowVersion(t.fromVersion).c_str(),
                t.fromVersion == 0 ? ", no lower bound" : "");
        fprintf(out, "  toVersion      %s\n", ShowVersion(t.toVersion).c_str());
        fprintf(out, "  packageLength  %" PRIu32 "", t.packageLength);
        if (t.packageLength <= static_cast<uint32_t>(report.trailerOffset)) {
            fprintf(out, " (package at offset %" PRIu32 ")", static_cast<uint32_t>(report.trailerOffset) - t.packageLength);
        }
        fprintf(out, "\n");
        if (report.crcComputed) {
            fprintf(out, "  packageCrc     stored %s, computed %s: %s\n", Hex32(t.packageCrc).c_str(),
                    Hex32(report.computedCrc).c_str(), report.computedCrc == t.packageCrc ? "match" : "MISMATCH");
        } else {
            fprintf(out, "  packageCrc     stored %s, not computed\n", Hex32(t.packageCrc).c_str());
        }
        const char* kind = t.clientType == kClientTypeFull    ? "full client"
                           : t.clientType == kClientTypeMicro ? "micro client"
                                                              : "fits both kinds";
        fprintf(out, "  clientType     %" PRIu32 " (%s)\n", t.clientType, kind);
        if (after == 0) {
            fprintf(out, "  after trailer  nothing\n");
        } else {
            fprintf(out, "  after trailer  %" PRIu64 " bytes (a signature or other data; ignored)\n", after);
        }
    } else {
        fprintf(out, "no installer trailer: read as a plain archive\n");
    }
    if (report.archiveOpened) {
        const PackageHeader& h = report.header;
        fprintf(out, "archive (%s, %" PRIu64 " bytes)\n", report.hasTrailer ? "embedded package" : "whole file",
                report.archiveLength);
        fprintf(out, "  tag %" PRIu32 ", entryCount %" PRIu32 ", directoryOffset %" PRIu32 ", directorySize %" PRIu32 "\n",
                h.tag, h.entryCount, h.directoryOffset, h.directorySize);
        if (!report.entries.empty()) {
            fprintf(out, "  %10s %10s %5s %10s  name\n", "size", "storedSize", "flags", "dataOffset");
        }
        for (const PackageEntry& e : report.entries) {
            fprintf(out, "  %10" PRIu32 " %10" PRIu32 " %5" PRIu32 " %10" PRIu32 "  %s\n", e.size, e.storedSize, e.flags,
                    e.dataOffset, ShowGbkName(e.name).c_str());
        }
    }
    if (!report.problems.empty()) {
        fprintf(out, "problems:\n");
        for (const std::string& problem : report.problems) fprintf(out, "  %s\n", problem.c_str());
    }
}
