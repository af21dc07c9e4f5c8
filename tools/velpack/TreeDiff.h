// The patch between two client folders: what an installer must carry to turn the old into the new.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The file in a patch folder that carries client archive entries in their stored (compressed)
// form, with their flags: a package archive of its own, merged into the package by PackFolder.
constexpr char kStoredEntriesFile[] = "velpack.entries.pkg";

// One thing the patch carries.
struct DiffItem {
    enum class Kind {
        PlainFile,     // a file of the client folder, new or changed
        ArchiveEntry,  // an entry of the client archive, new or changed, in its stored form
        IndexList,     // the resource index list, delivered as "RAVN/RAVNFileList.ini"
        DeleteList,    // "UpdateDelList.txt"
    };
    Kind kind = Kind::PlainFile;
    std::string name;      // GBK, as it goes into the package
    std::string archive;   // ArchiveEntry: the client archive's file name
    bool isNew = false;    // not in the old folder (archive: no entry of that name)
    uint64_t size = 0;     // bytes before compression
    uint64_t storedSize = 0;  // bytes in the package; 0 for files unless compression was measured
};

struct DiffOptions {
    // Deflate every plain file written once more to know its size in the package (--report).
    bool measureCompression = false;
};

struct DiffResult {
    std::vector<DiffItem> items;             // the index list, plain files by name, entries, the delete list
    std::vector<std::string> deleteLines;    // GBK names, as written to UpdateDelList.txt
    std::vector<std::string> problems;       // what the package format cannot express, one each
    uint64_t filesCompared = 0;
    uint64_t entriesCompared = 0;
};

// Compares the client folders oldDir and newDir and writes the patch into outDir, which must be
// missing or empty: new and changed plain files under their names, kStoredEntriesFile, the delete
// list and the resource index list. Each file and archive entry of either folder is read at most
// once; memory does not grow with file sizes.
//
// False with error when something cannot be read or written, or when the difference cannot be
// expressed (result->problems then lists every reason found, each naming the file or entry, and
// outDir is left as it was). The same two folders always give the same bytes.
bool DiffTrees(const std::string& oldDir, const std::string& newDir, const std::string& outDir,
               const DiffOptions& options, DiffResult* result, std::string* error);

// The installer chooses the client archive the patch goes into from the old folder's archive
// list; with a package of packageLength bytes it must choose the last listed archive, because a
// new archive would change the list. False with the reason when it would not.
bool CheckArchiveChoice(const std::string& oldDir, uint32_t packageLength, std::string* why);

// What "velpack build --old --new" takes from the folders when --from, --to or --kind is not
// given: the "ver" line of update.cfg, and "Ver" of section "Version" in Config\MiniClient.ini
// (not 0: micro client). False when update.cfg cannot be read or has no "ver" line.
bool ReadTreeVersion(const std::string& dir, uint32_t* version);
uint32_t ReadTreeClientType(const std::string& dir);

// A value of a Windows profile (ini) file as GetPrivateProfileString finds it: section and key
// without regard to ASCII letter case, the first of each, blanks around the value removed.
bool ProfileString(const std::string& text, const char* section, const char* key, std::string* value);
// The same as GetPrivateProfileInt: leading digits (with an optional sign), else fallback.
int ProfileInt(const std::string& text, const char* section, const char* key, int fallback);
// The patch list of a resource index list: "FileName" of items 1 .. FileCount-1, at most 1000.
std::vector<std::string> IndexListPatches(const std::string& text);

// Removes a folder with everything in it, read-only files too; true when it is gone.
bool RemoveFolderTree(const std::string& path);
