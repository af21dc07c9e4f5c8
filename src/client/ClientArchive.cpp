#include "client/ClientArchive.h"

#include "base/FileSystem.h"
#include "client/DiskSpace.h"

ArchivePick ChooseClientArchive(ArchiveChoice& choice, const char* listPath, const PackageTrailer& trailer) {
    ReadArchiveListFile(listPath, choice.list);
    ArchiveFileQueries files;
    files.exists = [](const char* path) { return FileExists(path); };
    files.length = [](const char* path) { return QueryFileLength(path); };
    return ChooseArchive(choice.list, trailer.toVersion, trailer.packageLength, files, choice.path);
}
