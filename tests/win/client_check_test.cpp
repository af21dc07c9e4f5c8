// The client check, the registry lookup of the client folder and the browse button's path,
// against real folders, Wine's real registry and a window holding the dialog's controls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "client/ClientLocation.h"
#include "install/InstallRun.h"
#include "report/LauncherReporter.h"
#include "ui/DialogIds.h"
#include "ui/MainDialog.h"
#include "support/Files.h"
#include "support/MonitorWindow.h"
#include "support/TempFolder.h"

namespace {

// A unique client folder under the temp folder; the current directory is restored afterwards.
class ClientFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof(cwd), cwd);
        savedCwd_ = cwd;
        ASSERT_TRUE(folder_.Valid());
        root_ = folder_.Path();
        ASSERT_TRUE(velsupport::MakeFolders(folder_ / "Config"));
        run_.client.folder = root_ + "\\";
        run_.package.trailer.fromVersion = 0x010300BD;
        run_.package.trailer.toVersion = 0x010300BE;
        run_.package.trailer.clientType = 0;
    }
    // The client check makes the client folder current: the folder is left before it is removed.
    void TearDown() override { SetCurrentDirectoryA(savedCwd_.c_str()); }
    void Version(const char* text) { ASSERT_TRUE(velsupport::WriteFileText(folder_ / "update.cfg", text)); }
    void Micro(int ver) {
        ASSERT_TRUE(velsupport::WriteFileText(folder_ / "Config\\MiniClient.ini",
                                              "[Version]\r\nVer=" + std::to_string(ver) + "\r\n"));
    }

    // The client check with the archive choice, as every run does it.
    int CheckClient() { return CodeOf(CheckClientFolder(run_, launcher_)); }

    std::string savedCwd_;
    velsupport::TempFolder folder_{"vel-client"};
    std::string root_;
    DialogSession session_;
    RunState& run_ = session_.run;
    LauncherReporter launcher_{reinterpret_cast<HWND>(static_cast<INT_PTR>(1))};
};

}  // namespace

TEST_F(ClientFolderTest, VersionRangeAroundThePackage) {
    struct Case {
        const char* line;
        int expected;
    } cases[] = {
        {"ver=1.3.0.189\n", 0}, {"ver=1.3.0.190\n", 0}, {"ver=1.3.0.188\n", -9996}, {"ver=1.3.0.191\n", -9995}};
    for (const Case& c : cases) {
        Version(c.line);
        run_.client.versionText.clear();
        EXPECT_EQ(CheckClient(), c.expected) << c.line;
        // The version line is built before the range verdict, so a refused client sees both.
        EXPECT_NE(run_.client.versionText.find("\n更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190"), std::string::npos);
    }
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof(cwd), cwd);
    EXPECT_EQ(_stricmp(cwd, root_.c_str()), 0);
}

TEST_F(ClientFolderTest, NoLowerBoundGivesTheOneLineForm) {
    run_.package.trailer.fromVersion = 0;
    Version("ver=0.0.0.0\n");
    EXPECT_EQ(CheckClient(), 0);
    EXPECT_EQ(run_.client.versionText, "当前客户端版本: 0.0.0.0  更新包支持更新到版本 1.3.0.190");
}

TEST_F(ClientFolderTest, KindIsCheckedBeforeTheVersionIsRead) {
    Micro(1);
    run_.client.versionText = "previous";
    EXPECT_EQ(CheckClient(), -9989);  // no update.cfg at all
    EXPECT_EQ(run_.client.versionText, "previous");
    EXPECT_TRUE(run_.client.isMicro);
    Micro(2);
    run_.package.trailer.clientType = 1;
    Version("ver=1.3.0.190\n");
    EXPECT_EQ(CheckClient(), 0);
    run_.package.trailer.clientType = 2;
    EXPECT_EQ(CheckClient(), 0);
    Micro(0);
    run_.package.trailer.clientType = 1;
    EXPECT_EQ(CheckClient(), -9988);
    EXPECT_FALSE(run_.client.isMicro);
    run_.package.trailer.clientType = 2;
    EXPECT_EQ(CheckClient(), 0);
}

TEST_F(ClientFolderTest, MissingFolderFilesAndVersionLine) {
    EXPECT_EQ(CheckClient(), -9998);  // no update.cfg
    Version("Ver=1.3.0.190\nver =1\n");
    EXPECT_EQ(CheckClient(), -9997);
    run_.client.folder = root_ + "\\missing\\";
    EXPECT_EQ(CheckClient(), -9998);
    EXPECT_FALSE(run_.client.isMicro);
    run_.client.folder.clear();
    EXPECT_EQ(CheckClient(), -9998);
    // Too deep to name its kind file: refused rather than guessed to be a full client.
    run_.client.folder = "C:\\" + std::string(240, 'd') + "\\";
    EXPECT_EQ(CheckClient(), -9998);
}

namespace {

// HKCU\Software\Korvex\Velmora[微端] for one test, removed afterwards.
class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvex\\Velmora");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvex\\Velmora微端");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Korvex");
    }
    void Set(const char* key, DWORD type, const void* data, DWORD size) {
        HKEY h;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(h, "PathRoot", 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(h);
    }
    bool Read(uint32_t clientType, std::string* out) {
        char buffer[MAX_PATH];
        memset(buffer, 'x', sizeof(buffer));
        bool ok = ReadInstallPathFromRegistry(clientType, "PathRoot", buffer, sizeof(buffer));
        *out = buffer;
        return ok;
    }
    const char* full_ = "Software\\Korvex\\Velmora";
    const char* micro_ = "Software\\Korvex\\Velmora微端";
};

}  // namespace

