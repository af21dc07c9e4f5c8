// The installation as a transaction. Everything new is first staged in one folder inside the
// client folder (the same volume, so every rename is atomic); a journal written there says what
// the commit does and how far the run got. The commit puts the staged files in place one rename
// at a time and keeps every original it replaces or removes in the staging folder until the
// run is over, so a failed step can put them back, and a run killed at any moment is finished
// (once the commit began) or undone (before) by the next run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/FileSystem.h"
#include "base/Result.h"
#include "install/Flusher.h"
#include "install/Journal.h"
#include "install/ResourceMerge.h"

// The staging folder, relative to the client folder.
constexpr char kStagingFolder[] = "VelmoraPatch.staging";

// The journal's name in the staging folder.
constexpr char kJournalName[] = "journal";

// "VelmoraPatch.staging\\" + name.
std::string StagingPath(const std::string& name);

// True for a client path whose first component is not the staging folder (letter case
// ignored): the patch may never write or remove anything of the transaction.
bool IsOutsideStaging(const char* path);

class Transaction {
public:
    explicit Transaction(uint32_t toVersion);
    // A transaction that never reached its commit leaves nothing behind.
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Creates the staging folder and its journal (phase staging). False when the folder exists
    // already or cannot be made.
    bool Begin();

    // A new staged-file slot; its file is StagingPath(StagedName(slot)).
    uint32_t NewSlot() { return nextSlot_++; }
    // Writes the bytes as a staged file. It is flushed to the disk on another thread before the
    // commit begins. False when they cannot be written.
    bool StageBytes(uint32_t slot, const void* bytes, size_t length);
    // A staged file written by other means (the rebuilt archive), closed: flushed the same way.
    bool FlushStaged(uint32_t slot);
    // A staged file written by other means and still open (a Win32 file handle, which this
    // takes over): flushed and closed the same way, without opening it again.
    void AdoptStaged(void* file) { flusher_.Add(file); }

    // The steps of the commit, in the order they run.
    void AddPut(uint32_t slot, const std::string& target);
    void AddRemove(const std::string& target);
    void AddMerge(uint32_t listSlot);

    // The commit: the missing folders of the targets are created first, the journal turns to
    // "commit", then each step runs. Ok when all are done (the staging folder is gone then).
    // When a step fails, everything done is put back and the staging folder removed; the
    // result is Result::Reported with failureText naming what failed.
    Result Commit(MergeTimer& timer, std::string* failureText);

    // The two halves of Commit. BeginCommit adds the folder steps and writes the journal with
    // the phase "commit": from then on the run is finished by this run or the next, and the
    // staging folder is never discarded. False (staging discarded) when it cannot be written.
    bool BeginCommit(std::string* failureText);
    Result FinishCommit(MergeTimer& timer, std::string* failureText);
    // The steps as the journal holds them.
    const Journal& Steps() const { return journal_; }

    // Removes the staging folder before the commit began.
    void Discard();

private:
    Journal journal_;
    BackgroundFlusher flusher_;
    uint32_t nextSlot_ = 0;
    bool begun_ = false;
    bool committing_ = false;
    bool finished_ = false;
};

// The files of a merge step with the list in slot `listSlot`.
MergeFiles MergeFilesFor(uint32_t listSlot);

// Runs every step of the journal in order; each step is done already or done now. False at the
// first step that fails; failedStep then tells which. StepRun::Fresh only in the run that staged
// the files and wrote the journal.
bool RunSteps(const Journal& journal, MergeTimer& timer, size_t* failedStep, StepRun run);
// Takes back every step, the last first; steps never run are left as they are. False when
// something could not be put back (the journal then stays for the next run).
bool UndoSteps(const Journal& journal);
// Writes the journal beside, flushes it and renames it into place.
bool WriteJournal(const Journal& journal);
// Removes the journal first (the staging folder then means nothing), then the folder.
void RemoveStaging();
// The status text for a step that failed.
std::string StepFailureText(const JournalOp& op);
