// Values of the silent-mode command line: "/S", "/D=" client folder, "/user " monitor title.
#pragma once

#include <cstddef>

#include "base/PathText.h"

// The arguments of a whole command line (GetCommandLineA): what follows the program's own name
// and the blanks after it. The name ends at its closing quote when it starts with one, else at
// the first blank or control character. Bytes are compared unsigned, so the GBK characters of
// an unquoted program folder stay part of the name.
const char* SkipProgramName(const char* fullCommandLine);

// Silent mode is chosen by "/S" anywhere in the command line (case-sensitive).
bool IsSilentCommandLine(const char* commandLine);

enum class ArgValue {
    Absent,   // the switch is not on the command line
    Found,    // value parsed into the buffer
    TooLong,  // the value does not fit 259 characters; the buffer is left empty
};

// "/D=": the value runs to the next "/" or the end, trailing spaces dropped, and always ends
// with "\" (appended when missing, also to an empty value). A folder that does not fit is
// refused rather than cut: a cut path would name some other folder.
ArgValue ParseClientFolder(const char* commandLine, char (&folder)[kPathBufferSize], size_t* valueLength);

// "/user ": the value runs to the next "/" or the end, trailing spaces dropped. Without "/user "
// the title is the command line up to its first "/", trimmed the same way (so "/S ..." gives
// the empty title). `hadUser` tells which of the two rules applied. Over-long titles are refused.
ArgValue ParseMonitorTitle(const char* commandLine, char (&title)[kPathBufferSize], bool* hadUser,
                           size_t* valueLength);
