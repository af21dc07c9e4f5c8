#include "DialogDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace uidriver {
namespace {

// Answer time allowed to one synchronous message; the dialog thread handles the button
// command itself, package extraction included, before a click returns.
constexpr DWORD kSendTimeoutMs = 30000;
// Posted messages pass through the dialog's queue in order: each flush round posts a marker
// (an edit-control text limit nobody else sets) and waits until the edit control has it.
constexpr LPARAM kMarkerBase = 200000;
// Alt+F4 posts SC_CLOSE, whose WM_CLOSE posts IDCANCEL: three rounds see the end of that chain.
constexpr int kFlushRounds = 3;
constexpr DWORD kFlushRoundTimeoutMs = 10000;

bool SendWithTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result)
{
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs,
                               result ? result : &ignored) != 0;
}

struct WindowSearch {
    DWORD processId;
    const char* className;
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof(cls));
    if (search->className && lstrcmpA(cls, search->className) != 0)
        return TRUE;
    if (WindowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}

void PostKey(HWND window, UINT down, UINT up, WPARAM key, LPARAM flags)
{
    const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC)) << 16;
    PostMessageA(window, down, key, 1 | scan | flags);
    PostMessageA(window, up, key, 1 | scan | flags | (LPARAM{1} << 30) | (LPARAM{1} << 31));
}

}  // namespace

HWND FindProcessWindow(DWORD processId, const char* className, const char* caption)
{
    WindowSearch search = {processId, className, caption, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitUntil(const velsupport::ChildProcess& process, DWORD timeoutMs, const std::function<bool()>& done)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !process.Running())
            return false;
        // Waiting on the process both paces the poll and ends it as soon as the program dies.
        WaitForSingleObject(process.Handle(), static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kPollMs)));
    }
}

std::string WindowText(HWND window)
{
    if (!window)
        return {};
    char buffer[4096] = {};
    DWORD_PTR got = 0;
    if (!SendWithTimeout(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer), &got))
        return {};
    return std::string(buffer, std::min<size_t>(got, sizeof(buffer) - 1));
}

bool PlayerDialog::Find(DWORD timeoutMs)
{
    // Another installer's dialog carries the same caption: only this process's window counts.
    return WaitUntil(process_, timeoutMs, [this] {
        dialog_ = FindProcessWindow(process_.Id(), "#32770", kDialogTitle);
        return dialog_ != nullptr;
    });
}

std::string PlayerDialog::Text(int id) const
{
    return WindowText(Control(id));
}

bool PlayerDialog::Enabled(int id) const
{
    HWND control = Control(id);
    return control && IsWindowEnabled(control);
}

bool PlayerDialog::WaitForText(int id, const std::string& text, DWORD timeoutMs) const
{
    return WaitUntil(process_, timeoutMs, [&] { return Text(id) == text; });
}

bool PlayerDialog::WaitForEnabled(int id, bool enabled, DWORD timeoutMs) const
{
    return WaitUntil(process_, timeoutMs, [&] { return Enabled(id) == enabled; });
}

int PlayerDialog::ProgressPosition() const
{
    DWORD_PTR position = 0;
    if (!SendWithTimeout(Control(kProgressBar), PBM_GETPOS, 0, 0, &position))
        return -1;
    return static_cast<int>(position);
}

int PlayerDialog::ProgressUpperLimit() const
{
    DWORD_PTR limit = 0;
    if (!SendWithTimeout(Control(kProgressBar), PBM_GETRANGE, FALSE, 0, &limit))
        return -1;
    return static_cast<int>(limit);
}

bool PlayerDialog::Click(int id) const
{
    HWND button = Control(id);
    return button && SendWithTimeout(button, BM_CLICK, 0, 0, nullptr);
}

void PlayerDialog::PostCommand(int id) const
{
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

void PlayerDialog::PressEscape() const
{
    PostKey(dialog_, WM_KEYDOWN, WM_KEYUP, VK_ESCAPE, 0);
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof(gui);
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &gui) && gui.hwndFocus &&
        gui.hwndFocus != dialog_)
        PostKey(gui.hwndFocus, WM_KEYDOWN, WM_KEYUP, VK_ESCAPE, 0);
    PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

void PlayerDialog::RequestClose() const
{
    PostKey(dialog_, WM_SYSKEYDOWN, WM_SYSKEYUP, VK_F4, LPARAM{1} << 29);  // context code: Alt held
    PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(dialog_, WM_CLOSE, 0, 0);
}

bool PlayerDialog::Flush() const
{
    static LPARAM marker = kMarkerBase;
    HWND edit = Control(kClientFolder);
    if (!edit)
        return false;
    for (int round = 0; round < kFlushRounds; ++round) {
        const LPARAM expected = ++marker;
        if (!PostMessageA(edit, EM_SETLIMITTEXT, static_cast<WPARAM>(expected), 0))
            return false;
        const bool seen = WaitUntil(process_, kFlushRoundTimeoutMs, [&] {
            DWORD_PTR limit = 0;
            return SendWithTimeout(edit, EM_GETLIMITTEXT, 0, 0, &limit) && static_cast<LPARAM>(limit) == expected;
        });
        if (!seen)
            return false;
    }
    return Alive();
}

}  // namespace uidriver
