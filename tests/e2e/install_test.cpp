// Whole silent installations: an installer built around a patch, run against a client folder laid
// out like a player's, then the monitor's messages, the install log and the folder file by file.
#include "install_support.h"

namespace e2e {
namespace install {
namespace {

const char kOldUpdateCfg[] = "ver=1.3.0.189\r\nexe=Velmora.exe\r\n";
const char kNewUpdateCfg[] = "ver=1.3.0.190\r\nexe=Velmora.exe\r\n";
const char kOldMmog[] = "<mmog version=\"1.3.0.189\"/>\r\n";
const char kNewMmog[] = "<mmog version=\"1.3.0.190\" note=\"新版本\"/>\r\n";
const char kQuestionCaption[] = "发现正在运行文件";
const char kRefusalCaption[] = "发现正在运行程序";
const std::string kSleeper = velsupport::ProgramFolder() + "\\vel_sleeper.exe";

// Content that compresses a little, so stored and inflated sizes differ.
std::string Content(const std::string& seed, size_t size)
{
    std::string s;
    s.reserve(size);
    uint32_t x = 2166136261u;
    for (char c : seed)
        x = (x ^ static_cast<unsigned char>(c)) * 16777619u;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>('a' + (x >> 16) % 6);
    }
    return s;
}

// The archive the patch extends: resource entries, two of which the full patch replaces, and one
// that differs from a patch entry only in letter case and separator.
std::vector<PackFile> ClientArchiveFiles()
{
    return {{"Res\\old.bin", Content("old", 3000)},
            {"Res\\shared.bin", Content("shared v1", 2500)},
            {"sound/theme.ogg", Content("theme v1", 4000)},
            {"RES/Map.dat", Content("map v1", 1200)},
            {"map\\a.map", Content("a.map", 800)}};
}

const char kClientArchive[] = "package\\D010300BD.pkg";
const char kNewArchive[] = "package\\D010300BE.pkg";
// Where installers that wrote beside their targets rebuilt the client archive.
const char kTempArchive[] = "package\\D010300BD.pkg.tmp";

std::string UpdateError(const std::string& name)
{
    return "更新文件" + name + "时出错！";
}

class InstallTest : public ClientInstallTest {
protected:
    // A full client of version 1.3.0.189: two listed archives (the last one is extended), loose
    // files, the launcher's version data. The list has LF line ends and a comment after a name.
    void LayOutClient()
    {
        Put("update.cfg", kOldUpdateCfg);
        Put("package\\package.cfg", "D01030064.pkg base\n\nD010300BD.pkg\n");
        PutArchive("package\\D01030064.pkg", {{"Res\\base.bin", Content("base", 500)}});
        PutArchive(kClientArchive, ClientArchiveFiles());
        Put("Velmora.exe", "MZ client");
        Put("readme.txt", "old readme\r\n");
        Put("data\\config.ini", "[old]\r\n");
        MakeReadOnly("data\\config.ini");
        Put("LNCH\\mmog_data.xml", kOldMmog);
    }

    // A client without an archive list; its archive folder is there but empty.
    void LayOutClientWithoutArchives()
    {
        Put("update.cfg", kOldUpdateCfg);
        ASSERT_TRUE(CreateDirectoryA(At("package").c_str(), nullptr));
    }

    static ProgressPlan RebuildPlan(uint32_t patchEntries, uint32_t handled)
    {
        ProgressPlan plan;
        plan.archiveExists = true;
        plan.archiveEntries = static_cast<uint32_t>(ClientArchiveFiles().size());
        plan.patchEntries = patchEntries;
        plan.entriesHandled = handled;
        return plan;
    }
    static ProgressPlan RebuildPlan(const std::vector<PackFile>& patch)
    {
        const uint32_t n = static_cast<uint32_t>(patch.size());
        return RebuildPlan(n, n);
    }
    static ProgressPlan NewArchivePlan(uint32_t patchEntries, uint32_t handled)
    {
        ProgressPlan plan;
        plan.patchEntries = patchEntries;
        plan.entriesHandled = handled;
        return plan;
    }

    // What every finished installation shows: exit code 0, no result message, the log of a run
    // that reached its end, and no leftovers of the installation in the client folder.
    void ExpectCompleted(const SilentResult& r)
    {
        EXPECT_EQ(r.run.exitCode, 0u);
        ASSERT_TRUE(r.logExists);
        EXPECT_TRUE(LogHasInOrder(r.log, CompletedRunLines(r))) << Shown(r.log);
        EXPECT_FALSE(LogMentions(r.log, "时出错")) << Shown(r.log);
        for (const char* gone : {"patch.pkg", "tmp.tmp", "UpdateDelList.txt", "update.cfg.new",
                                 "LNCH\\mmog_data.xml.new", "package\\package.cfg.tmp"})
            EXPECT_FALSE(Exists(gone)) << gone;
        for (const auto& item : TakeSnapshot(Client())) {
            const std::string& name = item.first;
            EXPECT_FALSE(name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) << name;
        }
    }

