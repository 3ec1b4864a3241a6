// Processes: the single-instance mutex, the running images, thread ids.

#include "platform/process.h"

#include <windows.h>
// After windows.h, which it depends on (the comment keeps clang-format from sorting it).
#include <tlhelp32.h>

#include <string>

#include "platform/win32/handle_owner.h"

namespace platform {

using win32::HandleOwner;

// Creates the named mutex, owned from the start. Its handle is deliberately never closed:
// the name must stay held until the process ends, and the system closes it then.
bool claimSingleInstance(const std::wstring& name) {
    SetLastError(ERROR_SUCCESS);  // a new mutex is not guaranteed to reset it
    CreateMutexW(nullptr, TRUE, name.c_str());
    return GetLastError() != ERROR_ALREADY_EXISTS;
}

// Walks a process snapshot and hands each readable image path to visit.
bool forEachProcessImage(const std::function<bool(const std::wstring& imagePath)>& visit) {
    HandleOwner snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return false;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return false;

    // The longest path Windows can give, so images past 260 characters are read whole.
    std::wstring buffer(32768, L'\0');
    do {
        HandleOwner process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process.valid()) continue;
        DWORD size = static_cast<DWORD>(buffer.size());
        if (!QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size)) continue;
        if (visit(std::wstring(buffer.data(), size))) break;
    } while (Process32NextW(snapshot.get(), &entry));
    return true;
}

// GetCurrentThreadId.
unsigned long currentThreadId() { return GetCurrentThreadId(); }

}  // namespace platform
