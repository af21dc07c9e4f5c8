// The client check of real installers run silently: which client folders a package refuses, with
// which result message to the monitor, what the log says about the client's kind and version,
// and the clients it accepts.
#include "e2e_support.h"

#include "PackTool.h"

namespace e2e {
namespace {

constexpr uint32_t k189 = 0x010300BD;   // 1.3.0.189
constexpr uint32_t k190 = 0x010300BE;   // 1.3.0.190
constexpr uint32_t kFullPackage = 0;
constexpr uint32_t kMicroPackage = 1;

constexpr char kNewUpdateCfg[] = "ver=1.3.0.190\r\nexe=Velmora.exe\r\n";
constexpr char kMicroIni[] = "[Version]\r\nVer=1\r\n";

// The lines a run leaves in the log, joined by "\n", so that a two-line log text can be found.
std::string Joined(const std::vector<std::string>& log)
{
    std::string text;
    for (const std::string& line : log)
        text += line + "\n";
    return text;
}

bool Mentions(const std::vector<std::string>& log, const std::string& part)
{
    return Joined(log).find(part) != std::string::npos;
}

std::string KindLine(const std::string& clientFolderWithSlash, int micro)
{
    return "客户端类型 " + clientFolderWithSlash + "\\Config\\MiniClient.ini " + std::to_string(micro);
}

class ClientCheck : public InstallerTest {
protected:
    // Builds an installer at `exe` (the test's own installer when empty) around a small patch to
    // 1.3.0.190; returns the package length, 0 on failure.
    uint32_t BuildPatch(uint32_t from, uint32_t clientType, const std::string& exe = {})
    {
        const std::string pkg = Folder() / ("source" + std::to_string(++built_) + ".pkg");
        const std::vector<PackFile> files = {{"update.cfg", kNewUpdateCfg},
                                             {"readme.txt", std::string(1500, 'r') + "\r\n"},
                                             {"Res\\a.bin", std::string(700, '\x11')}};
        std::string error;
        EXPECT_TRUE(WritePackage(files, pkg, &error)) << error;
        EXPECT_TRUE(BuildInstaller(BareInstallerPath(), pkg, from, k190, clientType, exe.empty() ? Installer() : exe,
                                   &error))
            << error;
        std::string bytes;
        EXPECT_TRUE(velsupport::ReadFileText(pkg, &bytes));
        return static_cast<uint32_t>(bytes.size());
    }

    // Lays out a client folder: update.cfg and Config\MiniClient.ini when given (null: none).
    static void MakeClient(const std::string& folder, const char* updateCfg, const char* miniIni)
    {
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << harness::GbkToUtf8(folder);
        ASSERT_TRUE(CreateDirectoryA((folder + "\\package").c_str(), nullptr));
        if (updateCfg) {
            ASSERT_TRUE(velsupport::WriteFileText(folder + "\\update.cfg", updateCfg));
        }
        if (miniIni) {
            ASSERT_TRUE(velsupport::WriteFileText(folder + "\\Config\\MiniClient.ini", miniIni));
        }
    }

