// One installer at a time in a client folder. A run holds a lock file in the client folder open
// without sharing, from its recovery stage to its end: a second installer started on the same
// folder meanwhile (a launcher trying again, a second double-click) would otherwise finish or
// undo the staging folder of the first while that one still works in it. The file goes when its
// handle is closed, by the system too when the process is ended.
#pragma once

// The lock file, in the client folder.
constexpr char kRunLockName[] = "VelmoraPatch.lock";

class RunLock {
public:
    enum class State {
        Taken,         // this run holds the folder
        HeldElsewhere,  // another installer holds it
        Unavailable,   // no file can be made there (a read-only folder): the run goes on, and
                       // whatever it then cannot write fails with its own message
    };

    RunLock() = default;
    ~RunLock() { Release(); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock of the current folder, letting go of any held before.
    State Take();
    void Release();

private:
    void* file_ = reinterpret_cast<void*>(-1);  // INVALID_HANDLE_VALUE
};

// The status text when another installer holds the folder.
constexpr char kRunLockHeldText[] = "另一个更新程序正在更新此客户端，请等它结束后再试！";
