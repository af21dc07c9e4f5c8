#include "app/RunInstaller.h"

#include "app/CommandLine.h"
#include "base/InstallLog.h"
#include "install/InstallDriver.h"
#include "install/Recovery.h"
#include "report/LauncherReporter.h"
#include "ui/MainDialog.h"

namespace {

// The values of a silent command line.
struct SilentArguments {
    char folder[kPathBufferSize];
    char title[kPathBufferSize];
};

// Reads "/D=" and "/user " and logs what they gave; an over-long value is refused, never cut.
void ParseSilentArguments(const char* commandLine, SilentArguments& args) {
    size_t length = 0;
    ArgValue folderArg = ParseClientFolder(commandLine, args.folder, &length);
    if (folderArg == ArgValue::Found) {
        InstallLog::Write("安装路径:%s", args.folder);
    } else if (folderArg == ArgValue::TooLong) {
        // A shortened path would be some other folder. The client check then fails on the empty
        // folder with "客户端安装路径没找到".
        InstallLog::Write("安装路径太长(%d字节)，不能使用", static_cast<int>(length));
    }

    bool hadUser = false;
    ArgValue titleArg = ParseMonitorTitle(commandLine, args.title, &hadUser, &length);
    if (!hadUser) InstallLog::Write("没有/user参数");
    if (titleArg == ArgValue::TooLong) {
        InstallLog::Write("监视窗口标题太长(%d字节)，不能使用", static_cast<int>(length));
    }
}

// Trailer scan, client check and archive choice: a failure is reported with its code.
Result CheckPackageAndVersion(RunState& run, Reporter& reporter) {
    Result rc = ScanForTrailer(run.package);
    if (Failed(rc)) return rc;
    return CheckClientFolder(run, reporter);
}

}  // namespace

int RunSilent(const char* commandLine) {
    InstallLog::Open("install.log");
    InstallLog::Write("命令行参数:%s", commandLine);

    SilentArguments args;
    ParseSilentArguments(commandLine, args);
    LauncherReporter reporter(args.title);

    RunState run;
    run.mode = RunMode::Silent;
    run.client.folder = args.folder;
    reporter.LogSilentStart(run.client.folder);

    // An interrupted earlier run is finished or undone before anything is checked; the folder
    // stays locked against other installers until the run ends.
    RunLock lock;
    Result rc = RecoverInterruptedRun(run.client.folder, reporter, lock);
    if (Failed(rc)) {
        reporter.ReportDriverFailure();
        InstallLog::Write("升级失败！");
        return 1;
    }
    InstallLog::Write("检查安装包和版本");
    rc = CheckPackageAndVersion(run, reporter);
    if (Failed(rc)) {
        InstallLog::Write("检查安装包和版本失败 %d", CodeOf(rc));
        reporter.ReportResult(rc);
        return 1;
    }
    rc = ExtractPackage(run.package, run.client.isMicro);
    if (Failed(rc)) {
        InstallLog::Write("生成临时文件包用于解压失败 %d", CodeOf(rc));
        return 1;
    }
    if (Failed(InstallUpdate(run, reporter))) {
        InstallLog::Write("升级失败！");
        return 1;
    }
    InstallLog::Write("升级成功！");
    return 0;
}

void RestrictDllSearchPath() {
    // Windows 8, and 7 or Vista with KB2533623, can leave out the program's own folder and the
    // current directory; older systems can still leave out the current directory.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD flags);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // Through void(*)(): the generic function type that may be cast to any other.
    auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void (*)()>(
                                   GetProcAddress(kernel, "SetDefaultDllDirectories")))
                             : nullptr;
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    SetDllDirectoryA("");
}

int RunInstaller(HINSTANCE instance, const char* commandLine) {
    if (!commandLine) commandLine = "";
    if (IsSilentCommandLine(commandLine)) return RunSilent(commandLine);
    ShowMainDialog(instance);
    return 0;
}
