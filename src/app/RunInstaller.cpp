#include "app/RunInstaller.h"

#include "app/CommandLine.h"
#include "app/PatchDlg.h"
#include "install/InstallDriver.h"
#include "report/InstallLog.h"
#include "report/MonitorProtocol.h"
#include "ui/MainDialog.h"

namespace {

HWND FindTopLevelWindow(const char* title) {
    HWND found = FindWindowA(nullptr, title);
    return (found && IsWindow(found)) ? found : nullptr;
}

}  // namespace

HWND FindMonitorWindow(const char* title) {
    HWND monitor = FindTopLevelWindow(title);
    if (monitor) return monitor;
    InstallLog::Write("没有找到窗口%s，使用默认标题栏 %s", title, DEFAULT_MONITOR_TITLE);
    monitor = FindTopLevelWindow(DEFAULT_MONITOR_TITLE);
    if (monitor) return monitor;
    InstallLog::Write("没有找到窗口，给窗口赋值01:%d", 1);
    return reinterpret_cast<HWND>(static_cast<intptr_t>(1));
}

int RunSilent(const char* commandLine, CPatchDlg& session) {
    InstallLog::Open("install.log");
    InstallLog::Write("命令行参数:%s", commandLine);

    char folder[kPathBufferSize];
    size_t length = 0;
    ArgValue folderArg = ParseClientFolder(commandLine, folder, &length);
    if (folderArg == ArgValue::Found) {
        InstallLog::Write("安装路径:%s", folder);
    } else if (folderArg == ArgValue::TooLong) {
        // Refused, not cut: a shortened path would be some other folder. The client check then
        // fails on the empty folder with "客户端安装路径没找到".
        InstallLog::Write("安装路径太长(%d字节)，不能使用", static_cast<int>(length));
    }

    char title[kPathBufferSize];
    bool hadUser = false;
    ArgValue titleArg = ParseMonitorTitle(commandLine, title, &hadUser, &length);
    if (!hadUser) InstallLog::Write("没有/user参数");
    if (titleArg == ArgValue::TooLong) {
        InstallLog::Write("监视窗口标题太长(%d字节)，不能使用", static_cast<int>(length));
    }
    if (title[0] == '\0') {
        InstallLog::Write("没有标题栏，使用默认标题栏 %s", DEFAULT_MONITOR_TITLE);
        CopyBounded(title, sizeof(title), DEFAULT_MONITOR_TITLE);
    }

    HWND monitor = FindMonitorWindow(title);
    session.InitSilent(monitor, folder);

    InstallLog::Write("检查安装包和版本");
    int rc = session.CheckPackageAndVersion();
    if (rc < 0) {
        InstallLog::Write("检查安装包和版本失败 %d", rc);
        session.ReportResult(rc);
        return 1;
    }
    rc = session.ExtractPackage();
    if (rc < 0) {
        InstallLog::Write("生成临时文件包用于解压失败 %d", rc);
        return 1;
    }
    InstallUpdate(&session);
    InstallLog::Write("升级成功！");
    return 0;
}

int RunInstaller(HINSTANCE instance, const char* commandLine) {
    if (!commandLine) commandLine = "";
    CPatchDlg session;
    if (IsSilentCommandLine(commandLine)) return RunSilent(commandLine, session);
    ShowMainDialog(session, instance);
    return 0;
}
