// The player's dialog.
#pragma once

#include <windows.h>

#include "install/InstallRun.h"
#include "install/RunLock.h"
#include "ui/DialogReporter.h"

// One dialog run: the run state and the reporter that shows it.
struct DialogSession {
    RunState run;
    DialogReporter reporter{run};
    // The client folder shown is locked against other installers while the dialog is open.
    RunLock lock;
};

// Opens the modal main dialog and returns when it has been closed.
void ShowMainDialog(HINSTANCE instance);

// The dialog procedure; the creation parameter is the DialogSession.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The Start button: extracts and verifies the package on the dialog thread, then hands the
// installation to one worker thread.
void StartInstall(DialogSession& session);

// The browse button: lets the player pick another client folder and checks it.
void ChangeClientFolder(DialogSession& session);
