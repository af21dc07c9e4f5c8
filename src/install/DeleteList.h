// The patch's list of client files and folders to remove, applied after its new files are in place.
#pragma once

// Removes every file and folder named in "UpdateDelList.txt" (current folder, one name per line,
// relative to it). Names that would reach outside the current folder, or name the folder itself,
// are ignored, and so are lines too long to be a path. False when the list cannot be opened or
// not read to its end; failures to delete are not reported.
bool ApplyDeleteList();
