// The archive choice: which client archive receives the patch's resource entries.
#pragma once

#include "package/ArchiveList.h"
#include "package/PackageFormat.h"

// Reads the archive list at listPath (a list that cannot be opened reads as empty) and chooses
// the last listed archive, or a new "D%08X.pkg" named after the trailer's toVersion when the
// list is empty or the last archive would grow past 16 MiB.
ArchivePick ChooseClientArchive(ArchiveChoice& choice, const char* listPath, const PackageTrailer& trailer);
