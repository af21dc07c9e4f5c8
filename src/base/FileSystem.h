// File and folder operations over GBK paths for everything that touches the client folder:
// missing parent folders are created first, and an existing file's attributes are reset to
// "archive" alone before it is written over, copied over or deleted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// True when something (file or folder) exists under the name, which may hold wildcards.
bool FileExists(const char* name);

// Creates every folder of the path that is missing, left to right; "a/b" and "a\\b\\" both make
// a and a\\b (the last component counts as a folder too). False when the path does not fit the
// 259-character buffer; failures to create a folder are left to the later write to discover.
bool MakeDirs(const char* path);

// Creates the parent folders, resets the attributes of an existing file, and opens it with the
// C runtime mode; null when the path does not fit or the open fails.
FILE* OpenForWriting(const char* name, const char* mode);

// Copies source over target (creating its folders, overwriting a read-only target); the copy ends
// with the archive attribute alone.
bool CopyFileOver(const char* target, const char* source);

// Deletes the file, a read-only one too (its attributes reset first); the platform's result
// (non-zero on success).
int DeleteFileForce(const char* name);

// Writes the bytes as the whole new content of the file ("wb"). True only when every byte was
// written; a length of 0 makes an empty file.
bool WriteWholeFile(const char* name, const void* bytes, size_t length);

// Removes the folder with everything in it, read-only files included. Whatever cannot be
// removed stays; nothing is reported.
void RemoveTree(const char* folder);

// Sets the attributes of an existing file to "archive" alone.
void ResetAttributes(const char* name);

// Creates (or empties) the file, writes all bytes and flushes them to the disk before closing
// (FlushFileBuffers): a file written this way survives a power cut once it is renamed into place.
// True only when every step succeeded; a failed file is removed again.
bool WriteFileDurably(const char* name, const void* bytes, size_t length);

// Creates (or empties) the file and writes all bytes, keeping it open for a later flush; the
// handle (INVALID_HANDLE_VALUE on failure, the file then removed again) goes to the caller.
void* WriteFileForFlush(const char* name, const void* bytes, size_t length);
// Opens an existing file for a later flush; INVALID_HANDLE_VALUE when it cannot be opened.
void* OpenFileForFlush(const char* name);

// One rename that replaces an existing target, written through to the disk
// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH). Files only.
bool ReplaceByRename(const char* source, const char* target);

// Moves a file or a folder (with everything in it) to a name that must not exist yet, on the
// same volume. Read-only files move as they are.
bool MoveAside(const char* source, const char* target);

// True when a file or folder exists under the exact name (no wildcards).
bool PathExists(const char* name);
bool IsFolder(const char* name);

// Reads the first `count` bytes (fewer when the file is shorter) and the file's length.
bool ReadFileStart(const char* name, size_t count, std::string* head, uint64_t* length);

// Reads a whole file of at most maxLength bytes. False when it cannot be read or is longer.
bool ReadWholeFile(const char* name, std::string* content, size_t maxLength);

// Keeps what target holds under the name backup (which must not exist yet): a hard link where
// the volume has them, so target stays where it is; moved aside where it has not.
bool KeepOriginal(const char* target, const char* backup);

// How a step of the commit runs. Fresh: in the run that staged it, so its staged file is there
// and its backup names are free, and none of that needs asking. Resumed: again, after an
// interruption, so any part of it may be done already and each part is looked at first.
enum class StepRun { Fresh, Resumed };

// Replaces target by source while keeping what target held at backup, so that either can be put
// back: the backup is a hard link to the original where the volume has them (target then never
// goes missing, not even for a moment) and the original moved aside where it has not. A
// read-only original is made writable first; its attributes are kept in attributesFile. Safe to
// repeat after an interruption (StepRun::Resumed): done once source is gone.
bool ReplaceKeepingOriginal(const char* source, const char* target, const char* backup, const char* attributesFile,
                            StepRun run);

// Takes back ReplaceKeepingOriginal, also a part of it: the new file returns to source, the
// original to target with its attributes. Safe to repeat, and a no-op when nothing was done.
bool UndoReplaceKeepingOriginal(const char* source, const char* target, const char* backup,
                                const char* attributesFile);
