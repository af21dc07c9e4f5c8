#include "install/RunLock.h"

#include <windows.h>

RunLock::State RunLock::Take() {
    Release();
    // Delete-on-close: no run ever leaves the file behind, however it ends. A file left by a
    // machine that lost power is opened and taken over as it is.
    HANDLE file = CreateFileA(kRunLockName, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        file_ = file;
        return State::Taken;
    }
    // Held without sharing by the other installer's handle.
    return GetLastError() == ERROR_SHARING_VIOLATION ? State::HeldElsewhere : State::Unavailable;
}

void RunLock::Release() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}
