// The install driver: applies "patch.pkg" to the client folder (the current directory).
#pragma once

class CPatchDlg;

// Runs the whole installation and reports its outcome itself; does nothing for a null session.
void InstallUpdate(CPatchDlg* session);
