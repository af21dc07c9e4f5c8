// Drives the installer's dialog from another process the way a player does: finds it by its
// caption, reads and clicks its controls, presses keys, and waits for states with bounded polls.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "support/ChildProcess.h"

namespace uidriver {

constexpr char kDialogTitle[] = "Velmora客户端更新包";

constexpr int kStartButton = 1;
constexpr int kClientFolder = 1001;
constexpr int kBrowseButton = 1003;
constexpr int kCloseButton = 1004;
constexpr int kVersionLine = 1006;
constexpr int kNotice = 1007;
constexpr int kStatusLine = 1008;
constexpr int kProgressBar = 1011;

// Poll step of every wait: short enough to notice a state soon after it is reached.
constexpr DWORD kPollMs = 20;

// The one visible top-level window of `processId` with this class and caption; null when none.
HWND FindProcessWindow(DWORD processId, const char* className, const char* caption);

// Waits, while `process` runs, until `done` holds; false on timeout or when the program ended.
bool WaitUntil(const velsupport::ChildProcess& process, DWORD timeoutMs, const std::function<bool()>& done);

// The text of any window, asked from its owner (WM_GETTEXT is marshalled across processes).
std::string WindowText(HWND window);

// The installer's dialog, seen from outside.
class PlayerDialog {
public:
    explicit PlayerDialog(const velsupport::ChildProcess& process) : process_(process) {}

    // Waits until the dialog is shown; false when it did not appear within timeoutMs.
    bool Find(DWORD timeoutMs);
    HWND Window() const { return dialog_; }
    bool Alive() const { return dialog_ && IsWindow(dialog_); }

    std::string Text(int id) const;
    bool Enabled(int id) const;
    bool WaitForText(int id, const std::string& text, DWORD timeoutMs) const;
    bool WaitForEnabled(int id, bool enabled, DWORD timeoutMs) const;
    int ProgressPosition() const;
    int ProgressUpperLimit() const;

    // A mouse click on a button; returns once the dialog has handled it (the handler included).
    bool Click(int id) const;
    // The command a button or the Enter key sends, posted: it does not go through the button.
    void PostCommand(int id) const;
    // Escape as a key press, to the dialog and to its focused control, and as the IDCANCEL command.
    void PressEscape() const;
    // Alt+F4, the system menu's close command and WM_CLOSE.
    void RequestClose() const;
    // Returns once everything posted to the dialog before (and what handling it posted in turn)
    // has been handled; false when the dialog went away or stopped answering.
    bool Flush() const;

private:
    HWND Control(int id) const { return GetDlgItem(dialog_, id); }

    const velsupport::ChildProcess& process_;
    HWND dialog_ = nullptr;
};

}  // namespace uidriver
