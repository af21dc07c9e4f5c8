// A launcher stand-in for tests (Windows only): a window of this thread that records every
// WM_COPYDATA it receives (tag = wParam, dwData, cbData and the bytes), found by its title with
// FindWindow like the game's launcher window, or message-only for code that is handed the
// window directly. Child controls can be added to play a dialog's controls. Messages are
// handled while this thread pumps them (SendMessage from this thread, PumpMessages, a wait
// that dispatches).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velsupport {

// One WM_COPYDATA as the window received it.
struct CopyDataRecord {
    int32_t tag = 0;      // wParam, which carries a tag instead of a window handle
    uint32_t data = 0;    // dwData
    uint32_t cbData = 0;
    std::string bytes;    // the cbData bytes of lpData, terminator included when sent
};

class MonitorWindow {
public:
    enum class Kind {
        TopLevel,     // hidden top-level window: FindWindow finds it by title
        MessageOnly,  // HWND_MESSAGE child: invisible to FindWindow and EnumWindows
    };

    explicit MonitorWindow(const std::string& title = std::string(), Kind kind = Kind::TopLevel);
    ~MonitorWindow();
    MonitorWindow(const MonitorWindow&) = delete;
    MonitorWindow& operator=(const MonitorWindow&) = delete;

    bool Valid() const { return window_ != nullptr; }
    HWND Handle() const { return window_; }
    // GetLastError() of a failed creation, 0 otherwise.
    DWORD CreationError() const { return error_; }

    const std::vector<CopyDataRecord>& Records() const { return records_; }
    // The records so far, which the window then forgets.
    std::vector<CopyDataRecord> TakeRecords();
    void Clear() { records_.clear(); }

    // A visible child window of class `className` with control id `id` (100 x 20 pixels).
    HWND AddChild(const char* className, int id, DWORD style = 0);

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    DWORD error_ = 0;
    std::vector<CopyDataRecord> records_;
};

// Dispatches every message waiting in this thread's queue.
void PumpMessages();

}  // namespace velsupport
