// Merging the client's resource index ("RAVN\RAVNFileList.ini") through the merge library.
#pragma once

#include <string>
#include <vector>

class CPatchDlg;
class MergePatchCallback;

// The "FileName" values of items 1 .. FileCount-1 of a resource index list (empty names too),
// replacing what `patches` held. At most the first 1000 items are read.
void ReadFileList(const char* listFile, std::vector<std::string>& patches);

// Keeps the current list in the reserve folder, lets "RAVNMerge.dll" merge when the package
// brings exactly one new patch, moves patches no longer listed to the reserve folder and puts the
// new list ("RAVN/RAVNFileList.ini.patch") in place. Outcomes are only logged.
void MergeResourceIndex(CPatchDlg* session);

// The library's export, called with the C convention.
using MergePatchWSafeFn = int (__cdecl*)(const wchar_t* previousList, const wchar_t* downloadFolder,
                                         const wchar_t* backupList, const wchar_t* downloadFolderNoSlash,
                                         int* result, wchar_t* message, int messageCapacity,
                                         MergePatchCallback* callback);
