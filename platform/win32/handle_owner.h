#pragma once
// Owner of one kernel handle (CloseHandle). Internal to the Win32 platform code.

#include <windows.h>

namespace platform::win32 {

// Owns a kernel object handle and closes it when it goes out of scope. Both null and
// INVALID_HANDLE_VALUE count as no handle, since Win32 calls use either for failure.
class HandleOwner {
public:
    HandleOwner() = default;
    explicit HandleOwner(HANDLE handle) : _handle(handle) {}
    ~HandleOwner() { reset(); }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

    // True when a handle is held.
    bool valid() const { return _handle != nullptr && _handle != INVALID_HANDLE_VALUE; }
    // The held handle, still owned.
    HANDLE get() const { return _handle; }
    // Closes the held handle, if any, and takes the new one.
    void reset(HANDLE handle = nullptr) {
        if (valid()) CloseHandle(_handle);
        _handle = handle;
    }

private:
    HANDLE _handle = nullptr;
};

}  // namespace platform::win32
