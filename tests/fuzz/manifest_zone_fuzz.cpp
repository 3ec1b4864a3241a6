// The zone label of the temporary manifest's name, for any environment token.
#include "fuzz_common.h"
#include "tests/host/engine_test_access.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring env = utf16Text(data, size);
    GameUninstallHelper engine(L"77", env, false);
    const std::wstring zone = EngineTestAccess(engine).manifestZone();
    // The token without one leading "_": "DMQS" for "RIVA6", "live" for nothing, else itself.
    const std::wstring bare = !env.empty() && env[0] == L'_' ? env.substr(1) : env;
    FUZZ_CHECK(zone == (bare == L"RIVA6" ? L"DMQS" : bare.empty() ? L"live" : bare));
    return 0;
}
