// The installer started by a player (no "/S"): the real program's dialog, driven from this
// process through its controls, with the client folder taken from the registry as on a
// player's machine.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "PackTool.h"
#include "LogText.h"
#include "support/Files.h"
#include "support/TempFolder.h"
#include "support/TestName.h"
#include "win/sleeper/RunningSleeper.h"

#ifndef VEL_INSTALLER_EXE
#error "VEL_INSTALLER_EXE names the installer program built beside the tests"
#endif

namespace {

using uidriver::kBrowseButton;
using uidriver::kClientFolder;
using uidriver::kCloseButton;
using uidriver::kNotice;
using uidriver::kStartButton;
using uidriver::kStatusLine;
using uidriver::kVersionLine;

constexpr DWORD kOpenTimeoutMs = 20000;
constexpr DWORD kStateTimeoutMs = 10000;
constexpr DWORD kInstallTimeoutMs = 30000;
constexpr DWORD kExitTimeoutMs = 10000;

constexpr uint32_t kFrom = 0x010300BD;  // 1.3.0.189
constexpr uint32_t kTo = 0x010300BE;    // 1.3.0.190
constexpr uint32_t kFullPackage = 0;
constexpr uint32_t kMicroPackage = 1;

const char kFullKey[] = "Software\\Korvex\\Velmora";
const char kMicroKey[] = "Software\\Korvex\\Velmora微端";

const char kNoticeText[] =
    "在安装此更新包之前，请确定关闭了其他的Velmora相关程序（包括客户端，自动更新，及Velmora的安装程序），"
    "否则可能会造成安装错误。";
const char kNoPackage[] = "此程序没有包含更新数据";
const char kAlreadyNewest[] = "客户端已经是最新版本，无需执行更新";
const char kCrcFailed[] = "更新包数据CRC校验错误，请重新下载";
const char kFolderNotFound[] = "客户端安装路径没找到";
const char kInstalled[] = "更新包安装完毕，谢谢您支持我们的游戏！";
const char kRunningProgramCaption[] = "发现正在运行文件";

const char kOldUpdateCfg[] = "ver=1.3.0.189\r\nexe=Velmora.exe\r\n";
const char kNewUpdateCfg[] = "ver=1.3.0.190\r\nexe=Velmora.exe\r\n";

std::string TwoLineVersion(const char* client)
{
    return std::string("当前客户端版本: ") + client + "  \n更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190";
}

std::string Shown(const std::string& gbk)
{
    return "\"" + harness::GbkToUtf8(gbk) + "\"";
}

std::string FileText(const std::string& path)
{
    std::string text;
    EXPECT_TRUE(velsupport::ReadFileText(path, &text)) << path;
    return text;
}

bool LastWrite(const std::string& path, FILETIME* time)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    *time = data.ftLastWriteTime;
    return true;
}

// The install-path values of both client kinds, removed before and after each test so that
// no test sees another's folder.
class InstallPathKeys {
public:
    InstallPathKeys() { Clear(); }
    ~InstallPathKeys() { Clear(); }
    InstallPathKeys(const InstallPathKeys&) = delete;
    InstallPathKeys& operator=(const InstallPathKeys&) = delete;

