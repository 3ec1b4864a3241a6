#pragma once
// Registry access: the open, query and delete calls the program makes, with the
// status numbers Windows gives (0 success, 2 not found, 5 access denied, 234 more data).

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "platform/unique_handle.h"

namespace platform {

enum class RegRoot { currentUser, localMachine };

constexpr std::uint32_t kKeyRead = 0x20019;       // KEY_READ
constexpr std::uint32_t kKeyWow64_32Key = 0x200;  // KEY_WOW64_32KEY
constexpr std::uint32_t kRegSz = 1;               // REG_SZ
constexpr std::uint32_t kRegExpandSz = 2;         // REG_EXPAND_SZ
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;
constexpr long kErrorUnsupportedType = 1630;  // ERROR_UNSUPPORTED_TYPE

// One value query as RegKey::queryValue makes it: (type, data, bytes) -> status.
using ValueQuery = std::function<long(std::uint32_t* type, void* data, std::uint32_t* bytes)>;
// RegKey::readString's reading of a text value through its query (registry_text.cpp).
[[nodiscard]] long readText(const ValueQuery& query, std::wstring& text, std::uint32_t maxBytes);

// Owns one open registry key and closes it when it goes out of scope.
class RegKey {
public:
    // Opens root\path with the given access (RegOpenKeyExW); returns the status.
    [[nodiscard]] long open(RegRoot root, const std::wstring& path, std::uint32_t access);
    // RegQueryValueExW: with data null only the type and byte count are read. On a
    // failed query the out-parameters keep what they held, except that the byte
    // count gets the needed size on 234.
    [[nodiscard]] long queryValue(const std::wstring& name, std::uint32_t* type, void* data,
                                  std::uint32_t* bytes) const;
    // Reads a text value (REG_SZ or REG_EXPAND_SZ, unexpanded) as its UTF-16 units, one
    // wchar_t each, without its trailing NULs (NULs inside stay; an odd last byte is
    // dropped). A value that changes between the size query and the read is read again,
    // twice at most. Returns 2 for a missing value, 1630 for one that is not text, 234 for
    // one longer than maxBytes or that keeps changing; text is left alone on any failure.
    [[nodiscard]] long readString(
        const std::wstring& name, std::wstring& text,
        std::uint32_t maxBytes = std::numeric_limits<std::uint32_t>::max()) const {
        return readText([&](std::uint32_t* type, void* data,
                            std::uint32_t* bytes) { return queryValue(name, type, data, bytes); },
                        text, maxBytes);
    }
    // Closes the key now (RegCloseKey); the destructor does it otherwise.
    void close() { _key.reset(); }
    bool isOpen() const { return _key.valid(); }

private:
    // Closes one key of this platform.
    static void closeKey(void* key);
    UniqueHandle<void*, closeKey> _key;
};

// Deletes root\path in the given view (RegDeleteKeyExW); keys with subkeys are refused.
[[nodiscard]] long regDeleteKey(RegRoot root, const std::wstring& path, std::uint32_t view);

}  // namespace platform
