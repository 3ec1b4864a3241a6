// The plain form of extended-length paths, the same on every platform.
#include <cwctype>

#include "platform/path_names.h"

namespace platform {

std::wstring plainForm(const std::wstring& path) {
    if (path.compare(0, kExtendedPrefix.size(), kExtendedPrefix) != 0) return path;
    const std::wstring rest = path.substr(kExtendedPrefix.size());
    // "UNC\" in any letter case, then the server.
    const auto upper = [&rest](std::size_t i) { return std::towupper(rest[i]); };
    if (rest.size() > 4 && upper(0) == L'U' && upper(1) == L'N' && upper(2) == L'C' &&
        rest[3] == L'\\') {
        return L"\\\\" + rest.substr(4);
    }
    return rest.size() >= 2 && rest[1] == L':' ? rest : path;
}

}  // namespace platform
