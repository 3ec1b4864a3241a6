#pragma once
// The simulated platform's state, shared by its operation files. Guarded by one mutex:
// the engine's worker thread and the test thread both reach it.

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_control.h"

namespace platform::sim {

struct RegValueData {
    std::uint32_t type = 0;
    std::string bytes;
};

struct RegKeyData {
    std::map<std::wstring, RegValueData> values;  // by lower-cased name
};

struct State {
    std::mutex mutex;
    std::condition_variable exited;

    // Registry keys by (root, view, lower-cased path). HKEY_CURRENT_USER uses view 0 only.
    std::map<std::wstring, RegKeyData> keys;
    std::function<void()> valueQueryHook;

    std::map<int, std::wstring> folders;
    std::vector<ProtectedFolder> protectedFolders;
    std::wstring moduleFileName = L"/sim/GameUninstaller.exe";

    std::vector<Process> processes;
    bool processListAvailable = true;
    int processesOpened = 0;

    std::deque<int> messageBoxAnswers;
    std::vector<MessageBoxCall> messageBoxes;
    bool otherInstanceRunning = false;

    std::vector<Launch> launches;
    bool shellOpenSucceeds = true;
    bool runAsStarts = true;
    unsigned long runAsError = 0;
    std::function<void()> runAsChild;

    ShellDelete shellDelete = ShellDelete::unavailable;
    std::vector<std::wstring> shellDeleteCalls;

    std::optional<int> exitStatus;

    std::map<std::pair<FsOp, std::wstring>, std::error_code> faults;
    std::function<void(FsOp, const std::string&)> fsHook;

    std::map<std::wstring, std::wstring> shortNames;  // short path -> long path
};

State& state();

// The map key of a registry key.
std::wstring regKeyId(RegRoot root, std::uint32_t view, const std::wstring& path);
// ASCII lower-casing, as the registry compares names.
std::wstring lowered(const std::wstring& text);
// The injected fault for op on path, if any (call with the mutex held or not: it locks).
std::optional<std::error_code> fault(FsOp op, const std::wstring& path);
// Runs the test's hook for op on path, if one is set (call without the mutex held).
void runFsHook(FsOp op, const std::string& path);

}  // namespace platform::sim
