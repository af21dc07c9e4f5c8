// The client archive list "package\package.cfg": reading it and choosing the archive a patch extends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/PathText.h"

// Folder of the client archives, as the prefix of their relative paths.
constexpr char kArchiveFolderPrefix[] = "package\\";
// The list is read in pieces of at most 259 bytes; each piece counts as a line of its own.
constexpr size_t kListLineBufferSize = kPathBufferSize;
// A client archive is extended while its length plus the package length stays at or below this.
constexpr uint32_t kArchiveSizeLimit = 0x1000000;

// What ChooseArchive decided.
enum class ArchivePick {
    Listed,  // the last listed archive is extended
    New,     // a new archive is started
};

// The client's archive list and the archive the patch goes into ("package\\" + name).
struct ArchiveChoice {
    std::vector<std::string> list;
    std::string path;
};

// The first whitespace-delimited token of the text; empty when there is none.
std::string FirstListToken(const char* line);

// The first token of every piece of the stream, in order, each name kept once at the position of
// its last occurrence (A, B, A gives B, A). names is replaced.
void ReadArchiveList(FILE* file, std::vector<std::string>& names);
// The same for a file opened in text mode; false (and names empty) when it cannot be opened.
bool ReadArchiveListFile(const char* path, std::vector<std::string>& names);

// True for a name the installer may create, replace or delete as a file inside the archive folder:
// one path component without separators, drive or stream colons, characters Windows refuses in
// file names, a dangling GBK lead byte, a name made only of dots, or a reserved device name.
bool IsUsableArchiveName(const char* name);

// "package\\" + name; false (path empty) when the name is not usable or the path would not fit
// 259 characters.
bool ArchivePathFor(const std::string& name, std::string& path);

// The list file as the client reads it: one name per line, each ended by CR LF.
std::string ArchiveListText(const std::vector<std::string>& names);

// "D%08X.pkg" of the version, e.g. D010300BE.pkg for 1.3.0.190.
std::string NewArchiveName(uint32_t toVersion);

// What the choice needs to know about files on disk (relative paths).
struct ArchiveFileQueries {
    std::function<bool(const char* path)> exists;
    std::function<uint32_t(const char* path)> length;  // 0 when the file cannot be opened
};

// Chooses from the names read by ReadArchiveList. The last listed archive is extended
// (ArchivePick::Listed) when it is usable and either missing on disk or small enough: its length
// plus packageLength, added as unsigned 32-bit numbers, at most kArchiveSizeLimit. Otherwise a
// new archive NewArchiveName(toVersion) is moved to, or appended at, the end of names
// (ArchivePick::New). archivePath receives "package\\" + the chosen name.
//
// Names that are not usable stay in the list as they were read, so writing it back keeps the
// client's lines; they are only never chosen, which keeps every write inside the archive folder.
ArchivePick ChooseArchive(std::vector<std::string>& names, uint32_t toVersion, uint32_t packageLength,
                  const ArchiveFileQueries& files, std::string& archivePath);
