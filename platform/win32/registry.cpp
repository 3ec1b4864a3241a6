// Registry access through the Win32 registry calls; statuses are passed on unchanged.

#include "platform/registry.h"

#include <windows.h>

namespace platform {
namespace {

// The predefined key for a root.
HKEY rootKey(RegRoot root) {
    return root == RegRoot::currentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

}  // namespace

// RegCloseKey.
void RegKey::closeKey(void* key) { RegCloseKey(static_cast<HKEY>(key)); }

// Opens root\path, closing any key held before.
long RegKey::open(RegRoot root, const std::wstring& path, std::uint32_t access) {
    close();
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(rootKey(root), path.c_str(), 0, access, &key);
    if (status == ERROR_SUCCESS) _key.reset(key);
    return status;
}

// Queries through local copies so that a failed query leaves the caller's type and count
// alone (except the needed size on 234); the data buffer is passed straight through.
long RegKey::queryValue(const std::wstring& name, std::uint32_t* type, void* data,
                        std::uint32_t* bytes) const {
    DWORD valueType = type != nullptr ? *type : 0;
    DWORD byteCount = bytes != nullptr ? *bytes : 0;
    const LSTATUS status =
        RegQueryValueExW(static_cast<HKEY>(_key.get()), name.c_str(), nullptr,
                         type != nullptr ? &valueType : nullptr, static_cast<BYTE*>(data),
                         bytes != nullptr ? &byteCount : nullptr);
    if (status == ERROR_SUCCESS) {
        if (type != nullptr) *type = valueType;
        if (bytes != nullptr) *bytes = byteCount;
    } else if (status == ERROR_MORE_DATA && bytes != nullptr) {
        *bytes = byteCount;
    }
    return status;
}

// Deletes one key without subkeys in the given registry view.
long regDeleteKey(RegRoot root, const std::wstring& path, std::uint32_t view) {
    return RegDeleteKeyExW(rootKey(root), path.c_str(), view, 0);
}

}  // namespace platform
