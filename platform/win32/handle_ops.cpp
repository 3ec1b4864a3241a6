// Attribute changes and deletion through open handles (FileBasicInfo, FileDispositionInfo[Ex]).
#include "platform/win32/handle_ops.h"

#include <atomic>

#include "platform/win32/handle_owner.h"

namespace {

// FileDispositionInfoEx (Windows 10 1709 on), which the headers declare only for newer targets.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

}  // namespace

namespace platform::win32 {

DWORD clearReadOnly(HANDLE item) {
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic)) {
        return GetLastError();
    }
    if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return ERROR_SUCCESS;
    // Reopened rather than opened with FILE_WRITE_ATTRIBUTES at once: that access needs
    // write permission on the file under Wine, so an item whose attribute cannot change
    // could not even be opened and checked. Zero times leave the times as they are.
    const HandleOwner writer(ReOpenFile(item, FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!writer.valid()) return GetLastError();
    FILE_BASIC_INFO writable = {};
    writable.FileAttributes = basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    // Zero attributes would mean "leave them"; FILE_ATTRIBUTE_NORMAL means "none".
    if (writable.FileAttributes == 0) writable.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(writer.get(), FileBasicInfo, &writable, sizeof writable)) {
        return GetLastError();
    }
    // Wine reports success on an item whose mode cannot change (an immutable file): the
    // attribute is read again, and one that stays is a refusal.
    if (!GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic)) {
        return GetLastError();
    }
    return (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0 ? ERROR_SUCCESS
                                                                 : ERROR_ACCESS_DENIED;
}

DWORD deleteThroughHandle(HANDLE item) {
    // The extended form removes the name at once even while others hold the item open
    // (POSIX semantics), so that its folder can go next; systems without it (before
    // Windows 10 1709, and Wine) refuse the class, and from then on the classic form is
    // used.
    static std::atomic<bool> classicOnly{false};
    if (!classicOnly.load(std::memory_order_relaxed)) {
        FILE_DISPOSITION_INFO_EX extended = {};
        extended.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS;
        if (SetFileInformationByHandle(item, kFileDispositionInfoEx, &extended, sizeof extended)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION) {
            return error;
        }
        classicOnly.store(true, std::memory_order_relaxed);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

}  // namespace platform::win32
