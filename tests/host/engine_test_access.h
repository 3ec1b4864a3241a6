#pragma once
// The one back door to the engine's private steps, for the unit tests and fuzz targets
// (the engine names this class its friend).

#include <filesystem>
#include <string>

#include "engine/game_uninstall_helper.h"

namespace stdfs = std::filesystem;

// Reaches the engine's private steps from tests.
class EngineTestAccess {
public:
    explicit EngineTestAccess(GameUninstallHelper& engine) : _engine(engine) {}
    bool readGameInfo(std::wstring& path, std::wstring& title, std::wstring& no,
                      std::int32_t& code) {
        return _engine._readGameInfo(path, title, no, code);
    }
    bool isGameRunning(const std::wstring& path) { return _engine._isGameRunning(path); }
    bool findUninstallKey(std::wstring& path, std::uint32_t& view) {
        return _engine._findUninstallKey(path, view);
    }
    void deleteInstallTempFiles(const std::wstring& path) { _engine._deleteInstallTempFiles(path); }
    bool deleteGameFolder(const std::wstring& path) { return _engine._deleteGameFolder(path); }
    void deleteTmpManifest(const std::wstring& no) { _engine._deleteTmpManifest(no); }
    void deleteCombinedataManifest(const std::wstring& path) {
        _engine._deleteCombinedataManifest(path);
    }
    void deleteGameShortcuts(const std::wstring& title) { _engine._deleteGameShortcuts(title); }
    std::wstring manifestZone() const { return _engine._manifestZone(); }
    static std::wstring regReadString(const std::wstring& key, const std::wstring& name) {
        return GameUninstallHelper::_regReadString(key, name);
    }
    static void removeDirectoriesRecursive(const stdfs::path& dir) {
        GameUninstallHelper::_removeDirectoriesRecursive(dir);
    }
    static bool shellDeleteItem(const stdfs::path& item) {
        return GameUninstallHelper::_shellDeleteItem(item);
    }

private:
    GameUninstallHelper& _engine;
};
