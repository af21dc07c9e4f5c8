// Installers built by the release tool's library from files the test writes, run silently
// against client folders the test lays out: the trailer is found, the package verified and
// installed, and what does not fit is reported to the monitor.
#include "e2e_support.h"

#include "PackTool.h"

namespace e2e {
namespace {

constexpr uint32_t kFrom = 0x010300BD;   // 1.3.0.189
constexpr uint32_t kTo = 0x010300BE;     // 1.3.0.190
constexpr uint32_t kFullClient = 0;

class PackagedInstaller : public InstallerTest {
protected:
    void SetUp() override
    {
        InstallerTest::SetUp();
        if (HasFatalFailure())
            return;
        client_ = Folder() / "client";
        // A full client one version below the patch, with its archive folder.
        ASSERT_TRUE(velsupport::WriteFileText(client_ + "\\update.cfg", "ver=1.3.0.189\r\nexe=Velmora.exe\r\n"));
        ASSERT_TRUE(CreateDirectoryA((client_ + "\\package").c_str(), nullptr));
    }

    // Builds the installer from the bare program and a package of `files`; returns the
    // package's length, 0 on failure.
    uint32_t BuildFrom(const std::vector<PackFile>& files)
    {
        const std::string pkg = Folder() / "source.pkg";
        std::string error;
        EXPECT_TRUE(WritePackage(files, pkg, &error)) << error;
        EXPECT_TRUE(BuildInstaller(BareInstallerPath(), pkg, kFrom, kTo, kFullClient, Installer(), &error)) << error;
        std::string bytes;
        EXPECT_TRUE(velsupport::ReadFileText(pkg, &bytes));
        return static_cast<uint32_t>(bytes.size());
    }

    static std::vector<PackFile> SmallPatch()
    {
        return {{"update.cfg", kNewUpdateCfg},
                {"readme.txt", ReadmeText()},
                {"Res\\icon.bin", std::string(2000, '\x7F')}};
    }

    static std::string ReadmeText() { return std::string(3000, 'r') + "说明\r\n"; }
    static constexpr char kNewUpdateCfg[] = "ver=1.3.0.190\r\nexe=Velmora.exe\r\n";

    SilentResult RunSilently(const std::string& title)
    {
        return Run("/S /D=" + client_ + " /user " + title, title, client_);
    }

