#include "support/TempFolder.h"

#include "support/Files.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

namespace velsupport {

bool KeepTestFolders()
{
    const char* keep = std::getenv("VEL_KEEP_TEST_FOLDERS");
    return keep && *keep && std::strcmp(keep, "0") != 0;
}

std::string TempFolder::operator/(const std::string& relative) const { return JoinPath(path_, relative); }

TempFolder::~TempFolder()
{
    if (entered_) {
#ifdef _WIN32
        SetCurrentDirectoryA(previous_.c_str());
#else
        if (chdir(previous_.c_str()) != 0) {
            // Nothing better to do: the folder is removed all the same.
        }
#endif
    }
    if (!path_.empty() && !KeepTestFolders())
        RemoveTree(path_);
}

#ifdef _WIN32

namespace {

std::string CurrentFolder()
{
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = GetCurrentDirectoryA(sizeof(buffer), buffer);
    return n == 0 || n >= sizeof(buffer) ? std::string() : std::string(buffer, n);
}

std::wstring Wide(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n - 1));
    return wide;
}

// A lead-byte-aware look at the last character: a GBK trail byte can be 0x5C.
bool EndsWithSeparator(const std::string& path)
{
    return !path.empty() && FolderOf(path).size() + 1 == path.size();
}

// Through the wide API with the "\\?\" prefix, so that paths longer than MAX_PATH go too.
void RemoveWide(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring child = folder + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveWide(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

TempFolder::TempFolder(const std::string& stem, Place place)
{
    std::string base;
    if (place == Place::SystemTemp) {
        char temp[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathA(sizeof(temp), temp);
        if (n == 0 || n >= sizeof(temp))
            return;
        base = temp;
    } else {
        base = CurrentFolder();
        if (base.empty())
            return;
    }
    if (!EndsWithSeparator(base))
        base += '\\';
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate =
            base + stem + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

bool TempFolder::Enter(const std::string& relative)
{
    if (path_.empty())
        return false;
    if (!entered_) {
        previous_ = CurrentFolder();
        if (previous_.empty())
            return false;
        entered_ = true;
    }
    const std::string target = relative.empty() ? path_ : *this / relative;
    return SetCurrentDirectoryA(target.c_str()) != 0;
}

bool RemoveTree(const std::string& path)
{
    if (path.empty())
        return false;
    const std::wstring wide = Wide(path);
    wchar_t full[32768];
    const DWORD n = GetFullPathNameW(wide.c_str(), 32768, full, nullptr);
    if (n == 0 || n >= 32768)
        return false;
    std::wstring folder(full, n);
    while (folder.size() > 3 && folder.back() == L'\\')
        folder.pop_back();
    if (folder.compare(0, 4, L"\\\\?\\") != 0)
        folder = L"\\\\?\\" + folder;
    RemoveWide(folder);
    return GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
}

#else

namespace {

std::string CurrentFolder()
{
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

void RemoveEntry(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    // A folder a test made read-only must be writable again to be emptied.
    chmod(path.c_str(), 0700);
    if (DIR* dir = opendir(path.c_str())) {
        std::vector<std::string> names;
        while (const dirent* entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.push_back(entry->d_name);
        }
        closedir(dir);
        for (const std::string& name : names)
            RemoveEntry(path + "/" + name);
    }
    rmdir(path.c_str());
}

}  // namespace

TempFolder::TempFolder(const std::string& stem, Place place)
{
    std::string base;
    if (place == Place::SystemTemp) {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    } else {
        base = CurrentFolder();
    }
    if (base.empty())
        return;
    if (base.back() != '/')
        base += '/';
    std::string pattern = base + stem + ".XXXXXX";
    if (mkdtemp(&pattern[0]))
        path_ = pattern;
}

bool TempFolder::Enter(const std::string& relative)
{
    if (path_.empty())
        return false;
    if (!entered_) {
        previous_ = CurrentFolder();
        if (previous_.empty())
            return false;
        entered_ = true;
    }
    const std::string target = relative.empty() ? path_ : *this / relative;
    return chdir(target.c_str()) == 0;
}

bool RemoveTree(const std::string& path)
{
    if (path.empty())
        return false;
    RemoveEntry(path);
    struct stat st;
    return lstat(path.c_str(), &st) != 0;
}

#endif

}  // namespace velsupport
