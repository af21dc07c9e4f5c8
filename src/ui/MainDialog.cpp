#include "ui/MainDialog.h"

#include <commctrl.h>
#include <process.h>

#include "app/PatchDlg.h"
#include "install/InstallDriver.h"
#include "report/MonitorProtocol.h"
#include "report/ResultCodes.h"
#include "ui/DialogControls.h"
#include "ui/DialogIds.h"

namespace {

// The dialog reaches the session only through this pointer, set when the dialog opens.
CPatchDlg* g_session = nullptr;

const char kNotice[] =
    "在安装此更新包之前，请确定关闭了其他的Velmora相关程序（包括客户端，自动更新，及Velmora的安装程序），"
    "否则可能会造成安装错误。";

void __cdecl InstallThread(void* session) { InstallUpdate(static_cast<CPatchDlg*>(session)); }

void InitializeDialog(HWND dialog, CPatchDlg* session) {
    g_session = session;
    session->hwnd = dialog;
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN_ICON));
    if (icon) PostMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    InitCommonControls();

    int rc = session->CheckPackageAndVersion();
    if (rc < 0) {
        session->ReportResult(rc);
        EnableControl(dialog, IDC_START, false);
    } else {
        EnableControl(dialog, IDC_START, true);
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    }
    SetDlgItemTextA(dialog, IDC_NOTICE, kNotice);
}

}  // namespace

void StartInstall(CPatchDlg* session) {
    HWND dialog = session->hwnd;
    // Enter presses the default button even while it is disabled; a session installs once.
    if (!IsControlEnabled(dialog, IDC_START)) return;
    int rc = session->ExtractPackage();
    if (rc < 0) {
        session->ReportResult(rc);
        return;
    }
    EnableControl(dialog, IDC_BROWSE, false);
    EnableControl(dialog, IDC_CLOSE, false);
    session->SetProgress(0, false, false);
    EnableControl(dialog, IDC_START, false);
    if (_beginthread(InstallThread, 0, session) == static_cast<uintptr_t>(-1L)) {
        // Without a worker nothing would ever re-enable Close: say so and let the player retry.
        session->SetStatus("无法启动安装线程，请关闭其他程序后重试！");
        EnableControl(dialog, IDC_START, true);
        EnableControl(dialog, IDC_BROWSE, true);
        EnableControl(dialog, IDC_CLOSE, true);
    }
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        InitializeDialog(dialog, reinterpret_cast<CPatchDlg*>(lParam));
        return TRUE;
    }
    if (!g_session) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) != 0) return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_START:
            StartInstall(g_session);
            break;
        case IDC_BROWSE:
            g_session->ChangeClientFolder();
            break;
        case IDC_CLOSE:
            // While the worker runs Close is disabled: the session must outlive the worker.
            if (g_session->hwnd && IsControlEnabled(dialog, IDC_CLOSE)) EndDialog(g_session->hwnd, 0);
            break;
        default:  // IDCANCEL from Escape or a close request: only Close closes
            break;
        }
        return FALSE;
    case WM_PATCH_STATUS:
        g_session->ShowStatus();
        return FALSE;
    default:
        return FALSE;
    }
}

void ShowMainDialog(CPatchDlg& session, HINSTANCE instance) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr, MainDialogProc,
                    reinterpret_cast<LPARAM>(&session));
}
