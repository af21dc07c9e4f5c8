// The commit: delete list, archive swap, archive list, then the version files, each replacement
// with "tmp.tmp" as the one backup slot.
#include <io.h>

#include <cstdio>
#include <string>

#include "app/PatchDlg.h"
#include "install/DeleteList.h"
#include "install/FileSystem.h"
#include "install/InstallDriver.h"
#include "package/TemporaryPackage.h"
#include "report/InstallLog.h"
#include "report/MonitorProtocol.h"

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

void Fail(CPatchDlg* session, const std::string& text, bool toMonitor) {
    session->SetStatus(text.c_str());
    InstallLog::WriteText(text.c_str());
    if (toMonitor) session->SendResultToMonitor(MONITOR_DRIVER_FAILURE);
}

}  // namespace

void CommitInstall(CPatchDlg* session, const char* archivePath, const char* tempPath) {
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
        Fail(session, std::string("将文件") + tempPath + "改名为 " + archivePath + "时出错！", true);
        return;
    }

    if (!WriteArchiveList(*session, "package\\package.cfg")) {
        Fail(session, "写文件package\\package.cfg时出错！", true);
        return;
    }

    DeleteFileForce(kBackupSlot);
    if (!ReplaceWithBackup("update.cfg", "update.cfg.new")) {
        // "update.cfg" already holds the new content from the extraction, so the run goes on.
        Fail(session, "文件update.cfg.new改名为update.cfg时出错！", false);
    }
    DeleteFileForce(kBackupSlot);
    if (!ReplaceWithBackup("LNCH\\mmog_data.xml", "LNCH\\mmog_data.xml.new")) {
        Fail(session, "文件LNCH\\mmog_data.xml.new改名为LNCH\\mmog_data.xml时出错！", false);
        return;
    }
    DeleteFileForce(kBackupSlot);
    session->ReportInstallComplete();
}
