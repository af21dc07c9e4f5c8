// The one status line of a run, shared by the worker thread that replaces it and the dialog
// thread that shows it; both reporters keep theirs here.
#pragma once

#include <string>

#include "base/ScopedWin.h"

class StatusLine {
public:
    void Set(const char* text);
    std::string Get() const;

private:
    std::string text_;
    mutable CriticalSection lock_;
};
