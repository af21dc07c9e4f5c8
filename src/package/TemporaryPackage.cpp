#include "package/TemporaryPackage.h"

#include <cstring>
#include <string>

#include "app/PatchDlg.h"
#include "client/DiskSpace.h"
#include "install/FileSystem.h"
#include "install/PathText.h"
#include "package/ArchiveList.h"
#include "package/KeptEntries.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package/StdioFile.h"

namespace {

// Names of the embedded package. One set for the process: only one installation runs per process.
PackageNameSet& EmbeddedPackageNames() {
    static PackageNameSet names;
    return names;
}

}  // namespace

int ChooseClientArchive(CPatchDlg& session, const char* listPath) {
    // A list that cannot be opened reads as an empty one.
    ReadArchiveListFile(listPath, session.archiveList);
    ArchiveFileQueries files;
    files.exists = [](const char* path) { return FileExists(path); };
    files.length = [](const char* path) { return QueryFileLength(path); };
    return ChooseArchive(session.archiveList, session.toVersion, session.packageLength, files, session.archivePath);
}

bool BuildTemporaryPackage(CPatchDlg& session, PackageWriter& writer, const char* tempPath,
                           const char* archivePath, PackageReader& patchReader, bool* archiveRebuilt) {
    session.SetStatus("正在生成临时安装文件...");
    session.SetProgress(0, false, false);

    // Closes an archive the writer may still hold; a writer with nothing open just says false.
    writer.Save();

    // A path cut to fit would name another file, so one that does not fit is refused instead.
    if (!FitsPathBuffer(tempPath)) {
        patchReader.Close();
        session.SetStatus((std::string("不能建立临时更新包") + tempPath).c_str());
        return false;
    }
    if (!FitsPathBuffer(archivePath)) {
        patchReader.Close();
        session.SetStatus((std::string("打开数据包") + archivePath + "时出错！").c_str());
        return false;
    }

    // A leftover of an earlier attempt must not lend its entries to the new archive.
    if (FileExists(tempPath)) DeleteFileForce(tempPath);

    if (!writer.Open(tempPath)) {
        patchReader.Close();
        session.SetStatus((std::string("不能建立临时更新包") + tempPath).c_str());
        return false;
    }

    // A missing client archive is created by the installation from the empty temporary package.
    if (!FileExists(archivePath)) return true;

    PackageReader client;
    if (!client.Open(archivePath)) {
        writer.Save();
        patchReader.Close();
        session.SetStatus((std::string("打开数据包") + archivePath + "时出错！").c_str());
        return false;
    }

    if (archiveRebuilt != nullptr) *archiveRebuilt = true;
    const uint32_t entryCount = client.EntryCount();
    session.SetProgress(0, true, true);
    session.SetProgressRange(0, static_cast<int32_t>(entryCount));

    bool copied = true;
    std::string failedName;
    if (entryCount != 0) {
        PackageNameSet& names = EmbeddedPackageNames();
        CollectEntryNames(patchReader, names);
        copied = CopyKeptEntries(client, writer, names,
                                 [&session](int32_t handled) { session.SetProgress(handled, true, true); },
                                 failedName);
    }
    client.Close();
    if (copied) return true;

    patchReader.Close();
    writer.Save();
    session.SetStatus((std::string("生成临时更新包过程中，添加文件") + failedName + "时出错！").c_str());
    return false;
}

bool WriteArchiveList(CPatchDlg& session, const char* listPath) {
    // Without room for the suffix the temporary list would be the list itself, which the last
    // step deletes; such a path is refused.
    char tempPath[kPathBufferSize];
    if (!CopyBounded(tempPath, sizeof tempPath, listPath) || !AppendBounded(tempPath, sizeof tempPath, ".tmp"))
        return false;

    ResetAttributes(tempPath);
    ResetAttributes(listPath);

    StdioFile file;
    if (!file.Open(tempPath, "w")) return false;
    bool ok = !session.archiveList.empty();
    for (const std::string& name : session.archiveList) {
        if (std::fprintf(file.Get(), "%s\n", name.c_str()) < 0) {
            ok = false;
            break;
        }
    }
    // A write error noticed only when the stream is flushed fails the list as well.
    if (!file.Close()) ok = false;
    if (!ok) return false;

    if (!CopyFileOver(listPath, tempPath)) return false;
    if (FileExists(listPath)) DeleteFileForce(tempPath);
    return true;
}
