// Attribute changes and deletion through open handles (FileBasicInfo, FileDispositionInfo[Ex]).
#include "platform/win32/handle_ops.h"

#include <atomic>

namespace {

// FileDispositionInfoEx (Windows 10 1709 on), which the headers declare only for newer targets.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
// FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE (Windows 10 1809 on).
constexpr DWORD kIgnoreReadOnly = 0x10;

// Sets the attributes through `writer`, leaving the times as they are (zero).
bool writeAttributes(HANDLE writer, DWORD attributes) {
    FILE_BASIC_INFO basic = {};
    // Zero attributes would mean "leave them"; FILE_ATTRIBUTE_NORMAL means "none".
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(writer, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

}  // namespace

namespace platform::win32 {

bool isUnsupported(DWORD error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION;
}

bool readAttributes(HANDLE item, DWORD& attributes, DWORD& error) {
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic)) {
        error = GetLastError();
        return false;
    }
    attributes = basic.FileAttributes;
    return true;
}

DWORD clearReadOnly(HANDLE item, HandleOwner& writer) {
    DWORD attributes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!readAttributes(item, attributes, error)) return error;
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return ERROR_SUCCESS;
    // Reopened rather than opened with FILE_WRITE_ATTRIBUTES at once: an item whose
    // attribute may not change can still be opened, checked and deleted.
    writer.reset(ReOpenFile(item, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!writer.valid()) return GetLastError();
    if (!writeAttributes(writer.get(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        return GetLastError();
    }
    // Wine reports success on an item whose mode cannot change (an immutable file): the
    // attribute is read again, and one that stays is a refusal.
    if (!readAttributes(item, attributes, error)) return error;
    return (attributes & FILE_ATTRIBUTE_READONLY) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD deleteThroughHandle(HANDLE item) {
    // The extended form removes the name at once even while others hold the item open
    // (POSIX semantics), so that its folder can go next, and deletes a read-only file as
    // it is. Systems without the read-only flag (before Windows 10 1809) are asked
    // without it, systems without the class (before 1709, and Wine) with the classic
    // form; what a system refused once is not asked again.
    static std::atomic<int> flagsRefused{0};  // 0: none, 1: the read-only flag, 2: the class
    for (int refused = flagsRefused.load(std::memory_order_relaxed); refused < 2; ++refused) {
        FILE_DISPOSITION_INFO_EX extended = {};
        extended.Flags = FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                         (refused == 0 ? kIgnoreReadOnly : 0);
        if (SetFileInformationByHandle(item, kFileDispositionInfoEx, &extended, sizeof extended)) {
            return ERROR_SUCCESS;
        }
        const DWORD error = GetLastError();
        if (!isUnsupported(error)) return error;
        flagsRefused.store(refused + 1, std::memory_order_relaxed);
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

void restoreReadOnly(HANDLE item, HANDLE writer) {
    FILE_STANDARD_INFO standard;
    DWORD attributes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!GetFileInformationByHandleEx(item, FileStandardInfo, &standard, sizeof standard) ||
        standard.NumberOfLinks <= 1 || !readAttributes(item, attributes, error)) {
        return;
    }
    (void)writeAttributes(writer, attributes | FILE_ATTRIBUTE_READONLY);
}

DWORD deleteClearingReadOnly(HANDLE item, DWORD& attributeError) {
    attributeError = ERROR_SUCCESS;
    DWORD error = deleteThroughHandle(item);
    DWORD attributes = 0;
    if (error != ERROR_ACCESS_DENIED || !readAttributes(item, attributes, attributeError) ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        attributeError = ERROR_SUCCESS;
        return error;
    }
    HandleOwner writer;
    attributeError = clearReadOnly(item, writer);
    if (attributeError != ERROR_SUCCESS) return error;
    error = deleteThroughHandle(item);
    if (error == ERROR_SUCCESS) restoreReadOnly(item, writer.get());
    return error;
}

}  // namespace platform::win32
