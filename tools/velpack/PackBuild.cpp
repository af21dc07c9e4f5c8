// Writing package archives and installers.
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "GbkNames.h"
#include "HostFiles.h"
#include "PackTool.h"
#include "TreeDiff.h"
#include "base/PathText.h"
#include "package/ArchiveCodec.h"
#include "package/Crc32.h"
#include "package/PackageReader.h"
#include "package/PackageTrailer.h"
#include "package/PackageWriter.h"

namespace {

// Adds compressed entries to a new archive under a temporary name; Finish renames it into place.
class ArchiveBuilder {
public:
    bool Begin(const std::string& outPkg, std::string* error) {
        outPkg_ = outPkg;
        temp_.Reset(SiblingTempName(outPkg));
        // The writer extends an archive that already exists; this one must start empty.
        RemoveFile(temp_.Path());
        if (!writer_.Open(temp_.Path().c_str())) {
            *error = "cannot create \"" + temp_.Path() + "\": " + LastErrorText();
            return false;
        }
        return true;
    }

    bool Add(const std::string& name, const uint8_t* data, uint64_t size, std::string* error) {
        if (name.empty() || name.size() > kMaxEntryNameLength) {
            *error = "entry name \"" + ShowGbkName(name) + "\" must have 1 to " +
                     std::to_string(kMaxEntryNameLength) + " bytes";
            return false;
        }
        if (!names_.insert(name).second) {
            *error = "entry name \"" + ShowGbkName(name) + "\" given twice";
            return false;
        }
        if (size > kMaxArchiveLength) {
            *error = "\"" + ShowGbkName(name) + "\" is larger than an archive can hold";
            return false;
        }
        uLongf storedSize = compressBound(static_cast<uLong>(size));
        if (!stored_.Allocate(storedSize)) {
            *error = "out of memory compressing \"" + ShowGbkName(name) + "\"";
            return false;
        }
        if (compress2(stored_.Data(), &storedSize, data, static_cast<uLong>(size), Z_DEFAULT_COMPRESSION) != Z_OK) {
            *error = "zlib failed on \"" + ShowGbkName(name) + "\"";
            return false;
        }
        directorySize_ += kDirectoryRecordFixedSize + name.size();
        const uint64_t total = uint64_t{writer_.Header().directoryOffset} + storedSize + directorySize_;
        if (total > kMaxArchiveLength) {
            *error = "the archive would exceed 2 GiB at \"" + ShowGbkName(name) + "\"";
            return false;
        }
        if (!writer_.Add(name, stored_.Data(), static_cast<uint32_t>(size), static_cast<uint32_t>(storedSize), 1)) {
            *error = "cannot write to \"" + temp_.Path() + "\": " + LastErrorText();
            return false;
        }
        return true;
    }

    // An entry already compressed, with its flags: copied as it is.
    bool AddStored(const PackageEntry& entry, const uint8_t* stored, std::string* error) {
        if (entry.name.empty() || entry.name.size() > kMaxEntryNameLength) {
            *error = "entry name \"" + ShowGbkName(entry.name) + "\" must have 1 to " +
                     std::to_string(kMaxEntryNameLength) + " bytes";
            return false;
        }
        if (!names_.insert(entry.name).second) {
            *error = "entry name \"" + ShowGbkName(entry.name) + "\" given twice";
            return false;
        }
        directorySize_ += kDirectoryRecordFixedSize + entry.name.size();
        const uint64_t total = uint64_t{writer_.Header().directoryOffset} + entry.storedSize + directorySize_;
        if (total > kMaxArchiveLength) {
            *error = "the archive would exceed 2 GiB at \"" + ShowGbkName(entry.name) + "\"";
            return false;
        }
        if (!writer_.Add(entry.name, stored, entry.size, entry.storedSize, entry.flags)) {
            *error = "cannot write to \"" + temp_.Path() + "\": " + LastErrorText();
            return false;
        }
        return true;
    }

    bool Finish(std::string* error) {
        if (!writer_.Save()) {
            *error = "cannot write the directory of \"" + temp_.Path() + "\": " + LastErrorText();
            return false;
        }
        if (!RenameReplacing(temp_.Path(), outPkg_)) {
            *error = "cannot rename \"" + temp_.Path() + "\" to \"" + outPkg_ + "\": " + LastErrorText();
            return false;
        }
        temp_.Release();
        return true;
    }

private:
    std::string outPkg_;
    // Declared before the writer, so the writer closes the file before the guard removes it.
    TempFileGuard temp_;
    PackageWriter writer_;
    ByteBuffer stored_;
    std::set<std::string> names_;
    uint64_t directorySize_ = 0;
};

// Copies count bytes, folding them into crc when one is given.
bool CopyBytes(FILE* in, FILE* out, uint64_t count, Crc32* crc) {
    static constexpr size_t kBlock = 1 << 20;
    ByteBuffer block;
    if (!block.Allocate(kBlock)) return false;
    while (count > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, kBlock));
        if (fread(block.Data(), 1, n, in) != n) return false;
        if (crc) crc->Update(block.Data(), n);
        if (fwrite(block.Data(), 1, n, out) != n) return false;
        count -= n;
    }
    return true;
}

}  // namespace