    static bool SetFolder(const char* key, const std::string& folder)
    {
        return Set(key, REG_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
    }
    static bool SetNumber(const char* key, DWORD number)
    {
        return Set(key, REG_DWORD, &number, sizeof(number));
    }

    static void Clear()
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, kFullKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, kMicroKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvex");  // only when nothing else is left in it
    }

private:
    static bool Set(const char* key, DWORD type, const void* data, DWORD size)
    {
        HKEY handle = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
            return false;
        const bool ok = RegSetValueExA(handle, "PathRoot", 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
        RegCloseKey(handle);
        return ok;
    }
};

// One installer run: the process and its dialog, the process ended by force if a test fails.
struct DialogRun {
    velsupport::ChildProcess process;
    uidriver::PlayerDialog dialog{process};
};

class PlayerDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = std::make_unique<velsupport::TempFolder>(velsupport::CurrentTestName(),
                                                           velsupport::TempFolder::Place::CurrentFolder);
        ASSERT_TRUE(folder_->Valid()) << "cannot make the test folder";
    }

    const velsupport::TempFolder& Folder() const { return *folder_; }

    static std::string BareInstaller() { return velsupport::ProgramFolder() + "\\" + VEL_INSTALLER_EXE; }

    static std::vector<PackFile> SmallPatch()
    {
        return {{"update.cfg", kNewUpdateCfg},
                {"readme.txt", std::string(3000, 'r') + "说明\r\n"},
                {"Res\\icon.bin", std::string(2000, '\x7F')}};
    }

    // The installer `folder`\VelmoraPatch.exe carrying a package of `files`.
    std::string MakeInstaller(const std::string& folder, const std::vector<PackFile>& files, uint32_t from,
                              uint32_t clientType, size_t* packageLength = nullptr)
    {
        const std::string installer = folder + "\\" + VEL_INSTALLER_EXE;
        const std::string pkg = folder + "\\source.pkg";
        std::string error;
        EXPECT_TRUE(WritePackage(files, pkg, &error)) << error;
        EXPECT_TRUE(BuildInstaller(BareInstaller(), pkg, from, kTo, clientType, installer, &error)) << error;
        if (packageLength) {
            std::string bytes;
            EXPECT_TRUE(velsupport::ReadFileText(pkg, &bytes));
            *packageLength = bytes.size();
        }
        DeleteFileA(pkg.c_str());
        return installer;
    }

    static void MakeClient(const std::string& folder, const char* updateCfg, bool micro = false)
    {
        ASSERT_TRUE(velsupport::WriteFileText(folder + "\\update.cfg", updateCfg)) << folder;
        if (micro) {
            ASSERT_TRUE(velsupport::WriteFileText(folder + "\\Config\\MiniClient.ini", "[Version]\r\nVer=1\r\n"));
        }
        ASSERT_TRUE(CreateDirectoryA((folder + "\\package").c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }

    // Starts the installer as a double click does (its own folder current) and waits for its dialog.
    static void Open(DialogRun& run, const std::string& installer)
    {
        std::string error;
        ASSERT_TRUE(run.process.Start(installer, "", velsupport::FolderOf(installer), &error)) << error;
        ASSERT_TRUE(run.dialog.Find(kOpenTimeoutMs)) << "no dialog titled " << Shown(uidriver::kDialogTitle);
    }

    static void ExpectButtons(const DialogRun& run, bool start, bool browse, bool close)
    {
        EXPECT_EQ(run.dialog.Enabled(kStartButton), start) << "开始更新";
        EXPECT_EQ(run.dialog.Enabled(kBrowseButton), browse) << "重新指定客户端位置";
        EXPECT_EQ(run.dialog.Enabled(kCloseButton), close) << "关闭";
    }

    static void ExpectStatus(const DialogRun& run, const std::string& status)
    {
        EXPECT_TRUE(run.dialog.WaitForText(kStatusLine, status, kStateTimeoutMs))
            << "status " << Shown(run.dialog.Text(kStatusLine)) << ", expected " << Shown(status);
    }

    // Escape, Alt+F4 and close requests leave the dialog open.
    static void ExpectStaysOpenOnEscapeAndClose(const DialogRun& run)
    {
        run.dialog.PressEscape();
        run.dialog.RequestClose();
        ASSERT_TRUE(run.dialog.Flush()) << "the dialog went away on Escape or a close request";
        ASSERT_TRUE(run.process.Running());
    }

    // Only the Close button ends the program, with exit code 0 and without writing a log.
    static void CloseWithButton(DialogRun& run, const std::vector<std::string>& noLogIn)
    {
        ASSERT_TRUE(run.dialog.Click(kCloseButton));
        DWORD code = 0xFFFFFFFF;
        ASSERT_TRUE(run.process.WaitExit(kExitTimeoutMs, &code)) << "the program did not end after 关闭";
        EXPECT_EQ(code, 0u);
        for (const std::string& folder : noLogIn)
            EXPECT_FALSE(velsupport::FileExists(folder + "\\install.log")) << "a dialog run wrote " << folder << "\\install.log";
    }

    InstallPathKeys keys_;

private:
    std::unique_ptr<velsupport::TempFolder> folder_;
};

TEST_F(PlayerDialogTest, InstallerWithoutPackageOffersOnlyClose)
{
    const std::string installer = Folder() / VEL_INSTALLER_EXE;
    ASSERT_TRUE(velsupport::CopyOneFile(BareInstaller(), installer));
    // Even a client the registry points at is not looked at without a package.
    const std::string client = Folder() / "client";
    ASSERT_NO_FATAL_FAILURE(MakeClient(client, kOldUpdateCfg));
    ASSERT_TRUE(InstallPathKeys::SetFolder(kFullKey, client));

    DialogRun run;
    ASSERT_NO_FATAL_FAILURE(Open(run, installer));
    ExpectStatus(run, kNoPackage);
    ExpectButtons(run, false, false, true);
    EXPECT_EQ(run.dialog.Text(kClientFolder), "");
    EXPECT_EQ(run.dialog.Text(kVersionLine), "");
    EXPECT_EQ(run.dialog.Text(kNotice), kNoticeText);

    // Enter on the disabled Start button must not try to extract a package that is not there.
    run.dialog.PostCommand(kStartButton);
    ASSERT_NO_FATAL_FAILURE(ExpectStaysOpenOnEscapeAndClose(run));
    ExpectStatus(run, kNoPackage);
    EXPECT_FALSE(velsupport::FileExists(Folder() / "patch.pkg"));
    EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg"));

    CloseWithButton(run, {Folder().Path(), client});
}

TEST_F(PlayerDialogTest, NewerClientIsRefusedButAnotherFolderMayBeChosen)
{
    const std::string installer = MakeInstaller(Folder().Path(), SmallPatch(), kFrom, kFullPackage);
    const std::string client = Folder() / "client";
    ASSERT_NO_FATAL_FAILURE(MakeClient(client, "ver=1.3.0.191\r\n"));
    ASSERT_TRUE(InstallPathKeys::SetFolder(kFullKey, client));

    DialogRun run;
    ASSERT_NO_FATAL_FAILURE(Open(run, installer));
    ExpectStatus(run, kAlreadyNewest);
    ExpectButtons(run, false, true, true);
    EXPECT_EQ(run.dialog.Text(kClientFolder), client);
    EXPECT_EQ(run.dialog.Text(kVersionLine), TwoLineVersion("1.3.0.191"));
    EXPECT_EQ(run.dialog.Text(kNotice), kNoticeText);

    run.dialog.PostCommand(kStartButton);
    ASSERT_NO_FATAL_FAILURE(ExpectStaysOpenOnEscapeAndClose(run));
    ExpectStatus(run, kAlreadyNewest);
    EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg")) << "Enter on the disabled Start button extracted the package";
    EXPECT_EQ(FileText(client + "\\update.cfg"), "ver=1.3.0.191\r\n");

    CloseWithButton(run, {Folder().Path(), client});
}

struct LocationCase {
    const char* what;
    uint32_t clientType;
    uint32_t from;
    bool fullKeyAsNumber;          // the full client's value stored as REG_DWORD
    const char* fullKeyFolder;     // relative to the case folder; null: no value
    const char* microKeyFolder;    // relative to the case folder; null: no value
    const char* expectedFolder;    // relative to the case folder; "" is the installer's own folder
    const char* expectedStatus;
    bool startEnabled;
    const char* expectedVersionLine;  // null: not looked at
};

// The case folder holds the installer and a full client 1.3.0.189; "full" and "micro" below it
// hold a full and a micro client 1.3.0.189.
TEST_F(PlayerDialogTest, ClientFolderComesFromTheKeyOfThePackageKind)
{
    const std::string versionLine189 = "当前客户端版本: 1.3.0.189  \n更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190";
    const std::vector<LocationCase> cases = {
        {"micro package reads only the micro-client key", kMicroPackage, kFrom, false, "full", "micro", "micro", "",
         true, versionLine189.c_str()},
        {"full package with only the micro-client key uses its own folder", kFullPackage, 0, false, nullptr, "micro", "",
         "", true, "当前客户端版本: 1.3.0.189  更新包支持更新到版本 1.3.0.190"},
        {"a number value counts as missing", kFullPackage, kFrom, true, nullptr, nullptr, "", "", true, nullptr},
        {"a folder that does not exist is shown as stored", kFullPackage, kFrom, false, "gone", nullptr, "gone",
         kFolderNotFound, false, ""},
    };
    int n = 0;
    for (const LocationCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string caseFolder = Folder() / ("case" + std::to_string(++n));
        ASSERT_NO_FATAL_FAILURE(MakeClient(caseFolder, kOldUpdateCfg));
        ASSERT_NO_FATAL_FAILURE(MakeClient(caseFolder + "\\full", kOldUpdateCfg));
        ASSERT_NO_FATAL_FAILURE(MakeClient(caseFolder + "\\micro", kOldUpdateCfg, true));
        const std::string installer = MakeInstaller(caseFolder, SmallPatch(), c.from, c.clientType);
        auto inCase = [&](const char* relative) {
            return std::string(relative).empty() ? caseFolder : caseFolder + "\\" + relative;
        };
        if (c.fullKeyAsNumber) {
            ASSERT_TRUE(InstallPathKeys::SetNumber(kFullKey, 1));
        }
        if (c.fullKeyFolder) {
            ASSERT_TRUE(InstallPathKeys::SetFolder(kFullKey, inCase(c.fullKeyFolder)));
        }
        if (c.microKeyFolder) {
            ASSERT_TRUE(InstallPathKeys::SetFolder(kMicroKey, inCase(c.microKeyFolder)));
        }

        DialogRun run;
        ASSERT_NO_FATAL_FAILURE(Open(run, installer));
        ExpectStatus(run, c.expectedStatus);
        EXPECT_EQ(run.dialog.Text(kClientFolder), inCase(c.expectedFolder));
        ExpectButtons(run, c.startEnabled, true, true);
        if (c.expectedVersionLine) {
            EXPECT_EQ(run.dialog.Text(kVersionLine), c.expectedVersionLine)
                << Shown(run.dialog.Text(kVersionLine));
        }
        CloseWithButton(run, {caseFolder, inCase(c.expectedFolder)});
        InstallPathKeys::Clear();  // the next case starts without values
    }
}

TEST_F(PlayerDialogTest, CrcFailureOnStartLetsThePlayerTryAgain)
{
    size_t packageLength = 0;
    const std::string installer = MakeInstaller(Folder().Path(), SmallPatch(), kFrom, kFullPackage, &packageLength);
    std::string bytes;
    ASSERT_TRUE(velsupport::ReadFileText(installer, &bytes));
    ASSERT_GT(packageLength, 16u);
    ASSERT_LT(packageLength + 32, bytes.size());
    // The package sits right before the 32-byte trailer.
    const size_t middle = bytes.size() - 32 - packageLength / 2;
    bytes[middle] = static_cast<char>(bytes[middle] ^ 0x01);
    ASSERT_TRUE(velsupport::WriteFileText(installer, bytes));

    const std::string client = Folder() / "client";
    ASSERT_NO_FATAL_FAILURE(MakeClient(client, kOldUpdateCfg));
    ASSERT_TRUE(InstallPathKeys::SetFolder(kFullKey, client));

    DialogRun run;
    ASSERT_NO_FATAL_FAILURE(Open(run, installer));
    ExpectStatus(run, "");
    ExpectButtons(run, true, true, true);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        DeleteFileA((client + "\\patch.pkg").c_str());
        ASSERT_TRUE(run.dialog.Click(kStartButton));
        ExpectStatus(run, kCrcFailed);
        ExpectButtons(run, true, true, true);
        // The CRC failure proves the copy was made; a copy that fails its check is removed.
        EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg")) << "the damaged copy was left behind";
        ASSERT_NO_FATAL_FAILURE(ExpectStaysOpenOnEscapeAndClose(run));
    }
    EXPECT_EQ(FileText(client + "\\update.cfg"), kOldUpdateCfg);
    CloseWithButton(run, {Folder().Path(), client});
}

