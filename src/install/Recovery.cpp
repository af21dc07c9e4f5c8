#include "install/Recovery.h"

#include <windows.h>

#include <vector>

#include "base/FileSystem.h"
#include "base/InstallLog.h"
#include "install/Journal.h"
#include "install/Leftovers.h"
#include "install/Transaction.h"
#include "package/ArchiveList.h"
#include "package/PackageFormat.h"

namespace {

constexpr size_t kMaxJournalBytes = 64u << 20;
constexpr size_t kMaxSmallFileBytes = 1u << 20;
const char kListPath[] = "package\\package.cfg";
const char kListTemp[] = "package\\package.cfg.tmp";
const char kBackupSlot[] = "tmp.tmp";

Result Stop(Reporter& reporter, const std::string& text) {
    reporter.SetStatus(text.c_str());
    return Result::Reported;
}

// The staging folder of an earlier run of this installer.
Result RecoverStaging(Reporter& reporter) {
    if (!IsFolder(kStagingFolder)) return Result::Ok;
    std::string text;
    const bool haveJournal = ReadWholeFile(StagingPath(kJournalName).c_str(), &text, kMaxJournalBytes);
    Journal journal;
    switch (DecideRecovery(true, haveJournal ? &text : nullptr, &journal)) {
    case RecoveryAction::None:
        return Result::Ok;
    case RecoveryAction::RemoveStaging:
        RemoveStaging();
        InstallLog::Write("清理未完成的安装：删除%s", kStagingFolder);
        return Result::Ok;
    case RecoveryAction::Stuck:
        InstallLog::Write("%s中的安装记录无法读取", kStagingFolder);
        return Stop(reporter, std::string("临时安装文件夹") + kStagingFolder + "已损坏，无法更新！");
    case RecoveryAction::RollForward: {
        InstallLog::Write("继续完成上次中断的安装");
        MergeTimer timer;
        size_t failed = 0;
        if (RunSteps(journal, timer, &failed, StepRun::Resumed)) {
            RemoveStaging();
            InstallLog::Write("上次中断的安装已完成");
            return Result::Ok;
        }
        InstallLog::WriteText((std::string("上次中断的安装无法完成：") + StepFailureText(journal.ops[failed])).c_str());
        journal.phase = JournalPhase::Rollback;
        WriteJournal(journal);
        break;
    }
    case RecoveryAction::RollBack:
        InstallLog::Write("撤销上次失败的安装");
        break;
    }
    if (!UndoSteps(journal)) return Stop(reporter, "无法撤销上次失败的安装，请关闭其他程序后重试！");
    RemoveStaging();
    InstallLog::Write("上次失败的安装已撤销");
    return Result::Ok;
}

// An archive list cut short while it was copied from its temporary file.
void RepairArchiveList() {
    std::string temp;
    if (!ReadWholeFile(kListTemp, &temp, kMaxSmallFileBytes)) return;
    std::string list;
    const bool haveList = ReadWholeFile(kListPath, &list, kMaxSmallFileBytes);
    if (haveList == PathExists(kListPath) && ListCopyInterrupted(haveList, list, temp) &&
        ReplaceByRename(kListTemp, kListPath)) {
        InstallLog::Write("恢复%s", kListPath);
    }
}

// A client archive parked in the backup slot while its replacement was being renamed in.
void RepairParkedArchive() {
    std::string head;
    uint64_t length = 0;
    if (!ReadFileStart(kBackupSlot, kPackageHeaderSize, &head, &length) || !LooksLikeArchive(head, length)) return;
    std::vector<std::string> names;
    ReadArchiveListFile(kListPath, names);
    for (size_t i = names.size(); i-- > 0;) {
        std::string path;
        if (!ArchivePathFor(names[i], path) || PathExists(path.c_str())) continue;
        if (ReplaceByRename(kBackupSlot, path.c_str())) InstallLog::Write("恢复客户端数据包%s", path.c_str());
        return;
    }
}

bool HoldsVersion(const char* name) {
    std::string text;
    return ReadWholeFile(name, &text, kMaxSmallFileBytes) && HasVersionLine(text) &&
           !LooksLikeArchive(text, text.size());
}

// A version file lost or emptied between its backup and its replacement.
void RepairVersionFile() {
    if (HoldsVersion("update.cfg")) return;
    for (const char* candidate : {"update.cfg.new", kBackupSlot}) {
        if (HoldsVersion(candidate) && ReplaceByRename(candidate, "update.cfg")) {
            InstallLog::Write("恢复update.cfg：%s", candidate);
            return;
        }
    }
}

}  // namespace

Result RecoverInterruptedRun(const std::string& clientFolder, Reporter& reporter, RunLock& lock) {
    lock.Release();
    if (clientFolder.empty() || !SetCurrentDirectoryA(clientFolder.c_str())) return Result::Ok;
    if (lock.Take() == RunLock::State::HeldElsewhere) return Stop(reporter, kRunLockHeldText);
    Result rc = RecoverStaging(reporter);
    if (Failed(rc)) return rc;
    RepairArchiveList();
    RepairParkedArchive();
    RepairVersionFile();
    return Result::Ok;
}
