#pragma once
// Shell services: known folders, starting programs and the program's own path.

#include <string>

#include "platform/unique_handle.h"

namespace platform {

constexpr int kCsidlLocalAppData = 0x001c;    // CSIDL_LOCAL_APPDATA
constexpr int kCsidlDesktopCreate = 0x8000;   // CSIDL_DESKTOP | CSIDL_FLAG_CREATE
constexpr int kCsidlProgramsCreate = 0x8002;  // CSIDL_PROGRAMS | CSIDL_FLAG_CREATE

// The folder SHGetFolderPathW names for csidl, up to its first NUL; empty when the query fails.
std::wstring folderPath(int csidl);

// ShellExecuteW "open" with the parameters, SW_SHOWNORMAL; true when the shell started it.
[[nodiscard]] bool shellOpen(const std::wstring& file, const std::wstring& parameters);

// Owns a process handle and closes it when it goes out of scope.
class ProcessHandle {
public:
    bool valid() const { return _process.valid(); }
    // Waits without a time-out until the process has ended.
    void waitForExit() const;
    // Takes ownership of a raw handle, closing any held before.
    void reset(void* handle = nullptr) { _process.reset(handle); }

private:
    // Closes one process handle of this platform.
    static void closeProcess(void* process);
    UniqueHandle<void*, closeProcess> _process;
};

// ShellExecuteExW with the verb "runas". On success `process` holds the started process
// (it may stay empty); on failure `lastError` holds GetLastError().
[[nodiscard]] bool shellRunAs(const std::wstring& file, const std::wstring& parameters,
                              ProcessHandle& process, unsigned long& lastError);

// The running program's own executable path (GetModuleFileNameW).
std::wstring moduleFileName();

}  // namespace platform

#include <vector>

namespace platform {

// How a protected folder keeps game folders away.
enum class FolderGuard {
    itself,         // a game folder may neither be it nor hold it
    wholeTree,      // nor lie anywhere below it (the Windows folder, shared system folders)
    otherProfiles,  // nor lie anywhere below it but below `own` (the users folder: every
                    // profile but the user's own, which keeps the guards of its folders)
    platformData,   // its "VEXAL*" folders and their "Logs" and "tmpgamemanifest" folders
                    // are kept like itself (the local application data folder)
};

// A folder that no removal may name or contain, and how far it is kept.
struct ProtectedFolder {
    std::wstring path;
    FolderGuard guard = FolderGuard::itself;
    // otherProfiles: the user's own profile (under each of its names), below which games
    // may lie.
    std::vector<std::wstring> own = {};
};

// The protected folders: the Windows and system folders, the Program Files roots and
// their Common Files folders, ProgramData and its Microsoft folder, the user profiles
// root (with the user's profile as the system records it, empty when that query fails),
// the user's profile and its known folders, the local and roaming application data
// folders. Queries that fail are left out.
std::vector<ProtectedFolder> protectedFolders();

}  // namespace platform
