#include "install/InstallCommit.h"

#include <io.h>

#include <cstdio>
#include <string>

#include "install/DeleteList.h"
#include "base/FileSystem.h"
#include "install/TemporaryPackage.h"
#include "base/InstallLog.h"

namespace {

const char kBackupSlot[] = "tmp.tmp";

bool Exists(const char* name) { return _access(name, 0) == 0; }

// Replaces target by newFile through the backup slot; restores the target when the second
// rename fails. True when done, or when there is no new file.
bool ReplaceWithBackup(const char* target, const char* newFile) {
    if (!Exists(newFile)) return true;
    if (!Exists(target) || rename(target, kBackupSlot) == 0) {
        if (rename(newFile, target) == 0) return true;
    }
    if (Exists(kBackupSlot) && !Exists(target)) rename(kBackupSlot, target);
    return false;
}

enum class Tell { StatusOnly, Launcher };

// Sets the status line and logs it once more; with Tell::Launcher a launcher also receives the
// driver-failure number.
Result Fail(Reporter& reporter, const std::string& text, Tell tell) {
    reporter.SetStatus(text.c_str());
    InstallLog::WriteText(text.c_str());
    if (tell == Tell::Launcher) reporter.ReportDriverFailure();
    return Result::Reported;
}

}  // namespace

Result CommitInstall(const ArchiveChoice& archive, const char* tempPath, Reporter& reporter) {
    const char* archivePath = archive.path.c_str();
    ApplyDeleteList();
    DeleteFileForce("UpdateDelList.txt");
    DeleteFileForce(kBackupSlot);

    bool renamed = false;
    if (!FileExists(archivePath) || rename(archivePath, kBackupSlot) == 0) {
        renamed = rename(tempPath, archivePath) == 0;
    }
    DeleteFileForce("patch.pkg");
    if (!renamed && !CopyFileOver(archivePath, tempPath)) {
        if (FileExists(kBackupSlot) && !FileExists(archivePath)) rename(kBackupSlot, archivePath);
        return Fail(reporter, std::string("将文件") + tempPath + "改名为 " + archivePath + "时出错！", Tell::Launcher);
    }

    if (!WriteArchiveList(archive.list, "package\\package.cfg")) {
        return Fail(reporter, "写文件package\\package.cfg时出错！", Tell::Launcher);
    }

    DeleteFileForce(kBackupSlot);
    if (!ReplaceWithBackup("update.cfg", "update.cfg.new")) {
        // "update.cfg" already holds the new content from the extraction, so the run goes on.
        Fail(reporter, "文件update.cfg.new改名为update.cfg时出错！", Tell::StatusOnly);
    }
    DeleteFileForce(kBackupSlot);
    if (!ReplaceWithBackup("LNCH\\mmog_data.xml", "LNCH\\mmog_data.xml.new")) {
        return Fail(reporter, "文件LNCH\\mmog_data.xml.new改名为LNCH\\mmog_data.xml时出错！", Tell::StatusOnly);
    }
    DeleteFileForce(kBackupSlot);
    return Result::Ok;
}
