// Reporting to a launcher in silent mode: WM_COPYDATA messages to its monitor window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "base/Reporter.h"
#include "report/StatusLine.h"

class LauncherReporter : public Reporter {
public:
    // `monitor` may be the handle value 1, which names no window: messages to it are lost.
    explicit LauncherReporter(HWND monitor) : monitor_(monitor) {}
    // The launcher whose monitor window has this title (empty: the default title), looked up
    // as FindMonitorWindow does; the lookup is logged.
    explicit LauncherReporter(const char* monitorTitle);

    // Logs the start of the silent run: the monitor handle and the client folder.
    void LogSilentStart(const std::string& clientFolder) const;

    void SetStatus(const char* text) override;
    std::string StatusText() const override;
    void ReportResult(Result result) override;
    void ReportDriverFailure() override;
    void SetProgressRange(int32_t lower, int32_t upper) override;
    void SetProgress(int32_t position, ProgressPhase phase) override;
    void RefreshStatus() override {}
    void ShowVersionText(const std::string&) override {}
    void ReportInstallComplete() override;
    void InstallFinished() override {}
    bool Ask(const char* text, const char* caption, Question question) override;
    void Tell(const char* text, const char* caption) override;

    int32_t ProgressRange() const { return progressRange_; }

private:
    // Logs the number and sends it with the status line and its terminator.
    void SendResult(int32_t number);

    HWND monitor_;
    StatusLine status_;
    int32_t progressRange_ = 0;
    int32_t lastSentPercent_ = INT32_MIN;  // none sent yet
};

// Finds the monitor window by title, falling back to the default title and then to the handle
// value 1, which names no window (messages to it are lost).
HWND FindMonitorWindow(const char* title);

// A message box owned by `owner` (none when null) with the buttons of the question.
bool AskWithMessageBox(HWND owner, const char* text, const char* caption, Question question);

// The monitor handle as the log shows it: a decimal number.
inline int HandleNumber(HWND handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }
