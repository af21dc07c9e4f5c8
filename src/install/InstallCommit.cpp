#include "install/InstallCommit.h"

#include <iterator>

#include "base/FileSystem.h"
#include "base/InstallLog.h"
#include "install/DeleteList.h"
#include "install/Leftovers.h"

namespace {

Result Fail(Reporter& reporter, const std::string& text) {
    reporter.SetStatus(text.c_str());
    InstallLog::WriteText(text.c_str());
    return Result::Reported;
}

}  // namespace

Result CommitInstall(Transaction& transaction, const StagedRun& staged, const ArchiveChoice& archive,
                     Reporter& reporter) {
    const uint32_t listSlot = transaction.NewSlot();
    const std::string listText = ArchiveListText(archive.list);
    if (archive.list.empty() || !transaction.StageBytes(listSlot, listText.data(), listText.size()))
        return Fail(reporter, "写文件package\\package.cfg时出错！");

    for (const auto& [slot, target] : staged.plainFiles) transaction.AddPut(slot, target);
    if (staged.indexListSlot != kNoSlot) {
        transaction.AddMerge(staged.indexListSlot);
    } else {
        InstallLog::Write("无vpk文件升级");
    }
    if (staged.deleteListSlot != kNoSlot) {
        // The list was staged by this run: not reading it would report success with the old
        // files still there.
        std::vector<std::string> targets;
        if (!ReadDeleteList(StagingPath(StagedName(staged.deleteListSlot)).c_str(), &targets))
            return Fail(reporter, "更新文件UpdateDelList.txt时出错！");
        for (const std::string& target : targets) transaction.AddRemove(target);
    }
    // Files only: a folder of the same name is not something an installer left.
    // The rebuilt archive's old place, archive path + ".tmp", too.
    std::vector<std::string> leftovers(std::begin(kInstallerLeftovers), std::end(kInstallerLeftovers));
    leftovers.push_back(archive.path + ".tmp");
    for (const std::string& leftover : leftovers) {
        if (PathExists(leftover.c_str()) && !IsFolder(leftover.c_str())) transaction.AddRemove(leftover);
    }
    transaction.AddPut(staged.archiveSlot, archive.path);
    transaction.AddPut(listSlot, "package\\package.cfg");
    if (staged.launcherSlot != kNoSlot) transaction.AddPut(staged.launcherSlot, "LNCH\\mmog_data.xml");
    if (staged.versionSlot != kNoSlot) transaction.AddPut(staged.versionSlot, "update.cfg");

    MergeTimer timer;
    std::string failure;
    if (transaction.Commit(timer, &failure) == Result::Ok) return Result::Ok;
    return Fail(reporter, failure);
}
