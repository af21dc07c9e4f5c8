// What the Win32 tests add to velsupport (own folders: velsupport::TempFolder; whole files:
// velsupport::ReadFileText and WriteFileText) to set up and look at a client folder: files
// written with given attributes, an entry's attributes and the names in a folder, all through the
// platform directly so that checks do not lean on the code under test.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/Handles.h"
#include "support/TempFolder.h"

// Creates or replaces the file with exactly these bytes, then gives it these attributes.
inline bool WriteRawFile(const std::string& name, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    return velsupport::WriteFileText(name, bytes) && SetFileAttributesA(name.c_str(), attributes);
}

inline DWORD AttributesOf(const std::string& name) { return GetFileAttributesA(name.c_str()); }
// A file or a folder.
inline bool Exists(const std::string& name) { return AttributesOf(name) != INVALID_FILE_ATTRIBUTES; }

// Names in a folder, sorted, without "." and "..".
inline std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    velsupport::ScopedFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find.Valid()) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find.Get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}
