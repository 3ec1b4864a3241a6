// Reading registry text values through a value query, the same on every platform.
#include <vector>

#include "platform/registry.h"

namespace platform {
namespace {

// True for the two text types.
bool isText(std::uint32_t type) { return type == kRegSz || type == kRegExpandSz; }

}  // namespace

// Size query, then the read into storage for the whole byte count (an odd count has one
// byte beyond the characters), in UTF-16 units whatever the width of wchar_t. A read that
// fails or finds another size or type means the value changed in between.
long readText(const ValueQuery& query, std::wstring& text, std::uint32_t maxBytes) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::uint32_t type = 0;
        std::uint32_t bytes = 0;
        const long status = query(&type, nullptr, &bytes);
        if (status != kErrorSuccess) return status;
        if (!isText(type)) return kErrorUnsupportedType;
        if (bytes > maxBytes) return kErrorMoreData;
        std::vector<std::uint16_t> units(bytes / 2 + 1, 0);
        std::uint32_t readType = 0;
        std::uint32_t readBytes = bytes;
        if (query(&readType, units.data(), &readBytes) != kErrorSuccess || readBytes != bytes ||
            !isText(readType)) {
            continue;
        }
        std::size_t length = bytes / 2;
        while (length > 0 && units[length - 1] == 0) --length;
        text.assign(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(length));
        return kErrorSuccess;
    }
    return kErrorMoreData;
}

}  // namespace platform
