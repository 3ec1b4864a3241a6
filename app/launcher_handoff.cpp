// Handing the uninstall over to the platform's launcher.
#include "app/launcher_handoff.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/shell.h"

namespace {

// Characters that would split, quote or garble the URL on the launcher's command line.
bool unsafeInUrl(wchar_t c) { return c <= L' ' || c == L'"' || c == 0x7F; }

// The launcher's install folder from its uninstall entry: a text value of at most 520
// bytes (260 characters), up to its first NUL; empty when there is none.
std::wstring launcherLocation(const std::wstring& env) {
    platform::RegKey key;
    std::wstring location;
    if (key.open(platform::RegRoot::localMachine,
                 L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VexalLauncher" + env,
                 platform::kKeyRead) != platform::kErrorSuccess ||
        key.readString(L"InstallLocation", location, 520) != platform::kErrorSuccess) {
        return L"";
    }
    return location.substr(0, location.find(L'\0'));
}

}  // namespace

std::wstring launcherUrl(const std::wstring& gameNo, const std::wstring& env) {
    if (std::any_of(gameNo.begin(), gameNo.end(), unsafeInUrl) ||
        std::any_of(env.begin(), env.end(), unsafeInUrl)) {
        return L"";
    }
    // Passed whole, however long: a shortened game number could name another game.
    return L"orba" + env + L"://deletegame/" + gameNo;
}

bool handOffToLauncher(const std::wstring& gameNo, const std::wstring& env) {
    const std::wstring location = launcherLocation(env);
    if (location.empty()) return false;
    const std::wstring url = launcherUrl(gameNo, env);
    if (url.empty()) return false;  // removed locally instead
    // A launcher that cannot be started leaves the job to this program.
    return platform::shellOpen(location + L"\\VEXAL.exe", url);
}
