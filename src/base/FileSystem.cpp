#include "base/FileSystem.h"

#include <windows.h>
#include <io.h>

#include <cstdlib>
#include <cstring>

#include "base/ScopedWin.h"
#include "base/PathText.h"
#include "base/StdioFile.h"

namespace {

// Creates the folders in front of the file's last separator. False when the name does not fit.
bool MakeParentFolder(const char* name) {
    char folder[kPathBufferSize];
    if (!CopyBounded(folder, sizeof(folder), name)) return false;
    // The later of the two separators: a mixed name such as a\b/c.bin needs the folder a\b.
    int cut = FindLastChar(folder, '\\');
    int slash = FindLastChar(folder, '/');
    if (slash > cut) cut = slash;
    if (cut <= 0) return true;  // no folder in front of the name, or only the root
    folder[cut] = '\0';
    return MakeDirs(folder);
}

}  // namespace

bool FileExists(const char* name) {
    if (!FitsPathBuffer(name)) return false;
    WIN32_FIND_DATAA found;
    AutoFindHandle find(FindFirstFileA(name, &found));
    return find.IsValid();
}

bool MakeDirs(const char* path) {
    char work[kPathBufferSize];
    if (!CopyBounded(work, sizeof(work), path)) return false;
    TrimBlanks(work);
    // '/' (0x2F) is never a GBK trail byte, so a plain replacement is safe here.
    for (char* p = work; *p != '\0'; ++p) {
        if (*p == '/') *p = '\\';
    }
    // A path that already fills the buffer has no room for the closing separator: refused whole
    // rather than made without its last folder.
    if (!EndsWithChar(work, '\\') && !AppendBounded(work, sizeof(work), "\\")) return false;

    for (size_t i = 0; work[i] != '\0'; ++i) {
        if (IsGbkLeadByte(static_cast<unsigned char>(work[i])) && work[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (work[i] != '\\' || i == 0) continue;
        work[i] = '\0';
        if (_access(work, 0) != 0) CreateDirectoryA(work, nullptr);
        work[i] = '\\';
    }
    return true;
}

FILE* OpenForWriting(const char* name, const char* mode) {
    if (!FitsPathBuffer(name)) return nullptr;
    MakeParentFolder(name);
    if (FileExists(name)) ResetAttributes(name);
    return fopen(name, mode);
}

bool CopyFileOver(const char* target, const char* source) {
    if (!FitsPathBuffer(target) || !FitsPathBuffer(source)) return false;
    MakeParentFolder(target);
    if (FileExists(target)) ResetAttributes(target);
    if (!CopyFileA(source, target, FALSE)) return false;
    if (FileExists(target)) ResetAttributes(target);
    return true;
}

int DeleteFileForce(const char* name) {
    if (!FitsPathBuffer(name)) return 0;
    if (DeleteFileA(name)) return 1;
    // Only a read-only file costs the two more calls.
    if (GetLastError() != ERROR_ACCESS_DENIED) return 0;
    ResetAttributes(name);
    return DeleteFileA(name);
}

bool WriteWholeFile(const char* name, const void* bytes, size_t length) {
    StdioFile file(OpenForWriting(name, "wb"));
    if (file.Get() == nullptr) return false;
    bool written = length == 0 || fwrite(bytes, 1, length, file.Get()) == length;
    // A full disk may show only when the buffer is flushed.
    bool closed = file.Close();
    return written && closed;
}

void RemoveTree(const char* folder) {
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    // A junction or folder link is removed as a link; its target belongs to someone else.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveDirectoryA(folder);
        return;
    }

    // A folder named with its closing separator gets no second one. A folder name too long for
    // the search pattern is not enumerated; it is then removed only if it is empty already.
    const char* separator = EndsWithChar(folder, '\\') || EndsWithChar(folder, '/') ? "" : "\\";
    char pattern[kPathBufferSize];
    if (FormatBounded(pattern, sizeof(pattern), "%s%s*.*", folder, separator)) {
        WIN32_FIND_DATAA found;
        AutoFindHandle find(FindFirstFileA(pattern, &found));
        if (find.IsValid()) {
            do {
                if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0) continue;
                // A child whose path does not fit is skipped, never cut: a cut name would denote
                // some other file. The child stays, and so does this folder.
                char child[kPathBufferSize];
                if (!FormatBounded(child, sizeof(child), "%s%s%s", folder, separator, found.cFileName)) continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(child);
                } else {
                    DeleteFileForce(child);
                }
            } while (FindNextFileA(find.Get(), &found));
        }
    }
    // A read-only folder cannot be removed even when empty.
    if (!RemoveDirectoryA(folder) && GetLastError() == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(folder, attributes & ~FILE_ATTRIBUTE_READONLY);
        RemoveDirectoryA(folder);
    }
}

void ResetAttributes(const char* name) {
    if (!FitsPathBuffer(name)) return;
    SetFileAttributesA(name, FILE_ATTRIBUTE_ARCHIVE);
}

namespace {

bool WriteAll(HANDLE file, const void* bytes, size_t length) {
    const char* p = static_cast<const char*>(bytes);
    while (length > 0) {
        const DWORD chunk = length > (1u << 24) ? (1u << 24) : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr) || written != chunk) return false;
        p += chunk;
        length -= chunk;
    }
    return true;
}

}  // namespace

