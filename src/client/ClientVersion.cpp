#include "client/ClientVersion.h"

#include <cstdlib>
#include <cstring>


uint32_t ParseVersion(const char* text) {
    char buffer[64];
    size_t length = strlen(text);
    if (length > 63) length = 63;
    memcpy(buffer, text, length);
    buffer[length] = '\0';

    uint32_t parts[4] = {0, 0, 0, 0};
    char* cursor = buffer;
    for (int i = 0; i < 4 && cursor; ++i) {
        char* dot = strchr(cursor, '.');
        if (dot) *dot = '\0';
        parts[i] = static_cast<uint32_t>(atoi(cursor));
        cursor = dot ? dot + 1 : nullptr;
    }
    return (((parts[0] << 8 | parts[1]) << 8 | parts[2]) << 8) | parts[3];
}

bool ReadVersionFromStream(FILE* stream, uint32_t* version) {
    char line[256];
    while (fgets(line, sizeof(line), stream)) {
        size_t length = strlen(line);
        if (length > 0 && line[length - 1] == '\n') {
            line[--length] = '\0';
        } else if (length == sizeof(line) - 1) {
            // The buffer is full: the line fits only when its break (or the end) comes next.
            int next = fgetc(stream);
            if (next != '\n' && next != EOF) {
                while (next != '\n' && next != EOF) next = fgetc(stream);
                continue;  // over 255 characters: skipped whole
            }
        }
        char* equals = strchr(line, '=');
        if (!equals) continue;
        *equals = '\0';
        if (strcmp(line, "ver") != 0) continue;
        *version = ParseVersion(equals + 1);
        return true;
    }
    return false;
}

std::string FormatVersionMessage(uint32_t clientVersion, uint32_t fromVersion, uint32_t toVersion) {
    char text[256];
    auto b = [](uint32_t v, int shift) { return static_cast<int>((v >> shift) & 0xFF); };
    if (fromVersion != 0) {
        snprintf(text, sizeof(text),
                 "当前客户端版本: %d.%d.%d.%d  \n更新包支持: 从版本 %d.%d.%d.%d 更新到版本 %d.%d.%d.%d",
                 b(clientVersion, 24), b(clientVersion, 16), b(clientVersion, 8), b(clientVersion, 0),
                 b(fromVersion, 24), b(fromVersion, 16), b(fromVersion, 8), b(fromVersion, 0),
                 b(toVersion, 24), b(toVersion, 16), b(toVersion, 8), b(toVersion, 0));
    } else {
        snprintf(text, sizeof(text), "当前客户端版本: %d.%d.%d.%d  更新包支持更新到版本 %d.%d.%d.%d",
                 b(clientVersion, 24), b(clientVersion, 16), b(clientVersion, 8), b(clientVersion, 0),
                 b(toVersion, 24), b(toVersion, 16), b(toVersion, 8), b(toVersion, 0));
    }
    return text;
}

Result CheckVersionRange(uint32_t clientVersion, uint32_t fromVersion, uint32_t toVersion) {
    if (clientVersion < fromVersion) return Result::ClientTooOld;
    if (clientVersion > toVersion) return Result::ClientUpToDate;
    return Result::Ok;
}
