// The two run modes: the silent sequence for launchers and the dialog for players.
#pragma once

#include <windows.h>

// Limits where DLLs loaded from now on are looked for to the system folder: the installer is
// started from download folders, where a DLL under a system name may have been planted.
void RestrictDllSearchPath();

// Chooses the mode from the command line (without the program name) and runs it; the exit code.
int RunInstaller(HINSTANCE instance, const char* commandLine);

// The silent sequence, stage by stage: command line, monitor lookup, recovery of an interrupted
// run, trailer scan, client location and check, archive choice, extraction, installation.
// 0 when the client was brought to the new version, 1 for every failure.
int RunSilent(const char* commandLine);
