#include "support/Files.h"

#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace velsupport {
namespace {

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

template <typename Buffer>
bool ReadInto(const std::string& path, Buffer* out)
{
    out->clear();
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return false;
    char block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof(block), f.get())) > 0)
        out->insert(out->end(), block, block + got);
    if (std::ferror(f.get())) {
        out->clear();
        return false;
    }
    return true;
}

bool WriteAll(const std::string& path, const void* data, size_t size)
{
    const std::string folder = FolderOf(path);
    if (!folder.empty() && !MakeFolders(folder))
        return false;
    File f(std::fopen(path.c_str(), "wb"));
    if (!f)
        return false;
    if (size != 0 && std::fwrite(data, 1, size, f.get()) != size)
        return false;
    return std::fclose(f.release()) == 0;
}

}  // namespace

bool ReadFileText(const std::string& path, std::string* text) { return ReadInto(path, text); }
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes) { return ReadInto(path, bytes); }

bool WriteFileText(const std::string& path, const std::string& text)
{
    return WriteAll(path, text.data(), text.size());
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return WriteAll(path, bytes.data(), bytes.size());
}

#ifdef _WIN32

bool FileExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolders(const std::string& path)
{
    if (path.empty() || FolderExists(path))
        return !path.empty();
    const std::string parent = FolderOf(path);
    // A drive ("C:") or a root is never made here.
    if (!parent.empty() && parent.back() != ':' && !MakeFolders(parent))
        return false;
    return CreateDirectoryA(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    const std::string folder = FolderOf(to);
    return (folder.empty() || MakeFolders(folder)) && CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

std::string JoinPath(const std::string& folder, const std::string& name) { return folder + "\\" + name; }

std::string FolderOf(const std::string& path)
{
    // A forward scan that steps over double-byte characters (kernel32 only: no user32, whose
    // loading costs every test program under Wine a good part of a second).
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsDBCSLeadByte(c) && i + 1 < path.size())
            ++i;
        else if (c == '\\' || c == '/')
            last = i;
    }
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

std::string ProgramFolder()
{
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    if (n == 0 || n >= sizeof(buffer))
        return {};
    return FolderOf(buffer);
}

#else

bool FileExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& path)
{
    if (path.empty() || FolderExists(path))
        return !path.empty();
    const std::string parent = FolderOf(path);
    if (!parent.empty() && !MakeFolders(parent))
        return false;
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

bool CopyOneFile(const std::string& from, const std::string& to)
{
    std::string bytes;
    return ReadFileText(from, &bytes) && WriteFileText(to, bytes);
}

std::string JoinPath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string ProgramFolder()
{
    char buffer[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return {};
    return FolderOf(std::string(buffer, static_cast<size_t>(n)));
}

#endif

}  // namespace velsupport