    // What every failed installation shows: exit code 1, one result message (501 with the
    // status text) as the last message and no completion, the log ending with "升级失败！", and
    // the client folder exactly as it was before the run (paths, bytes, read-only attributes).
    void ExpectFailed(const SilentResult& r, const std::string& text, const Snapshot& before)
    {
        EXPECT_EQ(r.run.exitCode, 1u);
        ASSERT_FALSE(r.run.messages.empty());
        EXPECT_MESSAGES(std::vector<velsupport::CopyDataRecord>{r.run.messages.back()},
                        std::vector<velsupport::CopyDataRecord>{ResultMessage(501, text)});
        size_t results = 0;
        for (const velsupport::CopyDataRecord& m : r.run.messages) {
            results += m.tag == kTagResult;
            EXPECT_FALSE(m.tag == kTagProgress && m.data == kCompletionMark) << "a completion pair";
        }
        EXPECT_EQ(results, 1u);
        ASSERT_TRUE(r.logExists);
        EXPECT_FALSE(LogMentions(r.log, "上报完成安装进度")) << Shown(r.log);
        ASSERT_FALSE(r.log.empty());
        EXPECT_EQ(r.log.back(), "升级失败！");
        // A file held open by another program keeps a second name of it, made as its backup,
        // from being deleted: the staging folder may stay then, without a journal, for the next
        // run to remove.
        Snapshot after = TakeSnapshot(Client());
        for (auto it = after.begin(); it != after.end();)
            it = it->first.rfind("VelmoraPatch.staging\\", 0) == 0 ? after.erase(it) : std::next(it);
        EXPECT_FALSE(Exists("VelmoraPatch.staging\\journal"));
        EXPECT_FOLDER(after, before);
    }

    // Leaves only what the archive comparison does not cover.
    static void DropArchives(Snapshot* a, Snapshot* b, const std::vector<std::string>& names)
    {
        for (const std::string& name : names) {
            a->erase(name);
            b->erase(name);
        }
    }
};

// A full patch into a client with an existing archive: the archive is rebuilt (building phase,
// then install phase), resource entries replace same-name entries and the rest is kept, plain
// files land where they belong (over a read-only file, into new nested folders), and the
// version files and the archive list are replaced.
TEST_F(InstallTest, FullPatchRebuildsArchiveAndWritesPlainFiles)
{
    LayOutClient();
    const std::vector<PackFile> patch = {
        {"Res\\shared.bin", Content("shared v2", 2600)},
        {"data\\config.ini", "[new]\r\nkey=值\r\n"},
        {"sound/theme.ogg", Content("theme v2", 4100)},
        {"update.cfg", kNewUpdateCfg},
        {"RES/new.tex", Content("new.tex", 900)},
        {"ResBin\\x.bin", "not a resource folder"},
        {"data\\deep\\nested\\new.txt", "nested"},
        {"res\\Map.dat", Content("map v2", 1300)},
        {"LNCH\\mmog_data.xml", kNewMmog},
        {"notes.txt", ""},
        // GBK names whose trail byte is '\\' (乗 is 81 5C): no folder may be cut at that byte.
        {"docs\\乗.txt", "jou"},
        {"data\\乗\\表.txt", "table"},
        {"Res\\乗\\x.bin", Content("jou", 700)},
    };
    BuildPatch(patch);
    // Read-only files where the commit renames and rewrites, a list naming the extended archive
    // twice, and leftovers of an earlier attempt: a backup slot and a temporary package whose
    // entries must not reach the new archive.
    MakeReadOnly(kClientArchive);
    Put("package\\package.cfg", "D010300BD.pkg\nD01030064.pkg base\n\nD010300BD.pkg\n");
    MakeReadOnly("package\\package.cfg");
    Put("tmp.tmp", "stale backup");
    MakeReadOnly("tmp.tmp");
    PutArchive(kTempArchive, {{"Res\\leftover.bin", "leftover"}});
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(RebuildPlan(patch)));
    EXPECT_TRUE(LogHasInOrder(r.log, {"开始安装更新包...", "无vpk文件升级", "上报完成安装进度：HWND " + HandleText(r)}))
        << Shown(r.log);

