// Shell services: known folders, starting programs and the program's own path.

#include "platform/shell.h"

#include <windows.h>
// After windows.h, which they depend on (the comment keeps clang-format from sorting them).
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cwchar>

#include "platform/win32/handle_owner.h"
#include "platform/win32/known_folder_walk.h"
#include "platform/win32/text_buffer.h"

namespace platform {
namespace {

// The path of a known folder; empty when the query fails.
std::wstring knownFolder(REFKNOWNFOLDERID id) {
    win32::CoTaskString path;
    if (FAILED(SHGetKnownFolderPath(id, 0, nullptr, path.put())) || path.get() == nullptr) {
        return {};
    }
    return path.get();
}

// The 64-bit system's 32-bit system folder (SysWOW64); empty when there is none.
std::wstring systemWow64Directory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemWow64DirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::wstring(buffer, length);
}

// The folder above path ("C:\Users\me" gives "C:\Users"); empty when there is none.
std::wstring parentFolder(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator < 3) return {};
    return path.substr(0, separator);
}

}  // namespace

// SHGetFolderPathW into a zero-filled buffer; the text runs to the first NUL.
std::wstring folderPath(int csidl) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, 0 /* SHGFP_TYPE_CURRENT */, buffer))) {
        return {};
    }
    return std::wstring(buffer, wcsnlen(buffer, MAX_PATH));
}

// ShellExecuteW "open"; results above 32 mean the shell started the file.
bool shellOpen(const std::wstring& file, const std::wstring& parameters) {
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", file.c_str(), parameters.c_str(), nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

// CloseHandle.
void ProcessHandle::closeProcess(void* process) { CloseHandle(process); }

// Waits until the held process has ended; returns at once when none is held.
void ProcessHandle::waitForExit() const {
    if (valid()) WaitForSingleObject(_process.get(), INFINITE);
}

// ShellExecuteExW with "runas", keeping the started process's handle.
bool shellRunAs(const std::wstring& file, const std::wstring& parameters, ProcessHandle& process,
                unsigned long& lastError) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = nullptr;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) {
        lastError = GetLastError();
        return false;
    }
    process.reset(info.hProcess);
    return true;
}

// GetModuleFileNameW; a filled buffer means the path was cut short, so twice the room
// is asked for then.
std::wstring moduleFileName() {
    return win32::grownText([](wchar_t* buffer, DWORD size) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer, size);
        return length < size ? length : 2 * size;
    });
}

// The folders no removal may touch, each query that fails left out.
std::vector<ProtectedFolder> protectedFolders() {
    struct Known {
        const KNOWNFOLDERID* id;
        FolderGuard guard;
    };
    static const Known kBeforeUsers[] = {
        {&FOLDERID_Windows, FolderGuard::wholeTree},
        {&FOLDERID_System, FolderGuard::itself},
        {&FOLDERID_ProgramFiles, FolderGuard::itself},
        {&FOLDERID_ProgramFilesX86, FolderGuard::itself},
        {&FOLDERID_ProgramFilesCommon, FolderGuard::wholeTree},
        {&FOLDERID_ProgramFilesCommonX86, FolderGuard::wholeTree},
        {&FOLDERID_ProgramData, FolderGuard::itself},
    };
    static const KNOWNFOLDERID* const kAfterUsers[] = {
        &FOLDERID_Public,         &FOLDERID_Profile,         &FOLDERID_Desktop,
        &FOLDERID_Documents,      &FOLDERID_Downloads,       &FOLDERID_Music,
        &FOLDERID_Pictures,       &FOLDERID_Videos,          &FOLDERID_Favorites,
        &FOLDERID_StartMenu,      &FOLDERID_Programs,        &FOLDERID_Startup,
        &FOLDERID_Templates,      &FOLDERID_SendTo,          &FOLDERID_Recent,
        &FOLDERID_RoamingAppData, &FOLDERID_LocalAppDataLow,
    };

    std::vector<ProtectedFolder> folders;
    // Adds a folder unless its query failed.
    const auto add = [&folders](std::wstring folder, FolderGuard guard) {
        if (!folder.empty()) folders.push_back(ProtectedFolder{std::move(folder), guard});
    };
    for (const Known& known : kBeforeUsers) add(knownFolder(*known.id), known.guard);
    add(systemWow64Directory(), FolderGuard::itself);
    // Where no game lives: the shared Start menu and the system's own data.
    const std::wstring programData = knownFolder(FOLDERID_ProgramData);
    if (!programData.empty()) add(programData + L"\\Microsoft", FolderGuard::wholeTree);
    std::wstring users = knownFolder(FOLDERID_UserProfiles);
    if (users.empty()) users = parentFolder(knownFolder(FOLDERID_Profile));
    if (!users.empty()) {
        folders.push_back({users, FolderGuard::otherProfiles, {win32::userProfileFolder()}});
    }
    for (const KNOWNFOLDERID* id : kAfterUsers) add(knownFolder(*id), FolderGuard::itself);
    add(knownFolder(FOLDERID_LocalAppData), FolderGuard::platformData);
    return folders;
}

}  // namespace platform
