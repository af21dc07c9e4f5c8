#include "base/InstallLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/PathText.h"

#ifdef _WIN32
#include <share.h>
#include <windows.h>
#endif

namespace {

// Owns the open stream; the global instance closes it at process exit.
struct LogFile {
    FILE* stream = nullptr;
    ~LogFile() {
        if (stream) fclose(stream);
    }
};

LogFile g_log;
char g_timestamp[kPathBufferSize];

void WriteLine(const char* message) {
    const char* stamp = InstallLog::Timestamp();
    char line[kPathBufferSize];
    // "%s %s\n" into 260 bytes: cut the message so that the line end always survives.
    size_t room = sizeof(line) - 1 - strlen(stamp) - 2;
    size_t keep = GbkSafePrefixLength(message, room);
    int n = snprintf(line, sizeof(line), "%s %.*s\n", stamp, static_cast<int>(keep), message);
    if (n <= 0) return;
    fwrite(line, 1, strlen(line), g_log.stream);
    fflush(g_log.stream);
}

}  // namespace

bool InstallLog::BuildPathBeside(const char* programPath, const char* name, char (&path)[kPathBufferSize]) {
    char folder[kPathBufferSize];
    if (!CopyBounded(folder, sizeof(folder), programPath)) return false;
    int cut = FindLastChar(folder, '\\');
    if (cut >= 0) folder[cut] = '\0';
    // The finished path must leave one byte spare beyond its terminator.
    if (!FormatBounded(path, sizeof(path), "%s\\%s", folder, name) || strlen(path) > 258) {
        path[0] = '\0';
        return false;
    }
    return true;
}

bool InstallLog::OpenPath(const char* path) {
    Close();
#ifdef _WIN32
    g_log.stream = _fsopen(path, "w+", _SH_DENYWR);
#else
    g_log.stream = fopen(path, "w+");
#endif
    return g_log.stream != nullptr;
}

void InstallLog::Close() {
    if (g_log.stream) {
        fclose(g_log.stream);
        g_log.stream = nullptr;
    }
}

bool InstallLog::IsOpen() { return g_log.stream != nullptr; }

void InstallLog::Write(const char* format, ...) {
    if (!g_log.stream) return;
    char message[kPathBufferSize];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(message, sizeof(message), format, args);
    va_end(args);
    if (n < 0) return;
    if (static_cast<size_t>(n) >= sizeof(message)) {
        // vsnprintf cut at a byte; do not leave half a GBK character at the end.
        message[GbkSafePrefixLength(message, sizeof(message) - 1)] = '\0';
    }
    WriteLine(message);
}

void InstallLog::WriteText(const char* text) {
    if (!g_log.stream) return;
    WriteLine(text);
}

const char* InstallLog::Timestamp() {
#ifdef _WIN32
    // Not the runtime's localtime: it reads the time zone from the registry for every line.
    SYSTEMTIME local;
    GetLocalTime(&local);
    snprintf(g_timestamp, sizeof(g_timestamp), "[%02u:%02u:%02u]", static_cast<unsigned>(local.wHour),
             static_cast<unsigned>(local.wMinute), static_cast<unsigned>(local.wSecond));
#else
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    strftime(g_timestamp, sizeof(g_timestamp), "[%H:%M:%S]", &local);
#endif
    return g_timestamp;
}
