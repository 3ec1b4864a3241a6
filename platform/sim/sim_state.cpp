// The simulated platform's state and the controls tests use to set it up and read it.
#include "platform/sim/sim_state.h"

#include <cwctype>

namespace platform::sim {

State& state() {
    static State instance;
    return instance;
}

std::wstring lowered(const std::wstring& text) {
    std::wstring out = text;
    for (auto& c : out) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return out;
}

std::wstring regKeyId(RegRoot root, std::uint32_t view, const std::wstring& path) {
    const bool machine = root == RegRoot::localMachine;
    const bool view32 = machine && (view & kKeyWow64_32Key) != 0;
    return std::wstring(machine ? (view32 ? L"HKLM32\\" : L"HKLM\\") : L"HKCU\\") + lowered(path);
}

std::optional<std::error_code> fault(FsOp op, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(state().mutex);
    auto found = state().faults.find({op, path});
    if (found == state().faults.end()) return std::nullopt;
    return found->second;
}

void runFsHook(FsOp op, const std::string& path) {
    std::function<void(FsOp, const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        hook = state().fsHook;
    }
    if (hook) hook(op, path);
}

void reset() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.keys.clear();
    s.valueQueryHook = nullptr;
    s.folders.clear();
    s.protectedFolders.clear();
    s.moduleFileName = L"/sim/GameUninstaller.exe";
    s.processes.clear();
    s.processListAvailable = true;
    s.processesOpened = 0;
    s.messageBoxAnswers.clear();
    s.messageBoxes.clear();
    s.otherInstanceRunning = false;
    s.launches.clear();
    s.shellOpenSucceeds = true;
    s.runAsStarts = true;
    s.runAsError = 0;
    s.runAsChild = nullptr;
    s.shellDelete = ShellDelete::unavailable;
    s.shellDeleteCalls.clear();
    s.exitStatus.reset();
    s.faults.clear();
    s.fsHook = nullptr;
    s.shortNames.clear();
}

void createKey(RegRoot root, std::uint32_t view, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().keys[regKeyId(root, view, path)];
}

void setValue(RegRoot root, std::uint32_t view, const std::wstring& path, const std::wstring& name,
              std::uint32_t type, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().keys[regKeyId(root, view, path)].values[lowered(name)] = RegValueData{type, bytes};
}

std::string utf16Bytes(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) {
        auto unit = static_cast<std::uint32_t>(c);
        if (unit > 0xFFFF) {  // a 32-bit wchar_t beyond the BMP becomes a surrogate pair
            unit -= 0x10000;
            const std::uint32_t pair[2] = {0xD800 + (unit >> 10), 0xDC00 + (unit & 0x3FF)};
            for (auto half : pair) {
                bytes.push_back(static_cast<char>(half & 0xFF));
                bytes.push_back(static_cast<char>(half >> 8));
            }
            continue;
        }
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

void setString(RegRoot root, std::uint32_t view, const std::wstring& path, const std::wstring& name,
               const std::wstring& text, std::uint32_t type) {
    setValue(root, view, path, name, type, utf16Bytes(text) + std::string(2, '\0'));
}

bool keyExists(RegRoot root, std::uint32_t view, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().keys.count(regKeyId(root, view, path)) != 0;
}

void onValueQuery(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().valueQueryHook = std::move(hook);
}

void setFolder(int csidl, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().folders[csidl] = path;
}

void setShortName(const std::wstring& shortPath, const std::wstring& longPath) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().shortNames[shortPath] = longPath;
}

void setProtectedFolders(const std::vector<std::wstring>& folders) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().protectedFolders.clear();
    for (const auto& folder : folders) state().protectedFolders.push_back({folder});
}

void addProtectedFolder(const std::wstring& path, FolderGuard guard) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().protectedFolders.push_back({path, guard});
}

void setModuleFileName(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().moduleFileName = path;
}

void setProcesses(std::vector<Process> processes) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().processes = std::move(processes);
}

void setProcessListAvailable(bool available) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().processListAvailable = available;
}

int processesOpened() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().processesOpened;
}

void queueMessageBoxAnswer(int answer) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().messageBoxAnswers.push_back(answer);
}

std::vector<MessageBoxCall> messageBoxes() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().messageBoxes;
}

void setOtherInstanceRunning(bool running) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().otherInstanceRunning = running;
}

std::vector<Launch> launches() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().launches;
}

void setShellOpenSucceeds(bool succeeds) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().shellOpenSucceeds = succeeds;
}

void setRunAs(bool starts, unsigned long error, std::function<void()> child) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().runAsStarts = starts;
    state().runAsError = error;
    state().runAsChild = std::move(child);
}

void setShellDelete(ShellDelete mode) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().shellDelete = mode;
}

std::vector<std::wstring> shellDeleteCalls() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().shellDeleteCalls;
}

std::optional<int> exitStatus() {
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().exitStatus;
}

void injectFault(FsOp op, const std::wstring& path, std::error_code error) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().faults[{op, path}] = error;
}

void onFsOp(std::function<void(FsOp op, const std::string& path)> hook) {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().fsHook = std::move(hook);
}

}  // namespace platform::sim
