// The player's dialog.
#pragma once

#include <windows.h>

class CPatchDlg;

// Opens the modal main dialog for the session and returns when it has been closed.
void ShowMainDialog(CPatchDlg& session, HINSTANCE instance);

// The dialog procedure; the creation parameter is the session.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The Start button: extracts and verifies the package on the dialog thread, then hands the
// installation to one worker thread.
void StartInstall(CPatchDlg* session);
