// Plays one installation through the dialog for scripts/screenshots.sh and tells the script when
// to take its pictures: "<name>.rect" (the dialog's screen rectangle "x y width height") appears
// in the current folder when the dialog shows the state, and the driver goes on once the script
// has written "<name>.taken". States: "installing" (progress under way), then "done".
//
// Usage: vel_ui_shots.exe [entry count [client folder]]   exit code 0 when both states were caught.
// The client folder is made for the run and removed afterwards; it must not exist yet.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "PackTool.h"
#include "support/ChildProcess.h"
#include "support/Files.h"
#include "support/TempFolder.h"

namespace {

constexpr DWORD kOpenTimeoutMs = 30000;
constexpr DWORD kInstallTimeoutMs = 300000;
constexpr DWORD kShotTimeoutMs = 60000;
constexpr int kDefaultEntries = 4000;

const char kKey[] = "Software\\Korvex\\Velmora";
const char kInstalling[] = "开始安装更新包...";
const char kInstalled[] = "更新包安装完毕，谢谢您支持我们的游戏！";

int Fail(const char* what)
{
    std::fprintf(stderr, "vel_ui_shots: %s\n", what);
    return 1;
}

class InstallPathValue {
public:
    explicit InstallPathValue(const std::string& folder)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        ok_ = RegSetValueExA(key, "PathRoot", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                             static_cast<DWORD>(folder.size() + 1)) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~InstallPathValue() { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
    InstallPathValue(const InstallPathValue&) = delete;
    InstallPathValue& operator=(const InstallPathValue&) = delete;
    bool Ok() const { return ok_; }

private:
    bool ok_ = false;
};

// Announces the state and waits for the script's answer.
bool TakeShot(const velsupport::ChildProcess& process, const uidriver::PlayerDialog& dialog, const std::string& name)
{
    RECT r;
    if (!GetWindowRect(dialog.Window(), &r))
        return false;
    const std::string text = std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                             std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top) + "\n";
    // Written under another name first: the script never reads half a file.
    const std::string rect = name + ".rect";
    if (!velsupport::WriteFileText(rect + ".part", text) || !MoveFileExA((rect + ".part").c_str(), rect.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    std::printf("vel_ui_shots: %s %s", name.c_str(), text.c_str());
    std::fflush(stdout);
    return uidriver::WaitUntil(process, kShotTimeoutMs, [&] { return velsupport::FileExists(name + ".taken"); });
}

}  // namespace

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::atoi(argv[1]) : kDefaultEntries;
    if (entries < 1)
        return Fail("entry count must be positive");
    const velsupport::TempFolder work("shots", velsupport::TempFolder::Place::CurrentFolder);
    if (!work.Valid())
        return Fail("cannot make a work folder");
    const std::string& here = work.Path();

    // A full client 1.3.0.189, and a patch to 1.3.0.190 big enough for the progress bar to be
    // caught under way.
    const std::string client = argc > 2 ? std::string(argv[2]) : here + "\\Velmora客户端";
    if (GetFileAttributesA(client.c_str()) != INVALID_FILE_ATTRIBUTES)
        return Fail("the client folder exists already");
    struct ClientCleanup {
        std::string folder;
        ~ClientCleanup() { velsupport::RemoveTree(folder); }
    } clientCleanup{client};
    if (!velsupport::WriteFileText(client + "\\update.cfg", "ver=1.3.0.189\r\nexe=Velmora.exe\r\n") ||
        !CreateDirectoryA((client + "\\package").c_str(), nullptr))
        return Fail("cannot lay out the client");
    std::vector<PackFile> files = {{"update.cfg", "ver=1.3.0.190\r\nexe=Velmora.exe\r\n"}};
    for (int i = 0; i < entries; ++i) {
        std::string data(4096, '\0');
        for (size_t j = 0; j < data.size(); ++j)
            data[j] = static_cast<char>((i * 7 + j * 13 + (j >> 5)) & 0xFF);
        files.push_back({"data\\" + std::to_string(i / 500) + "\\" + std::to_string(i) + ".dat", data});
    }
    const std::string pkg = here + "\\source.pkg";
    const std::string installer = here + "\\" + VEL_INSTALLER_EXE;
    std::string error;
    if (!WritePackage(files, pkg, &error) ||
        !BuildInstaller(velsupport::ProgramFolder() + "\\" + VEL_INSTALLER_EXE, pkg, 0x010300BD, 0x010300BE, 0, installer, &error))
        return Fail(("cannot build the installer: " + error).c_str());

    InstallPathValue value(client);
    if (!value.Ok())
        return Fail("cannot write the install path to the registry");

    velsupport::ChildProcess process;
    if (!process.Start(installer, "", here, &error))
        return Fail(error.c_str());
    uidriver::PlayerDialog dialog(process);
    if (!dialog.Find(kOpenTimeoutMs))
        return Fail("the dialog did not appear");
    if (!dialog.WaitForEnabled(uidriver::kStartButton, true, kOpenTimeoutMs) || !dialog.Click(uidriver::kStartButton))
        return Fail("cannot start the installation");

    const bool underWay = uidriver::WaitUntil(process, kInstallTimeoutMs, [&] {
        const int limit = dialog.ProgressUpperLimit();
        return dialog.Text(uidriver::kStatusLine) == kInstalling && limit > 0 && dialog.ProgressPosition() * 3 >= limit;
    });
    if (!underWay)
        return Fail("the installation was not seen under way");
    if (!TakeShot(process, dialog, "installing"))
        return Fail("no picture of the installation");
    if (dialog.Enabled(uidriver::kCloseButton))
        return Fail("the installation ended before the picture was taken: use more entries");

    if (!dialog.WaitForText(uidriver::kStatusLine, kInstalled, kInstallTimeoutMs) ||
        !dialog.WaitForEnabled(uidriver::kCloseButton, true, kInstallTimeoutMs))
        return Fail("the installation did not complete");
    if (!TakeShot(process, dialog, "done"))
        return Fail("no picture of the completed installation");

    DWORD code = 1;
    if (!dialog.Click(uidriver::kCloseButton) || !process.WaitExit(kOpenTimeoutMs, &code) || code != 0)
        return Fail("the dialog did not close");
    return 0;
}
