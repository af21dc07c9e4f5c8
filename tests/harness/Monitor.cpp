#include "Monitor.h"

#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/MonitorWindow.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <set>

namespace harness {
namespace {

// How often the wait loop looks for message boxes while the program shows nothing.
constexpr DWORD kBoxPollMs = 20;
// Control id of the message text in a system message box.
constexpr int kMessageBoxTextId = 0xFFFF;

std::string WindowText(HWND hwnd)
{
    if (!hwnd)
        return {};
    // WM_GETTEXT is marshalled across processes; GetWindowText would not ask the owner.
    char buf[4096] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof(buf), reinterpret_cast<LPARAM>(buf),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return {};
    return std::string(buf, std::min<size_t>(got, sizeof(buf) - 1));
}

struct BoxAnswerer {
    std::vector<BoxAnswer> pending;
    std::set<HWND> answered;   // boxes told to close that may not have closed yet

    void Poll(MonitorRun& run)
    {
        for (auto it = answered.begin(); it != answered.end();)
            it = IsWindow(*it) ? std::next(it) : answered.erase(it);
        // Answers for one caption are used in their order: only the first one left is looked at,
        // or a box turning visible between two looks would get the second answer first.
        std::set<std::string> looked;
        for (BoxAnswer& a : pending) {
            if (a.times <= 0 || !looked.insert(a.caption).second)
                continue;
            HWND box = FindWindowA("#32770", a.caption.c_str());
            // Invisible means its WM_INITDIALOG has not run yet, so its text is not set.
            if (!box || !IsWindowVisible(box) || answered.count(box))
                continue;
            run.boxes.push_back({a.caption, WindowText(GetDlgItem(box, kMessageBoxTextId)), a.button});
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(a.button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, a.button)));
            answered.insert(box);
            --a.times;
        }
    }
};

struct OpenWindows {
    DWORD pid;
    MonitorRun* run;
};

BOOL CALLBACK RecordOpenWindow(HWND hwnd, LPARAM lParam)
{
    auto* ow = reinterpret_cast<OpenWindows*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == ow->pid && IsWindowVisible(hwnd)) {
        char cls[64] = {};
        GetClassNameA(hwnd, cls, sizeof(cls));
        BoxSeen seen;
        seen.caption = WindowText(hwnd);
        if (std::string(cls) == "#32770")
            seen.text = WindowText(GetDlgItem(hwnd, kMessageBoxTextId));
        ow->run->boxes.push_back(seen);
    }
    return TRUE;
}

std::string FullPath(const std::string& path)
{
    char buf[MAX_PATH * 2] = {};
    DWORD n = GetFullPathNameA(path.c_str(), sizeof(buf), buf, nullptr);
    if (n == 0 || n >= sizeof(buf))
        return path;
    return buf;
}

}  // namespace

int ButtonFromName(const std::string& name)
{
    static const struct { const char* name; int id; } kButtons[] = {
        {"IDOK", IDOK}, {"IDCANCEL", IDCANCEL}, {"IDABORT", IDABORT}, {"IDRETRY", IDRETRY},
        {"IDIGNORE", IDIGNORE}, {"IDYES", IDYES}, {"IDNO", IDNO},
    };
    for (const auto& b : kButtons)
        if (name == b.name)
            return b.id;
    char* end = nullptr;
    long v = std::strtol(name.c_str(), &end, 10);
    return (!name.empty() && end && *end == '\0' && v > 0) ? static_cast<int>(v) : 0;
}

const char* ButtonName(int button)
{
    switch (button) {
    case IDOK: return "IDOK";
    case IDCANCEL: return "IDCANCEL";
    case IDABORT: return "IDABORT";
    case IDRETRY: return "IDRETRY";
    case IDIGNORE: return "IDIGNORE";
    case IDYES: return "IDYES";
    case IDNO: return "IDNO";
    case 0: return "none";
    default: return "other";
    }
}

// The peaks are the system's own high-water marks, so the last look before the exit has them
// all but for the last few milliseconds. Wine answers only while the process lives.
static void NotePeakMemory(HANDLE process, MonitorRun& run)
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, &memory, sizeof memory))
        return;
    run.peakWorkingSetBytes = std::max<uint64_t>(run.peakWorkingSetBytes, memory.PeakWorkingSetSize);
    run.peakPagefileBytes = std::max<uint64_t>(run.peakPagefileBytes, memory.PeakPagefileUsage);
}

MonitorRun RunWithMonitor(const std::string& exe, const std::string& args, const MonitorOptions& options)
{
    MonitorRun run;
    std::unique_ptr<velsupport::MonitorWindow> monitor;
    if (!options.title.empty()) {
        monitor = std::make_unique<velsupport::MonitorWindow>(options.title);
        if (!monitor->Valid()) {
            run.error = "CreateWindowEx failed: " + std::to_string(monitor->CreationError());
            return run;
        }
        run.monitorWindow = reinterpret_cast<uintptr_t>(monitor->Handle());
    }

    const std::string program = FullPath(exe);
    const std::string workDir = options.workDir.empty() ? velsupport::FolderOf(program) : FullPath(options.workDir);
    velsupport::ChildProcess child;
    const std::string commandLine = options.commandLine.empty() ? "\"" + program + "\" " + args : options.commandLine;
    if (!child.StartCommandLine(program, commandLine, workDir, &run.error))
        return run;
    run.started = true;
    HANDLE process = child.Handle();

    BoxAnswerer answerer;
    answerer.pending = options.answers;
    const ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
    for (;;) {
        velsupport::PumpMessages();
        answerer.Poll(run);
        NotePeakMemory(process, run);
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            run.timedOut = true;
            OpenWindows ow = {child.Id(), &run};
            EnumWindows(RecordOpenWindow, reinterpret_cast<LPARAM>(&ow));
            TerminateProcess(process, 0xDEAD);
            // Its pending sends to the monitor must still be taken off the queue for it to die.
            while (MsgWaitForMultipleObjects(1, &process, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
                velsupport::PumpMessages();
            break;
        }
        const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kBoxPollMs));
        const DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, wait, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            velsupport::PumpMessages();
            break;
        }
        if (r == WAIT_FAILED) {
            run.error = "MsgWaitForMultipleObjects failed: " + std::to_string(GetLastError());
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 5000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    run.exitCode = code;
    NotePeakMemory(process, run);
    if (monitor)
        run.messages = monitor->TakeRecords();
    return run;
}

MonitorRun RunWithMonitor(const std::string& title, const std::string& exe, const std::string& args,
                          const std::vector<BoxAnswer>& answers, unsigned timeoutMs)
{
    MonitorOptions options;
    options.title = title;
    options.answers = answers;
    options.timeoutMs = timeoutMs;
    return RunWithMonitor(exe, args, options);
}

}  // namespace harness
