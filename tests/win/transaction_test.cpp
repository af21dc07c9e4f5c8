// The installation's transaction on a real client folder: a commit puts everything in place and
// leaves no staging behind; a failing step puts the client back byte for byte, attributes
// included; a run stopped after any step of the commit, or of its undo, is finished by the
// recovery of the next run; and the leftovers of older installers are repaired.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/FileSystem.h"
#include "base/PathText.h"
#include "install/DeleteList.h"
#include "install/Journal.h"
#include "install/Recovery.h"
#include "install/Transaction.h"
#include "report/LauncherReporter.h"
#include "scratch_folder.h"

namespace {

using Names = std::vector<std::string>;

// Every file and folder under the current folder: path -> attributes and bytes.
using Tree = std::map<std::string, std::string>;

void Collect(const std::string& folder, Tree* tree) {
    for (const std::string& name : NamesIn(folder.empty() ? "." : folder)) {
        // The merge test double's record of its calls is its own write, which no run can stage.
        if (name == "merge_call.txt") continue;
        const std::string path = folder.empty() ? name : folder + "\\" + name;
        const DWORD attributes = AttributesOf(path);
        // The archive bit tells nothing here; read-only and the kind of entry do.
        std::string value = std::to_string(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) + ":";
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*tree)[path + "\\"] = value;
            Collect(path, tree);
        } else {
            std::string bytes;
            velsupport::ReadFileText(path, &bytes);
            (*tree)[path] = value + bytes;
        }
    }
}

Tree TreeHere() {
    Tree tree;
    Collect("", &tree);
    return tree;
}

Names Keys(const Tree& tree) {
    Names names;
    for (const auto& item : tree) names.push_back(item.first);
    return names;
}

// The client before the run: plain files, a read-only file the patch replaces, a read-only file
// in a folder the patch removes, the version file.
void MakeClient() {
    // The client's merge library lies in its folder, the only place it is loaded from.
    const std::string library = velsupport::JoinPath(velsupport::ProgramFolder(), "RAVNMerge.dll");
    ASSERT_TRUE(CopyFileA(library.c_str(), "RAVNMerge.dll", FALSE)) << library;
    ASSERT_TRUE(CreateDirectoryA("data", nullptr));
    ASSERT_TRUE(CreateDirectoryA("old", nullptr));
    ASSERT_TRUE(WriteRawFile("data\\keep.txt", "keep"));
    ASSERT_TRUE(WriteRawFile("data\\ro.txt", "read-only original", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("old\\gone.txt", "gone", FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteRawFile("update.cfg", "ver=1.3.0.189\r\n"));
    // The resource index: two patches listed, an older reserve copy of the list and of one patch.
    ASSERT_TRUE(MakeDirs("RAVN\\RAVNDownload\\"));
    ASSERT_TRUE(MakeDirs("RAVN\\RAVNReserve\\"));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNFileList.ini",
                             "[FileList]\r\nFileCount=3\r\n[FileItem1]\r\nFileName=A.vpk\r\n[FileItem2]\r\nFileName=B.vpk\r\n"));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNDownload\\A.vpk", "A"));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNDownload\\B.vpk", "B"));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNReserve\\RAVNFileList.ini", "older reserve copy"));
    ASSERT_TRUE(WriteRawFile("RAVN\\RAVNReserve\\B.vpk", "older B"));
}

// The patch's new list: one new patch, so the merge library runs and A and B go to the reserve.
const char kNewList[] = "[FileList]\r\nFileCount=2\r\n[FileItem1]\r\nFileName=C.vpk\r\n";

void Stage(Transaction& t, const std::string& target, const std::string& bytes) {
    const uint32_t slot = t.NewSlot();
    ASSERT_TRUE(t.StageBytes(slot, bytes.data(), bytes.size()));
    t.AddPut(slot, target);
}

