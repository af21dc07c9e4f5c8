#include "base/PathText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int FindLastChar(const char* text, char ch) {
    int found = -1;
    for (int i = 0; text[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(c) && text[i + 1] != '\0') {
            ++i;  // the trail byte is part of the character, never a separator
            continue;
        }
        if (text[i] == ch) found = i;
    }
    return found;
}

int FindFirstSeparator(const char* text) {
    for (int i = 0; text[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(c) && text[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (text[i] == '\\' || text[i] == '/') return i;
    }
    return -1;
}

bool EndsWithChar(const char* text, char ch) {
    int last = -1;
    for (int i = 0; text[i] != '\0'; ++i) {
        last = i;
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsGbkLeadByte(c) && text[i + 1] != '\0') {
            ++i;
            last = -1;  // a double-byte character ends the text so far
        }
    }
    return last >= 0 && text[last] == ch;
}

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (;;) {
        unsigned char x = static_cast<unsigned char>(*a);
        unsigned char y = static_cast<unsigned char>(*b);
        if (IsGbkLeadByte(x)) {
            if (x != y || a[1] != b[1]) return false;
            if (a[1] == '\0') return true;
            a += 2;
            b += 2;
            continue;
        }
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
        if (x == '\0') return true;
        ++a;
        ++b;
    }
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

size_t TrimBlanks(char* text) {
    size_t start = 0;
    while (text[start] != '\0' && IsBlank(text[start])) ++start;
    size_t end = start + strlen(text + start);
    while (end > start && IsBlank(text[end - 1])) --end;
    size_t length = end - start;
    memmove(text, text + start, length);
    text[length] = '\0';
    return length;
}

bool CopyBounded(char* dest, size_t destSize, const char* src) {
    if (destSize == 0) return false;
    size_t length = strlen(src);
    if (length >= destSize) {
        dest[0] = '\0';
        return false;
    }
    memcpy(dest, src, length + 1);
    return true;
}

bool AppendBounded(char* dest, size_t destSize, const char* src) {
    size_t have = strlen(dest);
    size_t add = strlen(src);
    if (have + add >= destSize) return false;
    memcpy(dest + have, src, add + 1);
    return true;
}

bool FormatBounded(char* dest, size_t destSize, const char* format, ...) {
    if (destSize == 0) return false;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dest, destSize, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= destSize) {
        dest[0] = '\0';
        return false;
    }
    return true;
}

size_t GbkSafePrefixLength(const char* text, size_t maxBytes) {
    size_t i = 0;
    while (text[i] != '\0') {
        size_t step = (IsGbkLeadByte(static_cast<unsigned char>(text[i])) && text[i + 1] != '\0') ? 2 : 1;
        if (i + step > maxBytes) break;
        i += step;
    }
    return i;
}

bool FirstPathComponent(char* out, size_t outSize, const char* path) {
    if (outSize == 0) return false;
    int sep = FindFirstSeparator(path);
    size_t length = sep < 0 ? 0 : static_cast<size_t>(sep);
    if (length >= outSize) {
        out[0] = '\0';
        return false;
    }
    memcpy(out, path, length);
    out[length] = '\0';
    return true;
}

bool IsDosDeviceName(const char* component, size_t length) {
    // Windows drops trailing dots and blanks, and a device keeps its meaning behind any
    // extension ("nul.txt", "CON .log"): only the part before the first dot counts, blanks cut.
    // Dots and blanks are never GBK trail bytes (those start at 0x40), so a byte scan will do.
    size_t base = 0;
    while (base < length && component[base] != '.') ++base;
    while (base > 0 && component[base - 1] == ' ') --base;
    if (base != 3 && base != 4) return false;
    char name[5] = {};
    for (size_t i = 0; i < base; ++i) {
        char c = component[i];
        name[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    if (base == 3) {
        return strcmp(name, "CON") == 0 || strcmp(name, "NUL") == 0 || strcmp(name, "AUX") == 0 ||
               strcmp(name, "PRN") == 0;
    }
    return (strncmp(name, "COM", 3) == 0 || strncmp(name, "LPT", 3) == 0) && name[3] >= '1' && name[3] <= '9';
}

bool IsContainedRelativePath(const char* path) {
    if (path[0] == '\0' || path[0] == '\\' || path[0] == '/') return false;
    size_t componentStart = 0;
    for (size_t i = 0;; ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (c != '\0' && IsGbkLeadByte(c) && path[i + 1] != '\0') {
            ++i;
            continue;
        }
        if (c == ':') return false;  // drive letter or alternate data stream
        if (c == '\\' || c == '/' || c == '\0') {
            size_t length = i - componentStart;
            const char* component = path + componentStart;
            // Windows ignores trailing dots and blanks, so ". ." or ".. " name the parent too.
            size_t meaningful = length;
            while (meaningful > 0 && (component[meaningful - 1] == '.' || component[meaningful - 1] == ' ')) --meaningful;
            if (length > 0 && meaningful == 0) return false;
            // "CON", "nul.txt", "LPT1\\x": a device, never a file of the folder.
            if (IsDosDeviceName(component, length)) return false;
            if (c == '\0') return true;
            componentStart = i + 1;
        }
    }
}

std::string FoldedPath(const std::string& path) {
    std::string key = path;
    for (size_t i = 0; i < key.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (IsGbkLeadByte(c) && i + 1 < key.size()) {
            ++i;
        } else if (c >= 'A' && c <= 'Z') {
            key[i] = static_cast<char>(c - 'A' + 'a');
        } else if (c == '/') {
            key[i] = '\\';
        }
    }
    return key;
}

std::vector<std::string> ParentFolders(const std::string& path) {
    std::vector<std::string> folders;
    bool afterSeparator = true;  // at the start, or right after a separator
    for (size_t i = 0; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (IsGbkLeadByte(c) && i + 1 < path.size()) {
            ++i;
            afterSeparator = false;
            continue;
        }
        const bool separator = c == '\\' || c == '/';
        if (separator && !afterSeparator) folders.push_back(path.substr(0, i));
        afterSeparator = separator;
    }
    return folders;
}
