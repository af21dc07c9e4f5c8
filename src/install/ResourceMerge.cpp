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

// Handles and addresses are logged as numbers (cut to 32 bits in a 64-bit build).
int NumberOf(const void* address) { return static_cast<int>(reinterpret_cast<intptr_t>(address)); }

void RunMergeLibrary(MergeTimer& timer) {
    // Bare name: the platform's search, in which the client folder (current directory) takes part.
    AutoLibrary library(LoadLibraryA("RAVNMerge.dll"));
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

// The list travels inside the patch: a name must denote one file directly in the download and
// reserve folders, never a path that leads elsewhere.
bool IsPlainPatchName(const char* name) { return IsContainedRelativePath(name) && FindFirstSeparator(name) < 0; }

// Moves a patch the new list no longer names from the download folder to the reserve folder.
void ReservePatch(const char* name) {
    if (!IsPlainPatchName(name)) return;
    char source[kPathBufferSize];
    char target[kPathBufferSize];
    // A cut path would name some other file: names that do not fit are left where they are.
    if (!FormatBounded(source, sizeof(source), "RAVN/RAVNDownload/%s", name)) return;
    if (!FormatBounded(target, sizeof(target), "RAVN/RAVNReserve/%s", name)) return;
    DeleteFileA(target);
    MoveFileA(source, target);
    InstallLog::Write("Move %s To %s", source, target);
}

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

void MergeResourceIndex(MergeTimer& timer) {
    InstallLog::Write("开始合并vpk文件");

    std::vector<std::string> oldPatches;
    std::vector<std::string> newPatches;
    ReadFileList("RAVN\\RAVNFileList.ini", oldPatches);
    ReadFileList("RAVN\\RAVNFileList.ini.patch", newPatches);

    MakeDirs("RAVN/RAVNReserve/");
    // The resource folder's own files are moved with the platform's plain calls; their
    // attributes are left as they are.
    DeleteFileA("RAVN/RAVNReserve/RAVNFileList.ini");
    MoveFileA("RAVN/RAVNFileList.ini", "RAVN/RAVNReserve/RAVNFileList.ini");

    if (newPatches.size() == 1 && !oldPatches.empty()) {
        RunMergeLibrary(timer);
        for (const std::string& name : oldPatches) {
            // Exact comparison: "A.vpk" and "a.vpk" are different patches.
            if (std::find(newPatches.begin(), newPatches.end(), name) == newPatches.end()) {
                ReservePatch(name.c_str());
            }
        }
    } else {
        InstallLog::Write("不需要合并vpk文件：lstOldPatchs %d, lstNewPatchs %d", static_cast<int>(oldPatches.size()),
                          static_cast<int>(newPatches.size()));
    }

    DeleteFileA("RAVN/RAVNFileList.ini");
    MoveFileA("RAVN/RAVNFileList.ini.patch", "RAVN/RAVNFileList.ini");
}
