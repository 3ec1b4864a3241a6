// The zone label of the temporary manifest's name, for any environment token.
#include "engine/game_uninstall_helper.h"
#include "fuzz_common.h"

// Reaches the engine's private member (the engine names this class its friend).
class EngineTestAccess {
public:
    static std::wstring manifestZone(const GameUninstallHelper& engine) {
        return engine._manifestZone();
    }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring env = utf16Text(data, size);
    const GameUninstallHelper engine(L"77", env, false);
    const std::wstring zone = EngineTestAccess::manifestZone(engine);

    // The token without one leading "_".
    const std::wstring bare = !env.empty() && env[0] == L'_' ? env.substr(1) : env;
    // "DMQS" for "RIVA6", "live" for nothing, else the text itself (so the tokens "DMQS"
    // and "live" give the same labels as "RIVA6" and the empty token).
    if (bare == L"RIVA6")
        FUZZ_CHECK(zone == L"DMQS");
    else if (bare.empty())
        FUZZ_CHECK(zone == L"live");
    else
        FUZZ_CHECK(zone == bare);
    return 0;
}
