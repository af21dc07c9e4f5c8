// The patch's list of client files and folders to remove, applied after its new files are in place.
#pragma once

#include <string>
#include <vector>

// Reads a delete list (one name per line, relative to the current folder) into the paths to
// remove, each ".\\" + the trimmed name, in list order. Names that would reach outside the
// current folder, name the folder itself or lie in the staging folder are left out, and so are
// lines too long to be a path. False when the list cannot be opened or not read to its end.
bool ReadDeleteList(const char* listFile, std::vector<std::string>* targets);
