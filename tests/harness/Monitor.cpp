#include "Monitor.h"

#include "TestFiles.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>

namespace harness {
namespace {

// How often the wait loop looks for message boxes while the program shows nothing.
constexpr DWORD kBoxPollMs = 20;
// Control id of the message text in a system message box.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr char kMonitorClass[] = "VelHarnessMonitor";

struct Handle {
    HANDLE h = nullptr;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { if (h) CloseHandle(h); }
};

struct Window {
    HWND h = nullptr;
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() { if (h) DestroyWindow(h); }
};

LRESULT CALLBACK MonitorProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_COPYDATA) {
        auto* run = reinterpret_cast<MonitorRun*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (run && cds) {
            CopyDataRecord rec;
            rec.tag = static_cast<int32_t>(wParam);
            rec.data = static_cast<uint32_t>(cds->dwData);
            rec.cbData = cds->cbData;
            if (cds->lpData && cds->cbData)
                rec.bytes.assign(static_cast<const char*>(cds->lpData), cds->cbData);
            run->messages.push_back(rec);
        }
        return TRUE;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool RegisterMonitorClass()
{
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = MonitorProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kMonitorClass;
    registered = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

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
        for (BoxAnswer& a : pending) {
            if (a.times <= 0)
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

MonitorRun RunWithMonitor(const std::string& exe, const std::string& args, const MonitorOptions& options)
{
    MonitorRun run;
    Window monitor;
    if (!options.title.empty()) {
        if (!RegisterMonitorClass()) {
            run.error = "RegisterClassEx failed";
            return run;
        }
        // Hidden is enough: FindWindow finds hidden top-level windows too.
        monitor.h = CreateWindowExA(0, kMonitorClass, options.title.c_str(), WS_OVERLAPPEDWINDOW,
                                    CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr, nullptr,
                                    GetModuleHandleA(nullptr), nullptr);
        if (!monitor.h) {
            run.error = "CreateWindowEx failed: " + std::to_string(GetLastError());
            return run;
        }
        SetWindowLongPtrA(monitor.h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&run));
        run.monitorWindow = reinterpret_cast<uintptr_t>(monitor.h);
    }

    const std::string program = FullPath(exe);
    std::string workDir = options.workDir.empty() ? FolderOf(program) : FullPath(options.workDir);
    std::string cmdline = "\"" + program + "\" " + args;
    std::vector<char> cmdbuf(cmdline.begin(), cmdline.end());
    cmdbuf.push_back('\0');

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(program.c_str(), cmdbuf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi)) {
        run.error = "CreateProcess " + program + " failed: " + std::to_string(GetLastError());
        if (monitor.h)
            SetWindowLongPtrA(monitor.h, GWLP_USERDATA, 0);
        return run;
    }
    run.started = true;
    Handle process(pi.hProcess);
    Handle thread(pi.hThread);

    BoxAnswerer answerer;
    answerer.pending = options.answers;
    const ULONGLONG deadline = GetTickCount64() + options.timeoutMs;
    for (;;) {
        PumpMessages();
        answerer.Poll(run);
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            run.timedOut = true;
            OpenWindows ow = {pi.dwProcessId, &run};
            EnumWindows(RecordOpenWindow, reinterpret_cast<LPARAM>(&ow));
            TerminateProcess(process.h, 0xDEAD);
            // Its pending sends to the monitor must still be taken off the queue for it to die.
            while (MsgWaitForMultipleObjects(1, &process.h, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
                PumpMessages();
            break;
        }
        const DWORD wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kBoxPollMs));
        const DWORD r = MsgWaitForMultipleObjects(1, &process.h, FALSE, wait, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            PumpMessages();
            break;
        }
        if (r == WAIT_FAILED) {
            run.error = "MsgWaitForMultipleObjects failed: " + std::to_string(GetLastError());
            TerminateProcess(process.h, 0xDEAD);
            WaitForSingleObject(process.h, 5000);
            break;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.h, &code);
    run.exitCode = code;
    if (monitor.h)
        SetWindowLongPtrA(monitor.h, GWLP_USERDATA, 0);
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
