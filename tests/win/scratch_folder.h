// A test's own temporary folder under the system's temp path, optionally the current folder for
// the test's duration; removed with everything in it (read-only files and over-long paths too)
// through the wide API, independently of the code under test.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/ScopedWin.h"

class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix) {
        char temp[MAX_PATH];
        DWORD length = GetTempPathA(sizeof(temp), temp);
        if (length == 0 || length >= sizeof(temp)) return;
        static unsigned counter = 0;
        for (unsigned attempt = 0; attempt < 1000; ++attempt) {
            std::string candidate = std::string(temp) + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                                    std::to_string(++counter);
            if (CreateDirectoryA(candidate.c_str(), nullptr)) {
                path_ = candidate;
                break;
            }
        }
    }
    ~ScratchFolder() {
        if (entered_) SetCurrentDirectoryA(previous_.c_str());
        if (!path_.empty()) RemoveWide(L"\\\\?\\" + Wide(path_));
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Valid() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

    // Makes `relative` (empty: the folder itself) the current folder until destruction.
    bool Enter(const std::string& relative = std::string()) {
        if (!entered_) {
            char current[MAX_PATH];
            DWORD length = GetCurrentDirectoryA(sizeof(current), current);
            if (length == 0 || length >= sizeof(current)) return false;
            previous_ = current;
            entered_ = true;
        }
        std::string target = relative.empty() ? path_ : *this / relative;
        return SetCurrentDirectoryA(target.c_str()) != 0;
    }

private:
    static std::wstring Wide(const std::string& text) {
        int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
        if (n <= 0) return std::wstring();
        std::wstring wide(static_cast<size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
        wide.resize(static_cast<size_t>(n - 1));
        return wide;
    }
    static void RemoveWide(const std::wstring& folder) {
        WIN32_FIND_DATAW found;
        AutoFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &found));
        if (find.IsValid()) {
            do {
                std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                std::wstring child = folder + L"\\" + name;
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveWide(child);
                } else {
                    DeleteFileW(child.c_str());
                }
            } while (FindNextFileW(find.Get(), &found));
        }
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryW(folder.c_str());
    }

    std::string path_;
    std::string previous_;
    bool entered_ = false;
};

// Test-side file access through the platform directly, so that checks do not lean on the code
// under test.
inline bool WriteRawFile(const std::string& name, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    bool ok;
    {
        AutoCloseHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid()) return false;
        DWORD written = 0;
        ok = bytes.empty() ||
             (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size());
    }
    return ok && SetFileAttributesA(name.c_str(), attributes);
}

inline bool ReadRawFile(const std::string& name, std::string* bytes) {
    AutoCloseHandle file(CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return false;
    bytes->clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes->append(buffer, got);
    return true;
}

inline DWORD AttributesOf(const std::string& name) { return GetFileAttributesA(name.c_str()); }
inline bool Exists(const std::string& name) { return AttributesOf(name) != INVALID_FILE_ATTRIBUTES; }
inline bool IsFolder(const std::string& name) {
    DWORD attributes = AttributesOf(name);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Names in a folder, sorted, without "." and "..".
inline std::vector<std::string> NamesIn(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    AutoFindHandle find(FindFirstFileA((folder + "\\*").c_str(), &found));
    if (!find.IsValid()) return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find.Get(), &found));
    std::sort(names.begin(), names.end());
    return names;
}
