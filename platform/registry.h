#pragma once
// Registry access: the open, query and delete calls the program makes, with the
// status numbers Windows gives (0 success, 2 not found, 5 access denied, 234 more data).

#include <cstdint>
#include <string>

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

// Owns one open registry key and closes it when it goes out of scope.
class RegKey {
public:
    RegKey() = default;
    ~RegKey();
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens root\path with the given access (RegOpenKeyExW); returns the status.
    [[nodiscard]] long open(RegRoot root, const std::wstring& path, std::uint32_t access);
    // RegQueryValueExW: with data null only the type and byte count are read. On a
    // failed query the out-parameters keep what they held, except that the byte
    // count gets the needed size on 234.
    [[nodiscard]] long queryValue(const std::wstring& name, std::uint32_t* type, void* data,
                                  std::uint32_t* bytes) const;
    // Closes the key now (RegCloseKey); the destructor does it otherwise.
    void close();
    bool isOpen() const { return _handle != nullptr; }

private:
    void* _handle = nullptr;
};

// Deletes root\path in the given view (RegDeleteKeyExW); keys with subkeys are refused.
[[nodiscard]] long regDeleteKey(RegRoot root, const std::wstring& path, std::uint32_t view);

}  // namespace platform
