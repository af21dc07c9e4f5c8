// The journal of an installation and the decisions a run takes about what an earlier one left:
// every journal survives its round trip, a damaged one is never half used, and each leftover is
// recognised from its bytes alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/PathText.h"
#include "client/DiskSpace.h"
#include "install/Journal.h"
#include "install/Leftovers.h"

namespace {

Journal Sample() {
    Journal j;
    j.phase = JournalPhase::Commit;
    j.toVersion = 0x010300BE;
    j.ops = {{OpKind::Dir, 0, "新文件夹"},
             {OpKind::Put, 3, "新文件夹\\说明 文档.txt"},
             {OpKind::Put, 4, "data/乗\\x.bin"},  // a GBK trail byte 0x5C inside the name
             {OpKind::Merge, 5, ""},
             {OpKind::Remove, 6, "old maps"},
             {OpKind::Put, 0, "update.cfg"}};
    return j;
}

bool SameOps(const Journal& a, const Journal& b) {
    if (a.phase != b.phase || a.toVersion != b.toVersion || a.ops.size() != b.ops.size()) return false;
    for (size_t i = 0; i < a.ops.size(); ++i) {
        if (a.ops[i].kind != b.ops[i].kind || a.ops[i].target != b.ops[i].target) return false;
        if (a.ops[i].kind != OpKind::Dir && a.ops[i].slot != b.ops[i].slot) return false;
    }
    return true;
}

}  // namespace

TEST(Journal, EveryPhaseAndStepSurvivesTheRoundTrip) {
    for (JournalPhase phase : {JournalPhase::Staging, JournalPhase::Commit, JournalPhase::Rollback}) {
        Journal j = Sample();
        j.phase = phase;
        Journal back;
        ASSERT_TRUE(DecodeJournal(EncodeJournal(j), &back));
        EXPECT_TRUE(SameOps(j, back));
    }
    Journal empty;
    empty.toVersion = 0xFFFFFFFFu;
    Journal back;
    ASSERT_TRUE(DecodeJournal(EncodeJournal(empty), &back));
    EXPECT_TRUE(back.ops.empty());
    EXPECT_EQ(back.toVersion, 0xFFFFFFFFu);
}

TEST(Journal, DamagedJournalsAreRefusedWhole) {
    const std::string good = EncodeJournal(Sample());
    Journal back;
    // Every cut short of the whole text is refused: a journal is used completely or not at all.
    for (size_t length = 0; length < good.size(); ++length) {
        EXPECT_FALSE(DecodeJournal(good.substr(0, length), &back)) << length;
    }
    const std::string bad[] = {
        "VELJOURNAL 2\nphase commit\nto 1\nend\n",
        "VELJOURNAL 1\nphase done\nto 1\nend\n",
        "VELJOURNAL 1\nphase commit\nto 4294967296\nend\n",
        "VELJOURNAL 1\nphase commit\nto -1\nend\n",
        "VELJOURNAL 1\nphase commit\nto 1\nput x a.txt\nend\n",
        "VELJOURNAL 1\nphase commit\nto 1\nput 1\nend\n",  // no target
        "VELJOURNAL 1\nphase commit\nto 1\ncopy 1 a\nend\n",
        "VELJOURNAL 1\nphase commit\nto 1\nremove 1 a\tb\nend\n",  // a control byte in a target
        "VELJOURNAL 1\nphase commit\nto 1\nend\nput 1 a\n",
    };
    for (const std::string& text : bad) EXPECT_FALSE(DecodeJournal(text, &back)) << text;
    EXPECT_FALSE(IsJournalTarget(""));
    EXPECT_FALSE(IsJournalTarget("a\nb"));
    EXPECT_TRUE(IsJournalTarget("a b\\乗"));
}