TEST_F(RegistryTest, KeyChosenByThePackageKind) {
    std::string out;
    Set(micro_, REG_SZ, "D:\\Micro", 9);
    EXPECT_FALSE(Read(0, &out));  // a full-client package never looks at the micro key
    EXPECT_TRUE(Read(1, &out));
    EXPECT_EQ(out, "D:\\Micro");
    EXPECT_TRUE(Read(7, &out));
    Set(full_, REG_SZ, "D:\\Full\\", 9);
    EXPECT_TRUE(Read(0, &out));
    EXPECT_EQ(out, "D:\\Full\\");
}

TEST_F(RegistryTest, ValueTypesAndTerminators) {
    std::string out;
    Set(full_, REG_EXPAND_SZ, "%WINDIR%\\Game", 14);
    EXPECT_TRUE(Read(0, &out));
    EXPECT_EQ(out, "%WINDIR%\\Game");  // never expanded
    Set(full_, REG_MULTI_SZ, "D:\\A\0\0", 6);
    EXPECT_TRUE(Read(0, &out));
    EXPECT_EQ(out, "D:\\A");
    Set(full_, REG_SZ, "", 0);
    EXPECT_TRUE(Read(0, &out));
    EXPECT_EQ(out, "");
    DWORD number = 5;
    Set(full_, REG_DWORD, &number, sizeof(number));
    EXPECT_FALSE(Read(0, &out));
    std::string tooLong(300, 'L');
    Set(full_, REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() + 1));
    EXPECT_FALSE(Read(0, &out));
}

TEST(RegistryData, OnlyTerminatedStringsCount) {
    // What the query hands back, byte for byte (the registry API may add terminators itself).
    const BYTE terminated[] = {'D', ':', 0};
    const BYTE open[] = {'D', ':'};
    const BYTE multi[] = {'D', 0, 0};
    const BYTE multiOpen[] = {'D', 'x', 0};
    EXPECT_TRUE(IsTerminatedRegistryString(REG_SZ, terminated, 3));
    EXPECT_TRUE(IsTerminatedRegistryString(REG_EXPAND_SZ, terminated, 3));
    EXPECT_FALSE(IsTerminatedRegistryString(REG_SZ, open, 2));
    EXPECT_TRUE(IsTerminatedRegistryString(REG_MULTI_SZ, multi, 3));
    EXPECT_FALSE(IsTerminatedRegistryString(REG_MULTI_SZ, multiOpen, 3));
    EXPECT_TRUE(IsTerminatedRegistryString(REG_MULTI_SZ, multi + 2, 1));
    EXPECT_FALSE(IsTerminatedRegistryString(REG_BINARY, terminated, 3));
    EXPECT_FALSE(IsTerminatedRegistryString(REG_DWORD, terminated, 3));
}

namespace {

char g_picked[MAX_PATH];
bool g_pick = true;

bool FakePicker(HWND, char (&path)[MAX_PATH]) {
    if (!g_pick) return false;
    strcpy(path, g_picked);
    return true;
}

}  // namespace

TEST_F(ClientFolderTest, BrowseChecksThePickedFolder) {
    velsupport::MonitorWindow dialog("t");
    ASSERT_TRUE(dialog.Valid()) << dialog.CreationError();
    HWND edit = dialog.AddChild("EDIT", IDC_CLIENT_DIR, WS_DISABLED);
    HWND browse = dialog.AddChild("BUTTON", IDC_BROWSE, WS_DISABLED);
    HWND start = dialog.AddChild("BUTTON", IDC_START, WS_DISABLED);
    dialog.AddChild("STATIC", IDC_VERSION, WS_DISABLED);
    dialog.AddChild("STATIC", IDC_STATUS, WS_DISABLED);
    session_.reporter.AttachDialog(dialog.Handle());
    FolderPicker previous = SetFolderPicker(FakePicker);

    // Without a trailer the button does nothing.
    g_pick = true;
    strcpy(g_picked, root_.c_str());
    run_.client.folder = "unchanged";
    ChangeClientFolder(session_);
    EXPECT_EQ(run_.client.folder, "unchanged");

    run_.package.found = true;
    Version("ver=1.3.0.190\n");
    ChangeClientFolder(session_);
    EXPECT_EQ(run_.client.folder, root_ + "\\");  // separator appended
    EXPECT_TRUE(IsWindowEnabled(start));
    EXPECT_FALSE(IsWindowEnabled(edit));
    EXPECT_EQ(session_.reporter.StatusText(), "");

    strcpy(g_picked, (root_ + "\\nowhere").c_str());
    ChangeClientFolder(session_);
    EXPECT_EQ(session_.reporter.StatusText(), "客户端安装路径没找到");
    EXPECT_FALSE(IsWindowEnabled(start));
    EXPECT_TRUE(IsWindowEnabled(edit));
    EXPECT_TRUE(IsWindowEnabled(browse));

    Version("ver=1.3.0.191\n");
    strcpy(g_picked, (root_ + "\\").c_str());
    ChangeClientFolder(session_);
    EXPECT_EQ(run_.client.folder, root_ + "\\");  // no second separator
    EXPECT_EQ(session_.reporter.StatusText(), "客户端已经是最新版本，无需执行更新");
    EXPECT_FALSE(IsWindowEnabled(start));
    EXPECT_FALSE(IsWindowEnabled(edit));

    g_pick = false;  // cancelled: nothing changes
    ChangeClientFolder(session_);
    EXPECT_EQ(run_.client.folder, root_ + "\\");

    SetFolderPicker(previous);
}