    // Kept entries first, in the client archive's order, then the patch's resource entries.
    const std::vector<PackFile> client = ClientArchiveFiles();
    EXPECT_EQ(ArchiveAt(kClientArchive),
              EntriesOf({client[0], client[3], client[4], patch[0], patch[2], patch[4], patch[7], patch[12]}));

    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kClientArchive, kTempArchive});
    expected.erase("tmp.tmp");
    expected["update.cfg"] = kNewUpdateCfg;
    expected["package\\package.cfg"] = "D01030064.pkg\r\nD010300BD.pkg\r\n";
    expected["data\\config.ini"] = patch[1].data;
    expected["ResBin\\"] = kFolderMark;
    expected["ResBin\\x.bin"] = patch[5].data;
    expected["data\\deep\\"] = kFolderMark;
    expected["data\\deep\\nested\\"] = kFolderMark;
    expected["data\\deep\\nested\\new.txt"] = "nested";
    expected["LNCH\\mmog_data.xml"] = kNewMmog;
    expected["notes.txt"] = "";
    expected["docs\\"] = kFolderMark;
    expected["docs\\乗.txt"] = "jou";
    expected["data\\乗\\"] = kFolderMark;
    expected["data\\乗\\表.txt"] = "table";
    EXPECT_FOLDER(actual, expected);
    EXPECT_EQ(GetFileAttributesA(At("data\\config.ini").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

// Without an archive list the patch starts the archive named after its target version; the
// progress runs 0..100 in one phase.
TEST_F(InstallTest, PatchWithoutArchiveListStartsNewArchive)
{
    LayOutClientWithoutArchives();
    const std::vector<PackFile> patch = {
        {"update.cfg", kNewUpdateCfg},
        {"Res\\a.bin", Content("a", 1000)},
        {"LNCH/mmog_data.xml", kNewMmog},
        {"effect\\b.eff", Content("b", 700)},
        {"bin\\tool.dll", "MZ tool"},
        {"Sound\\c.wav", Content("c", 2000)},
    };
    BuildPatch(patch);
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(NewArchivePlan(6, 6)));
    EXPECT_EQ(ArchiveAt(kNewArchive), EntriesOf({patch[1], patch[3], patch[5]}));
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kNewArchive});
    expected["update.cfg"] = kNewUpdateCfg;
    expected["package\\package.cfg"] = "D010300BE.pkg\r\n";
    expected["LNCH\\"] = kFolderMark;
    expected["LNCH\\mmog_data.xml"] = kNewMmog;
    expected["bin\\"] = kFolderMark;
    expected["bin\\tool.dll"] = "MZ tool";
    EXPECT_FOLDER(actual, expected);
}

// Without the archive folder the new archive and its list go into a folder the installation
// makes for them.
TEST_F(InstallTest, MissingArchiveFolderIsMadeForTheNewArchive)
{
    Put("update.cfg", kOldUpdateCfg);
    const std::vector<PackFile> patch = {{"update.cfg", kNewUpdateCfg}, {"Res\\a.bin", "a"}, {"docs\\a.txt", "a"}};
    BuildPatch(patch);
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(NewArchivePlan(3, 3)));
    EXPECT_EQ(ArchiveAt(kNewArchive), EntriesOf({patch[1]}));
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kNewArchive});
    expected["update.cfg"] = kNewUpdateCfg;
    expected["package\\"] = kFolderMark;
    expected["package\\package.cfg"] = "D010300BE.pkg\r\n";
    expected["docs\\"] = kFolderMark;
    expected["docs\\a.txt"] = "a";
    EXPECT_FOLDER(actual, expected);
}

// The last listed archive is extended while its length plus the package's is at most 16 MiB,
// and a new one is started and appended to the list from one byte more.
TEST_F(InstallTest, SizeLimitDecidesBetweenExtendingAndNewArchive)
{
    const std::vector<PackFile> patch = {{"Res\\p.bin", Content("p", 5000)}, {"update.cfg", kNewUpdateCfg}};
    const uint32_t packageLength = BuildPatch(patch);
    ASSERT_GT(packageLength, 0u);

    for (const uint32_t extra : {0u, 1u}) {
        SCOPED_TRACE(extra == 0 ? "archive + package = 16 MiB" : "one byte more");
        UseClient("client" + std::to_string(extra));
        Put("update.cfg", kOldUpdateCfg);
        // An earlier line names the new archive: it moves to the end of the list.
        Put("package\\package.cfg", "D010300BE.pkg\nD010300BD.pkg\n");
        ArchiveEntry big;
        std::string problem;
        ASSERT_TRUE(WriteArchiveOfLength(At(kClientArchive), kArchiveSizeLimit - packageLength + extra, &big, &problem))
            << problem;
        Snapshot expected = TakeSnapshot(Client());

        const SilentResult r = RunSilent();

        ExpectCompleted(r);
        Snapshot actual = TakeSnapshot(Client());
        expected["update.cfg"] = kNewUpdateCfg;
        if (extra == 0) {
            ProgressPlan plan = RebuildPlan(2, 2);
            plan.archiveEntries = 1;
            EXPECT_MESSAGES(r.run.messages, SuccessMessages(plan));
            EXPECT_EQ(ArchiveAt(kClientArchive), (std::vector<ArchiveEntry>{big, {patch[0].name, patch[0].data}}));
            EXPECT_FALSE(Exists(kNewArchive));
            DropArchives(&actual, &expected, {kClientArchive});
            expected["package\\package.cfg"] = "D010300BE.pkg\r\nD010300BD.pkg\r\n";
        } else {
            EXPECT_MESSAGES(r.run.messages, SuccessMessages(NewArchivePlan(2, 2)));
            EXPECT_EQ(ArchiveAt(kNewArchive), EntriesOf({patch[0]}));
            DropArchives(&actual, &expected, {kNewArchive});
            expected["package\\package.cfg"] = "D010300BD.pkg\r\nD010300BE.pkg\r\n";
        }
        EXPECT_FOLDER(actual, expected);
    }
}

// A package without entries still commits: the archive is rebuilt from its kept entries, the
// list rewritten, and completion reported; the install phase has a range of 0..0.
TEST_F(InstallTest, EmptyPackageStillCommits)
{
    LayOutClient();
    BuildPatch({});
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(RebuildPlan(0, 0)));
    EXPECT_EQ(ArchiveAt(kClientArchive), EntriesOf(ClientArchiveFiles()));
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kClientArchive});
    expected["package\\package.cfg"] = "D01030064.pkg\r\nD010300BD.pkg\r\n";
    EXPECT_FOLDER(actual, expected);
}

