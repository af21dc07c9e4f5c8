// Unpacking an archive or an installer's embedded package into a folder.
#include "GbkNames.h"
#include "HostFiles.h"
#include "PackTool.h"
#include "package/PackageReader.h"

namespace {

bool WriteEntry(PackageReader& reader, const PackageEntry& entry, const std::string& outDir,
                const std::vector<std::string>& components, ByteBuffer* content, std::string* why) {
    if (!EntrySizeIsPossible(entry.size, entry.storedSize)) {
        *why = "size " + std::to_string(entry.size) + " cannot come from " + std::to_string(entry.storedSize) +
               " stored bytes";
        return false;
    }
    if (content->Size() < entry.size && !content->Allocate(entry.size)) {
        *why = "out of memory for " + std::to_string(entry.size) + " bytes";
        return false;
    }
    if (!reader.ReadUnpacked(content->Data(), entry.size, entry.dataOffset, entry.storedSize)) {
        *why = "does not inflate to exactly " + std::to_string(entry.size) + " bytes";
        return false;
    }
    std::string path = outDir;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        path = JoinHostPath(path, components[i]);
        if (!MakeDirectory(path)) {
            *why = "cannot create folder \"" + path + "\": " + LastErrorText();
            return false;
        }
    }
    path = JoinHostPath(path, components.back());
    StdioFile out;
    if (!out.Open(path, "wb")) {
        *why = "cannot create \"" + path + "\": " + LastErrorText();
        return false;
    }
    if ((entry.size > 0 && fwrite(content->Data(), 1, entry.size, out.Get()) != entry.size) || !out.Close()) {
        *why = "cannot write \"" + path + "\": " + LastErrorText();
        return false;
    }
    return true;
}

}  // namespace

bool ExtractArchiveFile(const std::string& path, const std::string& outDir, ExtractSummary* summary,
                        std::string* error) {
    *summary = ExtractSummary();
    FileReport report;
    TempFileGuard temp;
    std::string archivePath;
    if (!LocateArchive(path, &report, &temp, &archivePath, error)) return false;
    summary->problems = report.problems;
    if (archivePath.empty()) return true;

    PackageReader reader;
    if (!reader.Open(archivePath.c_str()) || reader.Header().tag != kPackageTag) {
        summary->problems.push_back(report.hasTrailer ? "the embedded package is not a package archive"
                                                      : "no package trailer, and not a package archive");
        return true;
    }
    if (!MakeDirectory(outDir)) {
        *error = "cannot create \"" + outDir + "\": " + LastErrorText();
        return false;
    }

    ByteBuffer content;
    PackageEntry entry;
    uint32_t walked = 0;
    for (bool more = reader.First(entry); more; more = reader.Next(entry)) {
        ++walked;
        const std::string label = "entry " + std::to_string(walked) + " \"" + ShowGbkName(entry.name) + "\"";
        std::vector<std::string> components;
        std::string why;
        if (!ArchiveNameToRelativePath(entry.name, &components, &why)) {
            summary->problems.push_back(label + " refused: " + why);
            continue;
        }
        if (!WriteEntry(reader, entry, outDir, components, &content, &why)) {
            summary->problems.push_back(label + ": " + why);
            continue;
        }
        ++summary->written;
    }
    if (walked != reader.EntryCount()) {
        summary->problems.push_back("directory record " + std::to_string(walked + 1) + " of " +
                                    std::to_string(reader.EntryCount()) + " cannot be read");
    }
    return true;
}
