#include "install/ResourceMerge.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "base/ScopedWin.h"
#include "base/FileSystem.h"
#include "base/PathText.h"
#include "base/InstallLog.h"

namespace {

// The count comes from a list file, the new one from the patch; a damaged count must not keep
// the install reading (and allocating) item after item for hours.
constexpr int kMaxListItems = 1000;

constexpr int kMergeMessageCapacity = 1024;

const char kIndexList[] = "RAVN\\RAVNFileList.ini";
const char kReserveList[] = "RAVN/RAVNReserve/RAVNFileList.ini";
// A resource index list is a small ini file; anything larger is not read whole.
constexpr size_t kMaxListBytes = 16u << 20;

// Handles and addresses are logged as numbers (cut to 32 bits in a 64-bit build).
int NumberOf(const void* address) { return static_cast<int>(reinterpret_cast<intptr_t>(address)); }

}  // namespace

void RunMergeLibrary(MergeTimer& timer) {
    // Only the client folder's own copy (the current directory) is ever loaded: a bare name
    // would be searched for beside the installer first, and players start it from their
    // downloads folder, where anyone's "RAVNMerge.dll" may lie. The altered search path lets the
    // library find the DLLs it brings along in its own folder.
    char libraryPath[kPathBufferSize];
    DWORD length = GetFullPathNameA("RAVNMerge.dll", sizeof(libraryPath), libraryPath, nullptr);
    AutoLibrary library(length > 0 && length < sizeof(libraryPath)
                            ? LoadLibraryExA(libraryPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                            : nullptr);
    MergePatchWSafeFn merge = nullptr;
    if (library.Get() != nullptr) {
        // Through void(*)(): the generic function type that may be cast to any other.
        merge = reinterpret_cast<MergePatchWSafeFn>(
            reinterpret_cast<void (*)()>(GetProcAddress(library.Get(), "MergePatchWSafe")));
    }
    InstallLog::Write("LoadLibrary %d", NumberOf(library.Get()));

    if (merge != nullptr) {
        int result = 0;
        wchar_t message[kMergeMessageCapacity] = {};
        // The library asks CheckTimeLimit whether it may go on; the three minutes are counted
        // from the start of this call, not from when the run began.
        timer.Start();
        // "RAVDownload" is the library's own name, not a misspelt "RAVNDownload" of the moves.
        merge(L"RAVN/RAVNReserve/RAVNFileList.ini", L"RAVN/RAVDownload/", L"RAVN/RAVNFileList.ini.bak",
              L"RAVN/RAVDownload", &result, message, kMergeMessageCapacity, &timer);
        // Neither the result, the message nor the return value is relied on.
    }
    InstallLog::Write("myMergePatchWSafe %d", NumberOf(reinterpret_cast<const void*>(merge)));
}

namespace {

// The list travels inside the patch: a name must denote one file directly in the download and
// reserve folders, never a path that leads elsewhere.
bool IsPlainPatchName(const char* name) { return IsContainedRelativePath(name) && FindFirstSeparator(name) < 0; }

// Where a patch the new list no longer names goes: from the download folder to the reserve
// folder. A cut path would name some other file: names that do not fit are left where they are.
bool ReservePaths(const std::string& name, char (&source)[kPathBufferSize], char (&target)[kPathBufferSize]) {
    return IsPlainPatchName(name.c_str()) &&
           FormatBounded(source, sizeof(source), "RAVN/RAVNDownload/%s", name.c_str()) &&
           FormatBounded(target, sizeof(target), "RAVN/RAVNReserve/%s", name.c_str());
}

std::vector<std::string> DroppedPatches(const std::vector<std::string>& oldPatches,
                                        const std::vector<std::string>& newPatches) {
    std::vector<std::string> dropped;
    for (const std::string& name : oldPatches) {
        // Exact comparison: "A.vpk" and "a.vpk" are different patches.
        if (std::find(newPatches.begin(), newPatches.end(), name) == newPatches.end()) dropped.push_back(name);
    }
    return dropped;
}

std::string PatchBackup(const MergeFiles& files, size_t index) { return files.patchBackupPrefix + std::to_string(index); }

}  // namespace

void ReadFileList(const char* listFile, std::vector<std::string>& patches) {
    patches.clear();
    int count = static_cast<int>(GetPrivateProfileIntA("FileList", "FileCount", 0, listFile));
    if (count <= 1) return;
    count = std::min(count, kMaxListItems + 1);
    for (int i = 1; i < count; ++i) {
        char section[32];
        snprintf(section, sizeof(section), "FileItem%d", i);
        // At most 258 characters, as the list format allows.
        char name[kPathBufferSize];
        GetPrivateProfileStringA(section, "FileName", "", name, kPathBufferSize - 1, listFile);
        patches.push_back(name);
    }
}

bool MergeTimer::WithinTimeLimit(uint32_t tickCount) const {
    // Unsigned: a tick count that wrapped below the base reads as a huge elapsed time.
    return static_cast<uint32_t>(tickCount - tickBase_) <= kMergeTimeLimitMs;
}

bool VEL_THISCALL MergeTimer::CheckTimeLimit(uint32_t, uint32_t, uint32_t, uint32_t) {
    return WithinTimeLimit(GetTickCount());
}

void MergeTimer::Start() { tickBase_ = GetTickCount(); }

bool ApplyResourceMerge(const MergeFiles& files, MergeTimer& timer) {
    // The new list in place means the merge is over (a repeated call after a crash).
    if (!PathExists(files.patchList.c_str())) return true;
    InstallLog::Write("开始合并vpk文件");

    // The client's list as it was before this step: moved aside already by an interrupted
    // attempt on a volume without hard links, otherwise still in its place.
    const char* previous = PathExists(files.listBackup.c_str()) ? files.listBackup.c_str() : kIndexList;
    std::string current;
    std::string patch;
    const bool haveCurrent = ReadWholeFile(previous, &current, kMaxListBytes);
    if (!ReadWholeFile(files.patchList.c_str(), &patch, kMaxListBytes)) return false;

    std::vector<std::string> oldPatches;
    std::vector<std::string> newPatches;
    ReadFileList(previous, oldPatches);
    ReadFileList(files.patchList.c_str(), newPatches);

    if (haveCurrent && current == patch) {
        // The client already has this list: the merge ran for it before, and the reserve copy
        // keeps the list from before that run.
        InstallLog::Write("vpk文件列表已是最新，不需要合并");
    } else {
        MakeDirs("RAVN/RAVNReserve/");
        // The reserve copy becomes the current list; the one it replaces is kept until the run
        // is over. Without a current list there is no reserve copy afterwards.
        if (!PathExists(files.reserveBackup.c_str()) && !PathExists(files.noReserve.c_str())) {
            if (PathExists(kReserveList)) {
                if (!KeepOriginal(kReserveList, files.reserveBackup.c_str())) return false;
            } else if (!WriteFileDurably(files.noReserve.c_str(), "", 0)) {
                return false;
            }
        }
        if (haveCurrent) {
            if (!WriteFileDurably(files.reserveStage.c_str(), current.data(), current.size()) ||
                !ReplaceByRename(files.reserveStage.c_str(), kReserveList))
                return false;
        } else if (PathExists(kReserveList) && !DeleteFileForce(kReserveList)) {
            return false;
        }

        if (newPatches.size() == 1 && !oldPatches.empty()) {
            RunMergeLibrary(timer);
            const std::vector<std::string> dropped = DroppedPatches(oldPatches, newPatches);
            for (size_t i = 0; i < dropped.size(); ++i) {
                char source[kPathBufferSize];
                char target[kPathBufferSize];
                if (!ReservePaths(dropped[i], source, target)) continue;
                // A patch already moved by an interrupted attempt stays where it went.
                if (PathExists(source)) {
                    const std::string backup = PatchBackup(files, i);
                    if (PathExists(target) && !PathExists(backup.c_str()) && !KeepOriginal(target, backup.c_str()))
                        return false;
                    if (!ReplaceByRename(source, target)) return false;
                }
                InstallLog::Write("Move %s To %s", source, target);
            }
        } else {
            InstallLog::Write("不需要合并vpk文件：lstOldPatchs %d, lstNewPatchs %d", static_cast<int>(oldPatches.size()),
                              static_cast<int>(newPatches.size()));
        }
    }
    // Last: the new list takes the place of the old one, which is kept until the run is over.
    return ReplaceKeepingOriginal(files.patchList.c_str(), kIndexList, files.listBackup.c_str(),
                                  files.listAttributes.c_str(), StepRun::Resumed);
}

bool UndoResourceMerge(const MergeFiles& files) {
    if (!UndoReplaceKeepingOriginal(files.patchList.c_str(), kIndexList, files.listBackup.c_str(),
                                    files.listAttributes.c_str()))
        return false;
    // With the old list back, the patches it names that went to the reserve folder come back.
    std::vector<std::string> oldPatches;
    std::vector<std::string> newPatches;
    ReadFileList(kIndexList, oldPatches);
    ReadFileList(files.patchList.c_str(), newPatches);
    const std::vector<std::string> dropped = DroppedPatches(oldPatches, newPatches);
    bool ok = true;
    for (size_t i = 0; i < dropped.size(); ++i) {
        char source[kPathBufferSize];
        char target[kPathBufferSize];
        if (!ReservePaths(dropped[i], source, target)) continue;
        const std::string backup = PatchBackup(files, i);
        if (PathExists(target) && !PathExists(source) && !MoveAside(target, source)) ok = false;
        if (PathExists(backup.c_str()) && !PathExists(target) && !MoveAside(backup.c_str(), target)) ok = false;
    }
    if (PathExists(files.reserveBackup.c_str())) {
        if (!ReplaceByRename(files.reserveBackup.c_str(), kReserveList)) ok = false;
    } else if (PathExists(files.noReserve.c_str())) {
        if (PathExists(kReserveList) && !DeleteFileForce(kReserveList)) ok = false;
        if (ok) DeleteFileA(files.noReserve.c_str());
    }
    return ok;
}
