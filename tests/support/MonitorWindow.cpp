#include "support/MonitorWindow.h"

namespace velsupport {
namespace {

constexpr char kClassName[] = "VelSupportMonitorWindow";

bool RegisterMonitorClass(WNDPROC proc)
{
    static bool registered = false;
    if (registered)
        return true;
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    registered = RegisterClassExA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return registered;
}

}  // namespace

MonitorWindow::MonitorWindow(const std::string& title, Kind kind)
{
    if (!RegisterMonitorClass(&MonitorWindow::Proc)) {
        error_ = GetLastError();
        return;
    }
    // Hidden is enough: FindWindow finds hidden top-level windows too.
    window_ = CreateWindowExA(0, kClassName, title.c_str(), kind == Kind::TopLevel ? WS_OVERLAPPEDWINDOW : 0, 0, 0,
                              300, 200, kind == Kind::MessageOnly ? HWND_MESSAGE : nullptr, nullptr,
                              GetModuleHandleA(nullptr), this);
    if (!window_)
        error_ = GetLastError();
}

MonitorWindow::~MonitorWindow()
{
    if (window_) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
        DestroyWindow(window_);
    }
}

std::vector<CopyDataRecord> MonitorWindow::TakeRecords()
{
    std::vector<CopyDataRecord> taken;
    taken.swap(records_);
    return taken;
}

HWND MonitorWindow::AddChild(const char* className, int id, DWORD style)
{
    return CreateWindowA(className, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 100, 20, window_,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
}

LRESULT CALLBACK MonitorWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_COPYDATA) {
        auto* self = reinterpret_cast<MonitorWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (self && cds) {
            CopyDataRecord record;
            record.tag = static_cast<int32_t>(wParam);
            record.data = static_cast<uint32_t>(cds->dwData);
            record.cbData = cds->cbData;
            if (cds->lpData && cds->cbData)
                record.bytes.assign(static_cast<const char*>(cds->lpData), cds->cbData);
            self->records_.push_back(record);
        }
        return TRUE;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace velsupport
