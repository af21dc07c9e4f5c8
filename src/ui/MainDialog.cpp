#include "ui/MainDialog.h"

#include "app/PatchDlg.h"

void ShowMainDialog(CPatchDlg& session, HINSTANCE) {
    // Until the full dialog lands, players see the outcome of the initial check in a box.
    int rc = session.CheckPackageAndVersion();
    if (rc < 0) session.ReportResult(rc);
    std::string text = rc < 0 ? session.StatusText() : session.versionText;
    MessageBoxA(nullptr, text.c_str(), "Velmora客户端更新包", MB_OK);
}
