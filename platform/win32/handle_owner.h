#pragma once
// Owners of Win32 handles that are closed by a function taking the handle: kernel objects
// (CloseHandle) and file listings (FindClose). Internal to the Win32 platform code.

#include <windows.h>

#include <utility>

namespace platform::win32 {

// Owns one handle and releases it with Close when it goes out of scope. Both null and
// INVALID_HANDLE_VALUE count as no handle, since Win32 calls use either for failure.
// Movable, so owners can be returned and kept in vectors.
template <BOOL(WINAPI* Close)(HANDLE)>
class BasicHandleOwner {
public:
    BasicHandleOwner() = default;
    explicit BasicHandleOwner(HANDLE handle) : _handle(handle) {}
    ~BasicHandleOwner() { reset(); }
    BasicHandleOwner(BasicHandleOwner&& other) noexcept
        : _handle(std::exchange(other._handle, nullptr)) {}
    BasicHandleOwner& operator=(BasicHandleOwner&& other) noexcept {
        if (this != &other) reset(std::exchange(other._handle, nullptr));
        return *this;
    }
    BasicHandleOwner(const BasicHandleOwner&) = delete;
    BasicHandleOwner& operator=(const BasicHandleOwner&) = delete;

    // True when a handle is held.
    bool valid() const { return _handle != nullptr && _handle != INVALID_HANDLE_VALUE; }
    // The held handle, still owned.
    HANDLE get() const { return _handle; }
    // Closes the held handle, if any, and takes the new one.
    void reset(HANDLE handle = nullptr) {
        if (valid()) Close(_handle);
        _handle = handle;
    }

private:
    HANDLE _handle = nullptr;
};

// A kernel object handle (process, file, event...), closed with CloseHandle.
using HandleOwner = BasicHandleOwner<CloseHandle>;
// A FindFirstFileExW listing, closed with FindClose.
using FindOwner = BasicHandleOwner<FindClose>;

}  // namespace platform::win32
