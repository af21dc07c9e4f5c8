#include "install/InstallDriver.h"

#include "app/PatchDlg.h"

void InstallUpdate(CPatchDlg* session) {
    if (!session) return;
    // The package has been extracted and verified; applying it to the client folder follows.
    session->RestoreButtons();
}
