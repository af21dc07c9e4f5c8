// The two run modes: the silent sequence for launchers and the dialog for players.
#pragma once

#include <windows.h>

// Chooses the mode from the command line (without the program name) and runs it; the exit code.
int RunInstaller(HINSTANCE instance, const char* commandLine);

// The silent sequence, stage by stage: command line, monitor lookup, recovery of an interrupted
// run, trailer scan, client location and check, archive choice, extraction, installation.
// 0 when the client was brought to the new version, 1 for every failure.
int RunSilent(const char* commandLine);
