#include "install/ProgramGuard.h"

#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "base/PathText.h"
#include "base/ScopedWin.h"

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

ProgramState CheckRunningProgram(Reporter& reporter, const char* name, WhenRunning whenRunning, NameMatch match) {
    // No snapshot for a name that can never match.
    if (!name || !FitsPathBuffer(name) || !HasExeExtension(name)) return ProgramState::NotRunning;
    return CheckRunningProgramIn(TakeProcessList(), reporter, name, whenRunning, match);
}

ProgramState CheckRunningProgramIn(const ProcessList& processes, Reporter& reporter, const char* name,
                                   WhenRunning whenRunning, NameMatch match) {
    if (!name || !FitsPathBuffer(name)) return ProgramState::NotRunning;
    if (!HasExeExtension(name)) return ProgramState::NotRunning;
    DWORD processId = FindProcessIn(processes, name, match);
    if (processId == 0) return ProgramState::NotRunning;
    if (whenRunning == WhenRunning::Terminate) {
        EndProcess(processId);
        return ProgramState::Terminated;
    }

    std::string question = std::string("检查到[") + name + "]正在运行，\n如果要继续更新，要关闭此程序，继续吗？";
    if (reporter.Ask(question.c_str(), kQuestionCaption, Question::YesNo)) {
        EndProcess(processId);
        return ProgramState::Terminated;
    }
    std::string refusal = std::string("程序[") + name + "]未关闭，停止更新！";
    reporter.SetStatus(refusal.c_str());
    reporter.Tell(refusal.c_str(), kRefusalCaption);
    return ProgramState::Refused;
}

GuardResult CloseClientPrograms(RunMode mode, const char* currentFolder, Reporter& reporter) {
    const bool silent = mode == RunMode::Silent;
    const WhenRunning askInDialog = silent ? WhenRunning::Terminate : WhenRunning::Ask;

    // Only the crash reporter of this very client counts, so its entry carries the full path.
    std::string crashReporter = currentFolder ? currentFolder : "";
    if (!EndsWithChar(crashReporter.c_str(), '\\')) crashReporter += '\\';
    crashReporter += "crashsend.exe";

    struct ClientProgram {
        const char* name;
        WhenRunning whenRunning;
        NameMatch match;
        bool lookedUp;
    };
    const ClientProgram programs[] = {
        {"velmora.exe", WhenRunning::Ask, NameMatch::FileName, true},
        {crashReporter.c_str(), WhenRunning::Ask, NameMatch::FullPath, true},
        {"velresdl.exe", askInDialog, NameMatch::FileName, true},
        {"autopatch.exe", WhenRunning::Ask, NameMatch::FileName, true},
        {"bulkdl.exe", WhenRunning::Terminate, NameMatch::FileName, true},
        {"playfront.exe", WhenRunning::Ask, NameMatch::FileName, !silent},
        {"meshfetch.exe", WhenRunning::Ask, NameMatch::FileName, true},
        {"RAVNHostApp.exe", askInDialog, NameMatch::FileName, true},
    };

    for (int pass = 0; pass < kGuardPasses; ++pass) {
        // One snapshot serves the whole pass: a program that starts meanwhile, or that one
        // ended here restarts, is seen by the next pass, which follows any pass that ended one.
        const ProcessList processes = TakeProcessList();
        bool terminated = false;
        for (const ClientProgram& program : programs) {
            if (!program.lookedUp) continue;
            ProgramState state =
                CheckRunningProgramIn(processes, reporter, program.name, program.whenRunning, program.match);
            if (state == ProgramState::Refused) return GuardResult::Refused;
            if (state == ProgramState::Terminated) terminated = true;
        }
        // A pass that ended something is followed by another at once: a program may have been
        // restarted by one that was still running.
        if (!terminated) return GuardResult::Clear;
    }
    return GuardResult::StillRunning;
}