bool WriteFileDurably(const char* name, const void* bytes, size_t length) {
    if (!FitsPathBuffer(name)) return false;
    bool ok = false;
    {
        AutoCloseHandle file(CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) return false;
        ok = WriteAll(file.Get(), bytes, length) && FlushFileBuffers(file.Get());
    }
    if (!ok) DeleteFileA(name);
    return ok;
}

void* WriteFileForFlush(const char* name, const void* bytes, size_t length) {
    if (!FitsPathBuffer(name)) return INVALID_HANDLE_VALUE;
    // Readers are let in: the run reads some staged files (the delete list) while their flush
    // is still pending on the flusher's thread.
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
    if (!WriteAll(file, bytes, length)) {
        CloseHandle(file);
        DeleteFileA(name);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

void* OpenFileForFlush(const char* name) {
    if (!FitsPathBuffer(name)) return INVALID_HANDLE_VALUE;
    return CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool ReplaceByRename(const char* source, const char* target) {
    if (!FitsPathBuffer(source) || !FitsPathBuffer(target)) return false;
    return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool MoveAside(const char* source, const char* target) {
    if (!FitsPathBuffer(source) || !FitsPathBuffer(target)) return false;
    // Write-through is for files; a folder is moved by a plain rename on the same volume.
    const DWORD flags = IsFolder(source) ? 0 : MOVEFILE_WRITE_THROUGH;
    return MoveFileExA(source, target, flags) != 0;
}

bool PathExists(const char* name) {
    return FitsPathBuffer(name) && GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const char* name) {
    if (!FitsPathBuffer(name)) return false;
    DWORD attributes = GetFileAttributesA(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const char* name, std::string* content, size_t maxLength) {
    if (!FitsPathBuffer(name)) return false;
    AutoCloseHandle file(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > maxLength)
        return false;
    content->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (size.QuadPart > 0 &&
        (!ReadFile(file.Get(), &(*content)[0], static_cast<DWORD>(size.QuadPart), &read, nullptr) ||
         read != static_cast<DWORD>(size.QuadPart)))
        return false;
    return true;
}

bool ReadFileStart(const char* name, size_t count, std::string* head, uint64_t* length) {
    if (!FitsPathBuffer(name)) return false;
    AutoCloseHandle file(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) return false;
    *length = static_cast<uint64_t>(size.QuadPart);
    head->assign(count, '\0');
    DWORD read = 0;
    if (count > 0 && !ReadFile(file.Get(), &(*head)[0], static_cast<DWORD>(count), &read, nullptr)) return false;
    head->resize(read);
    return true;
}

bool KeepOriginal(const char* target, const char* backup) {
    return CreateHardLinkA(backup, target, nullptr) || MoveAside(target, backup);
}

bool ReplaceKeepingOriginal(const char* source, const char* target, const char* backup, const char* attributesFile,
                            StepRun run) {
    if (!FitsPathBuffer(source) || !FitsPathBuffer(target)) return false;
    const bool resumed = run == StepRun::Resumed;
    const DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A new file: one rename. Without a source it was put in place by an earlier attempt.
        if (MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        return resumed && !PathExists(source);
    }
    if (resumed && !PathExists(source)) return true;  // done by an earlier attempt
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return false;  // a folder where a file goes
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        // Noted before it changes; a hard link shares the attributes of its file.
        if (!resumed || !PathExists(attributesFile)) {
            const std::string text = std::to_string(attributes);
            if (!WriteFileDurably(attributesFile, text.data(), text.size())) return false;
        }
        if (!SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
    }
    if ((!resumed || !PathExists(backup)) && !KeepOriginal(target, backup)) return false;
    return ReplaceByRename(source, target);
}

namespace {

// True when both names lead to one file: the backup is a hard link and the original never left.
bool SameFile(const char* first, const char* second) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const char* names[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        // Attributes only: no sharing conflict with whoever holds the file.
        AutoCloseHandle file(CreateFileA(names[i], FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &info[i])) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

}  // namespace

bool UndoReplaceKeepingOriginal(const char* source, const char* target, const char* backup,
                                const char* attributesFile) {
    // The replacement may never have happened (its staged file gone, or the rename refused):
    // the target is then the original itself, which stays where it is.
    const bool targetIsOriginal = PathExists(backup) && PathExists(target) && SameFile(target, backup);
    if (!targetIsOriginal && !PathExists(source) && PathExists(target) && !MoveAside(target, source)) return false;
    if (targetIsOriginal) {
        // The original's second name goes before its attributes come back: removing it resets
        // them, for every name of the file. Held open by someone, it stays for the next run.
        DeleteFileForce(backup);
    } else if (PathExists(backup) && !PathExists(target) && !MoveAside(backup, target)) {
        return false;
    }
    std::string text;
    if (ReadWholeFile(attributesFile, &text, 32)) {
        const DWORD attributes = static_cast<DWORD>(strtoul(text.c_str(), nullptr, 10));
        if (attributes != 0 && !SetFileAttributesA(target, attributes)) return false;
        DeleteFileA(attributesFile);
    }
    return true;
}
