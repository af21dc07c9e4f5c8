// Reporting to the player's dialog: the status line, the progress bar, the version line, the
// buttons, and message boxes owned by the dialog.
#pragma once

#include <windows.h>

#include "base/Reporter.h"
#include "install/InstallRun.h"
#include "report/StatusLine.h"

class DialogReporter : public Reporter {
public:
    // `run` supplies the package's versions for the version line after the installation.
    explicit DialogReporter(const RunState& run, HWND dialog = nullptr) : dialog_(dialog), run_(run) {}
    // The dialog once it exists; before that, status lines are only kept.
    void AttachDialog(HWND dialog) { dialog_ = dialog; }
    HWND Dialog() const { return dialog_; }

    void SetStatus(const char* text) override;
    std::string StatusText() const override;
    void ReportResult(Result result) override;
    void ReportDriverFailure() override {}
    void SetProgressRange(int32_t lower, int32_t upper) override;
    void SetProgress(int32_t position, ProgressPhase phase) override;
    void RefreshStatus() override;
    void ShowVersionText(const std::string& text) override;
    void ReportInstallComplete() override;
    void InstallFinished() override;
    bool Ask(const char* text, const char* caption, Question question) override;
    void Tell(const char* text, const char* caption) override;

    // On the dialog thread, for WM_PATCH_STATUS: shows the status line in its control.
    void ShowStatus();
    int32_t ProgressRange() const { return progressRange_; }

private:
    HWND dialog_;
    const RunState& run_;
    StatusLine status_;
    int32_t progressRange_ = 0;
};
