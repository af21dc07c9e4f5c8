// A DLL planted where it does not belong, for the tests of where the installer loads libraries
// from: copied under the name of the merge library or of a system DLL, it leaves
// "<its own path>.loaded" beside itself when any process loads it, and does nothing else.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t marker[MAX_PATH + 16];
    DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return TRUE;
    const wchar_t suffix[] = L".loaded";
    for (size_t i = 0; i < sizeof(suffix) / sizeof(suffix[0]); ++i) marker[length + i] = suffix[i];
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return TRUE;
}
