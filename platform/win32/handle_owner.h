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

// Ends one successful CoInitializeEx (S_OK or S_FALSE both need a CoUninitialize).
inline void uninitializeCom(HRESULT) { CoUninitialize(); }
// True when CoInitializeEx succeeded.
inline bool comInitialized(HRESULT result) { return SUCCEEDED(result); }
// Releases one reference to a COM object.
template <typename Interface>
void releaseCom(Interface* object) {
    object->Release();
}

// A kernel object handle (process, file, event, snapshot...), closed with CloseHandle.
using HandleOwner = UniqueHandle<HANDLE, CloseHandle, nullptr, heldHandle>;
// A FindFirstFileExW listing, closed with FindClose.
using FindOwner = UniqueHandle<HANDLE, FindClose, nullptr, heldHandle>;
// The calling thread's COM initialisation: the HRESULT CoInitializeEx gave, or
// CO_E_NOTINITIALIZED for none.
using ComInitOwner = UniqueHandle<HRESULT, uninitializeCom, CO_E_NOTINITIALIZED, comInitialized>;
// One COM interface pointer, released when the owner goes.
template <typename Interface>
using ComOwner = UniqueHandle<Interface*, releaseCom<Interface>>;
// A string the shell allocated, freed with CoTaskMemFree.
using CoTaskString = UniqueHandle<PWSTR, CoTaskMemFree>;

}  // namespace platform::win32
