// The client archive that receives an update, its archive list "package\package.cfg", and the
// temporary update package that rebuilds it.
#pragma once

#include <cstdint>

class CPatchDlg;
class PackageReader;
class PackageWriter;

// Reads the archive list and decides which client archive the patch extends: the last listed
// one, or a new "D%08X.pkg" named after toVersion when the list is empty or the last archive
// would grow past 16 MiB. Sets archiveList and archivePath. 1 = last listed archive, 2 = new.
int ChooseClientArchive(CPatchDlg& session, const char* listPath);

// Creates the temporary update package at tempPath and copies into it, in stored form, every
// entry of the client archive whose name the embedded package does not carry. On true the writer
// holds it open; on false the status text names the failure and patchReader has been closed.
bool BuildTemporaryPackage(CPatchDlg& session, PackageWriter& writer, const char* tempPath,
                           const char* archivePath, PackageReader& patchReader, bool* archiveRebuilt);

// Writes archiveList back to listPath through listPath + ".tmp". False when the list is empty or
// any write or the copy into place fails.
bool WriteArchiveList(CPatchDlg& session, const char* listPath);
