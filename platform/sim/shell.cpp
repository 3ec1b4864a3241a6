// Simulated shell services: folders and launches come from the test's set-up.
#include "platform/shell.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/sim/sim_state.h"

namespace platform {

std::wstring folderPath(int csidl) {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    auto found = sim::state().folders.find(csidl);
    return found == sim::state().folders.end() ? std::wstring() : found->second;
}

bool shellOpen(const std::wstring& file, const std::wstring& parameters) {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    sim::state().launches.push_back({L"open", file, parameters});
    return sim::state().shellOpenSucceeds;
}

void ProcessHandle::closeProcess(void*) {}

void ProcessHandle::waitForExit() const {
    // The simulated child ran to its end inside shellRunAs.
}

bool shellRunAs(const std::wstring& file, const std::wstring& parameters, ProcessHandle& process,
                unsigned long& lastError) {
    std::function<void()> child;
    {
        std::lock_guard<std::mutex> lock(sim::state().mutex);
        sim::state().launches.push_back({L"runas", file, parameters});
        if (!sim::state().runAsStarts) {
            lastError = sim::state().runAsError;
            return false;
        }
        child = sim::state().runAsChild;
    }
    if (child) child();
    static int token;
    process.reset(&token);
    return true;
}

std::wstring moduleFileName() {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    return sim::state().moduleFileName;
}

bool shellDeleteItem(const std::wstring& itemText) {
    sim::ShellDelete mode;
    {
        std::lock_guard<std::mutex> lock(sim::state().mutex);
        sim::state().shellDeleteCalls.push_back(itemText);
        mode = sim::state().shellDelete;
    }
    if (mode == sim::ShellDelete::unavailable) return false;
    if (mode == sim::ShellDelete::reportsSuccessKeeps) return true;
    // The engine hands over Windows separators; the host's own paths use "/".
    std::wstring hostPath = itemText;
    std::replace(hostPath.begin(), hostPath.end(), L'\\', L'/');
    std::error_code ec;
    fs::removeAll(hostPath, ec);
    return mode == sim::ShellDelete::removes && !ec;
}

std::vector<ProtectedFolder> protectedFolders() {
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    return sim::state().protectedFolders;
}

}  // namespace platform
