// The simulated registry: keys and values in memory, with the statuses Windows gives.
#include <cstring>

#include "platform/registry.h"
#include "platform/sim/sim_state.h"

namespace platform {

namespace {

constexpr long kErrorKeyDeleted = 1018;

// What an open simulated key refers to.
struct SimKey {
    std::wstring id;
};

}  // namespace

void RegKey::closeKey(void* key) { delete static_cast<SimKey*>(key); }

long RegKey::open(RegRoot root, const std::wstring& path, std::uint32_t access) {
    close();
    const std::wstring id = sim::regKeyId(root, access & kKeyWow64_32Key, path);
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    if (sim::state().keys.count(id) == 0) return kErrorFileNotFound;
    _key.reset(new SimKey{id});
    return kErrorSuccess;
}

long RegKey::queryValue(const std::wstring& name, std::uint32_t* type, void* data,
                        std::uint32_t* bytes) const {
    long status = kErrorSuccess;
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(sim::state().mutex);
        hook = sim::state().valueQueryHook;
        auto key = sim::state().keys.find(static_cast<SimKey*>(_key.get())->id);
        if (key == sim::state().keys.end()) {
            status = kErrorKeyDeleted;
        } else if (auto value = key->second.values.find(sim::lowered(name));
                   value == key->second.values.end()) {
            status = kErrorFileNotFound;
        } else {
            const std::string& stored = value->second.bytes;
            const auto size = static_cast<std::uint32_t>(stored.size());
            if (data != nullptr && (bytes == nullptr || *bytes < size)) {
                status = kErrorMoreData;
            } else if (data != nullptr) {
                std::memcpy(data, stored.data(), stored.size());
            }
            if (type != nullptr) *type = value->second.type;
            if (bytes != nullptr) *bytes = size;
        }
    }
    if (hook) hook();
    return status;
}

long regDeleteKey(RegRoot root, const std::wstring& path, std::uint32_t view) {
    const std::wstring id = sim::regKeyId(root, view, path);
    std::lock_guard<std::mutex> lock(sim::state().mutex);
    auto& keys = sim::state().keys;
    auto key = keys.find(id);
    if (key == keys.end()) return kErrorFileNotFound;
    auto next = std::next(key);
    if (next != keys.end() && next->first.compare(0, id.size() + 1, id + L"\\") == 0) {
        return kErrorAccessDenied;  // a key with subkeys is refused, as Windows does
    }
    keys.erase(key);
    return kErrorSuccess;
}

}  // namespace platform
