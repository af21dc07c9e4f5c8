#include "ui/DialogReporter.h"

#include <commctrl.h>

#include "base/InstallLog.h"
#include "client/ClientCheck.h"
#include "client/ClientVersion.h"
#include "report/LauncherReporter.h"
#include "report/MonitorProtocol.h"
#include "ui/DialogControls.h"
#include "ui/DialogIds.h"

// The worker thread replaces the status line; only the dialog thread touches the control, when
// the posted WM_PATCH_STATUS arrives.
void DialogReporter::SetStatus(const char* text) {
    status_.Set(text);
    if (dialog_) PostMessageA(dialog_, WM_PATCH_STATUS, 0, 0);
    InstallLog::WriteText(text);
}

std::string DialogReporter::StatusText() const { return status_.Get(); }

void DialogReporter::ReportResult(Result result) {
    const char* message = ResultMessage(result);
    if (message) SetStatus(message);
}

void DialogReporter::SetProgressRange(int32_t lower, int32_t upper) {
    progressRange_ = upper - lower;
    SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
}

// The bar shows positions as they are; the phases only shape a launcher's percentages.
void DialogReporter::SetProgress(int32_t position, ProgressPhase) {
    SendDlgItemMessageA(dialog_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void DialogReporter::RefreshStatus() { PostMessageA(dialog_, WM_PATCH_STATUS, 0, 0); }

void DialogReporter::ShowVersionText(const std::string& text) { SetDlgItemTextA(dialog_, IDC_VERSION, text.c_str()); }

void DialogReporter::ReportInstallComplete() {
    SetStatus("更新包安装完毕，谢谢您支持我们的游戏！");
    uint32_t version = 0;
    if (ReadClientVersion(&version) != VersionRead::Found) return;
    const PackageTrailer& trailer = run_.package.trailer;
    ShowVersionText(FormatVersionMessage(version, trailer.fromVersion, trailer.toVersion));
    PostMessageA(dialog_, WM_PATCH_STATUS, 0, 0);
}

void DialogReporter::InstallFinished() {
    EnableControl(dialog_, IDC_BROWSE, true);
    EnableControl(dialog_, IDC_CLOSE, true);
}

bool DialogReporter::Ask(const char* text, const char* caption, Question question) {
    return AskWithMessageBox(dialog_, text, caption, question);
}

void DialogReporter::Tell(const char* text, const char* caption) { MessageBoxA(dialog_, text, caption, MB_OK); }

void DialogReporter::ShowStatus() {
    std::string text = StatusText();
    SetDlgItemTextA(dialog_, IDC_STATUS, text.c_str());
}
