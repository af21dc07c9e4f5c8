// Sending one WM_COPYDATA to the launcher's monitor window.
#pragma once

#include <windows.h>

#include <cstdint>

// Synchronous: the COPYDATASTRUCT lives on this stack until the monitor has handled it. The tag
// travels in the pointer-sized wParam; launchers read its low 32 bits. A handle that names no
// window (the value 1) makes the send fail without effect.
inline void SendMonitorCopyData(HWND monitor, int32_t tag, uint32_t data, const void* bytes, DWORD count) {
    COPYDATASTRUCT cds;
    cds.dwData = static_cast<ULONG_PTR>(data);
    cds.cbData = count;
    cds.lpData = const_cast<void*>(bytes);
    SendMessageA(monitor, WM_COPYDATA, static_cast<WPARAM>(static_cast<intptr_t>(tag)), reinterpret_cast<LPARAM>(&cds));
}
