#include "HostFiles.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "GbkNames.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TempFileGuard::~TempFileGuard() {
    if (!path_.empty()) remove(path_.c_str());
}

void TempFileGuard::Reset(std::string path) {
    if (!path_.empty()) remove(path_.c_str());
    path_ = std::move(path);
}

bool ByteBuffer::Allocate(size_t size) {
    // One spare byte so a zero-length buffer still has a valid address to hand to zlib.
    data_.reset(new (std::nothrow) uint8_t[size + 1]);
    size_ = data_ ? size : 0;
    return data_ != nullptr;
}

std::string JoinHostPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
#ifdef _WIN32
    if (GbkEndsWithSeparator(folder)) return folder + name;
#else
    if (folder.back() == '/') return folder + name;
#endif
    return folder + kHostSeparator + name;
}

std::string LastErrorText() {
    return strerror(errno);
}

bool RemoveFile(const std::string& path) {
    return remove(path.c_str()) == 0;
}

std::string SiblingTempName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    char suffix[64];
    snprintf(suffix, sizeof(suffix), ".velpack-%lu-%u.tmp", pid, counter++);
    return path + suffix;
}

bool ReadWholeFile(const std::string& path, uint64_t maxSize, ByteBuffer* data, std::string* error) {
    uint64_t size = 0;
    if (!FileSizeOf(path, &size) || !IsRegularFile(path)) {
        *error = "cannot read \"" + path + "\": not a readable file";
        return false;
    }
    if (size > maxSize) {
        *error = "\"" + path + "\" is too large (" + std::to_string(size) + " bytes, at most " +
                 std::to_string(maxSize) + ")";
        return false;
    }
    StdioFile file;
    if (!file.Open(path, "rb")) {
        *error = "cannot open \"" + path + "\": " + LastErrorText();
        return false;
    }
    if (!data->Allocate(static_cast<size_t>(size))) {
        *error = "out of memory reading \"" + path + "\"";
        return false;
    }
    if (size > 0 && fread(data->Data(), 1, static_cast<size_t>(size), file.Get()) != size) {
        *error = "cannot read \"" + path + "\" in full";
        return false;
    }
    return true;
}

#ifdef _WIN32

namespace {

class ScopedFind {
public:
    explicit ScopedFind(HANDLE handle) : handle_(handle) {}
    ~ScopedFind() { if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_); }
    ScopedFind(const ScopedFind&) = delete;
    ScopedFind& operator=(const ScopedFind&) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

bool ListInto(const std::string& folder, RelativeFileName& prefix, std::vector<TreeItem>* items,
              std::string* error) {
    WIN32_FIND_DATAA found;
    ScopedFind find(FindFirstFileA(JoinHostPath(folder, "*").c_str(), &found));
    if (find.Get() == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;
        *error = "cannot list folder \"" + folder + "\" (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = JoinHostPath(folder, name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                *error = "\"" + path + "\" is a link to a folder; copy its files instead";
                return false;
            }
            prefix.push_back(name);
            TreeItem item;
            item.parts = prefix;
            item.isFolder = true;
            item.readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
            items->push_back(std::move(item));
            const bool ok = ListInto(path, prefix, items, error);
            prefix.pop_back();
            if (!ok) return false;
        } else {
            TreeItem item;
            item.parts = prefix;
            item.parts.push_back(name);
            item.readOnly = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
            item.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            items->push_back(std::move(item));
        }
    } while (FindNextFileA(find.Get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        *error = "cannot list folder \"" + folder + "\" (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    return true;
}

}  // namespace

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSizeOf(const std::string& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool MakeDirectory(const std::string& path) {
    return CreateDirectoryA(path.c_str(), nullptr) || IsDirectory(path);
}

bool RemoveEmptyFolder(const std::string& path) {
    return RemoveDirectoryA(path.c_str()) != 0;
}

bool TruncateOpenFile(FILE* file, uint64_t length) {
    return _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0;
}

bool ClearReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return !(attributes & FILE_ATTRIBUTE_READONLY) ||
           SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) != 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool MakeTempFile(std::string* path) {
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder)) return false;
    char name[MAX_PATH + 1];
    if (!GetTempFileNameA(folder, "vpk", 0, name)) return false;
    *path = name;
    return true;
}

