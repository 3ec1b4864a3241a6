// Path names on the host: no short names unless a test gives some (sim::setShortName),
// links resolved by the host's own file system.

#include "platform/path_names.h"

#include <filesystem>

#include "platform/sim/sim_state.h"

namespace platform {

std::wstring longPathName(const std::wstring& path) {
    {
        std::lock_guard<std::mutex> lock(sim::state().mutex);
        for (const auto& [shortPath, longPath] : sim::state().shortNames) {
            const bool below = path.size() > shortPath.size() && path[shortPath.size()] == L'/';
            if (path.compare(0, shortPath.size(), shortPath) == 0 &&
                (below || path.size() == shortPath.size())) {
                return longPath + path.substr(shortPath.size());
            }
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

}  // namespace platform