// A transaction with every kind of step: a replaced read-only file, new files in new folders
// (one GBK name with a 0x5C trail byte), a removed folder, a removal of nothing, the version
// file last.
void Plan(Transaction& t) {
    ASSERT_TRUE(t.Begin());
    Stage(t, "data\\ro.txt", "new content");
    Stage(t, "新\\乗\\说明.txt", "gbk");
    Stage(t, "deep/er/x.bin", std::string(70000, 'x'));
    Stage(t, "RAVN\\RAVNDownload\\C.vpk", "C");
    const uint32_t list = t.NewSlot();
    ASSERT_TRUE(t.StageBytes(list, kNewList, sizeof kNewList - 1));
    t.AddMerge(list);
    t.AddRemove("old");
    t.AddRemove("missing.txt");
    Stage(t, "update.cfg", "ver=1.3.0.190\r\n");
}

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.Valid() && folder_.Enter());
        MakeClient();
        before_ = TreeHere();
    }

    velsupport::TempFolder folder_{"vel-tx"};
    Tree before_;
    MergeTimer timer_;
    LauncherReporter reporter_{reinterpret_cast<HWND>(static_cast<INT_PTR>(1))};
};

// The recovery stage of a run, with the run's lock let go at its end.
Result Recover(const std::string& folder, Reporter& reporter) {
    RunLock lock;
    return RecoverInterruptedRun(folder, reporter, lock);
}

// The client as one complete run leaves it.
Tree Reference() {
    velsupport::TempFolder folder("vel-txref");
    EXPECT_TRUE(folder.Enter());
    MakeClient();
    Transaction t(0x010300BE);
    Plan(t);
    MergeTimer timer;
    std::string failure;
    EXPECT_EQ(t.Commit(timer, &failure), Result::Ok) << failure;
    return TreeHere();
}

}  // namespace

