// Which entries of a patch belong in the client archive rather than in the client folder.
#pragma once

// True when the entry's first path component names one of the client archive's resource
// folders (letter case ignored): such entries go into the archive, not into the folder.
bool IsResourceEntry(const char* name);
