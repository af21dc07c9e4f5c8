// Keeps a Wine session's desktop in use for the length of a test run (see wine-session.sh): Wine
// closes the desktop process when its last user ends, and the next program that shows a window
// would start it again and pass it its own output, on which CTest then waits.
//
// Usage: vel_wine_keeper.exe run <name>    uses the desktop, signals "<name>.ready", waits for
//                                          "<name>.stop" (at most four hours)
//        vel_wine_keeper.exe ready <name>  exit code 0 once "<name>.ready" is signalled (60 s)
//        vel_wine_keeper.exe stop <name>   signals "<name>.stop"
#include <windows.h>

#include <cstring>
#include <string>

namespace {

constexpr DWORD kReadyTimeoutMs = 60000;
constexpr DWORD kLongestRunMs = 4 * 60 * 60 * 1000;

HANDLE Event(const std::string& name)
{
    // Created by whichever side comes first, opened by the other.
    return CreateEventA(nullptr, TRUE, FALSE, name.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string action = argv[1];
    const std::string name = argv[2];
    HANDLE ready = Event(name + ".ready");
    HANDLE stop = Event(name + ".stop");
    if (!ready || !stop)
        return 3;
    int code = 2;
    if (action == "run") {
        code = GetDesktopWindow() ? 0 : 4;
        SetEvent(ready);
        if (code == 0)
            WaitForSingleObject(stop, kLongestRunMs);
    } else if (action == "ready") {
        code = WaitForSingleObject(ready, kReadyTimeoutMs) == WAIT_OBJECT_0 ? 0 : 1;
    } else if (action == "stop") {
        code = SetEvent(stop) ? 0 : 1;
    }
    CloseHandle(stop);
    CloseHandle(ready);
    return code;
}