TEST_F(TransactionTest, CommitPutsEverythingInPlaceAndLeavesNoStaging) {
    Transaction t(0x010300BE);
    Plan(t);
    std::string failure;
    ASSERT_EQ(t.Commit(timer_, &failure), Result::Ok) << failure;
    std::string text;
    EXPECT_TRUE(velsupport::ReadFileText("data\\ro.txt", &text));
    EXPECT_EQ(text, "new content");
    EXPECT_EQ(AttributesOf("data\\ro.txt") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(velsupport::ReadFileText("新\\乗\\说明.txt", &text));
    EXPECT_EQ(text, "gbk");
    EXPECT_TRUE(velsupport::ReadFileText("deep\\er\\x.bin", &text));
    EXPECT_EQ(text.size(), 70000u);
    EXPECT_TRUE(velsupport::ReadFileText("update.cfg", &text));
    EXPECT_EQ(text, "ver=1.3.0.190\r\n");
    EXPECT_EQ(NamesIn("data"), (Names{"keep.txt", "ro.txt"}));
    // The merge: the previous list is the reserve copy now, the dropped patches are reserved
    // (the older B replaced), the new list is in place.
    EXPECT_TRUE(velsupport::ReadFileText("RAVN\\RAVNFileList.ini", &text));
    EXPECT_EQ(text, kNewList);
    EXPECT_TRUE(velsupport::ReadFileText("RAVN\\RAVNReserve\\RAVNFileList.ini", &text));
    EXPECT_NE(text.find("FileName=B.vpk"), std::string::npos);
    EXPECT_EQ(NamesIn("RAVN\\RAVNDownload"), (Names{"C.vpk"}));
    EXPECT_EQ(NamesIn("RAVN\\RAVNReserve"), (Names{"A.vpk", "B.vpk", "RAVNFileList.ini"}));
    EXPECT_TRUE(velsupport::ReadFileText("RAVN\\RAVNReserve\\B.vpk", &text));
    EXPECT_EQ(text, "B");
    EXPECT_EQ(NamesIn("."), (Names{"RAVN", "RAVNMerge.dll", "data", "deep", "merge_call.txt", "update.cfg", "新"}));

    // The same patch again on the updated client changes nothing: the reserve copy keeps the
    // list from before the first run, and the merge is not repeated.
    const Tree once = TreeHere();
    std::string calls;
    ASSERT_TRUE(velsupport::ReadFileText("merge_call.txt", &calls));
    Transaction again(0x010300BE);
    Plan(again);
    ASSERT_EQ(again.Commit(timer_, &failure), Result::Ok) << failure;
    EXPECT_EQ(TreeHere(), once);
    std::string callsAfter;
    ASSERT_TRUE(velsupport::ReadFileText("merge_call.txt", &callsAfter));
    EXPECT_EQ(callsAfter, calls);
}

TEST_F(TransactionTest, StagingWithoutCommitLeavesTheClientAsItWas) {
    {
        Transaction t(0x010300BE);
        Plan(t);
        EXPECT_TRUE(velsupport::FolderExists(kStagingFolder));
    }  // never committed: the staging folder goes with it
    EXPECT_EQ(TreeHere(), before_);
}

TEST_F(TransactionTest, FailingStepPutsTheClientBackByteForByte) {
    // A folder where the patch has a file: the last step cannot be done.
    ASSERT_TRUE(CreateDirectoryA("blocked", nullptr));
    ASSERT_TRUE(WriteRawFile("blocked\\inside.txt", "mine"));
    before_ = TreeHere();
    Transaction t(0x010300BE);
    Plan(t);
    Stage(t, "blocked", "a file");
    std::string failure;
    EXPECT_EQ(t.Commit(timer_, &failure), Result::Reported);
    EXPECT_EQ(failure, "更新文件blocked时出错！");
    EXPECT_EQ(Keys(TreeHere()), Keys(before_));
    EXPECT_EQ(TreeHere(), before_);
}

// A staged file taken away between staging and commit (a virus scanner, a player tidying up):
// in the run that staged it, its step has not been done by anyone, so the commit fails and
// everything goes back, whether the target is a new file or replaces one.
TEST_F(TransactionTest, StagedFileThatVanishedFailsTheCommit) {
    const struct {
        const char* target;
        const char* failure;
    } cases[] = {{"deep/er/x.bin", "更新文件deep/er/x.bin时出错！"}, {"data\\ro.txt", "更新文件data\\ro.txt时出错！"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        Transaction t(0x010300BE);
        Plan(t);
        std::string failure;
        ASSERT_TRUE(t.BeginCommit(&failure));
        uint32_t slot = 0;
        for (const JournalOp& op : t.Steps().ops) {
            if (op.kind == OpKind::Put && op.target == c.target) slot = op.slot;
        }
        ASSERT_TRUE(DeleteFileA(StagingPath(StagedName(slot)).c_str()));
        EXPECT_EQ(t.FinishCommit(timer_, &failure), Result::Reported);
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(TreeHere(), before_);
    }
}

TEST_F(TransactionTest, FileHeldOpenStopsTheCommitAndEverythingGoesBack) {
    Transaction t(0x010300BE);
    Plan(t);
    std::string failure;
    {
        // Held without sharing, the version file can be neither moved nor replaced.
        velsupport::ScopedHandle held(CreateFileA("update.cfg", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.Valid());
        EXPECT_EQ(t.Commit(timer_, &failure), Result::Reported);
    }
    // Everything is back. A second name of the held file, kept as its backup, could not be
    // deleted while the file was held: the staging folder may stay, without a journal.
    Tree after = TreeHere();
    for (auto it = after.begin(); it != after.end();) {
        it = it->first.rfind(std::string(kStagingFolder) + "\\", 0) == 0 ? after.erase(it) : std::next(it);
    }
    EXPECT_EQ(after, before_);
    EXPECT_FALSE(Exists(StagingPath("journal")));
    EXPECT_EQ(failure, "文件update.cfg.new改名为update.cfg时出错！");
    // The next run removes what is left.
    EXPECT_EQ(Recover(folder_.Path(), reporter_), Result::Ok);
    EXPECT_EQ(TreeHere(), before_);
}

// The flusher holds a staged file open until it is on the disk, while the run goes on and reads
// the staged delete list: the read must not depend on whether the flush has finished yet.
TEST(StagedFiles, DeleteListIsReadWhileItsFlushIsPending) {
    velsupport::TempFolder folder("vel-txlist");
    ASSERT_TRUE(folder.Enter());
    const std::string list = "old\\gone.txt\r\nold\r\n";
    void* pending = WriteFileForFlush("list.txt", list.data(), list.size());
    ASSERT_NE(pending, INVALID_HANDLE_VALUE);
    velsupport::ScopedHandle held(pending);
    std::vector<std::string> targets;
    EXPECT_TRUE(ReadDeleteList("list.txt", &targets));
    EXPECT_EQ(targets, (Names{".\\old\\gone.txt", ".\\old"}));
}

// A run stopped after any number of the commit's steps is finished by the recovery of the next.
TEST(TransactionRecovery, EveryStopInTheCommitIsFinishedByTheNextRun) {
    const Tree reference = Reference();
    LauncherReporter reporter(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));
    for (size_t stop = 0;; ++stop) {
        SCOPED_TRACE(stop);
        velsupport::TempFolder folder("vel-txstop");
        ASSERT_TRUE(folder.Enter());
        MakeClient();
        size_t steps = 0;
        {
            Transaction t(0x010300BE);
            Plan(t);
            std::string failure;
            ASSERT_TRUE(t.BeginCommit(&failure));
            Journal partial = t.Steps();
            steps = partial.ops.size();
            partial.ops.resize(std::min(stop, steps));
            MergeTimer timer;
            ASSERT_TRUE(RunSteps(partial, timer, nullptr, StepRun::Fresh));
        }  // the run ends here, as if killed: the staging folder stays
        ASSERT_TRUE(velsupport::FolderExists(kStagingFolder));
        EXPECT_EQ(Recover(folder.Path(), reporter), Result::Ok);
        EXPECT_EQ(TreeHere(), reference);
        if (stop >= steps) break;
    }
}

// A failed commit stopped anywhere in its undo is undone to the end by the next run.
TEST(TransactionRecovery, EveryStopInTheUndoIsUndoneByTheNextRun) {
    LauncherReporter reporter(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));
    for (size_t undone = 0;; ++undone) {
        SCOPED_TRACE(undone);
        velsupport::TempFolder folder("vel-txundo");
        ASSERT_TRUE(folder.Enter());
        MakeClient();
        const Tree before = TreeHere();
        size_t steps = 0;
        {
            Transaction t(0x010300BE);
            Plan(t);
            std::string failure;
            ASSERT_TRUE(t.BeginCommit(&failure));
            Journal journal = t.Steps();
            steps = journal.ops.size();
            MergeTimer timer;
            ASSERT_TRUE(RunSteps(journal, timer, nullptr, StepRun::Fresh));
            // The last step "failed": the undo starts and stops after `undone` steps.
            journal.phase = JournalPhase::Rollback;
            ASSERT_TRUE(WriteJournal(journal));
            Journal tail;
            const size_t keep = steps - std::min(undone, steps);
            tail.ops.assign(journal.ops.begin() + static_cast<std::ptrdiff_t>(keep), journal.ops.end());
            ASSERT_TRUE(UndoSteps(tail));
        }
        EXPECT_EQ(Recover(folder.Path(), reporter), Result::Ok);
        EXPECT_EQ(TreeHere(), before);
        if (undone >= steps) break;
    }
}

// A second installer on the same folder while the first is in its commit: it must leave the
// first's staging folder alone, and once the first has ended, it finishes what is left.
TEST(TransactionRecovery, AFolderLockedByAnotherRunIsLeftAlone) {
    velsupport::TempFolder folder("vel-txlock");
    ASSERT_TRUE(folder.Enter());
    MakeClient();
    LauncherReporter reporter(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));
    const Tree reference = Reference();
    ASSERT_TRUE(folder.Enter());
    {
        RunLock first;
        ASSERT_EQ(RecoverInterruptedRun(folder.Path(), reporter, first), Result::Ok);
        Transaction t(0x010300BE);
        Plan(t);
        std::string failure;
        ASSERT_TRUE(t.BeginCommit(&failure));
        Journal half = t.Steps();
        half.ops.resize(half.ops.size() / 2);
        MergeTimer timer;
        ASSERT_TRUE(RunSteps(half, timer, nullptr, StepRun::Fresh));
        const Tree during = TreeHere();

        EXPECT_EQ(Recover(folder.Path(), reporter), Result::Reported);
        EXPECT_EQ(reporter.StatusText(), kRunLockHeldText);
        EXPECT_EQ(TreeHere(), during);
    }  // the first run ends here, as if killed in its commit
    EXPECT_FALSE(Exists(kRunLockName));
    EXPECT_EQ(Recover(folder.Path(), reporter), Result::Ok);
    EXPECT_EQ(TreeHere(), reference);
}

