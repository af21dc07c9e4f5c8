// Guard against running client programs while their files are replaced.
#pragma once

#include <windows.h>

#include <string>

class CPatchDlg;

enum class GuardResult {
    Clear,         // nothing of the list runs any more
    Refused,       // the player would not let a program be closed (already reported)
    StillRunning,  // programs were still being terminated after the last pass
};

constexpr int kGuardPasses = 10;

// 0 = not an ".exe", longer than 259 characters or not running, 1 = running and the player
// refused to close it, 2 = running and terminated.
int CheckRunningProgram(CPatchDlg* session, const char* name, bool terminateWithoutAsking, bool matchFullPath);

// Checks the client program list, up to kGuardPasses passes. currentFolder is the client folder
// in its long form (the crash reporter only counts when started from there).
GuardResult CloseClientPrograms(CPatchDlg* session, const char* currentFolder);

// Process id of the first process whose image name (file name and extension, letter case
// ignored) equals that of `name`; with matchFullPath its main module path must equal `name` too.
DWORD FindProcessByName(const char* name, bool matchFullPath);
// Full path of the main module of a process; false when it cannot be read.
bool GetMainModulePath(DWORD processId, std::string* path);
void TerminateProcessById(DWORD processId);

// The guard ends processes with TerminateProcessById; a test may install another function
// (nullptr restores it), for example one that restarts the program it was asked to end.
using ProcessTerminator = void (*)(DWORD processId);
void SetProcessTerminator(ProcessTerminator terminator);
