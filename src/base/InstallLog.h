// The install log: "install.log" beside the program, one "[%H:%M:%S] message" line per call.
#pragma once

#include <cstddef>

#include "base/PathText.h"

class InstallLog {
public:
    // Opens `name` in the folder of the program file, emptying it ("w+"); others may read it
    // while it is open but not write it. False when the path does not fit or the open fails.
    static bool Open(const char* name);
    // Opens a log at a full path (what Open does once the path is known).
    static bool OpenPath(const char* path);
    // Closes the file; later writes are no-ops until the next open.
    static void Close();
    static bool IsOpen();

    // One line from a printf format. A no-op while no file is open (always in dialog mode, where
    // the worker thread also calls it). Text that does not fit the 260-byte buffers is cut at a
    // character boundary, never written past.
    static void Write(const char* format, ...) __attribute__((format(printf, 1, 2)));
    // One line holding `text` verbatim: status texts may name folders containing '%'.
    static void WriteText(const char* text);

    // Formats the local time as "[%H:%M:%S]" into the shared static buffer and returns it.
    static const char* Timestamp();

    // Builds "<folder of programPath>\<name>" (the folder cut at its last backslash, found with a
    // GBK-aware scan; the whole path when it has none). False when it does not fit 258 characters.
    static bool BuildPathBeside(const char* programPath, const char* name, char (&path)[kPathBufferSize]);
};
