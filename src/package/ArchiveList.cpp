#include "package/ArchiveList.h"

#include <cstring>
#include <unordered_map>

#include "base/PathText.h"
#include "base/StdioFile.h"

namespace {

// The blanks of the C locale's isspace. None of them can be a GBK trail byte (0x40 and up), so a
// plain byte scan is safe here.
bool IsListBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsRefusedInFileName(unsigned char c) {
    return c < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr;
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Windows opens a device for these whatever extension follows ("nul.pkg" is the null device).
bool IsReservedDeviceName(const char* name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    size_t base = 0;
    while (name[base] != '\0' && name[base] != '.') ++base;
    char upper[8];
    if (base >= sizeof upper) return false;
    for (size_t i = 0; i < base; ++i) upper[i] = UpperAscii(name[i]);
    upper[base] = '\0';
    for (const char* device : kDevices) {
        if (std::strcmp(upper, device) == 0) return true;
    }
    return base == 4 && (std::strncmp(upper, "COM", 3) == 0 || std::strncmp(upper, "LPT", 3) == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::string FirstListToken(const char* line) {
    const char* start = line;
    while (*start != '\0' && IsListBlank(*start)) ++start;
    const char* end = start;
    while (*end != '\0' && !IsListBlank(*end)) ++end;
    return std::string(start, static_cast<size_t>(end - start));
}

void ReadArchiveList(FILE* file, std::vector<std::string>& names) {
    names.clear();
    std::vector<std::string> tokens;
    char piece[kListLineBufferSize];
    while (std::fgets(piece, sizeof piece, file) != nullptr) {
        std::string token = FirstListToken(piece);
        if (!token.empty()) tokens.push_back(std::move(token));
    }

    // Each name stays only at its last occurrence, found in one pass instead of a search per line.
    std::unordered_map<std::string, size_t> lastIndex;
    for (size_t i = 0; i < tokens.size(); ++i) lastIndex[tokens[i]] = i;
    names.reserve(lastIndex.size());
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (lastIndex[tokens[i]] == i) names.push_back(std::move(tokens[i]));
    }
}

bool ReadArchiveListFile(const char* path, std::vector<std::string>& names) {
    names.clear();
    StdioFile file;
    if (!file.Open(path, "r")) return false;
    ReadArchiveList(file.Get(), names);
    return true;
}

bool IsUsableArchiveName(const char* name) {
    if (name[0] == '\0') return false;
    bool onlyDots = true;
    for (size_t i = 0; name[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (IsGbkLeadByte(c)) {
            // The trail byte may be '\\' or '|' and belongs to the character; a lead byte without
            // one (a line cut between the two bytes) is no file name.
            if (name[i + 1] == '\0') return false;
            ++i;
            onlyDots = false;
            continue;
        }
        if (IsRefusedInFileName(c)) return false;
        if (c != '.') onlyDots = false;
    }
    return !onlyDots && !IsReservedDeviceName(name);
}

bool ArchivePathFor(const std::string& name, std::string& path) {
    path.clear();
    // The name must also be one C string: a NUL cannot come from fgets, but the list is a vector.
    if (name.find('\0') != std::string::npos || !IsUsableArchiveName(name.c_str()) ||
        sizeof kArchiveFolderPrefix - 1 + name.size() > kPathBufferSize - 1)
        return false;
    path = kArchiveFolderPrefix;
    path += name;
    return true;
}

std::string NewArchiveName(uint32_t toVersion) {
    char name[16];
    std::snprintf(name, sizeof name, "D%08X.pkg", static_cast<unsigned>(toVersion));
    return name;
}

ArchivePick ChooseArchive(std::vector<std::string>& names, uint32_t toVersion, uint32_t packageLength,
                  const ArchiveFileQueries& files, std::string& archivePath) {
    std::string candidate;
    if (!names.empty() && ArchivePathFor(names.back(), candidate)) {
        const bool tooLarge = files.exists(candidate.c_str()) &&
                              static_cast<uint32_t>(files.length(candidate.c_str()) + packageLength) > kArchiveSizeLimit;
        if (!tooLarge) {
            archivePath = candidate;
            return ArchivePick::Listed;
        }
    }

    const std::string name = NewArchiveName(toVersion);
    for (auto it = names.begin(); it != names.end(); ++it) {
        if (*it == name) {
            names.erase(it);
            break;
        }
    }
    names.push_back(name);
    archivePath = kArchiveFolderPrefix + name;
    return ArchivePick::New;
}

std::string ArchiveListText(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += name + "\r\n";
    return text;
}
