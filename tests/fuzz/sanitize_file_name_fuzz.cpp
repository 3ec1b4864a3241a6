// _sanitizeFileName: removes exactly the nine characters Windows forbids in file names.
#include "engine/game_uninstall_helper.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring name = utf16Text(data, size);
    const std::wstring cleaned = _sanitizeFileName(name);

    const std::wstring forbidden = L"|\\?*<\":>/";
    FUZZ_CHECK(cleaned.find_first_of(forbidden) == std::wstring::npos);
    // The input with those characters removed and nothing else changed, order kept.
    std::wstring expected;
    for (wchar_t c : name) {
        if (forbidden.find(c) == std::wstring::npos) expected.push_back(c);
    }
    FUZZ_CHECK(cleaned == expected);
    return 0;
}