    SilentResult RunOn(const std::string& client, const std::string& exe = {})
    {
        const std::string title = UniqueTitle("Vel 客户端检查");
        return Run("/S /D=" + client + " /user " + title, title, {}, exe);
    }

private:
    unsigned built_ = 0;
};

// Outcome of a run that installed: exit 0, no result message, the new update.cfg in place.
void ExpectInstalled(const SilentResult& r, const std::string& client)
{
    EXPECT_EQ(r.run.exitCode, 0u) << Shown(r.log);
    for (const velsupport::CopyDataRecord& m : r.run.messages)
        EXPECT_NE(m.tag, -16) << m.data << " " << harness::GbkToUtf8(m.bytes);
    ASSERT_FALSE(r.log.empty());
    EXPECT_EQ(r.log.back(), "升级成功！") << Shown(r.log);
    EXPECT_FALSE(Mentions(r.log, "检查安装包和版本失败")) << Shown(r.log);
    std::string cfg;
    EXPECT_TRUE(velsupport::ReadFileText(client + "\\update.cfg", &cfg));
    EXPECT_EQ(cfg, kNewUpdateCfg);
    EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg"));
}

struct Refusal {
    const char* what;
    uint32_t clientType;        // of the package
    bool folderExists;
    const char* updateCfg;      // null: none
    const char* miniIni;        // null: none
    uint32_t number;            // result number to the monitor
    const char* message;
    int micro;                  // the kind the log names
    const char* versionText;    // logged version message; null: the check ends before it
};

// Every refusal: one result message with its text and terminator, exit code 1, the kind line,
// the version line only once the version was read, and nothing extracted into the client.
TEST_F(ClientCheck, RefusesClientsThePackageDoesNotFit)
{
    const std::string fullExe = Folder() / "full\\VelmoraPatch.exe";
    const std::string microExe = Folder() / "micro\\VelmoraPatch.exe";
    ASSERT_TRUE(CreateDirectoryA((Folder() / "full").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((Folder() / "micro").c_str(), nullptr));
    ASSERT_GT(BuildPatch(k189, kFullPackage, fullExe), 0u);
    ASSERT_GT(BuildPatch(k189, kMicroPackage, microExe), 0u);

    const char* notFound = "客户端安装路径没找到";
    const char* damaged = "客户端文件损坏";
    const char* fullForMicro = "更新包是全客户端的，请重新下载微端补丁包或选择全客户端安装目录";
    const std::vector<Refusal> cases = {
        {"missing folder", kFullPackage, false, nullptr, nullptr, 503, notFound, 0, nullptr},
        {"no update.cfg", kFullPackage, true, nullptr, nullptr, 503, notFound, 0, nullptr},
        // The key must be exactly "ver": other case, a blank before "=", or a longer key do not count.
        {"no ver line", kFullPackage, true, "Ver=1.3.0.189\r\nver =1.3.0.189\r\nrealver=1.3.0.189\r\n", nullptr, 504,
         damaged, 0, nullptr},
        {"empty update.cfg", kFullPackage, true, "", nullptr, 504, damaged, 0, nullptr},
        {"too old", kFullPackage, true, "ver=1.3.0.188\r\n", nullptr, 505, "客户端版本太旧，需要下载完整更新包", 0,
         "当前客户端版本: 1.3.0.188  \n更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190"},
        {"above the target", kFullPackage, true, "realver=1.3.0.100\nver=1.3.0.191\n", nullptr, 506,
         "客户端已经是最新版本，无需执行更新", 0,
         "当前客户端版本: 1.3.0.191  \n更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190"},
        // The kind is decided before update.cfg is read.
        {"micro client", kFullPackage, true, "ver=1.3.0.189\r\n", kMicroIni, 512, fullForMicro, 1, nullptr},
        {"micro client without update.cfg", kFullPackage, true, nullptr, kMicroIni, 512, fullForMicro, 1, nullptr},
        {"micro client, Ver=2", kFullPackage, true, "ver=1.3.0.189\r\n", "[Version]\r\nVer=2\r\n", 512, fullForMicro, 1,
         nullptr},
        {"full client, micro package", kMicroPackage, true, "ver=1.3.0.189\r\n", "[Version]\r\nVer=0\r\n", 513,
         "更新包是微端的，请重新下载全客户端补丁包或选择微端安装目录", 0, nullptr},
        {"full client without ini, micro package", kMicroPackage, true, "ver=1.3.0.189\r\n", nullptr, 513,
         "更新包是微端的，请重新下载全客户端补丁包或选择微端安装目录", 0, nullptr},
    };
    int n = 0;
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string client = Folder() / ("client" + std::to_string(++n));
        if (c.folderExists) {
            MakeClient(client, c.updateCfg, c.miniIni);
        }

        const SilentResult r = RunOn(client, c.clientType == kMicroPackage ? microExe : fullExe);

        EXPECT_EQ(r.run.exitCode, 1u);
        ASSERT_EQ(r.run.messages.size(), 1u);
        const velsupport::CopyDataRecord& m = r.run.messages[0];
        EXPECT_EQ(m.tag, -16);
        EXPECT_EQ(m.data, c.number);
        EXPECT_EQ(m.cbData, std::strlen(c.message) + 1);
        EXPECT_EQ(m.bytes, WithTerminator(c.message)) << harness::GbkToUtf8(m.bytes);

        const int code = static_cast<int>(c.number) - 10501;
        EXPECT_TRUE(LogHas(r.log, KindLine(client + "\\", c.micro))) << Shown(r.log);
        EXPECT_TRUE(LogHas(r.log, "检查安装包和版本失败 " + std::to_string(code))) << Shown(r.log);
        EXPECT_TRUE(LogHas(r.log, "发送错误消息:" + std::to_string(c.number))) << Shown(r.log);
        EXPECT_FALSE(Mentions(r.log, "升级成功！"));
        if (c.versionText) {
            const std::string line = "游戏是否微端:" + std::to_string(c.micro) + "，补丁包是否微端:" +
                                     std::to_string(c.clientType) + "，版本信息:" + c.versionText + "\n";
            EXPECT_TRUE(Mentions(r.log, line)) << Shown(r.log);
        } else {
            EXPECT_FALSE(Mentions(r.log, "游戏是否微端")) << Shown(r.log);
        }

        if (c.folderExists) {
            EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg"));
            std::string cfg;
            if (c.updateCfg) {
                EXPECT_TRUE(velsupport::ReadFileText(client + "\\update.cfg", &cfg));
                EXPECT_EQ(cfg, c.updateCfg);
            }
        } else {
            EXPECT_EQ(GetFileAttributesA(client.c_str()), INVALID_FILE_ATTRIBUTES) << "the client folder was made";
        }
    }
}

// A client already at the target version takes the package again.
TEST_F(ClientCheck, AppliesPackageAgainToClientAtTargetVersion)
{
    ASSERT_GT(BuildPatch(k189, kFullPackage), 0u);
    const std::string client = Folder() / "client";
    MakeClient(client, "ver=1.3.0.190\r\n", nullptr);

    const SilentResult r = RunOn(client);

    ExpectInstalled(r, client);
    EXPECT_TRUE(LogHas(r.log, KindLine(client + "\\", 0))) << Shown(r.log);
    EXPECT_TRUE(Mentions(r.log, "游戏是否微端:0，补丁包是否微端:0，版本信息:当前客户端版本: 1.3.0.190  \n"
                                "更新包支持: 从版本 1.3.0.189 更新到版本 1.3.0.190\n"))
        << Shown(r.log);
}

// Without a lower bound even version 0.0.0.0 fits, and the version message is the one-line form.
TEST_F(ClientCheck, AcceptsAnyClientWithoutLowerBound)
{
    ASSERT_GT(BuildPatch(0, kFullPackage), 0u);
    const std::string client = Folder() / "client";
    MakeClient(client, "ver=0.0.0.0\r\n", nullptr);

    const SilentResult r = RunOn(client);

    ExpectInstalled(r, client);
    EXPECT_TRUE(LogHas(r.log, "游戏是否微端:0，补丁包是否微端:0，版本信息:当前客户端版本: 0.0.0.0  "
                              "更新包支持更新到版本 1.3.0.190"))
        << Shown(r.log);
}

// A package damaged after it was built passes the client check, is copied out whole, fails its
// CRC, and ends the run without a result message.
TEST_F(ClientCheck, DamagedPackageFailsAfterCheckWithoutResultMessage)
{
    const uint32_t packageLength = BuildPatch(k189, kMicroPackage);
    ASSERT_GT(packageLength, 100u);
    std::string exe;
    ASSERT_TRUE(velsupport::ReadFileText(Installer(), &exe));
    const size_t flipAt = exe.size() - 32 - packageLength + packageLength / 2;
    exe[flipAt] = static_cast<char>(exe[flipAt] ^ 0x01);
    ASSERT_TRUE(velsupport::WriteFileText(Installer(), exe));
    const std::string client = Folder() / "client";
    MakeClient(client, "ver=1.3.0.189\r\n", kMicroIni);

    const SilentResult r = RunOn(client);

    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_TRUE(r.run.messages.empty());
    EXPECT_TRUE(LogHas(r.log, KindLine(client + "\\", 1))) << Shown(r.log);
    EXPECT_TRUE(Mentions(r.log, "游戏是否微端:1，补丁包是否微端:1，版本信息:")) << Shown(r.log);
    EXPECT_TRUE(LogHas(r.log, "生成临时文件包用于解压失败 -9990")) << Shown(r.log);
    EXPECT_FALSE(Mentions(r.log, "检查安装包和版本失败"));
    EXPECT_FALSE(Mentions(r.log, "发送错误消息"));
    EXPECT_FALSE(Mentions(r.log, "升级成功！"));
    // The damaged copy is removed again.
    EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg"));
    std::string cfg;
    EXPECT_TRUE(velsupport::ReadFileText(client + "\\update.cfg", &cfg));
    EXPECT_EQ(cfg, "ver=1.3.0.189\r\n");
}

// A client folder whose GBK name holds trail bytes 0x5C, one of them its last byte: the folder
// still gets its closing backslash, its kind file is found, and the install goes through.
TEST_F(ClientCheck, InstallsIntoFolderWithTrailByteBackslashes)
{
    ASSERT_GT(BuildPatch(k189, kMicroPackage), 0u);
    const std::string name = "乗表乗";
    ASSERT_EQ(name.back(), '\x5C') << "the name must end with a trail byte 0x5C";
    const std::string client = Folder() / name;
    MakeClient(client, "ver=1.3.0.189\r\n", kMicroIni);

    const SilentResult r = RunOn(client);

    ExpectInstalled(r, client);
    EXPECT_TRUE(LogHas(r.log, "安装路径:" + client + "\\")) << Shown(r.log);
    EXPECT_TRUE(LogHas(r.log, KindLine(client + "\\", 1))) << Shown(r.log);
    EXPECT_TRUE(Mentions(r.log, "游戏是否微端:1，补丁包是否微端:1，版本信息:当前客户端版本: 1.3.0.189  \n"))
        << Shown(r.log);
    std::string list;
    EXPECT_TRUE(velsupport::ReadFileText(client + "\\package\\package.cfg", &list));
    EXPECT_EQ(list, "D010300BE.pkg\r\n");
    EXPECT_TRUE(velsupport::FileExists(client + "\\package\\D010300BE.pkg"));
}

}  // namespace
}  // namespace e2e
