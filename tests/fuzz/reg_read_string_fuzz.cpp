// RegKey::readString against the simulated registry: arbitrary types and bytes, and a value
// that may change between the size query and the read.
//
// Input: byte 0 = first type (bits 0-2), value missing (bit 6); byte 1 = query after which
// the value changes (bits 0-2, 0 = never), keeps flipping between its two versions from
// then on (bit 3), second type (bits 4-6); byte 2 = byte count of the first version when it
// changes; the rest = the data (first version, then second version).
#include "fuzz_common.h"
#include "platform/sim/sim_control.h"

namespace {

namespace sim = platform::sim;
const std::wstring kKey = L"Software\\ORBA_qa\\Apps\\77";
const std::wstring kKept(L"kept\0", 5);  // ends in a NUL, which no read gives

struct Version {
    std::uint32_t type;
    std::string bytes;
};

// What the read must give for a version: nothing when it is not text, else its whole
// UTF-16LE units (an odd last byte left out) without trailing NULs.
std::wstring expected(const Version& version) {
    if (version.type != platform::kRegSz && version.type != platform::kRegExpandSz) return kKept;
    std::wstring text = utf16Text(reinterpret_cast<const std::uint8_t*>(version.bytes.data()),
                                  version.bytes.size());
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned changeAfter = data[1] & 7;
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t firstBytes =
        changeAfter ? std::min<std::size_t>(data[2], rest.size()) : rest.size();
    const Version versions[2] = {{data[0] & 7u, rest.substr(0, firstBytes)},
                                 {(data[1] >> 4) & 7u, rest.substr(firstBytes)}};
    const bool missing = data[0] & 0x40;

    sim::reset();
    sim::createKey(platform::RegRoot::currentUser, 0, kKey);
    if (!missing) {
        sim::setValue(platform::RegRoot::currentUser, 0, kKey, L"V", versions[0].type,
                      versions[0].bytes);
    }
    unsigned queries = 0;
    int current = 0;
    if (changeAfter != 0 && !missing) {
        sim::onValueQuery([&] {
            if (++queries == changeAfter || ((data[1] & 8) && queries > changeAfter)) {
                current = 1 - current;
                sim::setValue(platform::RegRoot::currentUser, 0, kKey, L"V", versions[current].type,
                              versions[current].bytes);
            }
        });
    }
    platform::RegKey key;
    std::wstring text = kKept;
    FUZZ_CHECK(key.open(platform::RegRoot::currentUser, kKey, platform::kKeyRead) == 0);
    const long status = key.readString(L"V", text);
    sim::reset();  // drops the hook, which refers to this call's locals

    FUZZ_CHECK((status == 0) == (text != kKept));
    if (missing) {
        FUZZ_CHECK(status == platform::kErrorFileNotFound);
    } else if (changeAfter == 0) {
        FUZZ_CHECK(text == expected(versions[0]));
    } else {
        // Nothing half-read and nothing mixed: the whole of a version, or a failure.
        FUZZ_CHECK(text == kKept || text == expected(versions[0]) || text == expected(versions[1]));
    }
    return 0;
}
