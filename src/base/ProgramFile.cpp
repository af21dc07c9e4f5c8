#include "base/ProgramFile.h"

#include <windows.h>

bool GetProgramFilePath(char* path, size_t size) {
    if (size == 0) return false;
    DWORD n = GetModuleFileNameA(nullptr, path, static_cast<DWORD>(size));
    // A full buffer means the name was cut.
    if (n == 0 || n >= size) {
        path[0] = '\0';
        return false;
    }
    return true;
}
