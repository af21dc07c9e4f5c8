// A started copy of vel_sleeper under a client program's name, playing a running client program.
// Whatever the test did, the copy is ended and waited for when the owner goes.
#pragma once

#include <windows.h>

#include <string>

#include "support/ChildProcess.h"
#include "support/Handles.h"

class RunningProgram {
public:
    static constexpr DWORD kWaitMs = 10000;

    // Copies `sleeperExe` to folder\name and starts it; Started() tells whether it runs.
    RunningProgram(const std::string& sleeperExe, const std::string& folder, const std::string& name)
        : path_(folder + "\\" + name) {
        CreateDirectoryA(folder.c_str(), nullptr);
        // A second copy under the same name finds the first one running there: its file is
        // in use and cannot be copied over, but it is the same program.
        if (!CopyFileA(sleeperExe.c_str(), path_.c_str(), FALSE) &&
            GetFileAttributesA(path_.c_str()) == INVALID_FILE_ATTRIBUTES)
            return;
        const std::string eventName = velsupport::UniqueName("vel-sleeper-ready");
        velsupport::ScopedHandle ready = velsupport::MakeEvent(eventName);
        if (!ready.Valid()) return;
        // Started in the test's own current folder: one inside a scratch folder would keep it
        // from being removed.
        if (process_.Start(path_, eventName + " " + std::to_string(GetCurrentProcessId()), std::string(), nullptr,
                           CREATE_NO_WINDOW)) {
            // Ready once its own code runs: from then on it is in every process snapshot.
            HANDLE waits[] = {ready.Get(), process_.Handle()};
            started_ = WaitForMultipleObjects(2, waits, FALSE, kWaitMs) == WAIT_OBJECT_0;
        }
    }
    // Exit code 1 here, never 0: Terminated() tells the installer's doing by a 0.
    ~RunningProgram() { process_.Kill(1); }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return started_; }
    DWORD Id() const { return process_.Id(); }
    HANDLE Handle() const { return process_.Handle(); }
    const std::string& Path() const { return path_; }
    bool Running() const { return process_.Running(); }
    // Ended with exit code 0, which the sleeper never uses itself: the installer terminated it.
    bool Terminated() const {
        DWORD code = 1;
        return process_.WaitExit(kWaitMs, &code) && code == 0;
    }

private:
    std::string path_;
    velsupport::ChildProcess process_;
    bool started_ = false;
};
