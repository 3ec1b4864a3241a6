#pragma once
// The Win32 kinds of handle and their owners, all typedefs of the one owner template.
// Internal to the Win32 platform code.

#include <windows.h>
// After windows.h, which it depends on (the comment keeps clang-format from sorting it).
#include <objbase.h>

#include "platform/unique_handle.h"

namespace platform::win32 {

// Both null and INVALID_HANDLE_VALUE count as no handle, since Win32 calls use either
// for failure.
inline bool heldHandle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// A kernel object handle (process, file, event, snapshot...), closed with CloseHandle.
using HandleOwner = UniqueHandle<HANDLE, CloseHandle, nullptr, heldHandle>;
// A string the shell allocated, freed with CoTaskMemFree.
using CoTaskString = UniqueHandle<PWSTR, CoTaskMemFree>;

}  // namespace platform::win32
