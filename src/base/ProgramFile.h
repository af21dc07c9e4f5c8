// The installer's own program file.
#pragma once

#include <cstddef>

// Full path of the running program (ANSI, GBK). False when it cannot be had or does not fit.
bool GetProgramFilePath(char* path, size_t size);
