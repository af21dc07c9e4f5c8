#include "support/ChildProcess.h"

#include <vector>

namespace velsupport {

bool ChildProcess::Start(const std::string& exe, const std::string& args, const std::string& workDir,
                         std::string* error, DWORD flags)
{
    return StartCommandLine(exe, "\"" + exe + "\"" + (args.empty() ? std::string() : " " + args), workDir, error,
                            flags);
}

bool ChildProcess::StartCommandLine(const std::string& exe, const std::string& commandLine,
                                    const std::string& workDir, std::string* error, DWORD flags)
{
    if (process_.Valid()) {
        if (error)
            *error = "a program is already running";
        return false;
    }
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, flags, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &startup, &info)) {
        if (error)
            *error = "CreateProcess " + exe + " failed: " + std::to_string(GetLastError());
        return false;
    }
    process_.Reset(info.hProcess);
    thread_.Reset(info.hThread);
    processId_ = info.dwProcessId;
    threadId_ = info.dwThreadId;
    return true;
}

bool ChildProcess::Running() const
{
    return process_.Valid() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
}

bool ChildProcess::WaitExit(DWORD timeoutMs, DWORD* exitCode) const
{
    if (!process_.Valid() || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    if (exitCode)
        *exitCode = code;
    return true;
}

void ChildProcess::Kill(UINT exitCode)
{
    if (Running()) {
        TerminateProcess(process_.Get(), exitCode);
        WaitForSingleObject(process_.Get(), kKillWaitMs);
    }
}

std::string UniqueName(const std::string& stem)
{
    static unsigned counter = 0;
    return stem + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

}  // namespace velsupport
