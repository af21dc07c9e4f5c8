// The journal of an installation: what the commit will do, and how far the run got. It lives
// in the staging folder and is always replaced whole (written beside, flushed, renamed), so a
// reader sees either the old or the new journal, never a mixture.
//
//   VELJOURNAL 1
//   phase staging|commit|rollback
//   to <toVersion as a decimal number>
//   dir <folder>                 create a missing folder of the client
//   put <slot> <target>          staged file s<slot> replaces (or creates) target; a replaced
//                                original is kept as o<slot> until the run is over
//   remove <slot> <target>       target (file or folder) is moved aside as d<slot>
//   merge <slot>                 the resource index merge with the staged list s<slot>
//   end
//
// Targets are GBK paths relative to the client folder, each to the end of its line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class JournalPhase {
    Staging,   // new files are being staged; the client is untouched
    Commit,    // the staged files are being put in place: roll forward
    Rollback,  // a commit step failed: the originals are being put back
};

enum class OpKind { Dir, Put, Remove, Merge };

struct JournalOp {
    OpKind kind = OpKind::Put;
    uint32_t slot = 0;
    std::string target;  // empty for Merge
};

struct Journal {
    JournalPhase phase = JournalPhase::Staging;
    uint32_t toVersion = 0;
    std::vector<JournalOp> ops;
};

// True for a target the journal can carry: not empty, no line breaks or other control bytes.
bool IsJournalTarget(const std::string& target);

std::string EncodeJournal(const Journal& journal);
// False for anything but a complete journal of this format (a damaged one is never half used).
bool DecodeJournal(const std::string& text, Journal* journal);

// What a run does first about a staging folder left by an earlier run.
enum class RecoveryAction {
    None,           // no staging folder
    RemoveStaging,  // staging only (or no journal): the client was never touched; discard it
    RollForward,    // the commit had begun: finish it
    RollBack,       // a failed commit was being undone: finish undoing it
    Stuck,          // a journal that cannot be read: keep everything, install nothing
};

// journalText is null when the staging folder holds no journal.
RecoveryAction DecideRecovery(bool stagingExists, const std::string* journalText, Journal* journal);

// The staged-file names inside the staging folder.
std::string StagedName(uint32_t slot);    // "s<slot>"
std::string OriginalName(uint32_t slot);  // "o<slot>"
std::string RemovedName(uint32_t slot);   // "d<slot>"
std::string AttributesName(uint32_t slot);  // "a<slot>": a replaced read-only original's attributes
