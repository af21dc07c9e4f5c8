#include "app/CommandLine.h"

#include <cstring>

const char* SkipProgramName(const char* fullCommandLine) {
    // '"' and ' ' are never GBK trail bytes (those start at 0x40): a byte scan is safe here.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(fullCommandLine);
    if (*p == '"') {
        // Windows takes the program name up to the next quote, without escapes.
        ++p;
        while (*p != '\0' && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p > ' ') ++p;
    }
    while (*p != '\0' && *p <= ' ') ++p;
    return reinterpret_cast<const char*>(p);
}

bool IsSilentCommandLine(const char* commandLine) {
    return strstr(commandLine, "/S") != nullptr;
}

// Length of the value starting at `start`: up to the next '/' (which cannot be a GBK trail byte)
// or the end, without trailing spaces. Tabs stay.
static size_t ValueLength(const char* start) {
    const char* slash = strchr(start, '/');
    size_t length = slash ? static_cast<size_t>(slash - start) : strlen(start);
    while (length > 0 && start[length - 1] == ' ') --length;
    return length;
}

ArgValue ParseClientFolder(const char* commandLine, char (&folder)[kPathBufferSize], size_t* valueLength) {
    folder[0] = '\0';
    const char* key = strstr(commandLine, "/D=");
    if (!key) return ArgValue::Absent;
    const char* start = key + 3;
    size_t length = ValueLength(start);
    if (valueLength) *valueLength = length;
    if (length >= kPathBufferSize) return ArgValue::TooLong;
    memcpy(folder, start, length);
    folder[length] = '\0';
    if (length == 0 || !EndsWithChar(folder, '\\')) {
        if (!AppendBounded(folder, kPathBufferSize, "\\")) {
            folder[0] = '\0';
            return ArgValue::TooLong;
        }
    }
    return ArgValue::Found;
}

ArgValue ParseMonitorTitle(const char* commandLine, char (&title)[kPathBufferSize], bool* hadUser,
                           size_t* valueLength) {
    memset(title, 0, sizeof(title));
    const char* key = strstr(commandLine, "/user ");
    *hadUser = key != nullptr;
    const char* start = key ? key + 6 : commandLine;
    size_t length = ValueLength(start);
    if (valueLength) *valueLength = length;
    if (length >= kPathBufferSize) return ArgValue::TooLong;
    memcpy(title, start, length);
    title[length] = '\0';
    return ArgValue::Found;
}
