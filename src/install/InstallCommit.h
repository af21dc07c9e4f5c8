// The commit: the patch's delete list, the swap of the temporary update package for the client
// archive, the archive list, then the version files, each replacement with "tmp.tmp" as the one
// backup slot.
#pragma once

#include "base/Reporter.h"
#include "base/Result.h"
#include "package/ArchiveList.h"

// Puts the rebuilt archive (tempPath), the archive list and the new version files in place,
// after the delete list. Ok when everything is in place; a failed step is reported with its own
// status text (Result::Reported) and ends the commit, except that a failed update.cfg
// replacement goes on (update.cfg already holds the new content from the extraction).
Result CommitInstall(const ArchiveChoice& archive, const char* tempPath, Reporter& reporter);