// The package's delete list is applied after the files are written: files, read-only files,
// whole folders with read-only content, names with '/' and trailing blanks, a delivered file;
// lines leading out of the client folder delete nothing.
TEST_F(InstallTest, DeleteListRemovesNamedFilesAndFoldersInsideClientOnly)
{
    LayOutClient();
    Put("old\\gone.txt", "gone");
    Put("old\\ro.txt", "read-only");
    MakeReadOnly("old\\ro.txt");
    Put("oldfolder\\a.txt", "a");
    Put("oldfolder\\sub\\b.txt", "b");
    MakeReadOnly("oldfolder\\sub\\b.txt");
    Put("data\\slash.txt", "slash");
    Put("keep.txt", "keep");
    ASSERT_TRUE(velsupport::WriteFileText(Folder() / "outside.txt", "outside"));
    const std::string list =
        "old\\gone.txt\r\nold\\ro.txt\r\noldfolder\r\n..\\outside.txt\r\ndata\\..\\..\\outside.txt\r\n"
        "missing.txt\r\n   \r\ndata/slash.txt \t\r\n\r\ndocs\\delivered.txt";
    const std::vector<PackFile> patch = {{"UpdateDelList.txt", list},
                                         {"docs\\delivered.txt", "delivered"},
                                         {"docs\\stays.txt", "stays"},
                                         {"update.cfg", kNewUpdateCfg}};
    BuildPatch(patch);
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(RebuildPlan(patch)));
    std::string outside;
    EXPECT_TRUE(velsupport::ReadFileText(Folder() / "outside.txt", &outside));
    EXPECT_EQ(outside, "outside");
    EXPECT_EQ(ArchiveAt(kClientArchive), EntriesOf(ClientArchiveFiles()));
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kClientArchive});
    for (const char* gone : {"old\\gone.txt", "old\\ro.txt", "oldfolder\\", "oldfolder\\a.txt", "oldfolder\\sub\\",
                             "oldfolder\\sub\\b.txt", "data\\slash.txt"})
        expected.erase(gone);
    expected["docs\\"] = kFolderMark;
    expected["docs\\stays.txt"] = "stays";
    expected["update.cfg"] = kNewUpdateCfg;
    expected["package\\package.cfg"] = "D01030064.pkg\r\nD010300BD.pkg\r\n";
    EXPECT_FOLDER(actual, expected);
}

// A delete list left in the folder by an earlier run is removed before the installation and
// never applied.
TEST_F(InstallTest, StaleDeleteListIsNotApplied)
{
    LayOutClient();
    Put("UpdateDelList.txt", "readme.txt\r\nVelmora.exe\r\n");
    BuildPatch({{"update.cfg", kNewUpdateCfg}});
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kClientArchive});
    expected.erase("UpdateDelList.txt");
    expected["update.cfg"] = kNewUpdateCfg;
    expected["package\\package.cfg"] = "D01030064.pkg\r\nD010300BD.pkg\r\n";
    EXPECT_FOLDER(actual, expected);
}


struct MergeCase {
    const char* what;
    bool libraryInClient;
    std::vector<std::string> newPatches;
};

