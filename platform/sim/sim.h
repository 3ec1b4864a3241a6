#pragma once
// The simulated platform, for tests on hosts without Windows: an in-memory registry with
// both views, known and protected folders, a process list, scripted message-box answers,
// a record of launches and exits, and faults and a hook on the real file system's
// operations. Tests set and read the state directly while no worker runs; the one value
// both threads reach during a run (the exit status) is guarded by mutex().

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/registry.h"
#include "platform/shell.h"

namespace platform::sim {

// File-system operations a test can fail or act before: opening an item (status, which
// the path-based status reads check too), opening a folder's listing (list), reading a
// listing past its first entry (advance), clearing read-only (makeWritable), deleting
// (remove).
enum class FsOp { list, remove, makeWritable, status, advance };

struct Box {
    std::wstring text, caption;
    unsigned style = 0;
};
struct Launch {
    std::wstring verb, file, parameters;
};

struct State {
    // Values (type, bytes) by keyId, then by lower-cased name.
    std::map<std::wstring, std::map<std::wstring, std::pair<std::uint32_t, std::string>>> keys;
    std::function<void()> onValueQuery;   // after every value query
    std::map<int, std::wstring> folders;  // by CSIDL; an unset one makes the query fail
    std::vector<ProtectedFolder> protectedFolders;
    std::map<std::wstring, std::wstring> shortNames;  // short path -> long path
    std::wstring moduleFileName = L"/sim/GameUninstaller.exe";
    std::vector<std::wstring> processes;  // image paths
    int processesVisited = 0;
    bool otherInstance = false;  // the single-instance guard is held elsewhere
    std::vector<int> answers;    // message-box answers in order; with none left a box gives 0
    std::vector<Box> boxes;
    std::vector<Launch> launches;  // through shellOpen and shellRunAs
    bool shellOpenSucceeds = true;
    bool runAsStarts = true;
    unsigned long runAsError = 0;
    std::function<void()> runAsChild;  // the elevated copy, run while the caller waits
    std::optional<int> exitStatus;                                   // of the first exitProcess
    std::map<std::pair<FsOp, std::string>, std::error_code> faults;  // by host path
    std::function<void(FsOp, const std::string&)> onFsOp;  // before each, with the host path
};

State& state();
std::mutex& mutex();
// Forgets everything set up or recorded.
void reset();
// The map key of a registry key: HKEY_CURRENT_USER has one view, HKEY_LOCAL_MACHINE two.
std::wstring keyId(RegRoot root, std::uint32_t view, const std::wstring& path);
// Stores a value's bytes, creating its key.
void setValue(RegRoot root, std::uint32_t view, const std::wstring& path, const std::wstring& name,
              std::uint32_t type, const std::string& bytes);
// Text as the registry stores it: UTF-16LE with a terminating NUL.
std::string utf16z(const std::wstring& text);

}  // namespace platform::sim