TEST(Journal, RecoveryFollowsThePhase) {
    Journal j;
    EXPECT_EQ(DecideRecovery(false, nullptr, &j), RecoveryAction::None);
    EXPECT_EQ(DecideRecovery(true, nullptr, &j), RecoveryAction::RemoveStaging);
    const std::string damaged = "VELJOURNAL 1\nphase commit\n";
    EXPECT_EQ(DecideRecovery(true, &damaged, &j), RecoveryAction::Stuck);

    Journal written = Sample();
    const std::pair<JournalPhase, RecoveryAction> cases[] = {{JournalPhase::Staging, RecoveryAction::RemoveStaging},
                                                             {JournalPhase::Commit, RecoveryAction::RollForward},
                                                             {JournalPhase::Rollback, RecoveryAction::RollBack}};
    for (const auto& [phase, action] : cases) {
        written.phase = phase;
        const std::string text = EncodeJournal(written);
        Journal read;
        EXPECT_EQ(DecideRecovery(true, &text, &read), action);
        EXPECT_EQ(read.ops.size(), written.ops.size());
    }
}

TEST(Leftovers, ArchivesVersionFilesAndCutListsAreToldApart) {
    // tag 100, 1 entry, directory at 16, 20 bytes long: a 36-byte archive.
    const std::string header("\x64\0\0\0\x01\0\0\0\x10\0\0\0\x14\0\0\0", 16);
    EXPECT_TRUE(LooksLikeArchive(header, 36));
    EXPECT_FALSE(LooksLikeArchive(header, 35));  // the directory would run past the end
    EXPECT_FALSE(LooksLikeArchive(header.substr(0, 15), 36));
    EXPECT_FALSE(LooksLikeArchive("ver=1.3.0.189\nexe=velmora.exe\n", 30));

    EXPECT_TRUE(HasVersionLine("realver=1\nver=1.3.0.190\r\n"));
    EXPECT_TRUE(HasVersionLine("ver="));
    EXPECT_FALSE(HasVersionLine(""));
    EXPECT_FALSE(HasVersionLine("realver=1.3.0.190\nVer=1\nver =1\n"));

    const std::string temp = "A.pkg\r\nD010300BE.pkg\r\n";
    EXPECT_TRUE(ListCopyInterrupted(false, "", temp));
    EXPECT_TRUE(ListCopyInterrupted(true, "", temp));
    EXPECT_TRUE(ListCopyInterrupted(true, "A.pkg\r\nD01", temp));
    EXPECT_FALSE(ListCopyInterrupted(true, temp, temp));               // the copy was complete
    EXPECT_FALSE(ListCopyInterrupted(true, "B.pkg\r\n", temp));        // a list of its own
    EXPECT_FALSE(ListCopyInterrupted(true, "", "A.pkg\r\nD0103"));     // the temporary list itself cut
    EXPECT_FALSE(ListCopyInterrupted(false, "", ""));
}

TEST(PathFolders, ParentFoldersInOrderWithGbkTrailBytes) {
    using Folders = std::vector<std::string>;
    EXPECT_EQ(ParentFolders("a.txt"), Folders{});
    EXPECT_EQ(ParentFolders("a\\b/c.txt"), (Folders{"a", "a\\b"}));
    EXPECT_EQ(ParentFolders("a\\\\b\\"), (Folders{"a", "a\\\\b"}));
    // 乗 is 81 5C: its trail byte is no separator.
    EXPECT_EQ(ParentFolders("\x81\x5C\\x\x81\x5C.bin"), (Folders{"\x81\x5C"}));
    EXPECT_EQ(ParentFolders("\\lead"), Folders{});
}

TEST(DiskSpacePeak, StagedFilesCountBesideTheOriginals) {
    EXPECT_EQ(PeakSpace(1000, 5000, 300), 6300u);
    // Sizes past 4 GiB do not wrap.
    EXPECT_EQ(PeakSpace(0xFFFFFFFFu, 0xFFFFFFFFu, 0x100000000ull), 0x2FFFFFFFEull);
}