bool HostNamesAreGbk() {
    return GetACP() == 936;
}

#else

namespace {

class ScopedDir {
public:
    explicit ScopedDir(DIR* dir) : dir_(dir) {}
    ~ScopedDir() { if (dir_) closedir(dir_); }
    ScopedDir(const ScopedDir&) = delete;
    ScopedDir& operator=(const ScopedDir&) = delete;
    DIR* Get() const { return dir_; }

private:
    DIR* dir_;
};

bool ListInto(const std::string& folder, RelativeFileName& prefix, std::vector<TreeItem>* items,
              std::string* error) {
    ScopedDir dir(opendir(folder.c_str()));
    if (!dir.Get()) {
        *error = "cannot list folder \"" + folder + "\": " + LastErrorText();
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir.Get());
        if (!item) {
            if (errno != 0) {
                *error = "cannot list folder \"" + folder + "\": " + LastErrorText();
                return false;
            }
            return true;
        }
        const std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        const std::string path = JoinHostPath(folder, name);
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            *error = "cannot examine \"" + path + "\": " + LastErrorText();
            return false;
        }
        if (S_ISLNK(info.st_mode)) {
            if (stat(path.c_str(), &info) != 0) {
                *error = "\"" + path + "\" is a broken symbolic link";
                return false;
            }
            if (S_ISDIR(info.st_mode)) {
                *error = "\"" + path + "\" is a symbolic link to a folder; copy its files instead";
                return false;
            }
        }
        if (S_ISDIR(info.st_mode)) {
            prefix.push_back(name);
            TreeItem item;
            item.parts = prefix;
            item.isFolder = true;
            item.readOnly = (info.st_mode & S_IWUSR) == 0;
            items->push_back(std::move(item));
            const bool ok = ListInto(path, prefix, items, error);
            prefix.pop_back();
            if (!ok) return false;
        } else if (S_ISREG(info.st_mode)) {
            TreeItem item;
            item.parts = prefix;
            item.parts.push_back(name);
            item.readOnly = (info.st_mode & S_IWUSR) == 0;
            item.size = static_cast<uint64_t>(info.st_size);
            items->push_back(std::move(item));
        } else {
            *error = "\"" + path + "\" is not a regular file";
            return false;
        }
    }
}

}  // namespace

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool FileSizeOf(const std::string& path, uint64_t* size) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return false;
    *size = static_cast<uint64_t>(info.st_size);
    return true;
}

bool MakeDirectory(const std::string& path) {
    return mkdir(path.c_str(), 0777) == 0 || IsDirectory(path);
}

bool RemoveEmptyFolder(const std::string& path) {
    return rmdir(path.c_str()) == 0;
}

bool TruncateOpenFile(FILE* file, uint64_t length) {
    return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool ClearReadOnly(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool RenameReplacing(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool MakeTempFile(std::string* path) {
    const char* folder = getenv("TMPDIR");
    std::string pattern = JoinHostPath(folder && *folder ? folder : "/tmp", "velpack-XXXXXX");
    const int fd = mkstemp(&pattern[0]);
    if (fd < 0) return false;
    close(fd);
    *path = pattern;
    return true;
}

bool HostNamesAreGbk() {
    return false;
}

#endif

bool ListTreeUnder(const std::string& folder, std::vector<TreeItem>* items, std::string* error) {
    items->clear();
    if (!IsDirectory(folder)) {
        *error = "\"" + folder + "\" is not a folder";
        return false;
    }
    RelativeFileName prefix;
    return ListInto(folder, prefix, items, error);
}

bool ListFilesUnder(const std::string& folder, std::vector<RelativeFileName>* files, std::string* error) {
    files->clear();
    std::vector<TreeItem> items;
    if (!ListTreeUnder(folder, &items, error)) return false;
    for (TreeItem& item : items) {
        if (!item.isFolder) files->push_back(std::move(item.parts));
    }
    return true;
}
