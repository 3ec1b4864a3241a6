// GameUninstallHelper::_regReadString against the simulated registry, with arbitrary value
// types and bytes, and a value that may change between the size query and the read.
//
// Input: byte 0 = first type (bits 0-2), value missing (bit 6), key missing (bit 7);
// byte 1 = query after which the value changes (bits 0-2, 0 = never), keeps flipping
// between its two versions from then on (bit 3), second type (bits 4-6);
// byte 2 = byte count of the first version when it changes; the rest = the data
// (first version, then second version).
#include <vector>

#include "engine/game_uninstall_helper.h"
#include "fuzz_common.h"
#include "platform/sim/sim_control.h"

// Reaches the engine's private member (the engine names this class its friend).
class EngineTestAccess {
public:
    static std::wstring regReadString(const std::wstring& key, const std::wstring& name) {
        return GameUninstallHelper::_regReadString(key, name);
    }
};

namespace {

namespace sim = platform::sim;
const std::wstring kKey = L"Software\\ORBA_qa\\Apps\\77";

struct Version {
    std::uint32_t type;
    std::string bytes;
};

bool isText(std::uint32_t type) {
    return type == platform::kRegSz || type == platform::kRegExpandSz;
}

// What a reader should make of a stored value: its whole UTF-16LE units (an odd last
// byte left out), trailing NULs removed.
std::wstring expectedText(const std::string& bytes) {
    std::wstring text =
        utf16Text(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool keyMissing = data[0] & 0x80;
    const bool valueMissing = data[0] & 0x40;
    const unsigned changeAfter = data[1] & 7;
    const bool keepsChanging = data[1] & 8;
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t firstBytes =
        changeAfter ? std::min<std::size_t>(data[2], rest.size()) : rest.size();
    const Version versions[2] = {{data[0] & 7u, rest.substr(0, firstBytes)},
                                 {(data[1] >> 4) & 7u, rest.substr(firstBytes)}};

    sim::reset();
    if (!keyMissing) sim::createKey(platform::RegRoot::currentUser, 0, kKey);
    if (!keyMissing && !valueMissing) {
        sim::setValue(platform::RegRoot::currentUser, 0, kKey, L"GamePath", versions[0].type,
                      versions[0].bytes);
    }
    // Changes the value after query number changeAfter (and, when asked, after each later one).
    unsigned queries = 0;
    int current = 0;
    if (changeAfter != 0 && !keyMissing && !valueMissing) {
        sim::onValueQuery([&] {
            ++queries;
            if (queries == changeAfter || (keepsChanging && queries > changeAfter)) {
                current = 1 - current;
                sim::setValue(platform::RegRoot::currentUser, 0, kKey, L"GamePath",
                              versions[current].type, versions[current].bytes);
            }
        });
    }

    const std::wstring text = EngineTestAccess::regReadString(kKey, L"GamePath");
    sim::reset();  // drops the hook, which refers to this call's locals

    FUZZ_CHECK(text.empty() || text.back() != L'\0');
    if (keyMissing || valueMissing) {
        FUZZ_CHECK(text.empty());
    } else if (changeAfter == 0) {
        // An unchanged value: all of its text, or nothing when it is not text.
        FUZZ_CHECK(text == (isText(versions[0].type) ? expectedText(versions[0].bytes) : L""));
    } else if (!text.empty()) {
        // A changing value: nothing half-read and nothing mixed; the text is the whole of a
        // version that was stored as text.
        FUZZ_CHECK(text.size() <= std::max(versions[0].bytes.size(), versions[1].bytes.size()) / 2);
        bool matches = false;
        for (const auto& version : versions) {
            matches = matches || (isText(version.type) && text == expectedText(version.bytes));
        }
        FUZZ_CHECK(matches);
    }
    return 0;
}