TEST(TransactionRecovery, DamagedJournalStopsTheRunAndKeepsEverything) {
    velsupport::TempFolder folder("vel-txbad");
    ASSERT_TRUE(folder.Enter());
    MakeClient();
    ASSERT_TRUE(CreateDirectoryA(kStagingFolder, nullptr));
    ASSERT_TRUE(WriteRawFile(StagingPath("journal"), "VELJOURNAL 1\nphase commit\n"));
    ASSERT_TRUE(WriteRawFile(StagingPath("o3"), "an original"));
    const Tree before = TreeHere();
    LauncherReporter reporter(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));
    EXPECT_EQ(Recover(folder.Path(), reporter), Result::Reported);
    EXPECT_EQ(reporter.StatusText(), std::string("临时安装文件夹") + kStagingFolder + "已损坏，无法更新！");
    EXPECT_EQ(TreeHere(), before);

    // Without a journal the staging folder holds staged copies only: it goes.
    ASSERT_TRUE(DeleteFileA(StagingPath("journal").c_str()));
    EXPECT_EQ(Recover(folder.Path(), reporter), Result::Ok);
    EXPECT_FALSE(Exists(kStagingFolder));
}

// What installers that wrote beside their targets could leave half done.
TEST(TransactionRecovery, LeftoversOfOlderInstallersAreRepaired) {
    velsupport::TempFolder folder("vel-txold");
    ASSERT_TRUE(folder.Enter());
    ASSERT_TRUE(CreateDirectoryA("package", nullptr));
    // The client archive parked in the backup slot, its replacement never renamed in.
    const std::string archive("\x64\0\0\0\0\0\0\0\x10\0\0\0\0\0\0\0", 16);
    ASSERT_TRUE(WriteRawFile("tmp.tmp", archive));
    ASSERT_TRUE(WriteRawFile("package\\package.cfg", "A.pkg\r\n"));
    ASSERT_TRUE(WriteRawFile("package\\A.pkg.tmp", "the rebuilt one"));
    // The version file lost between its backup and its replacement.
    ASSERT_TRUE(WriteRawFile("update.cfg.new", "ver=1.3.0.190\r\n"));
    LauncherReporter reporter(reinterpret_cast<HWND>(static_cast<INT_PTR>(1)));
    ASSERT_EQ(Recover(folder.Path(), reporter), Result::Ok);
    std::string text;
    EXPECT_TRUE(velsupport::ReadFileText("package\\A.pkg", &text));
    EXPECT_EQ(text, archive);
    EXPECT_FALSE(Exists("tmp.tmp"));
    EXPECT_TRUE(velsupport::ReadFileText("update.cfg", &text));
    EXPECT_EQ(text, "ver=1.3.0.190\r\n");
    EXPECT_FALSE(Exists("update.cfg.new"));

    // An emptied update.cfg with the old one in the backup slot and no new one.
    ASSERT_TRUE(WriteRawFile("update.cfg", ""));
    ASSERT_TRUE(WriteRawFile("tmp.tmp", "ver=1.3.0.189\r\n"));
    ASSERT_EQ(Recover(folder.Path(), reporter), Result::Ok);
    EXPECT_TRUE(velsupport::ReadFileText("update.cfg", &text));
    EXPECT_EQ(text, "ver=1.3.0.189\r\n");

    // The archive list cut short while it was copied from its complete temporary list.
    ASSERT_TRUE(WriteRawFile("package\\package.cfg", "A.pk"));
    ASSERT_TRUE(WriteRawFile("package\\package.cfg.tmp", "A.pkg\r\nD010300BE.pkg\r\n"));
    ASSERT_EQ(Recover(folder.Path(), reporter), Result::Ok);
    EXPECT_TRUE(velsupport::ReadFileText("package\\package.cfg", &text));
    EXPECT_EQ(text, "A.pkg\r\nD010300BE.pkg\r\n");

    // A complete client is left alone: an unrelated tmp.tmp and a list of its own stay.
    ASSERT_TRUE(WriteRawFile("tmp.tmp", "notes"));
    ASSERT_TRUE(WriteRawFile("package\\package.cfg.tmp", "B.pkg\r\n"));
    const Tree before = TreeHere();
    ASSERT_EQ(Recover(folder.Path(), reporter), Result::Ok);
    EXPECT_EQ(TreeHere(), before);
}
