#include "install/InstallDriver.h"

#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "app/PatchDlg.h"
#include "install/FileSystem.h"
#include "install/PathText.h"
#include "install/ProgramGuard.h"
#include "install/ResourceMerge.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"
#include "package/TemporaryPackage.h"
#include "report/InstallLog.h"
#include "report/MonitorProtocol.h"
#include "report/ResultCodes.h"

namespace {

const char* const kResourceFolders[] = {"avatar", "effect", "item",  "magic", "map",    "object", "peffect",
                                        "Res",    "skill",  "smallnum", "tiles", "script", "sound",  "progeff"};


enum class EntryOutcome { Written, Failed, ProgramNotClosed };

// Unpacks one non-resource entry and writes it where it belongs.
EntryOutcome WritePlainEntry(CPatchDlg* session, PackageReader& patch, const PackageEntry& entry,
                             const char* firstComponent, bool* indexReceived) {
    const char* name = entry.name.c_str();
    // One spare byte: new[0] would still be a valid, empty buffer.
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[static_cast<size_t>(entry.size) + 1]);
    if (!buffer) return EntryOutcome::Failed;
    // An entry that cannot be read or inflated to exactly its size is never written.
    if (!patch.ReadUnpacked(buffer.get(), entry.size, entry.dataOffset, entry.storedSize)) return EntryOutcome::Failed;

    if (entry.name == "update.cfg") {
        // Written beside as well: the commit replaces "update.cfg" last, with a backup.
        WriteWholeFile("update.cfg.new", buffer.get(), entry.size);
    }
    if (EqualsIgnoringAsciiCase(name, "LNCH\\mmog_data.xml") || EqualsIgnoringAsciiCase(name, "LNCH/mmog_data.xml")) {
        return WriteWholeFile("LNCH\\mmog_data.xml.new", buffer.get(), entry.size) ? EntryOutcome::Written
                                                                                     : EntryOutcome::Failed;
    }
    if (firstComponent[0] == '\0' && CheckRunningProgram(session, name, false, false) == 1) {
        return EntryOutcome::ProgramNotClosed;
    }
    if (EqualsIgnoringAsciiCase(name, "RAVN/RAVNFileList.ini")) {
        char patchName[kPathBufferSize];
        if (!FormatBounded(patchName, sizeof(patchName), "%s.patch", name)) return EntryOutcome::Failed;
        *indexReceived = true;
        return WriteWholeFile(patchName, buffer.get(), entry.size) ? EntryOutcome::Written : EntryOutcome::Failed;
    }
    return WriteWholeFile(name, buffer.get(), entry.size) ? EntryOutcome::Written : EntryOutcome::Failed;
}

