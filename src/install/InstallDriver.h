// The install driver: applies "patch.pkg" to the client folder (the current directory).
#pragma once

#include <cstddef>

class CPatchDlg;

// Runs the whole installation and reports its outcome itself; does nothing for a null session.
// Every way out ends with RestoreButtons, the last use of the session.
void InstallUpdate(CPatchDlg* session);

// Puts the rebuilt archive, the archive list and the new version files in place, after the
// delete list; reports completion, or stops at the first failure with its own status text.
void CommitInstall(CPatchDlg* session, const char* archivePath, const char* tempPath);

// True when the entry's first path component names one of the client archive's resource
// folders (letter case ignored): such entries go into the archive, not into the folder.
bool IsResourceEntry(const char* name);
