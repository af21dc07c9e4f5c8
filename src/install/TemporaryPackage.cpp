#include "install/TemporaryPackage.h"

#include <cstring>
#include <string>

#include "base/FileSystem.h"
#include "base/PathText.h"
#include "package/ArchiveList.h"
#include "package/KeptEntries.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "base/StdioFile.h"

namespace {

// Names of the embedded package. One set for the process: only one installation runs per process.
PackageNameSet& EmbeddedPackageNames() {
    static PackageNameSet names;
    return names;
}

}  // namespace

Result BuildTemporaryPackage(PackageWriter& writer, const char* tempPath, const char* archivePath,
                             PackageReader& patchReader, bool* archiveRebuilt, Reporter& reporter) {
    reporter.SetStatus("正在生成临时安装文件...");
    reporter.SetProgress(0, ProgressPhase::Single);

    // Closes an archive the writer may still hold; a writer with nothing open just says false.
    writer.Save();

    // A path cut to fit would name another file, so one that does not fit is refused instead.
    if (!FitsPathBuffer(tempPath)) {
        patchReader.Close();
        reporter.SetStatus((std::string("不能建立临时更新包") + tempPath).c_str());
        return Result::Reported;
    }
    if (!FitsPathBuffer(archivePath)) {
        patchReader.Close();
        reporter.SetStatus((std::string("打开数据包") + archivePath + "时出错！").c_str());
        return Result::Reported;
    }

    // A leftover of an earlier attempt must not lend its entries to the new archive.
    if (FileExists(tempPath)) DeleteFileForce(tempPath);

    if (!writer.Open(tempPath)) {
        patchReader.Close();
        reporter.SetStatus((std::string("不能建立临时更新包") + tempPath).c_str());
        return Result::Reported;
    }

    // A missing client archive is created by the installation from the empty temporary package.
    if (!FileExists(archivePath)) return Result::Ok;

    PackageReader client;
    if (!client.Open(archivePath)) {
        writer.Save();
        patchReader.Close();
        reporter.SetStatus((std::string("打开数据包") + archivePath + "时出错！").c_str());
        return Result::Reported;
    }

    if (archiveRebuilt != nullptr) *archiveRebuilt = true;
    const uint32_t entryCount = client.EntryCount();
    reporter.SetProgress(0, ProgressPhase::Building);
    reporter.SetProgressRange(0, static_cast<int32_t>(entryCount));

    bool copied = true;
    std::string failedName;
    if (entryCount != 0) {
        PackageNameSet& names = EmbeddedPackageNames();
        CollectEntryNames(patchReader, names);
        copied = CopyKeptEntries(client, writer, names,
                                 [&reporter](int32_t handled) { reporter.SetProgress(handled, ProgressPhase::Building); },
                                 failedName);
    }
    client.Close();
    if (copied) return Result::Ok;

    patchReader.Close();
    writer.Save();
    reporter.SetStatus((std::string("生成临时更新包过程中，添加文件") + failedName + "时出错！").c_str());
    return Result::Reported;
}
