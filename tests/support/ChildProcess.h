// A program a test starts (Windows only): started with a given command line and current
// folder, waited for with a timeout, and ended by force (and waited for) when its owner goes
// while it still runs, so that a failing test never leaves it running. UniqueName gives names
// (events, window titles) that no other process of the run uses.
#pragma once

#include <windows.h>

#include <string>

#include "support/Handles.h"

namespace velsupport {

class ChildProcess {
public:
    // How long Kill() and the destructor wait for a program they ended.
    static constexpr DWORD kKillWaitMs = 10000;

    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs `exe` with the command line `"exe" args` (just `"exe"` when args is empty) in workDir
    // (the caller's current folder when empty); CreateProcess's creation flags go to `flags`.
    // False with a reason in *error (when given) if the program could not be started.
    bool Start(const std::string& exe, const std::string& args, const std::string& workDir = std::string(),
               std::string* error = nullptr, DWORD flags = 0);
    // The same with the whole command line given verbatim, program name included.
    bool StartCommandLine(const std::string& exe, const std::string& commandLine,
                          const std::string& workDir = std::string(), std::string* error = nullptr,
                          DWORD flags = 0);

    bool Started() const { return process_.Valid(); }
    bool Running() const;
    // True with the exit code once the program has ended within timeoutMs.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode = nullptr) const;
    // Ends the program if it still runs (exit code `exitCode`) and waits up to kKillWaitMs.
    void Kill(UINT exitCode = 0xDEAD);

    HANDLE Handle() const { return process_.Get(); }
    HANDLE ThreadHandle() const { return thread_.Get(); }
    DWORD Id() const { return processId_; }
    DWORD MainThreadId() const { return threadId_; }

private:
    ScopedHandle process_;
    ScopedHandle thread_;
    DWORD processId_ = 0;
    DWORD threadId_ = 0;
};

// "<stem>-<process id>-<n>", new on every call.
std::string UniqueName(const std::string& stem);

}  // namespace velsupport
