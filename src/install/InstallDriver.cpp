#include "install/InstallDriver.h"

#include <windows.h>

#include <string>

#include "base/FileSystem.h"
#include "base/InstallLog.h"
#include "base/PathText.h"
#include "base/RawFile.h"
#include "client/DiskSpace.h"
#include "client/DiskSpaceCheck.h"
#include "install/InstallCommit.h"
#include "install/Journal.h"
#include "install/ProgramGuard.h"
#include "install/ResourceEntries.h"
#include "install/ResourceMerge.h"
#include "install/TemporaryPackage.h"
#include "install/Transaction.h"
#include "package/KeptEntries.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"

namespace {

// What the pass over the patch's entries leaves for the stages after it.
struct EntriesOutcome {
    bool ok = true;              // every entry was staged
    bool programRefused = false;  // a program the patch replaces is still running (reported)
    std::string failedName;       // the entry that could not be staged (empty: the directory ended early)
};

enum class EntryOutcome { Staged, Failed, ProgramNotClosed };

bool IsVersionFile(const char* name) { return EqualsIgnoringAsciiCase(name, "update.cfg"); }
bool IsLauncherFile(const char* name) {
    return EqualsIgnoringAsciiCase(name, "LNCH\\mmog_data.xml") || EqualsIgnoringAsciiCase(name, "LNCH/mmog_data.xml");
}
bool IsIndexList(const char* name) { return EqualsIgnoringAsciiCase(name, "RAVN/RAVNFileList.ini"); }
bool IsDeleteList(const char* name) { return EqualsIgnoringAsciiCase(name, "UpdateDelList.txt"); }

// Bytes the plain files of the patch take once unpacked: they are staged beside the originals.
// False, with the entry named, for a record whose size or stored bytes cannot be true: the
// package is damaged, and nothing is written for it.
bool PlainBytes(PackageReader& patch, uint64_t* total, std::string* damaged) {
    *total = 0;
    PackageEntry entry;
    for (bool more = patch.First(entry); more; more = patch.Next(entry)) {
        if (!patch.IsPlausible(entry)) {
            *damaged = entry.name;
            return false;
        }
        if (!IsResourceEntry(entry.name.c_str())) *total += entry.size;
    }
    return true;
}

// Inflates an entry straight into a new staged file, piece by piece: memory stays the same
// whatever the entry's size. On failure the file is removed again.
bool InflateToStagedFile(PackageReader& patch, const PackageEntry& entry, const std::string& path, RawFile& file) {
    if (!file.Open(path.c_str(), RawFile::Mode::Create)) return false;
    uint64_t written = 0;
    const bool ok = patch.InflateEntry(entry, [&file, &written](const uint8_t* bytes, size_t count) {
        if (!file.WriteAt(written, bytes, count)) return false;
        written += count;
        return true;
    });
    if (!ok) {
        file.Close();
        DeleteFileA(path.c_str());
    }
    return ok;
}

// Unpacks one non-resource entry into the staging folder and notes where it goes.
EntryOutcome StagePlainEntry(PackageReader& patch, const PackageEntry& entry, const char* firstComponent,
                             Transaction& transaction, StagedRun& staged, Reporter& reporter) {
    const char* name = entry.name.c_str();
    if (!IsOutsideStaging(name) || !IsJournalTarget(entry.name)) return EntryOutcome::Failed;
    // An entry that cannot be read or inflated to exactly its size is never put in place.
    const uint32_t slot = transaction.NewSlot();
    RawFile file;
    if (!InflateToStagedFile(patch, entry, StagingPath(StagedName(slot)), file)) return EntryOutcome::Failed;

    if (firstComponent[0] == '\0' &&
        CheckRunningProgram(reporter, name, WhenRunning::Ask, NameMatch::FileName) == ProgramState::Refused) {
        return EntryOutcome::ProgramNotClosed;
    }
    transaction.AdoptStaged(reinterpret_cast<void*>(file.Release()));
    if (IsVersionFile(name)) {
        staged.versionSlot = slot;
    } else if (IsLauncherFile(name)) {
        staged.launcherSlot = slot;
    } else if (IsIndexList(name)) {
        staged.indexListSlot = slot;
    } else if (IsDeleteList(name)) {
        staged.deleteListSlot = slot;
    } else {
        staged.plainFiles.emplace_back(slot, entry.name);
    }
    return EntryOutcome::Staged;
}

// One pass over the patch's entries: resource entries into the temporary update package, all
// others staged as plain files. Stops at the first entry that cannot be staged.
EntriesOutcome StageEntries(PackageReader& patch, PackageWriter& writer, ProgressPhase phase,
                            Transaction& transaction, StagedRun& staged, Reporter& reporter) {
    EntriesOutcome out;
    uint32_t entriesDone = 0;
    PackageEntry entry;
    bool have = patch.First(entry);
    const uint32_t entryCount = patch.EntryCount();
    reporter.SetProgressRange(0, static_cast<int32_t>(entryCount));
    reporter.SetProgress(0, phase);
    reporter.SetStatus("开始安装更新包...");

    while (have) {
        out.failedName = entry.name;
        const char* name = entry.name.c_str();
        char firstComponent[kPathBufferSize];
        if (!IsContainedRelativePath(name) || !FirstPathComponent(firstComponent, sizeof(firstComponent), name)) {
            // A name that leads out of the client folder is refused before anything is written.
            out.ok = false;
        } else if (IsResourceEntry(name)) {
            out.ok = CopyStoredEntry(patch, writer, entry);
        } else {
            EntryOutcome outcome = StagePlainEntry(patch, entry, firstComponent, transaction, staged, reporter);
            if (outcome == EntryOutcome::ProgramNotClosed) {
                reporter.SetStatus((std::string("程序[") + name + "]未关闭，停止更新！").c_str());
                out.ok = false;
                out.programRefused = true;
                return out;
            }
            out.ok = outcome == EntryOutcome::Staged;
        }
        if (!out.ok) break;
        have = patch.Next(entry);
        ++entriesDone;
        reporter.SetProgress(static_cast<int32_t>(entriesDone), phase);
        reporter.RefreshStatus();
    }
    if (out.ok && entriesDone != entryCount) {
        // The directory ended early (damaged): what follows the last good entry is missing.
        out.ok = false;
        out.failedName.clear();
    }
    reporter.SetProgress(static_cast<int32_t>(entryCount), phase);
    return out;
}

// Closes the temporary update package and has it flushed to the disk. A run whose entries or
// save failed ends here with its status text.
Result SaveTemporaryPackage(PackageWriter& writer, const EntriesOutcome& entries, Transaction& transaction,
                            uint32_t slot, const char* tempPath, Reporter& reporter) {
    bool saved = writer.Save() && transaction.FlushStaged(slot);
    if (!entries.ok) {
        std::string text = "更新文件" + entries.failedName + "时出错！";
        reporter.SetStatus(text.c_str());
        InstallLog::WriteText(text.c_str());
        return Result::Reported;
    }
    if (!saved) {
        reporter.SetStatus((std::string("临时更新包") + tempPath + "关闭时出错！").c_str());
        return Result::Reported;
    }
    return Result::Ok;
}

// The stages from the guard to the commit. Failures with their own status text come back as
// Result::Reported and leave the client folder as it was.
Result RunInstallation(const RunState& run, Reporter& reporter) {
    Result rc = GuardClientPrograms(run.mode, reporter);
    if (Failed(rc)) return rc;

    PackageReader patch;
    if (!patch.Open("patch.pkg")) {
        reporter.SetStatus("打开数据包patch.pkg时出错！");
        return Result::Reported;
    }
    uint64_t plainBytes = 0;
    std::string damaged;
    if (!PlainBytes(patch, &plainBytes, &damaged)) {
        // Said before the disk check: a size that cannot be true must not read as lack of room.
        const std::string text = "更新文件" + damaged + "时出错！";
        reporter.SetStatus(text.c_str());
        InstallLog::WriteText(text.c_str());
        return Result::Reported;
    }
    const uint64_t needed =
        PeakSpace(run.package.trailer.packageLength, QueryFileLength(run.archive.path.c_str()), plainBytes);
    rc = CheckDiskSpace(needed, reporter);
    if (Failed(rc)) {
        reporter.ReportResult(rc);
        return rc;
    }
    reporter.SetStatus("正在准备安装更新包...");

    // A path cut to fit would name another archive.
    if (!FitsPathBuffer(run.archive.path.c_str())) {
        reporter.SetStatus((std::string("不能建立临时更新包") + run.archive.path).c_str());
        return Result::Reported;
    }
    Transaction transaction(run.package.trailer.toVersion);
    if (!transaction.Begin()) {
        reporter.SetStatus((std::string("不能建立临时安装文件夹") + kStagingFolder).c_str());
        return Result::Reported;
    }
    StagedRun staged;
    staged.archiveSlot = transaction.NewSlot();
    const std::string tempPath = StagingPath(StagedName(staged.archiveSlot));

    PackageWriter writer;
    bool archiveRebuilt = false;
    rc = BuildTemporaryPackage(writer, tempPath.c_str(), run.archive.path.c_str(), patch, &archiveRebuilt, reporter);
    if (Failed(rc)) return rc;

    const ProgressPhase phase = archiveRebuilt ? ProgressPhase::Installing : ProgressPhase::Single;
    EntriesOutcome entries = StageEntries(patch, writer, phase, transaction, staged, reporter);
    patch.Close();
    if (entries.programRefused) return Result::Reported;

    rc = SaveTemporaryPackage(writer, entries, transaction, staged.archiveSlot, tempPath.c_str(), reporter);
    if (Failed(rc)) return rc;
    return CommitInstall(transaction, staged, run.archive, reporter);
}

}  // namespace

Result InstallUpdate(const RunState& run, Reporter& reporter) {
    Result rc = RunInstallation(run, reporter);
    // The extracted package is the run's own file: it goes whatever the outcome.
    DeleteFileForce("patch.pkg");
    if (rc == Result::Ok) {
        reporter.ReportInstallComplete();
    } else if (rc == Result::Reported) {
        // Exactly one result message for every failure; lack of disk space went as its own code.
        reporter.ReportDriverFailure();
    }
    return rc;
}
