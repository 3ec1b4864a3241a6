#pragma once
// Controls of the simulated platform, for tests on hosts without Windows: an in-memory
// registry with both views, folder paths, a process list, scripted message-box answers,
// a record of launches and exits, and faults injected into the real file system.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/registry.h"
#include "platform/shell.h"

namespace platform::sim {

// Forgets everything set up or recorded so far.
void reset();

// Registry. Paths are case-insensitive; HKEY_CURRENT_USER has one view, HKEY_LOCAL_MACHINE
// a default and a 32-bit one.
void createKey(RegRoot root, std::uint32_t view, const std::wstring& path);
void setValue(RegRoot root, std::uint32_t view, const std::wstring& path, const std::wstring& name,
              std::uint32_t type, const std::string& bytes);
// Stores text as REG_SZ (or the type given) with its terminating NUL.
void setString(RegRoot root, std::uint32_t view, const std::wstring& path, const std::wstring& name,
               const std::wstring& text, std::uint32_t type = kRegSz);
bool keyExists(RegRoot root, std::uint32_t view, const std::wstring& path);
// Called after every value query, so a test can change the registry between two queries.
void onValueQuery(std::function<void()> hook);
// Encodes text as the registry stores it (UTF-16LE), without a terminator.
std::string utf16Bytes(const std::wstring& text);

// Known folders by CSIDL value; an unset folder makes the query fail (empty text).
void setFolder(int csidl, const std::wstring& path);
// The protected folders, each kept only as itself; addProtectedFolder adds one more with
// its guard.
void setProtectedFolders(const std::vector<std::wstring>& folders);
void addProtectedFolder(const std::wstring& path, FolderGuard guard);
// A short name: longPathName gives longPath for shortPath, and for paths below it the
// same with the rest appended. Host file systems have none of their own.
void setShortName(const std::wstring& shortPath, const std::wstring& longPath);
void setModuleFileName(const std::wstring& path);

// Processes. An image that cannot be opened or read is skipped by the walk.
struct Process {
    std::wstring image;
    bool openable = true;
};
void setProcesses(std::vector<Process> processes);
void setProcessListAvailable(bool available);
// How many processes the last walk opened.
int processesOpened();

// Message boxes: answers are taken in order; with none left a box returns 0.
struct MessageBoxCall {
    std::wstring text;
    std::wstring caption;
    unsigned style = 0;
};
void queueMessageBoxAnswer(int answer);
std::vector<MessageBoxCall> messageBoxes();

// The single-instance guard: true makes the next claim find another holder.
void setOtherInstanceRunning(bool running);

// Launches through shellOpen and shellRunAs.
struct Launch {
    std::wstring verb;
    std::wstring file;
    std::wstring parameters;
};
std::vector<Launch> launches();
void setShellOpenSucceeds(bool succeeds);
// The elevated launch: whether it starts, the error when it does not, and what the
// started process does (run synchronously while the caller waits).
void setRunAs(bool starts, unsigned long error, std::function<void()> child = {});

// The shell's delete operation.
enum class ShellDelete {
    unavailable,           // the operation cannot be set up: false, nothing removed
    removes,               // removes the item (links not followed): true
    reportsSuccessKeeps,   // reports success, removes nothing
    removesReportsFailure  // removes the item, reports failure
};
void setShellDelete(ShellDelete mode);
std::vector<std::wstring> shellDeleteCalls();

// Exit requests: the status of the first exitProcess call, if any. runMessageLoop
// returns that status once it is set.
std::optional<int> exitStatus();

// File-system faults: the operation on exactly this path fails with the error. The removal's
// handle-level operations check them too: opening an item (status), opening a folder's
// listing (list), reading a listing past its first entry (advance, at the folder's path),
// clearing read-only (makeWritable) and deleting (remove).
enum class FsOp { list, remove, makeWritable, status, advance };
void injectFault(FsOp op, const std::wstring& path, std::error_code error);
// Called before each handle-level operation of the removal with the item's host path, so
// that a test can change the tree between two of them. Empty: none.
void onFsOp(std::function<void(FsOp op, const std::string& path)> hook);

}  // namespace platform::sim
