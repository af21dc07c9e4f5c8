#include "install/Transaction.h"

#include <windows.h>

#include <unordered_set>

#include "base/FileSystem.h"
#include "base/PathText.h"

namespace {

const char kJournalNew[] = "journal.new";

bool Exists(const std::string& path) { return PathExists(path.c_str()); }

// Puts the staged file in place; what the target held waits in the staging folder.
bool RunPut(const JournalOp& op, StepRun run) {
    return ReplaceKeepingOriginal(StagingPath(StagedName(op.slot)).c_str(), op.target.c_str(),
                                  StagingPath(OriginalName(op.slot)).c_str(), StagingPath(AttributesName(op.slot)).c_str(),
                                  run);
}

// The new file goes back to its slot first, so that a repeated undo can tell the two apart.
bool UndoPut(const JournalOp& op) {
    return UndoReplaceKeepingOriginal(StagingPath(StagedName(op.slot)).c_str(), op.target.c_str(),
                                      StagingPath(OriginalName(op.slot)).c_str(),
                                      StagingPath(AttributesName(op.slot)).c_str());
}

// Moves the target aside; the staging folder's removal deletes it for good.
bool RunRemove(const JournalOp& op, StepRun run) {
    const std::string removed = StagingPath(RemovedName(op.slot));
    if (!PathExists(op.target.c_str())) return true;
    // After an interruption: something new took the place of what was removed.
    if (run == StepRun::Resumed && Exists(removed)) return false;
    return MoveAside(op.target.c_str(), removed.c_str());
}

bool UndoRemove(const JournalOp& op) {
    const std::string removed = StagingPath(RemovedName(op.slot));
    if (!Exists(removed)) return true;
    // A folder that a later step made again in the meantime is empty; the original returns.
    if (IsFolder(op.target.c_str())) RemoveDirectoryA(op.target.c_str());
    return !PathExists(op.target.c_str()) && MoveAside(removed.c_str(), op.target.c_str());
}

// Folders the commit of the staging run made itself: they hold only what the commit puts there.
using MadeFolders = std::unordered_set<std::string>;

bool RunDir(const JournalOp& op, StepRun run, MadeFolders* made) {
    // The staging run added the step for a folder that was missing; a resumed run asks first.
    if (run == StepRun::Resumed && IsFolder(op.target.c_str())) return true;
    if (CreateDirectoryA(op.target.c_str(), nullptr)) {
        if (run == StepRun::Fresh) made->insert(FoldedPath(op.target));
        return true;
    }
    return IsFolder(op.target.c_str());
}

// A file going into a folder this commit made is new there: one rename, nothing to ask or keep.
// False when it is not such a file or the rename fails (the full step then runs).
bool PutIntoMadeFolder(const JournalOp& op, const MadeFolders& made) {
    const std::vector<std::string> parents = ParentFolders(op.target);
    if (parents.empty() || made.count(FoldedPath(parents.back())) == 0) return false;
    return MoveFileExA(StagingPath(StagedName(op.slot)).c_str(), op.target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

bool UndoDir(const JournalOp& op) {
    // Only an empty folder goes: whatever else is in it was there before, or is not ours.
    if (IsFolder(op.target.c_str())) RemoveDirectoryA(op.target.c_str());
    return true;
}

}  // namespace

std::string StagingPath(const std::string& name) { return std::string(kStagingFolder) + "\\" + name; }

bool IsOutsideStaging(const char* path) {
    char first[kPathBufferSize];
    if (!FirstPathComponent(first, sizeof(first), path)) return true;
    // "VelmoraPatch.staging" alone (no separator) is its own first component.
    const char* component = first[0] != '\0' ? first : path;
    return !EqualsIgnoringAsciiCase(component, kStagingFolder);
}

MergeFiles MergeFilesFor(uint32_t listSlot) {
    const std::string n = std::to_string(listSlot);
    MergeFiles files;
    files.patchList = StagingPath(StagedName(listSlot));
    files.listBackup = StagingPath("l" + n);
    files.listAttributes = StagingPath("la" + n);
    files.reserveBackup = StagingPath(OriginalName(listSlot));
    files.noReserve = StagingPath("n" + n);
    files.reserveStage = StagingPath("r" + n);
    files.patchBackupPrefix = StagingPath("p" + n + "_");
    return files;
}

bool RunSteps(const Journal& journal, MergeTimer& timer, size_t* failedStep, StepRun run) {
    MadeFolders made;
    for (size_t i = 0; i < journal.ops.size(); ++i) {
        const JournalOp& op = journal.ops[i];
        bool ok = false;
        switch (op.kind) {
        case OpKind::Dir:
            ok = RunDir(op, run, &made);
            break;
        case OpKind::Put:
            ok = (run == StepRun::Fresh && PutIntoMadeFolder(op, made)) || RunPut(op, run);
            break;
        case OpKind::Remove:
            ok = RunRemove(op, run);
            break;
        case OpKind::Merge:
            ok = ApplyResourceMerge(MergeFilesFor(op.slot), timer);
            break;
        }
        if (!ok) {
            if (failedStep) *failedStep = i;
            return false;
        }
    }
    return true;
}

bool UndoSteps(const Journal& journal) {
    bool ok = true;
    for (size_t i = journal.ops.size(); i-- > 0;) {
        const JournalOp& op = journal.ops[i];
        switch (op.kind) {
        case OpKind::Dir:
            ok = UndoDir(op) && ok;
            break;
        case OpKind::Put:
            ok = UndoPut(op) && ok;
            break;
        case OpKind::Remove:
            ok = UndoRemove(op) && ok;
            break;
        case OpKind::Merge:
            ok = UndoResourceMerge(MergeFilesFor(op.slot)) && ok;
            break;
        }
    }
    return ok;
}

bool WriteJournal(const Journal& journal) {
    const std::string text = EncodeJournal(journal);
    const std::string fresh = StagingPath(kJournalNew);
    return WriteFileDurably(fresh.c_str(), text.data(), text.size()) &&
           ReplaceByRename(fresh.c_str(), StagingPath(kJournalName).c_str());
}

void RemoveStaging() {
    DeleteFileForce(StagingPath(kJournalName).c_str());
    RemoveTree(kStagingFolder);
}

std::string StepFailureText(const JournalOp& op) {
    switch (op.kind) {
    case OpKind::Dir:
        return "创建文件夹" + op.target + "时出错！";
    case OpKind::Remove:
        return "删除文件" + op.target + "时出错！";
    case OpKind::Merge:
        return "合并vpk文件时出错！";
    case OpKind::Put:
        break;
    }
    const char* target = op.target.c_str();
    if (EqualsIgnoringAsciiCase(target, "package\\package.cfg")) return "写文件package\\package.cfg时出错！";
    if (EqualsIgnoringAsciiCase(target, "update.cfg")) return "文件update.cfg.new改名为update.cfg时出错！";
    if (EqualsIgnoringAsciiCase(target, "LNCH\\mmog_data.xml"))
        return "文件LNCH\\mmog_data.xml.new改名为LNCH\\mmog_data.xml时出错！";
    return "更新文件" + op.target + "时出错！";
}

Transaction::Transaction(uint32_t toVersion) { journal_.toVersion = toVersion; }

Transaction::~Transaction() {
    // Once the commit began, only a finished commit or undo removes the staging folder.
    if (begun_ && !committing_ && !finished_) Discard();
}

bool Transaction::Begin() {
    if (PathExists(kStagingFolder) || !CreateDirectoryA(kStagingFolder, nullptr)) return false;
    begun_ = true;
    journal_.phase = JournalPhase::Staging;
    return WriteJournal(journal_);
}

bool Transaction::StageBytes(uint32_t slot, const void* bytes, size_t length) {
    void* file = WriteFileForFlush(StagingPath(StagedName(slot)).c_str(), bytes, length);
    if (file == INVALID_HANDLE_VALUE) return false;
    flusher_.Add(file);
    return true;
}

bool Transaction::FlushStaged(uint32_t slot) {
    void* file = OpenFileForFlush(StagingPath(StagedName(slot)).c_str());
    if (file == INVALID_HANDLE_VALUE) return false;
    flusher_.Add(file);
    return true;
}

void Transaction::AddPut(uint32_t slot, const std::string& target) {
    journal_.ops.push_back(JournalOp{OpKind::Put, slot, target});
}

void Transaction::AddRemove(const std::string& target) {
    journal_.ops.push_back(JournalOp{OpKind::Remove, NewSlot(), target});
}

void Transaction::AddMerge(uint32_t listSlot) { journal_.ops.push_back(JournalOp{OpKind::Merge, listSlot, ""}); }

Result Transaction::Commit(MergeTimer& timer, std::string* failureText) {
    if (!BeginCommit(failureText)) return Result::Reported;
    return FinishCommit(timer, failureText);
}

bool Transaction::BeginCommit(std::string* failureText) {
    // Nothing is renamed into place before it is on the disk.
    if (!flusher_.Finish()) {
        *failureText = std::string("写文件") + kStagingFolder + "时出错！";
        Discard();
        return false;
    }
    // The folders the new files need and that do not exist yet, each once, shortest first.
    // Folder names are looked at once each (letter case folded as the file system does).
    std::vector<JournalOp> steps;
    std::unordered_set<std::string> seen;
    auto addFolder = [&steps, &seen](const std::string& folder) {
        if (!seen.insert(FoldedPath(folder)).second || IsFolder(folder.c_str())) return;
        steps.push_back(JournalOp{OpKind::Dir, 0, folder});
    };
    for (const JournalOp& op : journal_.ops) {
        if (op.kind == OpKind::Put) {
            for (const std::string& folder : ParentFolders(op.target)) addFolder(folder);
        } else if (op.kind == OpKind::Merge) {
            addFolder("RAVN");
            addFolder("RAVN\\RAVNReserve");
        }
    }
    steps.insert(steps.end(), journal_.ops.begin(), journal_.ops.end());
    journal_.ops.swap(steps);

    journal_.phase = JournalPhase::Commit;
    if (!WriteJournal(journal_)) {
        *failureText = "写文件" + StagingPath(kJournalName) + "时出错！";
        Discard();
        return false;
    }
    committing_ = true;
    return true;
}

Result Transaction::FinishCommit(MergeTimer& timer, std::string* failureText) {
    size_t failed = 0;
    if (RunSteps(journal_, timer, &failed, StepRun::Fresh)) {
        finished_ = true;
        RemoveStaging();
        return Result::Ok;
    }
    *failureText = StepFailureText(journal_.ops[failed]);
    // From here on a crash must lead to the undo, never to a second attempt.
    journal_.phase = JournalPhase::Rollback;
    WriteJournal(journal_);
    finished_ = true;
    if (UndoSteps(journal_)) RemoveStaging();
    return Result::Reported;
}

void Transaction::Discard() {
    finished_ = true;
    flusher_.Finish();  // the staged files are closed before they are deleted
    RemoveStaging();
}
