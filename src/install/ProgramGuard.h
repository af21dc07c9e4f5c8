// Guard against running client programs while their files are replaced.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "base/Reporter.h"
#include "base/Result.h"
#include "install/InstallRun.h"

// What to do with a program of the list that is running.
enum class WhenRunning {
    Ask,        // ask the person at the machine whether it may be closed
    Terminate,  // end it without asking
};

// How a running process is recognised.
enum class NameMatch {
    FileName,  // the image's file name and extension, letter case ignored
    FullPath,  // that, and the main module's full path equals the name
};

enum class ProgramState {
    NotRunning,  // not an ".exe", longer than 259 characters, or not running
    Refused,     // running, and the player would not let it be closed (reported)
    Terminated,  // running, and ended
};

enum class GuardResult {
    Clear,         // nothing of the list runs any more
    Refused,       // the player would not let a program be closed (already reported)
    StillRunning,  // programs were still being terminated after the last pass
};

constexpr int kGuardPasses = 10;

// The processes one snapshot saw: their ids and image file names.
struct RunningProcess {
    DWORD id;
    std::string image;
};
using ProcessList = std::vector<RunningProcess>;
// One snapshot of the running processes (empty when it cannot be taken).
ProcessList TakeProcessList();

// Looks for the program in a snapshot of its own.
ProgramState CheckRunningProgram(Reporter& reporter, const char* name, WhenRunning whenRunning, NameMatch match);
// Looks for the program in a snapshot taken before: a guard pass takes one for all its names.
ProgramState CheckRunningProgramIn(const ProcessList& processes, Reporter& reporter, const char* name,
                                   WhenRunning whenRunning, NameMatch match);

// Checks the client program list, up to kGuardPasses passes. currentFolder is the client folder
// in its long form (the crash reporter only counts when started from there). Some programs are
// ended without asking in silent mode only, and one is only looked for in dialog mode.
GuardResult CloseClientPrograms(RunMode mode, const char* currentFolder, Reporter& reporter);

// The guard stage of an installation: the client programs closed, or the run stopped with its
// status text (Result::Reported).
Result GuardClientPrograms(RunMode mode, Reporter& reporter);

// Process id of the first process whose image name (file name and extension, letter case
// ignored) equals that of `name`; with NameMatch::FullPath its main module path must equal `name` too.
DWORD FindProcessByName(const char* name, NameMatch match);
DWORD FindProcessIn(const ProcessList& processes, const char* name, NameMatch match);
// Full path of the image of a process, also of a 64-bit process asked from a 32-bit one;
// false when it cannot be read.
bool GetMainModulePath(DWORD processId, std::string* path);

// How long a terminated process is waited for.
constexpr DWORD kTerminateWaitMs = 5000;
// Terminates the process (exit code 0) and waits until it has ended, at most kTerminateWaitMs;
// true when it has ended.
bool TerminateProcessById(DWORD processId);

// The guard ends processes with TerminateProcessById; a test may install another function
// (nullptr restores it), for example one that restarts the program it was asked to end.
using ProcessTerminator = void (*)(DWORD processId);
void SetProcessTerminator(ProcessTerminator terminator);
