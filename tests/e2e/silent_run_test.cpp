// Silent runs of the bare installer (no package appended): what the launcher's monitor window
// receives, the exit code, and the install log that records how the command line was read.
#include "e2e_support.h"

namespace e2e {
namespace {

const char kNoPackage[] = "此程序没有包含更新数据";
// The dialog's Close button.
constexpr int kCloseButton = 1004;

// The lines every bare run ends with: the trailer scan fails and the result goes to the monitor.
std::vector<std::string> NoPackageTail()
{
    return {"检查安装包和版本", "检查安装包和版本失败 -9999", kNoPackage, "发送错误消息:502"};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string HandleText(uintptr_t window)
{
    return std::to_string(static_cast<int>(static_cast<intptr_t>(window)));
}

using BareInstaller = InstallerTest;

TEST_F(BareInstaller, ReportsMissingPackageToMonitorAndExitsWithOne)
{
    CopyBareInstaller();
    const std::string title = UniqueTitle("Vel E2E 监视窗口");
    const std::string client = Folder() / "client";
    const std::string args = "/S /D=" + client + " /user " + title;

    const SilentResult r = Run(args, title);

    EXPECT_EQ(r.run.exitCode, 1u);
    ASSERT_EQ(r.run.messages.size(), 1u);
    const velsupport::CopyDataRecord& m = r.run.messages[0];
    EXPECT_EQ(m.tag, -16);
    EXPECT_EQ(m.data, 502u);
    EXPECT_EQ(m.cbData, std::strlen(kNoPackage) + 1);
    EXPECT_EQ(m.bytes, WithTerminator(kNoPackage));

    ASSERT_TRUE(r.logExists);
    EXPECT_TRUE(harness::AllLinesStamped(LogPathBeside(Installer())));
    const std::vector<std::string> expected = Concat(
        {"命令行参数:" + args, "安装路径:" + client + "\\",
         "初始化静默安装：HWND " + HandleText(r.run.monitorWindow) + ", DIR " + client + "\\"},
        NoPackageTail());
    EXPECT_EQ(r.log, expected) << "log:\n" << Shown(r.log);
}

struct CommandLineCase {
    const char* args;
    std::vector<std::string> lines;   // the log up to the package check
};

// No monitor window exists in these runs, so every lookup falls back to the handle value 1.
TEST_F(BareInstaller, ReadsFolderAndTitleFromTheCommandLine)
{
    CopyBareInstaller();
    const std::string notFound = "没有找到窗口，给窗口赋值01:1";
    const std::string noTitle = "没有标题栏，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW";
    const std::string defaultMissing =
        "没有找到窗口Velmora_INSTALL_MONITOR_WINDOW，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW";
    const std::vector<CommandLineCase> cases = {
        {"/S /D=C:\\Games\\Velmora /user Launcher",
         {"安装路径:C:\\Games\\Velmora\\", "没有找到窗口Launcher，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW",
          notFound, "初始化静默安装：HWND 1, DIR C:\\Games\\Velmora\\"}},
        // Trailing blanks go, and a folder that already ends with "\" gets no second one.
        {"/S /D=C:\\Games\\Velmora\\   /user Launcher",
         {"安装路径:C:\\Games\\Velmora\\", "没有找到窗口Launcher，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW",
          notFound, "初始化静默安装：HWND 1, DIR C:\\Games\\Velmora\\"}},
        {"/S /D=/user Launcher",
         {"安装路径:\\", "没有找到窗口Launcher，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW", notFound,
          "初始化静默安装：HWND 1, DIR \\"}},
        // A folder is cut at the first "/"; inner blanks of a title stay, trailing ones go.
        {"/S /D=C:\\Program Files/x86 /user My Launcher   ",
         {"安装路径:C:\\Program Files\\", "没有找到窗口My Launcher，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW",
          notFound, "初始化静默安装：HWND 1, DIR C:\\Program Files\\"}},
        {"/S",
         {"没有/user参数", noTitle, defaultMissing, notFound, "初始化静默安装：HWND 1, DIR "}},
        // "/user" without its blank is not the switch.
        {"/S /D=C:\\x /user",
         {"安装路径:C:\\x\\", "没有/user参数", noTitle, defaultMissing, notFound, "初始化静默安装：HWND 1, DIR C:\\x\\"}},
        // The switches are case-sensitive.
        {"/S /d=C:\\x /USER Launcher",
         {"没有/user参数", noTitle, defaultMissing, notFound, "初始化静默安装：HWND 1, DIR "}},
        // Without "/user " the title is what comes before the first "/".
        {"Launcher  /S /D=C:\\x",
         {"安装路径:C:\\x\\", "没有/user参数", "没有找到窗口Launcher，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW",
          notFound, "初始化静默安装：HWND 1, DIR C:\\x\\"}},
    };
    for (const CommandLineCase& c : cases) {
        SCOPED_TRACE(c.args);
        const SilentResult r = Run(c.args, "");
        EXPECT_EQ(r.run.exitCode, 1u);
        ASSERT_TRUE(r.logExists);
        const std::vector<std::string> expected =
            Concat(Concat({std::string("命令行参数:") + c.args}, c.lines), NoPackageTail());
        EXPECT_EQ(r.log, expected) << "log:\n" << Shown(r.log);
    }
}

TEST_F(BareInstaller, FindsMonitorWhoseTitleHasInnerBlanks)
{
    CopyBareInstaller();
    const std::string title = UniqueTitle("My  Game Launcher");
    const SilentResult r = Run("/S /D=C:\\x /user " + title + "  ", title);
    EXPECT_EQ(r.run.exitCode, 1u);
    ASSERT_EQ(r.run.messages.size(), 1u);
    EXPECT_EQ(r.run.messages[0].data, 502u);
    EXPECT_TRUE(LogHas(r.log, "初始化静默安装：HWND " + HandleText(r.run.monitorWindow) + ", DIR C:\\x\\"))
        << Shown(r.log);
}

TEST_F(BareInstaller, TakesTitleFromStartOfCommandLineWithoutUserSwitch)
{
    CopyBareInstaller();
    const std::string title = UniqueTitle("Launcher");
    const SilentResult r = Run(title + " /S", title);
    EXPECT_EQ(r.run.exitCode, 1u);
    ASSERT_EQ(r.run.messages.size(), 1u);
    EXPECT_EQ(r.run.messages[0].bytes, WithTerminator(kNoPackage));
    EXPECT_TRUE(LogHas(r.log, "没有/user参数"));
}

TEST_F(BareInstaller, FallsBackToMonitorWithDefaultTitle)
{
    CopyBareInstaller();
    const std::string missing = UniqueTitle("NoSuchLauncher");
    const SilentResult r = Run("/S /D=C:\\x /user " + missing, kDefaultTitle);

    EXPECT_EQ(r.run.exitCode, 1u);
    ASSERT_EQ(r.run.messages.size(), 1u);
    EXPECT_EQ(r.run.messages[0].tag, -16);
    EXPECT_EQ(r.run.messages[0].data, 502u);
    const std::vector<std::string> expected = Concat(
        {"命令行参数:/S /D=C:\\x /user " + missing, "安装路径:C:\\x\\",
         "没有找到窗口" + missing + "，使用默认标题栏 Velmora_INSTALL_MONITOR_WINDOW",
         "初始化静默安装：HWND " + HandleText(r.run.monitorWindow) + ", DIR C:\\x\\"},
        NoPackageTail());
    EXPECT_EQ(r.log, expected) << "log:\n" << Shown(r.log);
}

TEST_F(BareInstaller, SecondRunEmptiesTheLogFirst)
{
    CopyBareInstaller();
    const SilentResult first = Run("/S /D=C:\\first /user A", "");
    ASSERT_TRUE(first.logExists);
    const SilentResult second = Run("/S /D=C:\\second /user B", "");
    ASSERT_FALSE(second.log.empty());
    EXPECT_EQ(second.log.front(), "命令行参数:/S /D=C:\\second /user B");
    EXPECT_EQ(second.log.size(), first.log.size()) << Shown(second.log);
    for (const std::string& line : second.log)
        EXPECT_EQ(line.find("first"), std::string::npos) << harness::GbkToUtf8(line);
}

// The log goes beside the program, wherever the launcher's current folder is, also when the
// program's folder name has a GBK trail byte 0x5C.
TEST_F(BareInstaller, WritesLogBesideProgramInFolderWithTrailByteBackslash)
{
    const std::string gbkName = "补丁乗";
    ASSERT_NE(gbkName.find('\x5C'), std::string::npos) << "the name must hold a trail byte 0x5C";
    const std::string programFolder = Folder() / gbkName;
    const std::string program = programFolder + "\\" + VEL_INSTALLER_EXE;
    ASSERT_TRUE(velsupport::CopyOneFile(BareInstallerPath(), program));
    const std::string elsewhere = Folder() / "launcher";
    ASSERT_TRUE(CreateDirectoryA(elsewhere.c_str(), nullptr));

    const SilentResult r = Run("/S /D=C:\\x", "", elsewhere, program);

    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_TRUE(r.logExists);
    EXPECT_TRUE(LogHas(r.log, "检查安装包和版本失败 -9999")) << Shown(r.log);
    EXPECT_FALSE(velsupport::FileExists(elsewhere + "\\install.log"));
    EXPECT_FALSE(velsupport::FileExists(Folder() / "install.log"));
}

// Values longer than the 259 characters of a path buffer must not end the process abnormally.
TEST_F(BareInstaller, SurvivesOverlongFolderAndTitle)
{
    CopyBareInstaller();
    const std::string longFolder = "C:\\" + std::string(300, 'f');
    const std::string longTitle(300, 't');
    for (const std::string& args : {"/S /D=" + longFolder + " /user L", "/S /D=C:\\x /user " + longTitle,
                                    "/S /D=" + longFolder + "\\" + std::string(300, 'g')}) {
        SCOPED_TRACE(args.substr(0, 40));
        const SilentResult r = Run(args, "");
        EXPECT_EQ(r.run.exitCode, 1u);
        EXPECT_TRUE(r.logExists);
        EXPECT_TRUE(LogHas(r.log, "检查安装包和版本失败 -9999")) << Shown(r.log);
    }
}

// Only an upper-case "/S" selects silent mode: "/s" opens the dialog, which writes no log and
// leaves an existing one alone. The harness closes the dialog with its Close button.
TEST_F(BareInstaller, LowerCaseSwitchOpensDialogWithoutLog)
{
    CopyBareInstaller();
    const std::string log = LogPathBeside(Installer());
    ASSERT_TRUE(velsupport::WriteFileText(log, "earlier run\r\n"));
    harness::MonitorOptions options;
    options.answers = {{"Velmora客户端更新包", kCloseButton, 1}};
    options.timeoutMs = 30000;

    const harness::MonitorRun run = harness::RunWithMonitor(Installer(), "/s /D=C:\\x /user L", options);

    ASSERT_TRUE(run.started) << run.error;
    EXPECT_FALSE(run.timedOut) << "the dialog was not found by its caption or did not close";
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.boxes.size(), 1u);
    std::string text;
    ASSERT_TRUE(velsupport::ReadFileText(log, &text));
    EXPECT_EQ(text, "earlier run\r\n");
}

// An unquoted program path is what some launchers pass. The runtime's own reading of the
// command line takes every GBK byte for a blank and would look for the options inside the path,
// where "/Setup/" reads as "/S".
TEST_F(BareInstaller, UnquotedProgramPathWithGbkAndSlashesKeepsItsOptions)
{
    const std::string setup = Folder() / "下载" + "\\Setup";
    ASSERT_TRUE(CreateDirectoryA((Folder() / "下载").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(setup.c_str(), nullptr));
    const std::string program = setup + "\\" + VEL_INSTALLER_EXE;
    ASSERT_TRUE(velsupport::CopyOneFile(BareInstallerPath(), program));
    std::string unquoted = program;
    std::replace(unquoted.begin(), unquoted.end(), '\\', '/');  // 下载 is CF C2 D4 D8: no trail byte 5C
    ASSERT_EQ(unquoted.find(' '), std::string::npos) << "the path must need no quotes";

    const std::string title = UniqueTitle("Vel 监视");
    const std::string args = "/S /D=C:\\x /user " + title;
    harness::MonitorOptions options;
    options.title = title;
    options.timeoutMs = kRunTimeoutMs;
    options.commandLine = unquoted + " " + args;
    harness::MonitorRun run = harness::RunWithMonitor(program, args, options);
    ASSERT_TRUE(run.started) << run.error;
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0].data, 502u);
    const std::vector<std::string> log = harness::ReadLogLines(LogPathBeside(program));
    const std::vector<std::string> expected = Concat(
        {"命令行参数:" + args, "安装路径:C:\\x\\",
         "初始化静默安装：HWND " + HandleText(run.monitorWindow) + ", DIR C:\\x\\"},
        NoPackageTail());
    EXPECT_EQ(log, expected) << Shown(log);

    // Without "/S" a player's start opens the dialog and writes no log.
    ASSERT_TRUE(DeleteFileA(LogPathBeside(program).c_str()));
    options = {};
    options.answers = {{"Velmora客户端更新包", kCloseButton, 1}};
    options.timeoutMs = 30000;
    options.commandLine = unquoted + " /D=C:\\x";
    run = harness::RunWithMonitor(program, "", options);
    ASSERT_TRUE(run.started) << run.error;
    EXPECT_FALSE(run.timedOut) << "the dialog did not open or did not close";
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(velsupport::FileExists(LogPathBeside(program)));
}

}  // namespace
}  // namespace e2e
