#include "report/LauncherReporter.h"

#include "base/InstallLog.h"
#include "report/MonitorProtocol.h"
#include "report/MonitorSend.h"
#include "report/Progress.h"

namespace {

HWND FindTopLevelWindow(const char* title) {
    HWND found = FindWindowA(nullptr, title);
    return (found && IsWindow(found)) ? found : nullptr;
}

}  // namespace

HWND FindMonitorWindow(const char* title) {
    HWND monitor = FindTopLevelWindow(title);
    if (monitor) return monitor;
    InstallLog::Write("没有找到窗口%s，使用默认标题栏 %s", title, DEFAULT_MONITOR_TITLE);
    monitor = FindTopLevelWindow(DEFAULT_MONITOR_TITLE);
    if (monitor) return monitor;
    InstallLog::Write("没有找到窗口，给窗口赋值01:%d", 1);
    return reinterpret_cast<HWND>(static_cast<intptr_t>(1));
}

LauncherReporter::LauncherReporter(const char* monitorTitle) : monitor_(nullptr) {
    if (monitorTitle[0] == '\0') {
        InstallLog::Write("没有标题栏，使用默认标题栏 %s", DEFAULT_MONITOR_TITLE);
        monitorTitle = DEFAULT_MONITOR_TITLE;
    }
    monitor_ = FindMonitorWindow(monitorTitle);
}

void LauncherReporter::LogSilentStart(const std::string& clientFolder) const {
    InstallLog::Write("初始化静默安装：HWND %d, DIR %s", HandleNumber(monitor_), clientFolder.c_str());
}

void LauncherReporter::SetStatus(const char* text) {
    status_.Set(text);
    InstallLog::WriteText(text);
}

std::string LauncherReporter::StatusText() const { return status_.Get(); }

void LauncherReporter::ReportResult(Result result) {
    const char* message = ResultMessage(result);
    if (!message) return;
    SetStatus(message);
    SendResult(MonitorNumber(result));
}

void LauncherReporter::ReportDriverFailure() { SendResult(MONITOR_DRIVER_FAILURE); }

void LauncherReporter::SendResult(int32_t number) {
    InstallLog::Write("发送错误消息:%d", number);
    std::string text = status_.Get();
    SendMonitorCopyData(monitor_, MONITOR_RESULT, static_cast<uint32_t>(number), text.c_str(),
                        static_cast<DWORD>(text.size() + 1));
}

void LauncherReporter::SetProgressRange(int32_t lower, int32_t upper) { progressRange_ = upper - lower; }

void LauncherReporter::SetProgress(int32_t position, ProgressPhase phase) {
    int32_t percent = ProgressPercent(position, progressRange_, phase);
    // Thousands of entries map onto 101 percentages. A repeat tells the launcher nothing, and
    // every send waits until the launcher's window has handled it, so repeats are not sent.
    if (percent == lastSentPercent_) return;
    lastSentPercent_ = percent;
    SendMonitorCopyData(monitor_, MONITOR_PROGRESS, static_cast<uint32_t>(percent), nullptr, 0);
}

void LauncherReporter::ReportInstallComplete() {
    InstallLog::Write("上报完成安装进度：HWND %d", HandleNumber(monitor_));
    SendMonitorCopyData(monitor_, MONITOR_PROGRESS, 100, nullptr, 0);
    SendMonitorCopyData(monitor_, MONITOR_PROGRESS, MONITOR_PROGRESS_DONE, nullptr, 0);
}

bool AskWithMessageBox(HWND owner, const char* text, const char* caption, Question question) {
    if (question == Question::YesNo) return MessageBoxA(owner, text, caption, MB_YESNO) == IDYES;
    return MessageBoxA(owner, text, caption, MB_RETRYCANCEL) == IDRETRY;
}

// Shown without an owner: a silent run has no window of its own.
bool LauncherReporter::Ask(const char* text, const char* caption, Question question) {
    return AskWithMessageBox(nullptr, text, caption, question);
}

void LauncherReporter::Tell(const char* text, const char* caption) { MessageBoxA(nullptr, text, caption, MB_OK); }
