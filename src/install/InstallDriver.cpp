#include "install/InstallDriver.h"

#include <windows.h>

#include <memory>
#include <new>
#include <string>

#include "base/FileSystem.h"
#include "base/InstallLog.h"
#include "base/PathText.h"
#include "client/DiskSpaceCheck.h"
#include "install/InstallCommit.h"
#include "install/ProgramGuard.h"
#include "install/ResourceEntries.h"
#include "install/ResourceMerge.h"
#include "install/TemporaryPackage.h"
#include "package/PackageReader.h"
#include "package/PackageWriter.h"

namespace {

// The client archive and the temporary update package that replaces it at the commit.
struct ArchivePaths {
    char archive[kPathBufferSize];
    char temp[kPathBufferSize];
};

// What the pass over the patch's entries leaves for the stages after it.
struct EntriesOutcome {
    bool ok = true;              // every entry was written
    bool programRefused = false;  // a program the patch replaces is still running (reported)
    bool indexReceived = false;   // the patch brings a resource index list
    std::string failedName;       // the entry that could not be written (empty: the directory ended early)
};

enum class EntryOutcome { Written, Failed, ProgramNotClosed };

// Without room for ".tmp" the temporary package would be built over the client archive itself,
// so such a path ends the run before anything is written.
Result NameTemporaryPackage(const std::string& archivePath, ArchivePaths& paths, Reporter& reporter) {
    if (CopyBounded(paths.archive, sizeof(paths.archive), archivePath.c_str()) &&
        FormatBounded(paths.temp, sizeof(paths.temp), "%s.tmp", paths.archive))
        return Result::Ok;
    reporter.SetStatus((std::string("不能建立临时更新包") + archivePath).c_str());
    reporter.ReportDriverFailure();
    return Result::Reported;
}

// Unpacks one non-resource entry and writes it where it belongs.
EntryOutcome WritePlainEntry(PackageReader& patch, const PackageEntry& entry, const char* firstComponent,
                             bool* indexReceived, Reporter& reporter) {
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
    if (firstComponent[0] == '\0' &&
        CheckRunningProgram(reporter, name, WhenRunning::Ask, NameMatch::FileName) == ProgramState::Refused) {
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

// One pass over the patch's entries: resource entries into the temporary update package, all
// others as plain files. Stops at the first entry that cannot be written.
EntriesOutcome InstallEntries(PackageReader& patch, PackageWriter& writer, ProgressPhase phase, Reporter& reporter) {
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
            const uint8_t* stored = patch.ReadStored(entry.dataOffset, entry.storedSize);
            out.ok = stored && writer.Add(entry.name, stored, entry.size, entry.storedSize, entry.flags);
        } else {
            EntryOutcome outcome = WritePlainEntry(patch, entry, firstComponent, &out.indexReceived, reporter);
            if (outcome == EntryOutcome::ProgramNotClosed) {
                reporter.SetStatus((std::string("程序[") + name + "]未关闭，停止更新！").c_str());
                reporter.ReportDriverFailure();
                out.ok = false;
                out.programRefused = true;
                return out;
            }
            out.ok = outcome == EntryOutcome::Written;
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

// Closes the temporary update package. A run whose entries or save failed ends here with its
// status text, the temporary package and "patch.pkg" removed.
Result SaveTemporaryPackage(PackageWriter& writer, const EntriesOutcome& entries, const char* tempPath,
                            Reporter& reporter) {
    bool saved = writer.Save();
    if (!saved && entries.ok) {
        reporter.SetStatus((std::string("临时更新包") + tempPath + "关闭时出错！").c_str());
    } else if (!entries.ok) {
        std::string text = "更新文件" + entries.failedName + "时出错！";
        reporter.SetStatus(text.c_str());
        InstallLog::WriteText(text.c_str());
    } else {
        return Result::Ok;
    }
    DeleteFileForce(tempPath);
    DeleteFileForce("patch.pkg");
    return Result::Reported;
}

}  // namespace

Result InstallUpdate(const RunState& run, Reporter& reporter) {
    Result rc = GuardClientPrograms(run.mode, reporter);
    if (Failed(rc)) return rc;

    rc = CheckDiskSpace(run.package.trailer.packageLength, run.archive.path, reporter);
    if (Failed(rc)) {
        reporter.ReportResult(rc);
        return rc;
    }
    DeleteFileForce("UpdateDelList.txt");
    reporter.SetStatus("正在准备安装更新包...");

    ArchivePaths paths;
    rc = NameTemporaryPackage(run.archive.path, paths, reporter);
    if (Failed(rc)) return rc;

    PackageReader patch;
    patch.Open("patch.pkg");  // a package that cannot be opened simply has no entries
    PackageWriter writer;
    bool archiveRebuilt = false;
    rc = BuildTemporaryPackage(writer, paths.temp, paths.archive, patch, &archiveRebuilt, reporter);
    if (Failed(rc)) {
        reporter.ReportDriverFailure();
        return rc;
    }

    const ProgressPhase phase = archiveRebuilt ? ProgressPhase::Installing : ProgressPhase::Single;
    EntriesOutcome entries = InstallEntries(patch, writer, phase, reporter);
    patch.Close();
    if (entries.programRefused) {
        writer.Save();
        return Result::Reported;
    }

    if (entries.indexReceived) {
        MergeTimer timer;
        MergeResourceIndex(timer);
    } else {
        InstallLog::Write("无vpk文件升级");
    }

    rc = SaveTemporaryPackage(writer, entries, paths.temp, reporter);
    if (Failed(rc)) return rc;

    rc = CommitInstall(run.archive, paths.temp, reporter);
    if (Failed(rc)) return rc;
    reporter.ReportInstallComplete();
    return Result::Ok;
}