Result GuardClientPrograms(RunMode mode, Reporter& reporter) {
    char currentFolder[kPathBufferSize] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(currentFolder), currentFolder);
    if (n == 0 || n >= sizeof(currentFolder)) currentFolder[0] = '\0';
    char longFolder[kPathBufferSize];
    n = GetLongPathNameA(currentFolder, longFolder, sizeof(longFolder));
    if (n > 0 && n < sizeof(longFolder)) CopyBounded(currentFolder, sizeof(currentFolder), longFolder);

    switch (CloseClientPrograms(mode, currentFolder, reporter)) {
    case GuardResult::Clear:
        return Result::Ok;
    case GuardResult::Refused:
        return Result::Reported;
    case GuardResult::StillRunning:
        break;
    }
    reporter.SetStatus("客户端有程序正在运行，且无法关闭，更新失败！");
    return Result::Reported;
}

ProcessList TakeProcessList() {
    ProcessList processes;
    AutoCloseHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return processes;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
        entry.szExeFile[sizeof(entry.szExeFile) - 1] = '\0';
        processes.push_back(RunningProcess{entry.th32ProcessID, entry.szExeFile});
    }
    return processes;
}

DWORD FindProcessIn(const ProcessList& processes, const char* name, NameMatch match) {
    if (!name || !FitsPathBuffer(name)) return 0;
    const char* key = FileNamePart(name);
    for (const RunningProcess& process : processes) {
        if (!EqualsIgnoringAsciiCase(key, FileNamePart(process.image.c_str()))) continue;
        if (match == NameMatch::FileName) return process.id;
        std::string modulePath;
        if (GetMainModulePath(process.id, &modulePath) && EqualsIgnoringAsciiCase(modulePath.c_str(), name)) {
            return process.id;
        }
    }
    return 0;
}

DWORD FindProcessByName(const char* name, NameMatch match) {
    if (!name || !FitsPathBuffer(name)) return 0;
    return FindProcessIn(TakeProcessList(), name, match);
}

namespace {

using QueryFullProcessImageNameFn = BOOL(WINAPI*)(HANDLE process, DWORD flags, LPSTR name, PDWORD size);

// QueryFullProcessImageNameA came with Vista; the program still starts where it is missing.
QueryFullProcessImageNameFn FindQueryFullProcessImageName() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return nullptr;
    // Through void(*)(): the generic function type that may be cast to any other.
    return reinterpret_cast<QueryFullProcessImageNameFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "QueryFullProcessImageNameA")));
}

bool QueryImagePath(QueryFullProcessImageNameFn query, DWORD processId, std::string* path) {
    // The limited right is all the query needs, and it is granted for more processes; systems
    // older than Vista do not know it, but they lack the query as well.
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!handle) handle = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    AutoCloseHandle process(handle);
    if (!process.IsValid()) return false;
    char image[kPathBufferSize];
    DWORD size = sizeof(image);
    if (!query(process.Get(), 0, image, &size) || size >= sizeof(image)) return false;
    image[size] = '\0';
    *path = image;
    return true;
}

// The first module of a module snapshot. A 32-bit process cannot list the modules of a 64-bit
// one this way (the snapshot fails), so this serves only where the image query is missing.
bool ModuleSnapshotPath(DWORD processId, std::string* path) {
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

}  // namespace

bool GetMainModulePath(DWORD processId, std::string* path) {
    if (processId == 0 || !path) return false;
    static const QueryFullProcessImageNameFn query = FindQueryFullProcessImageName();
    if (query) return QueryImagePath(query, processId, path);
    return ModuleSnapshotPath(processId, path);
}

bool TerminateProcessById(DWORD processId) {
    if (processId == 0) return false;
    AutoCloseHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (!process.IsValid()) {
        // Allowed to end it but not to wait for it: the next pass tells whether it went.
        AutoCloseHandle endOnly(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
        if (endOnly.IsValid()) TerminateProcess(endOnly.Get(), 0);
        return false;
    }
    if (!TerminateProcess(process.Get(), 0)) return false;
    // TerminateProcess only starts the ending: until the process is gone its image file stays
    // locked and it is still in every snapshot. Bounded, so a process stuck in a driver cannot
    // hold the installation; the next pass then finds it again.
    return WaitForSingleObject(process.Get(), kTerminateWaitMs) == WAIT_OBJECT_0;
}
