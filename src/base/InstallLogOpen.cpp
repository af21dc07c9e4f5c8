// Opening the install log beside the program file: the one part of the log that needs Win32.
#include "base/ProgramFile.h"
#include "base/PathText.h"
#include "base/InstallLog.h"

bool InstallLog::Open(const char* name) {
    char nameBuffer[kPathBufferSize] = {};
    if (!CopyBounded(nameBuffer, sizeof(nameBuffer), name)) return false;
    char program[kPathBufferSize];
    if (!GetProgramFilePath(program, sizeof(program))) return false;
    char path[kPathBufferSize];
    if (!BuildPathBeside(program, nameBuffer, path)) return false;
    return OpenPath(path);
}
