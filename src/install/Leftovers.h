// What older installers could leave half done in a client folder, told from the files' bytes.
#pragma once

#include <cstdint>
#include <string>

// Files older installers, which wrote beside their targets, could leave in the client folder; a
// successful run leaves none of them behind.
constexpr const char* kInstallerLeftovers[] = {"UpdateDelList.txt",       "tmp.tmp",
                                               "update.cfg.new",          "LNCH\\mmog_data.xml.new",
                                               "package\\package.cfg.tmp", "RAVN\\RAVNFileList.ini.patch"};

// True when the bytes open like a package archive: the tag and a directory inside the file.
bool LooksLikeArchive(const std::string& head, uint64_t fileLength);

// True when the text has a line whose key before "=" is exactly "ver", as the client check reads it.
bool HasVersionLine(const std::string& text);

// True when copying a complete temporary archive list over the list was cut short: the list
// is missing, empty, or a strict beginning of the temporary list, which ends with a line break.
bool ListCopyInterrupted(bool listExists, const std::string& list, const std::string& temporaryList);
