// NtCreateFile relative to an open folder handle.
#include "platform/win32/relative_open.h"

#include <winternl.h>

namespace platform::win32 {

HandleOwner openRelative(HANDLE parent, const std::wstring& name, const RelativeOpen& how,
                         DWORD& error) {
    // One component only: a separator would let the name walk past this folder's entry,
    // and "." or ".." would name the folder itself or its parent.
    const bool singleComponent = !name.empty() && name != L"." && name != L".." &&
                                 name.find_first_of(L"\\/") == std::wstring::npos &&
                                 name.size() * sizeof(wchar_t) < 0xFFFF;
    if (parent == nullptr || parent == INVALID_HANDLE_VALUE || !singleComponent) {
        error = ERROR_INVALID_NAME;
        return HandleOwner();
    }
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<wchar_t*>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK status = {};
    HANDLE handle = nullptr;
    constexpr ULONG kSynchronousIo = 0x20;  // FILE_SYNCHRONOUS_IO_NONALERT
    const NTSTATUS result =
        NtCreateFile(&handle, how.access | SYNCHRONIZE, &attributes, &status, nullptr,
                     FILE_ATTRIBUTE_NORMAL, how.share, how.disposition,
                     how.options | FILE_OPEN_REPARSE_POINT | kSynchronousIo, nullptr, 0);
    if (result < 0) {
        error = errorOfStatus(result);
        return HandleOwner();
    }
    error = ERROR_SUCCESS;
    return HandleOwner(handle);
}

DWORD errorOfStatus(LONG status) {
    constexpr LONG kStatusDeletePending = static_cast<LONG>(0xC0000056);
    return status == kStatusDeletePending ? ERROR_DELETE_PENDING : RtlNtStatusToDosError(status);
}

}  // namespace platform::win32
