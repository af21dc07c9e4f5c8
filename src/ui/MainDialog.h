// The player's dialog.
#pragma once

#include <windows.h>

class CPatchDlg;

// Opens the modal main dialog for the session and returns when it has been closed.
void ShowMainDialog(CPatchDlg& session, HINSTANCE instance);
