// Status text, result codes and progress: to the dialog's controls, or to the monitor window.
#include <windows.h>
#include <commctrl.h>

#include "app/PatchDlg.h"
#include "report/InstallLog.h"
#include "report/MonitorProtocol.h"
#include "report/MonitorSend.h"
#include "report/ResultCodes.h"
#include "ui/DialogIds.h"

void CPatchDlg::SetStatus(const char* text) {
    {
        CriticalSectionLock lock(statusLock);
        statusText = text;
    }
    if (!monitorWnd && hwnd) PostMessageA(hwnd, WM_PATCH_STATUS, 0, 0);
    InstallLog::WriteText(text);
}

std::string CPatchDlg::StatusText() const {
    CriticalSectionLock lock(statusLock);
    return statusText;
}

void CPatchDlg::ShowStatus() {
    std::string text = StatusText();
    SetDlgItemTextA(hwnd, IDC_STATUS, text.c_str());
}

void CPatchDlg::ReportResult(int32_t code) {
    const char* message = ResultMessage(code);
    if (!message) return;
    SetStatus(message);
    SendResultToMonitor(MonitorNumber(code));
}

void CPatchDlg::SendResultToMonitor(int32_t number) {
    if (!monitorWnd) return;
    InstallLog::Write("发送错误消息:%d", number);
    std::string text = StatusText();
    SendMonitorCopyData(monitorWnd, MONITOR_RESULT, static_cast<uint32_t>(number), text.c_str(),
                 static_cast<DWORD>(text.size() + 1));
}

void CPatchDlg::SetProgressRange(int32_t lower, int32_t upper) {
    progressRange = upper - lower;
    if (monitorWnd) return;
    SendDlgItemMessageA(hwnd, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

void CPatchDlg::SetProgress(int32_t position, bool phased, bool building) {
    if (!monitorWnd) {
        SendDlgItemMessageA(hwnd, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        return;
    }
    int32_t percent = ProgressPercent(position, progressRange, phased, building);
    // Thousands of entries map onto 101 percentages. A repeat tells the launcher nothing, and
    // every send waits until the launcher's window has handled it, so repeats are not sent.
    if (percent == lastSentPercent_) return;
    lastSentPercent_ = percent;
    SendMonitorCopyData(monitorWnd, MONITOR_PROGRESS, static_cast<uint32_t>(percent), nullptr, 0);
}

void CPatchDlg::RestoreButtons() {
    if (monitorWnd) return;
    EnableWindow(GetDlgItem(hwnd, IDC_BROWSE), TRUE);
    EnableWindow(GetDlgItem(hwnd, IDC_CLOSE), TRUE);
}
