#include "install/ProgramGuard.h"

#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "app/PatchDlg.h"
#include "app/ScopedWin.h"
#include "install/PathText.h"

namespace {

const char kQuestionCaption[] = "发现正在运行文件";
const char kRefusalCaption[] = "发现正在运行程序";

ProcessTerminator g_terminator = nullptr;

// The file name and extension of a path: what follows its drive and folder part.
const char* FileNamePart(const char* path) {
    int cut = FindLastChar(path, '\\');
    int slash = FindLastChar(path, '/');
    if (slash > cut) cut = slash;
    if (cut < 0) cut = FindLastChar(path, ':');
    return path + cut + 1;
}

bool HasExeExtension(const char* name) {
    const char* file = FileNamePart(name);
    int dot = FindLastChar(file, '.');
    return dot >= 0 && EqualsIgnoringAsciiCase(file + dot, ".exe");
}

void EndProcess(DWORD processId) {
    if (g_terminator) {
        g_terminator(processId);
    } else {
        TerminateProcessById(processId);
    }
}

}  // namespace

void SetProcessTerminator(ProcessTerminator terminator) { g_terminator = terminator; }

int CheckRunningProgram(CPatchDlg* session, const char* name, bool terminateWithoutAsking, bool matchFullPath) {
    if (!session || !name || !FitsPathBuffer(name)) return 0;
    if (!HasExeExtension(name)) return 0;
    DWORD processId = FindProcessByName(name, matchFullPath);
    if (processId == 0) return 0;
    if (terminateWithoutAsking) {
        EndProcess(processId);
        return 2;
    }

    std::string question = std::string("检查到[") + name + "]正在运行，\n如果要继续更新，要关闭此程序，继续吗？";
    if (MessageBoxA(session->hwnd, question.c_str(), kQuestionCaption, MB_YESNO) == IDYES) {
        EndProcess(processId);
        return 2;
    }
    std::string refusal = std::string("程序[") + name + "]未关闭，停止更新！";
    session->SetStatus(refusal.c_str());
    MessageBoxA(session->hwnd, refusal.c_str(), kRefusalCaption, MB_OK);
    return 1;
}

GuardResult CloseClientPrograms(CPatchDlg* session, const char* currentFolder) {
    if (!session) return GuardResult::Clear;
    const bool silent = session->monitorWnd != nullptr;

    // Only the crash reporter of this very client counts, so its entry carries the full path.
    std::string crashReporter = currentFolder ? currentFolder : "";
    if (!EndsWithChar(crashReporter.c_str(), '\\')) crashReporter += '\\';
    crashReporter += "crashsend.exe";

    struct ClientProgram {
        const char* name;
        bool terminateWithoutAsking;
        bool matchFullPath;
        bool lookedUp;
    };
    const ClientProgram programs[] = {
        {"velmora.exe", false, false, true},
        {crashReporter.c_str(), false, true, true},
        {"velresdl.exe", silent, false, true},
        {"autopatch.exe", false, false, true},
        {"bulkdl.exe", true, false, true},
        {"playfront.exe", false, false, !silent},
        {"meshfetch.exe", false, false, true},
        {"RAVNHostApp.exe", silent, false, true},
    };

    for (int pass = 0; pass < kGuardPasses; ++pass) {
        bool terminated = false;
        for (const ClientProgram& program : programs) {
            if (!program.lookedUp) continue;
            int result = CheckRunningProgram(session, program.name, program.terminateWithoutAsking, program.matchFullPath);
            if (result == 1) return GuardResult::Refused;
            if (result == 2) terminated = true;
        }
        // A pass that ended something is followed by another at once: a program may have been
        // restarted by one that was still running.
        if (!terminated) return GuardResult::Clear;
    }
    return GuardResult::StillRunning;
}

DWORD FindProcessByName(const char* name, bool matchFullPath) {
    if (!name || !FitsPathBuffer(name)) return 0;
    AutoCloseHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return 0;

    const char* key = FileNamePart(name);
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
        entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
        if (!EqualsIgnoringAsciiCase(key, FileNamePart(entry.szExeFile))) continue;
        if (!matchFullPath) return entry.th32ProcessID;
        std::string modulePath;
        if (GetMainModulePath(entry.th32ProcessID, &modulePath) && EqualsIgnoringAsciiCase(modulePath.c_str(), name)) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

bool GetMainModulePath(DWORD processId, std::string* path) {
    if (processId == 0 || !path) return false;
#if defined(_WIN64)
    // A 64-bit caller lists a 32-bit program's modules only when asked for them as well.
    const DWORD kinds = TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32;
#else
    const DWORD kinds = TH32CS_SNAPMODULE;
#endif
    HANDLE handle = CreateToolhelp32Snapshot(kinds, processId);
    // The documented answer while the process is still loading modules: try again.
    for (int retry = 0; handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_BAD_LENGTH && retry < 8; ++retry) {
        handle = CreateToolhelp32Snapshot(kinds, processId);
    }
    AutoCloseHandle snapshot(handle);
    if (!snapshot.IsValid()) return false;

    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    if (!Module32First(snapshot.Get(), &module)) return false;
    char bounded[kPathBufferSize];
    module.szExePath[sizeof(module.szExePath) - 1] = '\0';
    if (!CopyBounded(bounded, sizeof(bounded), module.szExePath)) return false;
    *path = bounded;
    return true;
}

void TerminateProcessById(DWORD processId) {
    if (processId == 0) return;
    AutoCloseHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (process.IsValid()) TerminateProcess(process.Get(), 0);
}