bool WritePackage(const std::vector<PackFile>& files, const std::string& outPkg, std::string* error) {
    ArchiveBuilder builder;
    if (!builder.Begin(outPkg, error)) return false;
    for (const PackFile& file : files) {
        if (!builder.Add(file.name, reinterpret_cast<const uint8_t*>(file.data.data()), file.data.size(), error)) {
            return false;
        }
    }
    return builder.Finish(error);
}

bool CollectFolderFiles(const std::string& folder, std::vector<FolderFile>* files, std::string* error) {
    files->clear();
    std::vector<RelativeFileName> found;
    if (!ListFilesUnder(folder, &found, error)) return false;
    for (const RelativeFileName& parts : found) {
        FolderFile file;
        file.hostPath = folder;
        for (const std::string& part : parts) {
            file.hostPath = JoinHostPath(file.hostPath, part);
        }
        for (const std::string& part : parts) {
            std::string gbk;
            if (!HostNameToGbk(part, &gbk)) {
                *error = "\"" + file.hostPath + "\": the name has characters outside GBK (code page 936)";
                return false;
            }
            const std::string problem = WindowsNameProblem(gbk);
            if (!problem.empty()) {
                *error = "\"" + file.hostPath + "\": " + problem;
                return false;
            }
            if (!file.archiveName.empty()) file.archiveName += '\\';
            file.archiveName += gbk;
        }
        // The installer merges the client's resource index only for this exact entry, which the
        // game's patches name with a forward slash; every other name keeps backslashes.
        if (EqualsIgnoringAsciiCase(file.archiveName.c_str(), "RAVN\\RAVNFileList.ini")) {
            file.archiveName[4] = '/';
        }
        if (file.archiveName.size() > kMaxEntryNameLength) {
            *error = "\"" + file.hostPath + "\": the archive name is longer than " +
                     std::to_string(kMaxEntryNameLength) + " bytes";
            return false;
        }
        files->push_back(std::move(file));
    }
    // std::string compares bytes as unsigned char, so GBK names sort the same on every host.
    std::sort(files->begin(), files->end(),
              [](const FolderFile& a, const FolderFile& b) { return a.archiveName < b.archiveName; });
    return true;
}

bool PackFolder(const std::string& folder, const std::string& outPkg, std::string* error) {
    std::vector<FolderFile> files;
    if (!CollectFolderFiles(folder, &files, error)) return false;
    // Client archive entries in their stored form come from their own archive in the folder.
    const auto storedEntries = std::find_if(files.begin(), files.end(),
                                            [](const FolderFile& file) { return file.archiveName == kStoredEntriesFile; });
    std::string storedPath;
    if (storedEntries != files.end()) {
        storedPath = storedEntries->hostPath;
        files.erase(storedEntries);
    }
    if (files.empty() && storedPath.empty()) {
        *error = "\"" + folder + "\" holds no files";
        return false;
    }
    ArchiveBuilder builder;
    if (!builder.Begin(outPkg, error)) return false;
    for (const FolderFile& file : files) {
        ByteBuffer data;
        if (!ReadWholeFile(file.hostPath, kMaxArchiveLength, &data, error)) return false;
        if (!builder.Add(file.archiveName, data.Data(), data.Size(), error)) return false;
    }
    if (!storedPath.empty()) {
        PackageReader reader;
        if (!reader.Open(storedPath.c_str())) {
            *error = "cannot read \"" + storedPath + "\" as an archive";
            return false;
        }
        PackageEntry entry;
        uint32_t count = 0;
        for (bool more = reader.First(entry); more; more = reader.Next(entry), ++count) {
            const uint8_t* stored = reader.ReadStored(entry.dataOffset, entry.storedSize);
            if (stored == nullptr) {
                *error = "cannot read the entry \"" + ShowGbkName(entry.name) + "\" of \"" + storedPath + "\"";
                return false;
            }
            if (!builder.AddStored(entry, stored, error)) return false;
        }
        if (count != reader.EntryCount()) {
            *error = "the directory of \"" + storedPath + "\" is damaged";
            return false;
        }
    }
    return builder.Finish(error);
}

