// velpack build --old --new end to end: the installer built from two client folders, run silently
// on a copy of the old one under the monitor harness, must leave exactly the new one.
#include "install_support.h"

#include "TreeDiff.h"
#include "velpack/GeneratedClients.h"

namespace e2e {
namespace {

class DiffInstallTest : public install::ClientInstallTest {
protected:
    // Builds the installer from the two folders the way a release engineer does, through the
    // command line of velpack.
    int BuildFromFolders(const std::string& oldDir, const std::string& newDir)
    {
        std::vector<std::string> args = {"velpack", "build", "--stub", BareInstallerPath(), "--old", oldDir,
                                         "--new", newDir, "-o", Installer()};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(&arg[0]);
        return RunPackTool(static_cast<int>(argv.size()), argv.data());
    }

    void InstallAndCompare(const clientpairs::ClientSpec& oldSpec, const clientpairs::ClientSpec& newSpec)
    {
        clientpairs::Materialize(oldSpec, Folder() / "old");
        clientpairs::Materialize(newSpec, Folder() / "new");
        clientpairs::Materialize(oldSpec, Client());
        ASSERT_EQ(BuildFromFolders(Folder() / "old", Folder() / "new"), 0);

        const SilentResult r = RunSilent();
        EXPECT_EQ(r.run.exitCode, 0u) << Shown(r.log);
        ASSERT_FALSE(r.log.empty());
        EXPECT_NE(r.log.back(), "升级失败！") << Shown(r.log);
        auto got = clientpairs::Snapshot(Client());
        // The merge library's test double, when the search finds it, notes its call there.
        got.erase("/merge_call.txt");
        const auto want = clientpairs::Snapshot(Folder() / "new");
        EXPECT_TRUE(got == want) << clientpairs::Differences(got, want);
    }
};

// A client pair as release engineers meet it: files changed, added (GBK names, nested folders,
// empty), removed alone and with their folder, a read-only file changed and another one made
// writable, the version files, entries of the last archive changed (content, flags) and added,
// one stored anew with the same content, and the resource index with one new patch, whose merge
// moves the two old ones to the reserve folder.
TEST_F(DiffInstallTest, HandWrittenPairInstallsToTheNewClient)
{
    using clientpairs::FileSpec;
    using clientpairs::StoredEntry;
    clientpairs::ClientSpec oldSpec;
    oldSpec.files["update.cfg"] = {"ver=1.3.0.189\r\n", false};
    oldSpec.files["LNCH\\mmog_data.xml"] = {"<mmog v=\"189\"/>", false};
    oldSpec.files["Velmora.exe"] = {"MZ old client", false};
    oldSpec.files["data\\config.ini"] = {"[old]\r\n", true};
    oldSpec.files["data\\keep.txt"] = {"keep", true};
    oldSpec.files["data\\乗\\表.txt"] = {"table", false};
    oldSpec.files["old\\inner\\gone.txt"] = {"gone", false};
    oldSpec.files["readme.txt"] = {"readme", false};
    oldSpec.files["RAVN\\RAVNFileList.ini"] = {clientpairs::IndexListText({"p1.vpk", "p2.vpk"}), false};
    oldSpec.files["RAVN\\RAVNDownload\\p1.vpk"] = {"patch one", false};
    oldSpec.files["RAVN\\RAVNDownload\\p2.vpk"] = {"patch two", false};
    oldSpec.emptyFolders.insert("empty");
    oldSpec.archiveList = {"D01030064.pkg", "D010300BD.pkg"};
    oldSpec.archives["D01030064.pkg"] = {StoredEntry{"Res\\base.bin", 1, "base", Z_DEFAULT_COMPRESSION}};
    oldSpec.archives["D010300BD.pkg"] = {StoredEntry{"Res\\a.bin", 1, std::string(3000, 'a'), Z_DEFAULT_COMPRESSION},
                                         StoredEntry{"sound\\theme.ogg", 1, "theme", Z_DEFAULT_COMPRESSION},
                                         StoredEntry{"map\\town.dat", 1, "town", Z_DEFAULT_COMPRESSION},
                                         StoredEntry{"Res\\same.bin", 1, std::string(5000, 's'), 6}};

    clientpairs::ClientSpec newSpec = oldSpec;
    newSpec.files["update.cfg"] = {"ver=1.3.0.190\r\n", false};
    newSpec.files["LNCH\\mmog_data.xml"] = {"<mmog v=\"190\"/>", false};
    newSpec.files["data\\config.ini"] = {"[new]\r\nkey=值\r\n", false};
    newSpec.files["data\\keep.txt"].readOnly = false;
    newSpec.files["data\\乗\\new.txt"] = {"", false};
    newSpec.files["新\\深\\层.txt"] = {"nested", false};
    newSpec.files.erase("old\\inner\\gone.txt");
    newSpec.files.erase("readme.txt");
    newSpec.emptyFolders.clear();
    newSpec.files["RAVN\\RAVNReserve\\RAVNFileList.ini"] = oldSpec.files["RAVN\\RAVNFileList.ini"];
    newSpec.files["RAVN\\RAVNFileList.ini"] = {clientpairs::IndexListText({"p3.vpk"}), false};
    newSpec.files["RAVN\\RAVNReserve\\p1.vpk"] = oldSpec.files["RAVN\\RAVNDownload\\p1.vpk"];
    newSpec.files["RAVN\\RAVNReserve\\p2.vpk"] = oldSpec.files["RAVN\\RAVNDownload\\p2.vpk"];
    newSpec.files.erase("RAVN\\RAVNDownload\\p1.vpk");
    newSpec.files.erase("RAVN\\RAVNDownload\\p2.vpk");
    newSpec.files["RAVN\\RAVNDownload\\p3.vpk"] = {"patch three", false};
    std::vector<StoredEntry>& last = newSpec.archives["D010300BD.pkg"];
    last[0].content = std::string(3000, 'b');
    last[1].flags = 3;
    last[3].level = 1;
    last.push_back(StoredEntry{"Res\\乗\\new.bin", 1, "new entry", Z_DEFAULT_COMPRESSION});

    InstallAndCompare(oldSpec, newSpec);
}

// Generated pairs, the same generator as the native tests.
TEST_F(DiffInstallTest, GeneratedPairsInstallToTheNewClient)
{
    for (uint64_t seed : {3u, 8u, 21u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        clientpairs::Random random(seed);
        const clientpairs::ClientSpec oldSpec = clientpairs::RandomOldClient(random);
        const clientpairs::ClientSpec newSpec = clientpairs::RandomNewClient(oldSpec, random);
        UseClient("client" + std::to_string(seed));
        const std::string folder = "pair" + std::to_string(seed);
        ASSERT_TRUE(CreateDirectoryA((Folder() / folder).c_str(), nullptr));
        clientpairs::Materialize(oldSpec, Folder() / (folder + "\\old"));
        clientpairs::Materialize(newSpec, Folder() / (folder + "\\new"));
        clientpairs::Materialize(oldSpec, Client());
        ASSERT_EQ(BuildFromFolders(Folder() / (folder + "\\old"), Folder() / (folder + "\\new")), 0);
        const SilentResult r = RunSilent();
        EXPECT_EQ(r.run.exitCode, 0u) << Shown(r.log);
        auto got = clientpairs::Snapshot(Client());
        got.erase("/merge_call.txt");
        const auto want = clientpairs::Snapshot(Folder() / (folder + "\\new"));
        EXPECT_TRUE(got == want) << clientpairs::Differences(got, want);
    }
}

}  // namespace
}  // namespace e2e
