// The client check: kind, folder, version and the verdict on the embedded package.
#include <windows.h>
#include <share.h>

#include <cstdio>

#include "app/PatchDlg.h"
#include "client/ClientVersion.h"
#include "install/PathText.h"
#include "package/PackageTrailer.h"
#include "package/StdioFile.h"
#include "package/TemporaryPackage.h"
#include "report/InstallLog.h"
#include "report/MonitorProtocol.h"
#include "report/MonitorSend.h"
#include "report/ResultCodes.h"
#include "ui/DialogIds.h"

bool CPatchDlg::DetectMicroClient() {
    char iniPath[kPathBufferSize];
    if (!FormatBounded(iniPath, sizeof(iniPath), "%s\\Config\\MiniClient.ini", clientDir.c_str())) {
        clientIsMicro = 0;
        InstallLog::Write("客户端类型 %s %d", clientDir.c_str(), clientIsMicro);
        return false;
    }
    UINT ver = GetPrivateProfileIntA("Version", "Ver", 0, iniPath);
    clientIsMicro = ver != 0 ? 1 : 0;
    InstallLog::Write("客户端类型 %s %d", iniPath, clientIsMicro);
    return true;
}

int CPatchDlg::ReadClientVersion() {
    StdioFile file(_fsopen("update.cfg", "r", _SH_DENYNO));
    if (!file) return -1;
    uint32_t version = 0;
    if (ReadVersionFromStream(file.Get(), &version) != 0) return -2;
    clientVersion = version;
    return 0;
}

void CPatchDlg::FormatVersionText() {
    versionText = FormatVersionMessage(clientVersion, fromVersion, toVersion);
}

int CPatchDlg::CheckClient() {
    // A folder too deep to name its kind file cannot be told apart from a full client, and
    // patching a micro client as a full one would break it: such a folder is not usable.
    if (!DetectMicroClient()) return RESULT_CLIENT_NOT_FOUND;
    if (clientDir.empty() || !SetCurrentDirectoryA(clientDir.c_str())) return RESULT_CLIENT_NOT_FOUND;

    int rc = CheckClientType(clientIsMicro != 0, clientType);
    if (rc < 0) return rc;

    int read = ReadClientVersion();
    if (read == -1) return RESULT_CLIENT_NOT_FOUND;
    if (read == -2) return RESULT_CLIENT_DAMAGED;

    FormatVersionText();
    InstallLog::Write("游戏是否微端:%d，补丁包是否微端:%d，版本信息:%s", clientIsMicro, static_cast<int>(clientType),
                      versionText.c_str());
    if (!monitorWnd) SetDlgItemTextA(hwnd, IDC_VERSION, versionText.c_str());

    rc = CheckVersionRange(clientVersion, fromVersion, toVersion);
    if (rc < 0) return rc;

    ChooseClientArchive(*this, "package\\package.cfg");
    return RESULT_OK;
}

void CPatchDlg::ReportInstallComplete() {
    if (monitorWnd) {
        InstallLog::Write("上报完成安装进度：HWND %d", HandleNumber(monitorWnd));
        SendMonitorCopyData(monitorWnd, MONITOR_PROGRESS, 100, nullptr, 0);
        SendMonitorCopyData(monitorWnd, MONITOR_PROGRESS, MONITOR_PROGRESS_DONE, nullptr, 0);
        return;
    }
    SetStatus("更新包安装完毕，谢谢您支持我们的游戏！");
    if (ReadClientVersion() != 0) return;
    FormatVersionText();
    SetDlgItemTextA(hwnd, IDC_VERSION, versionText.c_str());
    PostMessageA(hwnd, WM_PATCH_STATUS, 0, 0);
}