bool BuildInstaller(const std::string& stubExe, const std::string& packagePath, uint32_t fromVersion,
                    uint32_t toVersion, uint32_t clientType, const std::string& outExe, std::string* error) {
    return BuildInstaller(stubExe, packagePath, fromVersion, toVersion, clientType, outExe, BuildOptions(), error);
}

bool BuildInstaller(const std::string& stubExe, const std::string& packagePath, uint32_t fromVersion,
                    uint32_t toVersion, uint32_t clientType, const std::string& outExe,
                    const BuildOptions& options, std::string* error) {
    uint64_t stubSize = 0;
    uint64_t packageSize = 0;
    if (!IsRegularFile(stubExe) || !FileSizeOf(stubExe, &stubSize)) {
        *error = "cannot read the stub \"" + stubExe + "\"";
        return false;
    }
    if (!IsRegularFile(packagePath) || !FileSizeOf(packagePath, &packageSize)) {
        *error = "cannot read the package \"" + packagePath + "\"";
        return false;
    }
    if (packageSize > kMaxArchiveLength) {
        *error = "the package \"" + packagePath + "\" is over 2 GiB (" + std::to_string(packageSize) + " bytes)";
        return false;
    }
    if (packageSize == 0 && !options.force) {
        *error = "the package \"" + packagePath + "\" is empty";
        return false;
    }
    if (stubSize + packageSize > kMaxArchiveLength) {
        *error = "stub and package together exceed 2 GiB; the trailer offset would not fit";
        return false;
    }

    StdioFile stub;
    if (!stub.Open(stubExe, "rb")) {
        *error = "cannot open the stub \"" + stubExe + "\": " + LastErrorText();
        return false;
    }
    if (!options.force) {
        char mz[2] = {};
        if (fread(mz, 1, 2, stub.Get()) != 2 || mz[0] != 'M' || mz[1] != 'Z') {
            *error = "the stub \"" + stubExe + "\" is not a Windows program (no \"MZ\"); --force to use it anyway";
            return false;
        }
        rewind(stub.Get());
        PackageTrailer existing{};
        int32_t existingOffset = 0;
        const Result found = FindPackageTrailer(stubExe.c_str(), &existing, &existingOffset);
        if (found == Result::Ok) {
            *error = "the stub \"" + stubExe + "\" already carries a package trailer at offset " +
                     std::to_string(existingOffset) + " (an installer, not a bare stub?); --force to append anyway";
            return false;
        }
        if (found != Result::NoPackage) {
            *error = "cannot read the stub \"" + stubExe + "\"";
            return false;
        }
    }
    StdioFile package;
    if (!package.Open(packagePath, "rb")) {
        *error = "cannot open the package \"" + packagePath + "\": " + LastErrorText();
        return false;
    }

    TempFileGuard temp(SiblingTempName(outExe));
    StdioFile out;
    if (!out.Open(temp.Path(), "wb")) {
        *error = "cannot create \"" + temp.Path() + "\": " + LastErrorText();
        return false;
    }
    if (!CopyBytes(stub.Get(), out.Get(), stubSize, nullptr)) {
        *error = "cannot copy the stub into \"" + temp.Path() + "\"";
        return false;
    }
    Crc32 crc;
    crc.Start();
    if (!CopyBytes(package.Get(), out.Get(), packageSize, &crc)) {
        *error = "cannot copy the package into \"" + temp.Path() + "\"";
        return false;
    }
    crc.Finish();

    const PackageTrailer fields{kTrailerMagic1, fromVersion, toVersion, static_cast<uint32_t>(packageSize),
                                crc.Value(),    clientType,  kTrailerMagic2, kTrailerMagic3};
    uint8_t trailer[kTrailerSize];
    EncodeTrailer(fields, trailer);
    if (fwrite(trailer, 1, sizeof(trailer), out.Get()) != sizeof(trailer) || !out.Close()) {
        *error = "cannot write \"" + temp.Path() + "\": " + LastErrorText();
        return false;
    }

    // Read it back the way the installer will, before it takes the final name.
    PackageTrailer check{};
    int32_t checkOffset = 0;
    if (FindPackageTrailer(temp.Path().c_str(), &check, &checkOffset) != Result::Ok ||
        static_cast<uint64_t>(checkOffset) != stubSize + packageSize || check.packageCrc != crc.Value()) {
        *error = "the trailer written to \"" + temp.Path() + "\" does not read back";
        return false;
    }
    if (!RenameReplacing(temp.Path(), outExe)) {
        *error = "cannot rename \"" + temp.Path() + "\" to \"" + outExe + "\": " + LastErrorText();
        return false;
    }
    temp.Release();
    return true;
}