void RunInstall(CPatchDlg* session) {
    char currentFolder[MAX_PATH] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(currentFolder), currentFolder);
    if (n == 0 || n >= sizeof(currentFolder)) currentFolder[0] = '\0';
    char longFolder[MAX_PATH];
    n = GetLongPathNameA(currentFolder, longFolder, sizeof(longFolder));
    if (n > 0 && n < sizeof(longFolder)) CopyBounded(currentFolder, sizeof(currentFolder), longFolder);

    GuardResult guard = CloseClientPrograms(session, currentFolder);
    if (guard == GuardResult::Refused) return;
    if (guard == GuardResult::StillRunning) {
        session->SetStatus("客户端有程序正在运行，且无法关闭，更新失败！");
        return;
    }
    if (!session->CheckDiskSpace()) {
        session->ReportResult(RESULT_DISK_FULL);
        return;
    }
    DeleteFileForce("UpdateDelList.txt");
    session->SetStatus("正在准备安装更新包...");

    // Without room for ".tmp" the temporary package would be built over the client archive
    // itself, so such a path ends the run before anything is written.
    char archivePath[kPathBufferSize];
    char tempPath[kPathBufferSize];
    if (!CopyBounded(archivePath, sizeof(archivePath), session->archivePath.c_str()) ||
        !FormatBounded(tempPath, sizeof(tempPath), "%s.tmp", archivePath)) {
        session->SetStatus((std::string("不能建立临时更新包") + session->archivePath).c_str());
        session->SendResultToMonitor(MONITOR_DRIVER_FAILURE);
        return;
    }

    PackageReader patch;
    patch.Open("patch.pkg");  // a package that cannot be opened simply has no entries
    PackageWriter writer;
    bool archiveRebuilt = false;
    if (!BuildTemporaryPackage(*session, writer, tempPath, archivePath, patch, &archiveRebuilt)) {
        session->SendResultToMonitor(MONITOR_DRIVER_FAILURE);
        return;
    }

    bool entryOk = true;
    bool indexReceived = false;
    uint32_t entriesDone = 0;
    std::string currentName;
    PackageEntry entry;
    bool have = patch.First(entry);
    const uint32_t entryCount = patch.EntryCount();
    session->SetProgressRange(0, static_cast<int32_t>(entryCount));
    session->SetProgress(0, archiveRebuilt, false);
    session->SetStatus("开始安装更新包...");

    while (have) {
        currentName = entry.name;
        const char* name = entry.name.c_str();
        char firstComponent[kPathBufferSize];
        if (!IsContainedRelativePath(name) || !FirstPathComponent(firstComponent, sizeof(firstComponent), name)) {
            // A name that leads out of the client folder is refused before anything is written.
            entryOk = false;
        } else if (IsResourceEntry(name)) {
            const uint8_t* stored = patch.ReadStored(entry.dataOffset, entry.storedSize);
            entryOk = stored && writer.Add(entry.name, stored, entry.size, entry.storedSize, entry.flags);
        } else {
            EntryOutcome outcome = WritePlainEntry(session, patch, entry, firstComponent, &indexReceived);
            if (outcome == EntryOutcome::ProgramNotClosed) {
                session->SetStatus((std::string("程序[") + name + "]未关闭，停止更新！").c_str());
                session->SendResultToMonitor(MONITOR_DRIVER_FAILURE);
                patch.Close();
                writer.Save();
                return;
            }
            entryOk = outcome == EntryOutcome::Written;
        }
        if (!entryOk) break;
        have = patch.Next(entry);
        ++entriesDone;
        session->SetProgress(static_cast<int32_t>(entriesDone), archiveRebuilt, false);
        if (!session->monitorWnd) PostMessageA(session->hwnd, WM_PATCH_STATUS, 0, 0);
    }
    if (entryOk && entriesDone != entryCount) {
        // The directory ended early (damaged): what follows the last good entry is missing.
        entryOk = false;
        currentName.clear();
    }

    session->SetProgress(static_cast<int32_t>(entryCount), archiveRebuilt, false);
    patch.Close();

    if (indexReceived) {
        MergeResourceIndex(session);
    } else {
        InstallLog::Write("无vpk文件升级");
    }

    bool saved = writer.Save();
    if (!saved && entryOk) {
        session->SetStatus((std::string("临时更新包") + tempPath + "关闭时出错！").c_str());
        DeleteFileForce(tempPath);
        DeleteFileForce("patch.pkg");
        return;
    }
    if (!entryOk) {
        std::string text = "更新文件" + currentName + "时出错！";
        session->SetStatus(text.c_str());
        InstallLog::WriteText(text.c_str());
        DeleteFileForce(tempPath);
        DeleteFileForce("patch.pkg");
        return;
    }
    CommitInstall(session, archivePath, tempPath);
}

}  // namespace

bool IsResourceEntry(const char* name) {
    char first[kPathBufferSize];
    if (!FirstPathComponent(first, sizeof(first), name) || first[0] == '\0') return false;
    for (const char* folder : kResourceFolders) {
        if (EqualsIgnoringAsciiCase(first, folder)) return true;
    }
    return false;
}

void InstallUpdate(CPatchDlg* session) {
    if (!session) return;
    // The reader and the writer live inside RunInstall and are released before this last use
    // of the session: in dialog mode the close button comes back with it.
    RunInstall(session);
    session->RestoreButtons();
}
