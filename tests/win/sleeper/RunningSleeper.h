// A started copy of vel_sleeper under a client program's name, playing a running client program.
// Whatever the test did, the copy is ended and waited for when the owner goes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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
        static unsigned counter = 0;
        const std::string eventName =
            "vel-sleeper-ready-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
        if (!ready) return;
        std::string command = "\"" + path_ + "\" " + eventName + " " + std::to_string(GetCurrentProcessId());
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        // Started in the test's own current folder: one inside a scratch folder would keep it
        // from being removed.
        if (CreateProcessA(path_.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                           &startup, &info_)) {
            // Ready once its own code runs: from then on it is in every process snapshot.
            HANDLE waits[] = {ready, info_.hProcess};
            started_ = WaitForMultipleObjects(2, waits, FALSE, kWaitMs) == WAIT_OBJECT_0;
        }
        CloseHandle(ready);
    }
    ~RunningProgram() {
        if (!info_.hProcess) return;
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, kWaitMs);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }
    const std::string& Path() const { return path_; }
    bool Running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // Ended with exit code 0, which the sleeper never uses itself: the installer terminated it.
    bool Terminated() const {
        DWORD code = 1;
        return WaitForSingleObject(info_.hProcess, kWaitMs) == WAIT_OBJECT_0 &&
               GetExitCodeProcess(info_.hProcess, &code) && code == 0;
    }

private:
    std::string path_;
    PROCESS_INFORMATION info_{};
    bool started_ = false;
};
