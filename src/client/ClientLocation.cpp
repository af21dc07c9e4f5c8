// Deciding and changing the client folder.
#include "client/ClientLocation.h"

#include <shlobj.h>

#include <cstring>

#include "base/ScopedWin.h"
#include "base/ProgramFile.h"
#include "base/PathText.h"

namespace {

FolderPicker g_folderPicker = BrowseForClientFolder;

}  // namespace

bool IsTerminatedRegistryString(DWORD type, const BYTE* data, DWORD count) {
    if (count == 0) return false;
    if (type == REG_SZ || type == REG_EXPAND_SZ) return data[count - 1] == 0;
    if (type == REG_MULTI_SZ) return data[count - 1] == 0 && (count < 2 || data[count - 2] == 0);
    return false;
}

const char* InstallPathKey(uint32_t clientType) {
    return clientType == 0 ? "Software\\Korvex\\Velmora\\" : "Software\\Korvex\\Velmora微端\\";
}

bool BrowseForClientFolder(HWND owner, char (&path)[kPathBufferSize]) {
    char displayName[kPathBufferSize] = {};
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = "请选择Velmora安装目录";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderA(&info);
    if (!item) return false;
    path[0] = '\0';
    if (!SHGetPathFromIDListA(item, path)) path[0] = '\0';
    CoTaskMemFree(item);
    return true;
}

FolderPicker SetFolderPicker(FolderPicker picker) {
    FolderPicker previous = g_folderPicker;
    g_folderPicker = picker ? picker : BrowseForClientFolder;
    return previous;
}

FolderPicker CurrentFolderPicker() { return g_folderPicker; }

bool ReadInstallPathFromRegistry(uint32_t clientType, const char* valueName, char* buffer, DWORD bufferSize) {
    if (bufferSize == 0) return false;
    AutoRegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, InstallPathKey(clientType), 0, KEY_READ | KEY_WRITE, key.Out()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD count = bufferSize;
    LONG rc = RegQueryValueExA(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &count);
    if (rc != ERROR_SUCCESS) {
        buffer[0] = '\0';
        return false;
    }
    if (count == 0) {
        buffer[0] = '\0';
        return true;
    }
    if (!IsTerminatedRegistryString(type, reinterpret_cast<const BYTE*>(buffer), count)) {
        buffer[0] = '\0';
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

std::string DefaultClientFolder(uint32_t clientType) {
    char path[kPathBufferSize] = {};
    if (!GetProgramFilePath(path, sizeof(path))) path[0] = '\0';
    std::string folder = path;
    if (ReadInstallPathFromRegistry(clientType, "PathRoot", path, sizeof(path))) {
        // The long form when the folder exists; the stored text as it is otherwise.
        char longPath[kPathBufferSize];
        DWORD n = GetLongPathNameA(path, longPath, sizeof(longPath));
        return (n > 0 && n < sizeof(longPath)) ? longPath : path;
    }
    int cut = FindLastChar(folder.c_str(), '\\');
    if (cut < 0) cut = FindLastChar(folder.c_str(), '/');
    return cut >= 0 ? folder.substr(0, static_cast<size_t>(cut)) : std::string(".");
}
