#include "support/Handles.h"

namespace velsupport {

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) noexcept
{
    if (this != &other)
        Reset(other.Release());
    return *this;
}

void ScopedHandle::Reset(HANDLE handle)
{
    if (Valid())
        CloseHandle(handle_);
    handle_ = handle;
}

HANDLE ScopedHandle::Release()
{
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
}

ScopedFindHandle& ScopedFindHandle::operator=(ScopedFindHandle&& other) noexcept
{
    if (this != &other) {
        Reset(other.find_);
        other.find_ = INVALID_HANDLE_VALUE;
    }
    return *this;
}

void ScopedFindHandle::Reset(HANDLE find)
{
    if (Valid())
        FindClose(find_);
    find_ = find;
}

ScopedHandle MakeEvent(const std::string& name, bool manualReset)
{
    return ScopedHandle(CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, name.empty() ? nullptr : name.c_str()));
}

bool WaitSignalled(HANDLE handle, DWORD timeoutMs)
{
    return handle != nullptr && WaitForSingleObject(handle, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace velsupport
