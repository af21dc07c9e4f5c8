#include "ui/MainDialog.h"

#include <commctrl.h>
#include <process.h>

#include "base/PathText.h"
#include "client/ClientLocation.h"
#include "install/InstallDriver.h"
#include "install/Recovery.h"
#include "report/MonitorProtocol.h"
#include "ui/DialogControls.h"
#include "ui/DialogIds.h"

namespace {

// The dialog reaches its session only through this pointer, set when the dialog opens.
DialogSession* g_session = nullptr;

const char kNotice[] =
    "在安装此更新包之前，请确定关闭了其他的Velmora相关程序（包括客户端，自动更新，及Velmora的安装程序），"
    "否则可能会造成安装错误。";

// The worker: the installation, then Close and Browse back for the player.
void __cdecl InstallThread(void* parameter) {
    DialogSession* session = static_cast<DialogSession*>(parameter);
    InstallUpdate(session->run, session->reporter);
    session->reporter.InstallFinished();
}

// An interrupted earlier run in the folder first, then the client check.
Result RecoverAndCheck(DialogSession& session) {
    Result rc = RecoverInterruptedRun(session.run.client.folder, session.reporter, session.lock);
    if (Failed(rc)) return rc;
    return CheckClientFolder(session.run, session.reporter);
}

// The client location of the dialog: the folder from the registry or beside the program, shown
// and checked. Browse becomes available once the package is known.
Result LocateClientFolder(HWND dialog, DialogSession& session) {
    EnableControl(dialog, IDC_BROWSE, true);
    session.run.client.folder = DefaultClientFolder(session.run.package.trailer.clientType);
    SetDlgItemTextA(dialog, IDC_CLIENT_DIR, session.run.client.folder.c_str());
    return RecoverAndCheck(session);
}

void InitializeDialog(HWND dialog, DialogSession* session) {
    g_session = session;
    session->run.mode = RunMode::Dialog;
    session->reporter.AttachDialog(dialog);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(dialog, GWLP_HINSTANCE));
    HICON icon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_MAIN_ICON));
    if (icon) PostMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    InitCommonControls();

    Result rc = ScanForTrailer(session->run.package);
    if (!Failed(rc)) rc = LocateClientFolder(dialog, *session);
    if (Failed(rc)) {
        session->reporter.ReportResult(rc);
        EnableControl(dialog, IDC_START, false);
    } else {
        EnableControl(dialog, IDC_START, true);
        SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    }
    SetDlgItemTextA(dialog, IDC_NOTICE, kNotice);
}

}  // namespace

void StartInstall(DialogSession& session) {
    HWND dialog = session.reporter.Dialog();
    // Enter presses the default button even while it is disabled; a session installs once.
    if (!IsControlEnabled(dialog, IDC_START)) return;
    Result rc = ExtractPackage(session.run.package, session.run.client.isMicro);
    if (Failed(rc)) {
        session.reporter.ReportResult(rc);
        return;
    }
    EnableControl(dialog, IDC_BROWSE, false);
    EnableControl(dialog, IDC_CLOSE, false);
    session.reporter.SetProgress(0, ProgressPhase::Single);
    EnableControl(dialog, IDC_START, false);
    if (_beginthread(InstallThread, 0, &session) == static_cast<uintptr_t>(-1L)) {
        // Without a worker nothing would ever re-enable Close: say so and let the player retry.
        session.reporter.SetStatus("无法启动安装线程，请关闭其他程序后重试！");
        EnableControl(dialog, IDC_START, true);
        EnableControl(dialog, IDC_BROWSE, true);
        EnableControl(dialog, IDC_CLOSE, true);
    }
}

void ChangeClientFolder(DialogSession& session) {
    if (!session.run.package.found) return;
    HWND dialog = session.reporter.Dialog();
    char path[kPathBufferSize] = {};
    if (!CurrentFolderPicker()(dialog, path)) return;
    // A pick without a file-system path (a virtual folder) cannot be a client folder; it is
    // treated like a cancel.
    if (path[0] == '\0') return;
    bool fits = EndsWithChar(path, '\\') || AppendBounded(path, sizeof(path), "\\");
    session.run.client.folder = fits ? path : "";
    SetDlgItemTextA(dialog, IDC_CLIENT_DIR, path);
    EnableControl(dialog, IDC_CLIENT_DIR, false);

    // A folder whose path leaves no room for the separator gets the empty folder, which the
    // check reports as not found.
    Result rc = RecoverAndCheck(session);
    if (Failed(rc)) {
        session.reporter.ReportResult(rc);
        EnableControl(dialog, IDC_START, false);
        if (rc == Result::ClientNotFound) {
            EnableControl(dialog, IDC_CLIENT_DIR, true);
            EnableControl(dialog, IDC_BROWSE, true);
        }
        return;
    }
    EnableControl(dialog, IDC_START, true);
    session.reporter.SetStatus("");
    session.reporter.SetProgress(0, ProgressPhase::Single);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        InitializeDialog(dialog, reinterpret_cast<DialogSession*>(lParam));
        return TRUE;
    }
    if (!g_session) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) != 0) return FALSE;
        switch (LOWORD(wParam)) {
        case IDC_START:
            StartInstall(*g_session);
            break;
        case IDC_BROWSE:
            ChangeClientFolder(*g_session);
            break;
        case IDC_CLOSE:
            // While the worker runs Close is disabled: the session must outlive the worker.
            if (IsControlEnabled(dialog, IDC_CLOSE)) EndDialog(dialog, 0);
            break;
        default:  // IDCANCEL from Escape or a close request: only Close closes
            break;
        }
        return FALSE;
    case WM_PATCH_STATUS:
        g_session->reporter.ShowStatus();
        return FALSE;
    default:
        return FALSE;
    }
}

void ShowMainDialog(HINSTANCE instance) {
    DialogSession session;
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr, MainDialogProc,
                    reinterpret_cast<LPARAM>(&session));
    g_session = nullptr;
}
