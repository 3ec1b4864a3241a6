// Removes one folder with the engine's own folder removal on the host, for scripts/bench.
//   gu_bench_host_remove FOLDER
// Exits with 0 when the folder is gone afterwards, 1 when it stays, 64 on wrong usage.
// The engine runs as its elevated copy (no relaunch) with no log set up, on the simulated
// platform: the shell's delete is unavailable there, so the engine's own walk does the work.
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/game_uninstall_helper.h"

// The engine names this class its friend; the tests define their own, this program this one.
class EngineTestAccess {
public:
    static bool deleteGameFolder(const std::wstring& folder) {
        GameUninstallHelper engine(L"77", L"", true);
        return engine._deleteGameFolder(folder);
    }
};

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 64;
    }
    const std::filesystem::path folder(argv[1]);
    const bool removed = EngineTestAccess::deleteGameFolder(folder.wstring());
    std::error_code ec;
    if (!removed || std::filesystem::exists(std::filesystem::symlink_status(folder, ec))) {
        std::fprintf(stderr, "host_remove: %s was not removed\n", argv[1]);
        return 1;
    }
    return 0;
}
