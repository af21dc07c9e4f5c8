// The commit: the staged run put in place as one transaction. In this order: the plain files in
// the order of the patch, the resource index merge, the patch's delete list, the client archive,
// the archive list, "LNCH\\mmog_data.xml", and "update.cfg" last, so that a client that claims
// the new version has everything of it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/Reporter.h"
#include "base/Result.h"
#include "install/Transaction.h"
#include "package/ArchiveList.h"

constexpr uint32_t kNoSlot = 0xFFFFFFFFu;

// What the run staged: slots of the transaction and where they go.
struct StagedRun {
    std::vector<std::pair<uint32_t, std::string>> plainFiles;  // slot, target; in patch order
    uint32_t archiveSlot = kNoSlot;     // the rebuilt client archive
    uint32_t versionSlot = kNoSlot;     // "update.cfg"
    uint32_t launcherSlot = kNoSlot;    // "LNCH\\mmog_data.xml"
    uint32_t indexListSlot = kNoSlot;   // the resource index list "RAVN/RAVNFileList.ini"
    uint32_t deleteListSlot = kNoSlot;  // "UpdateDelList.txt"
};

// Stages the archive list and runs the commit. Ok when everything is in place; otherwise the
// client is as it was before the run and the status line (logged once more) says what failed
// (Result::Reported).
Result CommitInstall(Transaction& transaction, const StagedRun& staged, const ArchiveChoice& archive,
                     Reporter& reporter);
