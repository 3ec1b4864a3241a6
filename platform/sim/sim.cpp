// The simulated registry, processes, shell, user interface, path names, log file and
// known-folder files, on the state the tests set up (see sim.h).
#include "platform/sim/sim.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/file_system.h"
#include "platform/known_folder_file.h"
#include "platform/log_file.h"
#include "platform/path_names.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace platform {
namespace sim {

State& state() {
    static State instance;
    return instance;
}

std::mutex& mutex() {
    static std::mutex instance;
    return instance;
}

void reset() { state() = State{}; }

// ASCII lower-casing, as the registry compares names.
std::wstring lowered(std::wstring text) {
    for (auto& c : text) c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c;
    return text;
}

std::wstring keyId(RegRoot root, std::uint32_t view, const std::wstring& path) {
    if (root == RegRoot::currentUser) return L"HKCU\\" + lowered(path);
    return ((view & kKeyWow64_32Key) != 0 ? L"HKLM32\\" : L"HKLM\\") + lowered(path);
}

void setValue(RegRoot root, std::uint32_t view, const std::wstring& path, const std::wstring& name,
              std::uint32_t type, const std::string& bytes) {
    state().keys[keyId(root, view, path)][lowered(name)] = {type, bytes};
}

// Characters of the Basic Multilingual Plane only, which is all the tests store.
std::string utf16z(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text + L'\0')
        bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    return bytes;
}

}  // namespace sim

// ---- Registry ------------------------------------------------------------------------------

void RegKey::closeKey(void* key) { delete static_cast<std::wstring*>(key); }

// The key holds its id.
long RegKey::open(RegRoot root, const std::wstring& path, std::uint32_t access) {
    close();
    const std::wstring id = sim::keyId(root, access, path);
    if (sim::state().keys.count(id) == 0) return kErrorFileNotFound;
    _key.reset(new std::wstring(id));
    return kErrorSuccess;
}

long RegKey::queryValue(const std::wstring& name, std::uint32_t* type, void* data,
                        std::uint32_t* bytes) const {
    long status = kErrorSuccess;
    auto& values = sim::state().keys[*static_cast<std::wstring*>(_key.get())];
    if (auto value = values.find(sim::lowered(name)); value == values.end()) {
        status = kErrorFileNotFound;
    } else {
        const auto& [storedType, stored] = value->second;
        const auto size = static_cast<std::uint32_t>(stored.size());
        if (data != nullptr && (bytes == nullptr || *bytes < size)) {
            status = kErrorMoreData;
        } else if (data != nullptr) {
            std::memcpy(data, stored.data(), stored.size());
        }
        if (type != nullptr && status == kErrorSuccess) *type = storedType;
        if (bytes != nullptr) *bytes = size;
    }
    if (sim::state().onValueQuery) sim::state().onValueQuery();
    return status;
}

// A key with subkeys is refused, as Windows does.
long regDeleteKey(RegRoot root, const std::wstring& path, std::uint32_t view) {
    auto& keys = sim::state().keys;
    const std::wstring id = sim::keyId(root, view, path);
    auto key = keys.find(id);
    if (key == keys.end()) return kErrorFileNotFound;
    auto next = std::next(key);
    if (next != keys.end() && next->first.compare(0, id.size() + 1, id + L"\\") == 0) {
        return kErrorAccessDenied;
    }
    keys.erase(key);
    return kErrorSuccess;
}

// ---- Processes -----------------------------------------------------------------------------

bool claimSingleInstance(const std::wstring&) { return !sim::state().otherInstance; }

// Counts the processes visited, so a test sees where the walk stopped.
bool forEachProcessImage(const std::function<bool(const std::wstring&)>& visit) {
    sim::state().processesVisited = 0;
    for (const auto& image : sim::state().processes) {
        ++sim::state().processesVisited;
        if (visit(image)) break;
    }
    return true;
}

unsigned long currentThreadId() { return static_cast<unsigned long>(::syscall(SYS_gettid)); }

// ---- Shell ---------------------------------------------------------------------------------

