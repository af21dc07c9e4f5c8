#include "report/StatusLine.h"

void StatusLine::Set(const char* text) {
    CriticalSectionLock lock(lock_);
    text_ = text;
}

std::string StatusLine::Get() const {
    CriticalSectionLock lock(lock_);
    return text_;
}