// A package with a new resource index: the old list goes to the reserve folder, the merge
// library in the client folder is called when exactly one new patch comes (missing, it is
// only logged), patches the new list drops are moved to the reserve folder, and the new list
// takes the old one's place.
TEST_F(InstallTest, ResourceIndexMergeWithAndWithoutLibrary)
{
    const std::string oldList = FileList({"A.vpk", "B.vpk"});
    const std::vector<MergeCase> cases = {
        {"library in the client folder", true, {"A.vpk"}},
        {"no library", false, {"A.vpk"}},
        {"two new patches", true, {"A.vpk", "C.vpk"}},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.what);
        UseClient(std::string("client_") + (c.libraryInClient ? "dll" : "nodll") + std::to_string(c.newPatches.size()));
        LayOutClientWithoutArchives();
        Put("RAVN\\RAVNFileList.ini", oldList);
        Put("RAVN\\RAVNDownload\\A.vpk", "patch A");
        Put("RAVN\\RAVNDownload\\B.vpk", "patch B");
        Put("RAVN\\RAVNReserve\\RAVNFileList.ini", "older reserve copy");
        if (c.libraryInClient) {
            ASSERT_TRUE(CopyFileA((velsupport::ProgramFolder() + "\\RAVNMerge.dll").c_str(), At("RAVNMerge.dll").c_str(),
                                  FALSE));
        }
        const std::string newList = FileList(c.newPatches);
        std::vector<PackFile> patch = {{"RAVN/RAVNFileList.ini", newList}, {"update.cfg", kNewUpdateCfg}};
        if (c.newPatches.size() == 2)
            patch.push_back({"RAVN\\RAVNDownload\\C.vpk", "patch C"});
        BuildPatch(patch);
        Snapshot expected = TakeSnapshot(Client());

        const SilentResult r = RunSilent();

        ExpectCompleted(r);
        EXPECT_MESSAGES(r.run.messages, SuccessMessages(NewArchivePlan(static_cast<uint32_t>(patch.size()),
                                                                       static_cast<uint32_t>(patch.size()))));
        EXPECT_FALSE(LogHas(r.log, "无vpk文件升级"));
        Snapshot actual = TakeSnapshot(Client());
        DropArchives(&actual, &expected, {kNewArchive});
        expected["update.cfg"] = kNewUpdateCfg;
        expected["package\\package.cfg"] = "D010300BE.pkg\r\n";
        expected["RAVN\\RAVNFileList.ini"] = newList;
        expected["RAVN\\RAVNReserve\\RAVNFileList.ini"] = oldList;

        if (c.newPatches.size() == 1) {
            const std::string move = "Move RAVN/RAVNDownload/B.vpk To RAVN/RAVNReserve/B.vpk";
            EXPECT_EQ(LogCount(r.log, move), 1u) << Shown(r.log);
            EXPECT_FALSE(LogMentions(r.log, "Move RAVN/RAVNDownload/A.vpk")) << Shown(r.log);
            expected.erase("RAVN\\RAVNDownload\\B.vpk");
            expected["RAVN\\RAVNReserve\\B.vpk"] = "patch B";
            if (c.libraryInClient) {
                ASSERT_TRUE(r.log.size() > 0);
                const auto load = std::find_if(r.log.begin(), r.log.end(), [](const std::string& line) {
                    return line.rfind("LoadLibrary ", 0) == 0;
                });
                ASSERT_NE(load, r.log.end()) << Shown(r.log);
                EXPECT_NE(*load, "LoadLibrary 0");
                EXPECT_TRUE(load + 1 != r.log.end() && (load + 1)->rfind("myMergePatchWSafe ", 0) == 0 &&
                            *(load + 1) != "myMergePatchWSafe 0")
                    << Shown(r.log);
                EXPECT_TRUE(LogHasInOrder(r.log, {"开始合并vpk文件", *load, move})) << Shown(r.log);
                // The library ran once, the client folder's copy, with the reserve copy's name
                // and a callback that answered.
                const std::string call = Text("merge_call.txt");
                EXPECT_NE(call.find("call=MergePatchWSafe\n"), std::string::npos) << call;
                EXPECT_EQ(call.find("call=MergePatchWSafe\n"), call.rfind("call=MergePatchWSafe\n")) << call;
                EXPECT_NE(call.find("module=" + At("RAVNMerge.dll") + "\n"), std::string::npos) << call;
                EXPECT_NE(call.find("previousList=RAVN/RAVNReserve/RAVNFileList.ini\n"), std::string::npos) << call;
                EXPECT_NE(call.find("checkTimeLimit=1\n"), std::string::npos) << call;
                // The shipped 32-bit installer's callback is thiscall and pops its arguments.
                if (sizeof(void*) == 4) {
                    EXPECT_NE(call.find("callbackStack=intact\n"), std::string::npos) << call;
                }
                EXPECT_NE(call.find("end=MergePatchWSafe\n"), std::string::npos) << call;
                actual.erase("merge_call.txt");
            } else {
                EXPECT_TRUE(LogHasInOrder(r.log, {"开始合并vpk文件", "LoadLibrary 0", "myMergePatchWSafe 0", move}))
                    << Shown(r.log);
            }
        } else {
            EXPECT_TRUE(LogHasInOrder(r.log, {"开始合并vpk文件", "不需要合并vpk文件：lstOldPatchs 2, lstNewPatchs 2"}))
                << Shown(r.log);
            EXPECT_FALSE(LogMentions(r.log, "LoadLibrary")) << Shown(r.log);
            EXPECT_FALSE(LogMentions(r.log, "Move ")) << Shown(r.log);
            expected["RAVN\\RAVNDownload\\C.vpk"] = "patch C";
        }
        EXPECT_FALSE(velsupport::FileExists(Folder() / "merge_call.txt"));
        EXPECT_FOLDER(actual, expected);
    }
}

