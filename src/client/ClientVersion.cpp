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

namespace {

constexpr size_t kMaxLineLength = 255;

enum class LineRead { kLine, kTooLong, kEnd };

// Reads one line, without its line break, into line (kMaxLineLength + 1 bytes) and its length.
// The length is counted while reading, never taken with strlen: a NUL byte inside a line would
// otherwise make a long line look short, and its tail would pass for a line of its own.
LineRead ReadLine(FILE* stream, char* line, size_t* length) {
    int c = fgetc(stream);
    if (c == EOF) return LineRead::kEnd;
    size_t n = 0;
    bool tooLong = false;
    for (; c != EOF && c != '\n'; c = fgetc(stream)) {
        if (n < kMaxLineLength) {
            line[n++] = static_cast<char>(c);
        } else {
            tooLong = true;  // read on to the line end, keeping nothing
        }
    }
    line[n] = '\0';
    *length = n;
    return tooLong ? LineRead::kTooLong : LineRead::kLine;
}

}  // namespace

bool ReadVersionFromStream(FILE* stream, uint32_t* version) {
    char line[kMaxLineLength + 1];
    size_t length = 0;
    for (;;) {
        LineRead read = ReadLine(stream, line, &length);
        if (read == LineRead::kEnd) return false;
        if (read == LineRead::kTooLong) continue;  // skipped whole
        const char* equals = static_cast<const char*>(memchr(line, '=', length));
        if (!equals) continue;
        // Exactly "ver": a NUL byte in the key does not make "ver\0x" a match.
        if (equals - line != 3 || memcmp(line, "ver", 3) != 0) continue;
        *version = ParseVersion(equals + 1);
        return true;
    }
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
