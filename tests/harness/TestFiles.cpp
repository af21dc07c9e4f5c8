#include "TestFiles.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace harness {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { if (f) std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

}  // namespace

std::string FolderOf(const std::string& path)
{
    const char* begin = path.c_str();
    const char* p = begin + path.size();
    while (p > begin) {
        p = CharPrevA(begin, p);
        if (*p == '\\' || *p == '/')
            return std::string(begin, p);
    }
    return {};
}

namespace {

bool MakeParents(const std::string& path)
{
    const std::string folder = FolderOf(path);
    if (folder.empty() || folder.back() == ':')
        return true;
    DWORD attr = GetFileAttributesA(folder.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES)
        return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return MakeParents(folder) && (CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
}

bool IsStamp(const std::string& line)
{
    // "[hh:mm:ss] "
    if (line.size() < 11 || line[0] != '[' || line[3] != ':' || line[6] != ':' || line[9] != ']' || line[10] != ' ')
        return false;
    for (int i : {1, 2, 4, 5, 7, 8})
        if (line[i] < '0' || line[i] > '9')
            return false;
    return true;
}

std::vector<std::string> RawLines(const std::string& path, bool* ok)
{
    std::vector<std::string> lines;
    std::string text;
    *ok = ReadWholeFile(path, &text);
    if (!*ok)
        return lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        size_t next = end == std::string::npos ? text.size() : end + 1;
        if (end == std::string::npos)
            end = text.size();
        if (end > start && text[end - 1] == '\r')
            --end;
        lines.push_back(text.substr(start, end - start));
        start = next;
    }
    return lines;
}

}  // namespace

std::string ProgramFolder()
{
    char buf[MAX_PATH * 2] = {};
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof(buf));
    if (n == 0 || n >= sizeof(buf))
        return {};
    return FolderOf(buf);
}

std::string MakeTestFolder(const std::string& name)
{
    static unsigned counter = 0;
    char cwd[MAX_PATH * 2] = {};
    DWORD n = GetCurrentDirectoryA(sizeof(cwd), cwd);
    if (n == 0 || n >= sizeof(cwd))
        return {};
    std::string base = cwd;
    const char* last = CharPrevA(cwd, cwd + n);
    if (n == 0 || *last != '\\' || last + 1 != cwd + n)
        base += '\\';
    for (int tries = 0; tries < 1000; ++tries) {
        std::string path = base + name + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter);
        if (CreateDirectoryA(path.c_str(), nullptr))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
    }
    return {};
}

bool RemoveFolderTree(const std::string& path)
{
    if (path.empty())
        return false;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA((path + "\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolderTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryA(path.c_str()) != 0;
}

TestFolder::~TestFolder()
{
    if (!path_.empty() && !std::getenv("VEL_KEEP_TEST_FOLDERS"))
        RemoveFolderTree(path_);
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    return MakeParents(to) && CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

bool FileExists(const std::string& path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::string& path, std::string* out)
{
    out->clear();
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return false;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f.get())) > 0)
        out->append(buf, n);
    return !std::ferror(f.get());
}

bool WriteTestFile(const std::string& path, const std::string& bytes)
{
    if (!MakeParents(path))
        return false;
    File f(std::fopen(path.c_str(), "wb"));
    if (!f)
        return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        return false;
    return std::fclose(f.release()) == 0;
}

std::vector<std::string> ReadLogLines(const std::string& path)
{
    bool ok = false;
    std::vector<std::string> lines = RawLines(path, &ok);
    for (std::string& line : lines)
        if (IsStamp(line))
            line.erase(0, 11);
    return lines;
}

bool AllLinesStamped(const std::string& path)
{
    bool ok = false;
    std::vector<std::string> lines = RawLines(path, &ok);
    if (!ok)
        return false;
    for (const std::string& line : lines)
        if (!IsStamp(line))
            return false;
    return true;
}

std::string GbkToUtf8(const std::string& gbk)
{
    if (gbk.empty())
        return {};
    const int n = static_cast<int>(gbk.size());
    int wlen = MultiByteToWideChar(936, 0, gbk.data(), n, nullptr, 0);
    if (wlen <= 0)
        return gbk;
    std::wstring wide(static_cast<size_t>(wlen), L'\0');
    MultiByteToWideChar(936, 0, gbk.data(), n, &wide[0], wlen);
    int ulen = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wlen, nullptr, 0, nullptr, nullptr);
    if (ulen <= 0)
        return gbk;
    std::string utf8(static_cast<size_t>(ulen), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wlen, &utf8[0], ulen, nullptr, nullptr);
    return utf8;
}

std::string HexBytes(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

}  // namespace harness