// Adds a ";"-separated item to an environment variable for the programs started while it lives.
class EnvironmentAddition {
public:
    EnvironmentAddition(const char* name, const std::string& item) : name_(name)
    {
        char old[4096];
        const DWORD length = GetEnvironmentVariableA(name, old, sizeof(old));
        had_ = length > 0 && length < sizeof(old);
        if (had_)
            old_ = old;
        SetEnvironmentVariableA(name, (had_ ? old_ + ";" + item : item).c_str());
    }
    ~EnvironmentAddition() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }
    EnvironmentAddition(const EnvironmentAddition&) = delete;
    EnvironmentAddition& operator=(const EnvironmentAddition&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

// Players start the installer from their downloads folder, where anything may lie beside it:
// a "RAVNMerge.dll" there is never loaded (the client folder's is, or none), and neither is a
// DLL under a system DLL's name that code in the installer's process loads on demand (the merge
// library loads dbghelp.dll). The planted copies record being loaded.
TEST_F(InstallTest, DllsPlantedBesideTheInstallerAreNeverLoaded)
{
    const std::string planted = velsupport::ProgramFolder() + "\\vel_planted.dll";
    const std::string plantedNames[] = {"RAVNMerge.dll", "dbghelp.dll"};
    // Wine prefers its own system DLLs; Windows takes a DLL that is not a known one from the
    // first folder of the search that has it.
    EnvironmentAddition preferNative("WINEDLLOVERRIDES", "dbghelp=n,b");
    struct Case {
        const char* what;
        bool mergeLibraryPlanted;
        bool libraryInClient;
    } cases[] = {
        {"both planted, library in the client folder", true, true},
        {"both planted, no library in the client folder", true, false},
        // Without a merge library beside it the old bare-name load also found the client's.
        {"only the system DLL planted", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const std::string& name : plantedNames) {
            DeleteFileA((Folder() / name).c_str());
            DeleteFileA((Folder() / name + ".loaded").c_str());
        }
        if (c.mergeLibraryPlanted) {
            ASSERT_TRUE(CopyFileA(planted.c_str(), (Folder() / "RAVNMerge.dll").c_str(), FALSE));
        }
        ASSERT_TRUE(CopyFileA(planted.c_str(), (Folder() / "dbghelp.dll").c_str(), FALSE));

        UseClient(std::string("client_") + (c.mergeLibraryPlanted ? "both" : "sys") + (c.libraryInClient ? "_dll" : ""));
        LayOutClientWithoutArchives();
        Put("RAVN\\RAVNFileList.ini", FileList({"A.vpk", "B.vpk"}));
        Put("RAVN\\RAVNDownload\\A.vpk", "patch A");
        Put("RAVN\\RAVNDownload\\B.vpk", "patch B");
        if (c.libraryInClient) {
            ASSERT_TRUE(CopyFileA((velsupport::ProgramFolder() + "\\RAVNMerge.dll").c_str(), At("RAVNMerge.dll").c_str(),
                                  FALSE));
        }
        BuildPatch({{"RAVN/RAVNFileList.ini", FileList({"A.vpk"})}, {"update.cfg", kNewUpdateCfg}});

        const SilentResult r = RunSilent();

        ExpectCompleted(r);
        for (const std::string& name : plantedNames) {
            EXPECT_FALSE(velsupport::FileExists(Folder() / name + ".loaded")) << name << " beside the installer was loaded";
        }
        if (c.libraryInClient) {
            const std::string call = Text("merge_call.txt");
            EXPECT_NE(call.find("module=" + At("RAVNMerge.dll") + "\n"), std::string::npos) << call;
            EXPECT_NE(call.find("demandLoaded="), std::string::npos) << call;
            EXPECT_EQ(call.find("demandLoaded=" + Folder() / "dbghelp.dll"), std::string::npos) << call;
        } else {
            EXPECT_TRUE(LogHasInOrder(r.log, {"开始合并vpk文件", "LoadLibrary 0", "myMergePatchWSafe 0"})) << Shown(r.log);
        }
    }
}

// Only "RAVN/RAVNFileList.ini" with '/' is the new resource index; with '\\' it is an ordinary
// file written over the current list, and no merge runs.
TEST_F(InstallTest, IndexListWithBackslashIsPlainFile)
{
    LayOutClientWithoutArchives();
    Put("RAVN\\RAVNFileList.ini", FileList({"A.vpk", "B.vpk"}));
    Put("RAVN\\RAVNDownload\\B.vpk", "patch B");
    const std::string newList = FileList({"A.vpk"});
    BuildPatch({{"RAVN\\RAVNFileList.ini", newList}});
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_TRUE(LogHas(r.log, "无vpk文件升级")) << Shown(r.log);
    EXPECT_FALSE(LogMentions(r.log, "vpk文件：")) << Shown(r.log);
    EXPECT_FALSE(LogHas(r.log, "开始合并vpk文件")) << Shown(r.log);
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kNewArchive});
    expected["package\\package.cfg"] = "D010300BE.pkg\r\n";
    expected["RAVN\\RAVNFileList.ini"] = newList;
    EXPECT_FOLDER(actual, expected);
}

// A running client program answered Yes is ended and the installation goes through.
TEST_F(InstallTest, RunningClientEndedWhenUserAgrees)
{
    LayOutClient();
    BuildPatch({{"update.cfg", kNewUpdateCfg}, {"Res\\new.bin", "new"}});
    RunningProgram client(kSleeper, Folder() / "running", "velmora.exe");
    ASSERT_TRUE(client.Started());

    // The guard looks again after ending it; should the ended program still be listed then, it
    // asks again, so more answers are ready than the one that is needed.
    const SilentResult r = RunSilent({{kQuestionCaption, IDYES, 10}});

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(RebuildPlan(2, 2)));
    ASSERT_GE(r.run.boxes.size(), 1u);
    for (const harness::BoxSeen& box : r.run.boxes) {
        EXPECT_EQ(box.caption, kQuestionCaption);
        EXPECT_EQ(box.text, "检查到[velmora.exe]正在运行，\n如果要继续更新，要关闭此程序，继续吗？");
    }
    EXPECT_TRUE(client.Terminated());
    EXPECT_EQ(Text("update.cfg"), kNewUpdateCfg);
}

