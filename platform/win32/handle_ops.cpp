// Attribute changes and deletion through open handles (FileBasicInfo, FileDispositionInfo).
#include "platform/win32/handle_ops.h"

#include "platform/win32/handle_owner.h"

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
    return ERROR_SUCCESS;
}

DWORD deleteThroughHandle(HANDLE item) {
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

}  // namespace platform::win32