    const std::string& Client() const { return client_; }

private:
    std::string client_;
};

// What every successful silent run shows, however far the installation itself goes.
void ExpectSuccessfulRun(const SilentResult& r)
{
    EXPECT_EQ(r.run.exitCode, 0u);
    ASSERT_TRUE(r.logExists);
    ASSERT_FALSE(r.log.empty());
    EXPECT_TRUE(LogHas(r.log, "检查安装包和版本")) << Shown(r.log);
    for (const std::string& line : r.log) {
        EXPECT_EQ(line.find("检查安装包和版本失败"), std::string::npos) << harness::GbkToUtf8(line);
        EXPECT_EQ(line.find("生成临时文件包用于解压失败"), std::string::npos) << harness::GbkToUtf8(line);
    }
    EXPECT_EQ(r.log.back(), "升级成功！") << Shown(r.log);
    for (const velsupport::CopyDataRecord& m : r.run.messages)
        EXPECT_NE(m.tag, -16) << "result message " << m.data << ": " << harness::GbkToUtf8(m.bytes);
}

std::string FileText(const std::string& path)
{
    std::string text;
    EXPECT_TRUE(velsupport::ReadFileText(path, &text)) << path;
    return text;
}

TEST_F(PackagedInstaller, FindsVerifiesAndInstallsItsPackage)
{
    BuildFrom(SmallPatch());
    const SilentResult r = RunSilently(UniqueTitle("Vel E2E 监视窗口"));
    ExpectSuccessfulRun(r);

    // The monitor sees percentages that never go back, then the completion pair 100, -1.
    const std::vector<velsupport::CopyDataRecord>& m = r.run.messages;
    ASSERT_GE(m.size(), 2u);
    uint32_t last = 0;
    for (size_t i = 0; i + 1 < m.size(); ++i) {
        EXPECT_EQ(m[i].tag, -15);
        EXPECT_EQ(m[i].cbData, 0u);
        EXPECT_LE(m[i].data, 100u);
        EXPECT_GE(m[i].data, last) << "progress message " << i;
        last = m[i].data;
    }
    EXPECT_EQ(m[m.size() - 2].data, 100u);
    EXPECT_EQ(m.back().tag, -15);
    EXPECT_EQ(m.back().data, 0xFFFFFFFFu);

    // The client folder afterwards: plain files written, resource entries in the new archive
    // named after the target version, the extracted package and the ".new" files gone.
    EXPECT_EQ(FileText(Client() + "\\update.cfg"), kNewUpdateCfg);
    EXPECT_EQ(FileText(Client() + "\\readme.txt"), ReadmeText());
    EXPECT_EQ(FileText(Client() + "\\package\\package.cfg"), "D010300BE.pkg\r\n");
    for (const char* gone : {"patch.pkg", "update.cfg.new", "tmp.tmp", "Res\\icon.bin", "package\\D010300BE.pkg.tmp"})
        EXPECT_FALSE(velsupport::FileExists(Client() + "\\" + gone)) << gone;
    FileReport archive;
    std::string error;
    ASSERT_TRUE(ExamineFile(Client() + "\\package\\D010300BE.pkg", true, &archive, &error)) << error;
    EXPECT_TRUE(archive.problems.empty());
    ASSERT_EQ(archive.entries.size(), 1u);
    EXPECT_EQ(archive.entries[0].name, "Res\\icon.bin");
    EXPECT_EQ(archive.entries[0].size, 2000u);
}

// A signature or other data after the trailer does not hide it.
TEST_F(PackagedInstaller, FindsTrailerFollowedByOtherData)
{
    BuildFrom(SmallPatch());
    std::string exe;
    ASSERT_TRUE(velsupport::ReadFileText(Installer(), &exe));
    exe.append((8 - exe.size() % 8) % 8, '\0');
    for (int i = 0; i < 5000; ++i)
        exe += static_cast<char>((i * 131 + 7) & 0xFF);
    ASSERT_TRUE(velsupport::WriteFileText(Installer(), exe));

    ExpectSuccessfulRun(RunSilently(UniqueTitle("Vel E2E 监视窗口")));
}

// A damaged package is copied out whole, fails its CRC, and the run ends without a message to
// the monitor; the copy is removed again, so the client folder is as it was.
TEST_F(PackagedInstaller, RejectsPackageWithFlippedByte)
{
    const uint32_t packageLength = BuildFrom(SmallPatch());
    ASSERT_GT(packageLength, 2u);
    std::string original;
    ASSERT_TRUE(velsupport::ReadFileText(Installer(), &original));
    const size_t packageStart = original.size() - 32 - packageLength;

    for (const size_t offset : {size_t{0}, size_t{packageLength / 2}, size_t{packageLength - 1}}) {
        SCOPED_TRACE("package byte " + std::to_string(offset));
        std::string damaged = original;
        damaged[packageStart + offset] = static_cast<char>(damaged[packageStart + offset] ^ 0x20);
        ASSERT_TRUE(velsupport::WriteFileText(Installer(), damaged));
        DeleteFileA((Client() + "\\patch.pkg").c_str());

        const SilentResult r = RunSilently(UniqueTitle("Vel E2E 监视窗口"));

        EXPECT_EQ(r.run.exitCode, 1u);
        EXPECT_TRUE(r.run.messages.empty());
        EXPECT_TRUE(LogHas(r.log, "生成临时文件包用于解压失败 -9990")) << Shown(r.log);
        EXPECT_FALSE(LogHas(r.log, "升级成功！"));
        EXPECT_FALSE(velsupport::FileExists(Client() + "\\patch.pkg"));
    }
}

struct ClientCase {
    const char* what;
    const char* updateCfg;      // null: no update.cfg
    const char* miniClientIni;  // null: no Config\MiniClient.ini
    int32_t code;
    const char* message;
};

// A client the patch does not fit: one result message to the monitor, exit code 1, and the
// client folder left as it was.
TEST_F(PackagedInstaller, ReportsClientThatDoesNotFit)
{
    BuildFrom(SmallPatch());
    const std::vector<ClientCase> cases = {
        {"no update.cfg", nullptr, nullptr, -9998, "客户端安装路径没找到"},
        {"no ver line", "realver=1.3.0.189\r\nVer=1.3.0.189\r\n", nullptr, -9997, "客户端文件损坏"},
        {"too old", "ver=1.3.0.188\r\n", nullptr, -9996, "客户端版本太旧，需要下载完整更新包"},
        {"too new", "ver=1.3.0.191\r\n", nullptr, -9995, "客户端已经是最新版本，无需执行更新"},
        {"micro client", "ver=1.3.0.189\r\n", "[Version]\r\nVer=1\r\n", -9989,
         "更新包是全客户端的，请重新下载微端补丁包或选择全客户端安装目录"},
    };
    for (const ClientCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string client = Folder() / (std::string("client_") + std::to_string(-c.code));
        ASSERT_TRUE(CreateDirectoryA(client.c_str(), nullptr));
        if (c.updateCfg) {
            ASSERT_TRUE(velsupport::WriteFileText(client + "\\update.cfg", c.updateCfg));
        }
        if (c.miniClientIni) {
            ASSERT_TRUE(velsupport::WriteFileText(client + "\\Config\\MiniClient.ini", c.miniClientIni));
        }
        const std::string title = UniqueTitle("Vel E2E 监视窗口");

        const SilentResult r = Run("/S /D=" + client + " /user " + title, title, client);

        EXPECT_EQ(r.run.exitCode, 1u);
        ASSERT_EQ(r.run.messages.size(), 1u);
        EXPECT_EQ(r.run.messages[0].tag, -16);
        EXPECT_EQ(r.run.messages[0].data, static_cast<uint32_t>(c.code + 10501));
        EXPECT_EQ(r.run.messages[0].bytes, WithTerminator(c.message));
        EXPECT_TRUE(LogHas(r.log, "检查安装包和版本失败 " + std::to_string(c.code))) << Shown(r.log);
        EXPECT_TRUE(LogHas(r.log, "发送错误消息:" + std::to_string(c.code + 10501))) << Shown(r.log);
        EXPECT_FALSE(velsupport::FileExists(client + "\\patch.pkg"));
        if (c.updateCfg) {
            EXPECT_EQ(FileText(client + "\\update.cfg"), c.updateCfg);
        } else {
            EXPECT_FALSE(velsupport::FileExists(client + "\\update.cfg"));
        }
    }
}

}  // namespace
}  // namespace e2e
