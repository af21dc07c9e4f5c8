// Stand-in for a client program in the guard's tests: copied under a client program's name, it
// signals that it runs and then waits until its parent ends (or a minute passes), so nothing a
// failed test leaves behind outlives the test program for long.
//
// Usage: vel_sleeper.exe <ready event name> <parent process id>
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (!ready) return 2;
    SetEvent(ready);
    CloseHandle(ready);

    DWORD parentId = static_cast<DWORD>(strtoul(argv[2], nullptr, 10));
    HANDLE parent = OpenProcess(SYNCHRONIZE, FALSE, parentId);
    if (parent) {
        WaitForSingleObject(parent, 60000);
        CloseHandle(parent);
    }
    return 3;
}
