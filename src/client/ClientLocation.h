// Where the client is installed: registry keys and the folder picker behind the browse button.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/PathText.h"

// Key under HKEY_CURRENT_USER holding "PathRoot", chosen by the package's clientType.
const char* InstallPathKey(uint32_t clientType);

// Registry data is taken as the client folder only when it is a string whose last returned byte
// is its terminator (for REG_MULTI_SZ the list terminator too); other types never count.
bool IsTerminatedRegistryString(DWORD type, const BYTE* data, DWORD count);

// Reads the string value `valueName` of the install-path key of the client kind into buffer.
// False (buffer empty) when the key or value is missing or is no terminated string.
bool ReadInstallPathFromRegistry(uint32_t clientType, const char* valueName, char* buffer, DWORD bufferSize);

// The folder the dialog starts with: "PathRoot" of the kind's key (in its long form when the
// folder exists), or else the folder of the program file.
std::string DefaultClientFolder(uint32_t clientType);

// Shows a folder picker owned by `owner`; true with the folder's file-system path (possibly
// empty) in `path`, false when the player cancelled.
using FolderPicker = bool (*)(HWND owner, char (&path)[kPathBufferSize]);

// The shell's folder-browse window. Tests put a picker of their own in its place, so that
// everything after the pick runs for real without clicking through the shell's window.
bool BrowseForClientFolder(HWND owner, char (&path)[kPathBufferSize]);
FolderPicker SetFolderPicker(FolderPicker picker);
// The picker in use: the shell's, or the one a test put in its place.
FolderPicker CurrentFolderPicker();