// A client program that is running holds the installation at its question, so the dialog can
// be looked at while the worker thread is certainly running.
TEST_F(PlayerDialogTest, InstallsWithEveryButtonLockedUntilTheWorkerEnds)
{
    const std::string installer = MakeInstaller(Folder().Path(), SmallPatch(), kFrom, kFullPackage);
    // A Chinese folder name with a trail byte 0x5C (乗), as players' folders may have.
    const std::string client = Folder() / "Velmora客户端乗";
    ASSERT_NO_FATAL_FAILURE(MakeClient(client, kOldUpdateCfg));
    ASSERT_TRUE(InstallPathKeys::SetFolder(kFullKey, client));

    const RunningProgram sleeper(velsupport::ProgramFolder() + "\\vel_sleeper.exe", Folder().Path(), "Velmora.exe");
    ASSERT_TRUE(sleeper.Started()) << "the client program stand-in did not start";

    DialogRun run;
    ASSERT_NO_FATAL_FAILURE(Open(run, installer));
    ExpectStatus(run, "");
    ExpectButtons(run, true, true, true);
    EXPECT_EQ(run.dialog.Text(kClientFolder), client);
    EXPECT_EQ(run.dialog.Text(kVersionLine), TwoLineVersion("1.3.0.189"));

    ASSERT_TRUE(run.dialog.Click(kStartButton));
    HWND question = nullptr;
    ASSERT_TRUE(uidriver::WaitUntil(run.process, kStateTimeoutMs, [&] {
        question = uidriver::FindProcessWindow(run.process.Id(), "#32770", kRunningProgramCaption);
        return question != nullptr;
    })) << "the installation did not ask to end the running client";

    // While the worker runs, neither Enter (Start), Close, Escape nor a close request does anything.
    ExpectButtons(run, false, false, false);
    FILETIME extracted = {};
    ASSERT_TRUE(LastWrite(client + "\\patch.pkg", &extracted));
    run.dialog.PostCommand(kStartButton);
    run.dialog.PostCommand(kCloseButton);
    ASSERT_NO_FATAL_FAILURE(ExpectStaysOpenOnEscapeAndClose(run));
    ExpectButtons(run, false, false, false);
    FILETIME afterKeys = {};
    ASSERT_TRUE(LastWrite(client + "\\patch.pkg", &afterKeys));
    EXPECT_EQ(CompareFileTime(&extracted, &afterKeys), 0) << "a second Start extracted the package again";

    PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(question, IDYES)));
    EXPECT_TRUE(velsupport::WaitSignalled(sleeper.Handle(), kStateTimeoutMs)) << "the running client was not ended";

    ExpectStatus(run, kInstalled);
    EXPECT_TRUE(run.dialog.WaitForEnabled(kCloseButton, true, kInstallTimeoutMs));
    EXPECT_TRUE(run.dialog.WaitForEnabled(kBrowseButton, true, kStateTimeoutMs));
    EXPECT_FALSE(run.dialog.Enabled(kStartButton));
    EXPECT_EQ(run.dialog.Text(kVersionLine), TwoLineVersion("1.3.0.190"));
    EXPECT_EQ(run.dialog.ProgressUpperLimit(), 3);
    EXPECT_EQ(run.dialog.ProgressPosition(), 3);

    EXPECT_EQ(FileText(client + "\\update.cfg"), kNewUpdateCfg);
    EXPECT_TRUE(FileText(client + "\\readme.txt") == SmallPatch()[1].data) << "readme.txt differs";
    EXPECT_EQ(FileText(client + "\\package\\package.cfg"), "D010300BE.pkg\r\n");
    EXPECT_TRUE(velsupport::FileExists(client + "\\package\\D010300BE.pkg"));
    EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg"));

    // A session installs once: Enter on the disabled Start button does not start again.
    run.dialog.PostCommand(kStartButton);
    ASSERT_NO_FATAL_FAILURE(ExpectStaysOpenOnEscapeAndClose(run));
    ExpectStatus(run, kInstalled);
    EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg")) << "a second installation started";
    ExpectButtons(run, false, true, true);

    CloseWithButton(run, {Folder().Path(), client});
}

}  // namespace
