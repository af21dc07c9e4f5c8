// How the stages of an installation speak to whoever runs them: the launcher's monitor window in
// silent mode, the player's dialog otherwise. The stages never know which one they talk to.
#pragma once

#include <cstdint>
#include <string>

#include "base/Result.h"

// Which percentage formula a progress position follows (silent mode).
enum class ProgressPhase {
    Single,      // one phase: position * 100 / range
    Building,    // first of two phases, copying the client archive: 0..10
    Installing,  // second of two phases, the patch's entries: 10..100
};

// The buttons of a question put to the person at the machine.
enum class Question {
    YesNo,        // true = Yes
    RetryCancel,  // true = Retry
};

class Reporter {
public:
    virtual ~Reporter() = default;

    // Replaces the one status line and logs it verbatim (it may name folders holding '%').
    virtual void SetStatus(const char* text) = 0;
    // A copy of the status line; safe while another thread replaces it.
    virtual std::string StatusText() const = 0;
    // A failure from the code table: its message becomes the status line and, for a launcher,
    // the code's number goes to the monitor window with it. Ok and other codes >= 0 do nothing.
    virtual void ReportResult(Result result) = 0;
    // A failure the install driver worded itself (the status line already holds it): a launcher
    // receives the driver-failure number with the status line.
    virtual void ReportDriverFailure() = 0;

    // The width of the progress scale, upper - lower.
    virtual void SetProgressRange(int32_t lower, int32_t upper) = 0;
    virtual void SetProgress(int32_t position, ProgressPhase phase) = 0;
    // Asks the dialog to show the current status line again; nothing for a launcher.
    virtual void RefreshStatus() = 0;

    // The version line built by the client check.
    virtual void ShowVersionText(const std::string& text) = 0;
    // The installation went through: the completion pair, or the closing status and version line.
    virtual void ReportInstallComplete() = 0;
    // The installation is over, whatever its outcome: the dialog gives the player Close again.
    virtual void InstallFinished() = 0;

    // A message box owned by the dialog, or ownerless in silent mode: only a person can free
    // disk space or decide to close a program.
    virtual bool Ask(const char* text, const char* caption, Question question) = 0;
    virtual void Tell(const char* text, const char* caption) = 0;
};