std::wstring folderPath(int csidl) {
    auto found = sim::state().folders.find(csidl);
    return found == sim::state().folders.end() ? std::wstring() : found->second;
}

bool shellOpen(const std::wstring& file, const std::wstring& parameters) {
    sim::state().launches.push_back({L"open", file, parameters});
    return sim::state().shellOpenSucceeds;
}

void ProcessHandle::closeProcess(void*) {}

// The simulated child ran to its end inside shellRunAs.
void ProcessHandle::waitForExit() const {}

bool shellRunAs(const std::wstring& file, const std::wstring& parameters, ProcessHandle& process,
                unsigned long& lastError) {
    sim::state().launches.push_back({L"runas", file, parameters});
    if (!sim::state().runAsStarts) {
        lastError = sim::state().runAsError;
        return false;
    }
    if (sim::state().runAsChild) sim::state().runAsChild();
    static int token;
    process.reset(&token);
    return true;
}

std::wstring moduleFileName() { return sim::state().moduleFileName; }

std::vector<ProtectedFolder> protectedFolders() { return sim::state().protectedFolders; }

// ---- User interface ------------------------------------------------------------------------

namespace {
std::condition_variable gExited;
}  // namespace

int messageBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
    std::lock_guard<std::mutex> lock(sim::mutex());
    auto& s = sim::state();
    s.boxes.push_back({text, caption, style});
    if (s.answers.size() < s.boxes.size()) return 0;
    return s.answers[s.boxes.size() - 1];
}

int runMessageLoop() {
    std::unique_lock<std::mutex> lock(sim::mutex());
    gExited.wait(lock, [] { return sim::state().exitStatus.has_value(); });
    return *sim::state().exitStatus;
}

void exitProcess(int status) {
    std::lock_guard<std::mutex> lock(sim::mutex());
    if (!sim::state().exitStatus) sim::state().exitStatus = status;
    gExited.notify_all();
}

// ---- Path names: short names from the tests, links resolved by the host ---------------------

std::wstring longPathName(const std::wstring& path) {
    for (const auto& [shortPath, longPath] : sim::state().shortNames) {
        if (path.compare(0, shortPath.size(), shortPath) == 0 &&
            (path.size() == shortPath.size() || path[shortPath.size()] == L'/')) {
            return longPath + path.substr(shortPath.size());
        }
    }
    std::error_code ec;
    return std::filesystem::exists(path, ec) ? path : std::wstring();
}

std::wstring finalPathName(const std::wstring& path) {
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
    return ec ? std::wstring() : resolved.wstring();
}

// ---- One file below a known folder, by its path (the refusal of links on the way is
// Windows behaviour, proved under Wine) ----------------------------------------------------

void removeKnownFolderFile(int, const std::wstring& path, std::error_code& ec) {
    if (std::filesystem::symlink_status(path, ec).type() == std::filesystem::file_type::regular) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }
    std::filesystem::remove(path, ec);  // a link itself, never its target
}

// ---- The log file: appended to, flushed with every record so tests read it at once ---------

struct LogFile::State {
    std::FILE* file = nullptr;
    std::size_t sizeAtOpen = 0;
};

LogFile::LogFile() : _state(std::make_unique<State>()) {}

LogFile::~LogFile() {
    if (isOpen()) std::fclose(_state->file);
}

bool LogFile::open(const std::wstring& path) {
    if (isOpen() || (_state->file = std::fopen(fs::Path(path).c_str(), "ab")) == nullptr)
        return false;
    std::fseek(_state->file, 0, SEEK_END);
    _state->sizeAtOpen = static_cast<std::size_t>(std::ftell(_state->file));
    return true;
}

bool LogFile::isOpen() const { return _state->file != nullptr; }

std::size_t LogFile::sizeAtOpen() const { return _state->sizeAtOpen; }

bool LogFile::write(const char* data, std::size_t size) {
    return isOpen() && std::fwrite(data, 1, size, _state->file) == size &&
           std::fflush(_state->file) == 0;
}

}  // namespace platform
