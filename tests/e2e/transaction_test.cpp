// Silent installations as transactions: a package that cannot be read fails without a trace,
// the same installer run twice leaves the client as the first run did, and an interrupted run
// of an earlier installer (this one, or one that wrote beside its targets) is finished or
// repaired before the checks.
#include "install_support.h"

namespace e2e {
namespace install {
namespace {

const char kOldUpdateCfg[] = "ver=1.3.0.189\r\n";
const char kNewUpdateCfg[] = "ver=1.3.0.190\r\n";
const char kArchive[] = "package\\D010300BD.pkg";

class TransactionRun : public ClientInstallTest {
protected:
    // A client at 1.3.0.189 with an archive, a read-only file, a resource index with two patches
    // and the merge library beside it.
    void LayOut()
    {
        Put("update.cfg", kOldUpdateCfg);
        Put("package\\package.cfg", "D010300BD.pkg\r\n");
        PutArchive(kArchive, {{"Res\\a.bin", "old a"}, {"Res\\b.bin", "old b"}});
        Put("data\\ro.txt", "read-only");
        MakeReadOnly("data\\ro.txt");
        Put("RAVN\\RAVNFileList.ini", FileList({"A.vpk", "B.vpk"}));
        Put("RAVN\\RAVNDownload\\A.vpk", "A");
        Put("RAVN\\RAVNDownload\\B.vpk", "B");
        ASSERT_TRUE(CopyFileA((velsupport::ProgramFolder() + "\\RAVNMerge.dll").c_str(), At("RAVNMerge.dll").c_str(),
                              FALSE));
    }
    std::vector<PackFile> Patch() const
    {
        return {{"Res\\a.bin", "new a"},         {"data\\ro.txt", "replaced"},
                {"新文件夹\\说明.txt", "说明"},   {"RAVN\\RAVNDownload\\C.vpk", "C"},
                {"RAVN/RAVNFileList.ini", FileList({"C.vpk"})}, {"update.cfg", kNewUpdateCfg}};
    }
};

}  // namespace

// A package that extracts with the right CRC but is no archive cannot be opened: the run fails
// with 501 and leaves nothing behind.
TEST_F(TransactionRun, UnreadablePackageFailsWithoutATrace)
{
    LayOut();
    const std::string pkg = Folder() / "tiny.pkg";
    ASSERT_TRUE(velsupport::WriteFileText(pkg, "not an archive"));  // shorter than an archive header
    std::string error;
    ASSERT_TRUE(BuildInstaller(BareInstallerPath(), pkg, kPatchFrom, kPatchTo, 0, Installer(), &error)) << error;
    const Snapshot before = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    const std::string text = "打开数据包patch.pkg时出错！";
    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_MESSAGES(r.run.messages, (std::vector<velsupport::CopyDataRecord>{ResultMessage(501, text)}));
    ASSERT_FALSE(r.log.empty());
    EXPECT_TRUE(LogHasInOrder(r.log, {text, "发送错误消息:501", "升级失败！"})) << Shown(r.log);
    EXPECT_EQ(r.log.back(), "升级失败！");
    EXPECT_FOLDER(TakeSnapshot(Client()), before);
}

// The same installer again on the client it brought to the new version changes nothing: the
// reserve copy keeps the list from before the first run and the merge is not repeated.
TEST_F(TransactionRun, SameInstallerTwiceLeavesTheClientAsTheFirstRun)
{
    LayOut();
    BuildPatch(Patch());

    const SilentResult first = RunSilent();
    ASSERT_EQ(first.run.exitCode, 0u);
    const Snapshot once = TakeSnapshot(Client());
    EXPECT_EQ(Text("RAVN\\RAVNReserve\\RAVNFileList.ini"), FileList({"A.vpk", "B.vpk"}));
    EXPECT_EQ(Text("RAVN\\RAVNFileList.ini"), FileList({"C.vpk"}));
    EXPECT_FALSE(Exists("VelmoraPatch.staging"));

    const SilentResult second = RunSilent();

    EXPECT_EQ(second.run.exitCode, 0u);
    ASSERT_FALSE(second.log.empty());
    EXPECT_EQ(second.log.back(), "升级成功！");
    EXPECT_TRUE(LogHas(second.log, "vpk文件列表已是最新，不需要合并")) << Shown(second.log);
    EXPECT_FOLDER(TakeSnapshot(Client()), once);
}

// A commit of an earlier run that was cut short is finished before anything is checked, then
// the installation runs as usual.
TEST_F(TransactionRun, InterruptedCommitIsFinishedFirst)
{
    LayOut();
    BuildPatch(Patch());
    // The earlier run had begun to commit: one new file still staged, one original kept aside.
    Put("VelmoraPatch.staging\\s0", "from the interrupted run");
    Put("VelmoraPatch.staging\\o1", "kept original");
    Put("VelmoraPatch.staging\\journal",
        "VELJOURNAL 1\nphase commit\nto 16974782\ndir earlier\nput 0 earlier\\done.txt\nput 1 notes.txt\nend\n");

    const SilentResult r = RunSilent();

    EXPECT_EQ(r.run.exitCode, 0u);
    EXPECT_TRUE(LogHasInOrder(r.log, {"继续完成上次中断的安装", "上次中断的安装已完成", "检查安装包和版本", "升级成功！"}))
        << Shown(r.log);
    EXPECT_EQ(Text("earlier\\done.txt"), "from the interrupted run");
    EXPECT_EQ(Text("update.cfg"), kNewUpdateCfg);
    EXPECT_FALSE(Exists("VelmoraPatch.staging"));
}

// A second installer started on the folder while the first is in its commit (here: the first's
// lock held by the test) neither finishes nor undoes the first's staging folder: it stops with
// 501 and touches nothing.
TEST_F(TransactionRun, ASecondInstallerLeavesTheFirstOnesCommitAlone)
{
    LayOut();
    BuildPatch(Patch());
    Put("VelmoraPatch.staging\\s0", "staged by the first run");
    Put("VelmoraPatch.staging\\journal",
        "VELJOURNAL 1\nphase commit\nto 16974782\ndir earlier\nput 0 earlier\\done.txt\nend\n");
    velsupport::ScopedHandle first(CreateFileA(At("VelmoraPatch.lock").c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                               nullptr, OPEN_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(first.Valid());
    const Snapshot before = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    const std::string text = "另一个更新程序正在更新此客户端，请等它结束后再试！";
    EXPECT_EQ(r.run.exitCode, 1u);
    EXPECT_MESSAGES(r.run.messages, (std::vector<velsupport::CopyDataRecord>{ResultMessage(501, text)}));
    EXPECT_TRUE(LogHasInOrder(r.log, {text, "升级失败！"})) << Shown(r.log);
    EXPECT_FOLDER(TakeSnapshot(Client()), before);
}

// What an installer that wrote beside its targets left half done: the client archive parked
// as "tmp.tmp" and the version file lost. Both are put back first, then the patch goes on top.
TEST_F(TransactionRun, LeftoversOfAnOlderInstallerAreRepairedFirst)
{
    LayOut();
    BuildPatch(Patch());
    ASSERT_TRUE(MoveFileA(At(kArchive).c_str(), At("tmp.tmp").c_str()));
    ASSERT_TRUE(MoveFileA(At("update.cfg").c_str(), At("update.cfg.new").c_str()));

    const SilentResult r = RunSilent();

    EXPECT_EQ(r.run.exitCode, 0u);
    EXPECT_TRUE(LogHasInOrder(r.log, {"恢复客户端数据包package\\D010300BD.pkg", "恢复update.cfg：update.cfg.new",
                                      "检查安装包和版本", "升级成功！"}))
        << Shown(r.log);
    // The kept entry came back with the archive; the patch's entry replaced the other.
    EXPECT_EQ(ArchiveAt(kArchive), (std::vector<ArchiveEntry>{{"Res\\b.bin", "old b"}, {"Res\\a.bin", "new a"}}));
    EXPECT_EQ(Text("update.cfg"), kNewUpdateCfg);
    EXPECT_FALSE(Exists("tmp.tmp"));
    EXPECT_FALSE(Exists("update.cfg.new"));
}

}  // namespace install
}  // namespace e2e