// Answered No: the refusal is shown, the run fails with it (501) and the client is as it was.
TEST_F(InstallTest, RunningClientKeptWhenUserRefuses)
{
    LayOutClient();
    Put("UpdateDelList.txt", "readme.txt\r\n");
    BuildPatch({{"update.cfg", kNewUpdateCfg}, {"Res\\new.bin", "new"}});
    const Snapshot expected = TakeSnapshot(Client());
    RunningProgram client(kSleeper, Folder() / "running", "velmora.exe");
    ASSERT_TRUE(client.Started());

    const SilentResult r = RunSilent({{kQuestionCaption, IDNO, 1}, {kRefusalCaption, IDOK, 1}});

    const std::string refusal = "程序[velmora.exe]未关闭，停止更新！";
    ExpectFailed(r, refusal, expected);
    EXPECT_EQ(r.run.messages.size(), 1u);
    ASSERT_EQ(r.run.boxes.size(), 2u);
    EXPECT_EQ(r.run.boxes[0].caption, kQuestionCaption);
    EXPECT_EQ(r.run.boxes[1].caption, kRefusalCaption);
    EXPECT_EQ(r.run.boxes[1].text, refusal);
    EXPECT_EQ(LogCount(r.log, refusal), 1u) << Shown(r.log);
    EXPECT_TRUE(LogHasInOrder(r.log, {refusal, "发送错误消息:501", "升级失败！"})) << Shown(r.log);
    EXPECT_FALSE(LogHas(r.log, "正在准备安装更新包...")) << Shown(r.log);
    EXPECT_TRUE(client.Running());
}

// The bulk downloader is ended without a question.
TEST_F(InstallTest, RunningBulkDownloaderEndedWithoutQuestion)
{
    LayOutClient();
    BuildPatch({{"update.cfg", kNewUpdateCfg}});
    RunningProgram downloader(kSleeper, Folder() / "running", "bulkdl.exe");
    ASSERT_TRUE(downloader.Started());

    // A question, should one come, is answered so the run cannot hang; it must not come.
    const SilentResult r = RunSilent({{kQuestionCaption, IDYES, 1}});

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(RebuildPlan(1, 1)));
    EXPECT_TRUE(r.run.boxes.empty()) << harness::GbkToUtf8(r.run.boxes[0].text);
    EXPECT_TRUE(downloader.Terminated());
    EXPECT_EQ(Text("update.cfg"), kNewUpdateCfg);
}

// A program the package puts at the top of the folder runs and the user will not close it: the
// run fails at that entry with 501, and nothing of the entries before it stays.
TEST_F(InstallTest, RunningProgramOfThePackageRefused)
{
    LayOutClient();
    const std::vector<PackFile> patch = {{"Res\\first.bin", "first"},
                                         {"docs\\a.txt", "a"},
                                         {"vhelper.exe", "MZ new helper"},
                                         {"docs\\b.txt", "b"}};
    BuildPatch(patch);
    const Snapshot expected = TakeSnapshot(Client());
    RunningProgram helper(kSleeper, Folder() / "running", "vhelper.exe");
    ASSERT_TRUE(helper.Started());

    const SilentResult r = RunSilent({{kQuestionCaption, IDNO, 1}, {kRefusalCaption, IDOK, 1}});

    const std::string refusal = "程序[vhelper.exe]未关闭，停止更新！";
    ExpectFailed(r, refusal, expected);
    std::vector<uint32_t> progress = ExpectedProgress(RebuildPlan(4, 2));
    progress.pop_back();   // the run ends inside the loop, before the final position
    std::vector<velsupport::CopyDataRecord> messages = ProgressMessages(progress);
    messages.push_back(ResultMessage(501, refusal));
    EXPECT_MESSAGES(r.run.messages, messages);
    ASSERT_EQ(r.run.boxes.size(), 2u);
    EXPECT_EQ(r.run.boxes[0].text, "检查到[vhelper.exe]正在运行，\n如果要继续更新，要关闭此程序，继续吗？");
    EXPECT_EQ(r.run.boxes[1].text, refusal);
    EXPECT_TRUE(LogHasInOrder(r.log, {refusal, refusal, "发送错误消息:501", "升级失败！"})) << Shown(r.log);
    EXPECT_TRUE(helper.Running());
}

// A plain file that cannot be replaced (held open by another program) fails the commit at that
// step: everything done before it is put back, the resource index merge that would have come
// after it never runs, and the client is as it was.
TEST_F(InstallTest, LockedFileFailsTheCommitAndEverythingGoesBack)
{
    LayOutClient();
    Put("data\\locked.dat", "locked");
    const std::string oldList = FileList({"A.vpk"});
    const std::string newList = FileList({"A.vpk", "C.vpk"});
    Put("RAVN\\RAVNFileList.ini", oldList);
    const std::vector<PackFile> patch = {
        {"Res\\a.bin", Content("a", 900)},       {"docs\\first.txt", "first"},
        {"update.cfg", kNewUpdateCfg},           {"LNCH\\mmog_data.xml", kNewMmog},
        {"RAVN/RAVNFileList.ini", newList},      {"data\\locked.dat", "replacement"},
        {"docs\\after.txt", "after"},            {"Res\\b.bin", Content("b", 900)},
    };
    BuildPatch(patch);
    const Snapshot expected = TakeSnapshot(Client());
    SilentResult r;
    {
        LockedFile lock(At("data\\locked.dat"));
        ASSERT_TRUE(lock.Held());
        r = RunSilent();
    }

    ExpectFailed(r, UpdateError("data\\locked.dat"), expected);
    std::vector<velsupport::CopyDataRecord> messages = ProgressMessages(ExpectedProgress(RebuildPlan(patch)));
    messages.push_back(ResultMessage(501, UpdateError("data\\locked.dat")));
    EXPECT_MESSAGES(r.run.messages, messages);
    EXPECT_EQ(LogCount(r.log, UpdateError("data\\locked.dat")), 2u) << Shown(r.log);
    EXPECT_FALSE(LogMentions(r.log, "开始合并vpk文件")) << Shown(r.log);
}

