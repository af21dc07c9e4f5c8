// The two run modes: the silent sequence for launchers and the dialog for players.
#pragma once

#include <windows.h>

class CPatchDlg;

// Chooses the mode from the command line (without the program name) and runs it; the exit code.
int RunInstaller(HINSTANCE instance, const char* commandLine);

// The silent sequence: log, command-line values, monitor lookup, checks, extraction, install.
// 0 once the install driver ran (whatever its outcome), 1 when a check or the extraction failed.
int RunSilent(const char* commandLine, CPatchDlg& session);

// Finds the monitor window by title, falling back to the default title and then to the handle
// value 1, which names no window (messages to it are lost).
HWND FindMonitorWindow(const char* title);