// Entry names that lead out of the client folder, or into the installation's own staging
// folder, are refused before anything is written for them, and the run fails there.
TEST_F(InstallTest, HostileEntryNamesRefused)
{
    const std::vector<std::string> hostile = {"..\\evil.txt", "C:\\x.txt", "\\abs.txt", "docs\\..\\..\\evil2.txt",
                                              "../evil3.txt", "VelmoraPatch.staging\\journal", "velmorapatch.STAGING"};
    const std::vector<std::string> outside = {Folder() / "evil.txt", "C:\\x.txt", "\\abs.txt", Folder() / "evil2.txt",
                                              Folder() / "evil3.txt"};
    for (const std::string& path : outside)
        ASSERT_FALSE(velsupport::FileExists(path)) << path;

    for (size_t i = 0; i < hostile.size(); ++i) {
        SCOPED_TRACE(hostile[i]);
        UseClient("client" + std::to_string(i));
        LayOutClientWithoutArchives();
        BuildPatch({{"docs\\before.txt", "before"}, {hostile[i], "evil"}, {"docs\\after.txt", "after"}});
        const Snapshot expected = TakeSnapshot(Client());

        const SilentResult r = RunSilent();

        ExpectFailed(r, UpdateError(hostile[i]), expected);
        std::vector<velsupport::CopyDataRecord> messages = ProgressMessages(ExpectedProgress(NewArchivePlan(3, 1)));
        messages.push_back(ResultMessage(501, UpdateError(hostile[i])));
        EXPECT_MESSAGES(r.run.messages, messages);
        EXPECT_EQ(LogCount(r.log, UpdateError(hostile[i])), 2u) << Shown(r.log);
        for (const std::string& path : outside) {
            EXPECT_FALSE(velsupport::FileExists(path)) << path;
            DeleteFileA(path.c_str());
        }
    }
}

// A folder that happens to be called "tmp.tmp" (the backup slot of older installers) is no
// leftover of an installation: it stays, and the installation goes through.
TEST_F(InstallTest, FolderNamedLikeTheOldBackupSlotStays)
{
    LayOutClient();
    Put("tmp.tmp\\stale.txt", "stale");
    const std::vector<PackFile> patch = {{"Res\\shared.bin", "shared v2"}, {"update.cfg", kNewUpdateCfg}};
    BuildPatch(patch);
    Snapshot expected = TakeSnapshot(Client());

    const SilentResult r = RunSilent();

    ExpectCompleted(r);
    EXPECT_MESSAGES(r.run.messages, SuccessMessages(RebuildPlan(patch)));
    const std::vector<PackFile> client = ClientArchiveFiles();
    EXPECT_EQ(ArchiveAt(kClientArchive), EntriesOf({client[0], client[2], client[3], client[4], patch[0]}));
    Snapshot actual = TakeSnapshot(Client());
    DropArchives(&actual, &expected, {kClientArchive});
    expected["update.cfg"] = kNewUpdateCfg;
    expected["package\\package.cfg"] = "D01030064.pkg\r\nD010300BD.pkg\r\n";
    EXPECT_FOLDER(actual, expected);
}

// When the client archive cannot be replaced (held open by the client), the commit fails at
// that step with 501; everything before it is put back and the client is as it was.
TEST_F(InstallTest, ArchiveHeldOpenFailsTheCommit)
{
    LayOutClient();
    Put("readme.txt", "old readme\r\n");
    const std::vector<PackFile> patch = {
        {"Res\\shared.bin", "shared v2"}, {"readme.txt", "new readme"}, {"update.cfg", kNewUpdateCfg}};
    BuildPatch(patch);
    const Snapshot expected = TakeSnapshot(Client());
    SilentResult r;
    {
        LockedFile held(At(kClientArchive), FILE_SHARE_READ);
        ASSERT_TRUE(held.Held());
        r = RunSilent();
    }

    const std::string text = UpdateError(kClientArchive);
    ExpectFailed(r, text, expected);
    std::vector<velsupport::CopyDataRecord> messages = ProgressMessages(ExpectedProgress(RebuildPlan(patch)));
    messages.push_back(ResultMessage(501, text));
    EXPECT_MESSAGES(r.run.messages, messages);
    EXPECT_TRUE(LogHasInOrder(r.log, {text, text, "发送错误消息:501", "升级失败！"})) << Shown(r.log);
}

}  // namespace
}  // namespace install
}  // namespace e2e
