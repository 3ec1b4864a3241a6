#pragma once
// The uninstall engine: runs the clean-up steps of one game, in a fixed order, on a
// worker thread of its own, and reports the start and the outcome through onEvent.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "engine/uninstall_event.h"
#include "platform/file_system.h"
#include "platform/registry.h"

class GameUninstallHelper {
public:
    GameUninstallHelper(std::wstring gameNo, std::wstring env, bool elevated);
    // Joins the worker, unless the worker itself is ending the process (see worker.cpp).
    ~GameUninstallHelper();
    GameUninstallHelper(const GameUninstallHelper&) = delete;
    GameUninstallHelper& operator=(const GameUninstallHelper&) = delete;

    // Starts the worker thread. Throws std::system_error when it cannot be created.
    void start();
    // Waits for the worker thread when there is one.
    void join();

private:
    friend class EngineTestAccess;

    // Reads one text value below HKEY_CURRENT_USER; empty when missing, not text or empty.
    static std::wstring _regReadString(const std::wstring& subKey, const std::wstring& valueName);
    // The game record key: Software\ORBA<env>\Apps\<gameNo>.
    std::wstring _gameRecordKey() const;
    // The zone label of the temporary manifest's name.
    std::wstring _manifestZone() const;

    // The engine's own removal of the open folder `dir` (named `path` in the log) and
    // everything in it, shared by the steps; `dir` is left empty once the folder is gone.
    static void _removeDirectoriesRecursive(platform::fs::OpenItem& dir,
                                            const platform::fs::Path& path);
    // Removes the item `name` of the game folder with everything in it, the engine's own
    // removal first and then the whole-tree removal; true when something was there.
    bool _removeFromGameFolder(const std::wstring& gamePath, const std::wstring& name);

    void _worker();
    void _emitEvent(std::int32_t code, const std::wstring& message);

    // The steps, in the worker's order.
    bool _readGameInfo(std::wstring& gamePath, std::wstring& gameTitle, std::wstring& recordGameNo,
                       std::int32_t& errorCode);
    bool _isGameRunning(const std::wstring& gamePath) const;
    bool _findUninstallKey(std::wstring& uninstallKeyPath, std::uint32_t& view);
    void _deleteInstallTempFiles(const std::wstring& gamePath);
    bool _deleteGameFolder(const std::wstring& gamePath);
    void _relaunchElevated();
    void _deleteTmpManifest(const std::wstring& recordGameNo);
    void _deleteCombinedataManifest(const std::wstring& gamePath);
    void _deleteGameShortcuts(const std::wstring& gameTitle);
    static void _regDeleteKey(platform::RegRoot root, const std::wstring& subKey,
                              std::uint32_t view);

    std::wstring _gameNo;
    std::wstring _env;
    bool _elevated;
    // The game folder, opened as itself when the record is read and judged through this
    // handle; every later step reaches the folder only through it, never by its path
    // again. Empty when no folder was there, and once the folder is gone.
    platform::fs::OpenItem _gameFolder;

public:
    // Receives every event, on the worker thread; empty in the elevated copy.
    std::function<void(const UninstallEvent&)> onEvent;

private:
    std::thread _thread;
    std::mutex _startMutex;  // held while start() stores _thread; see start()
};

// The title with the nine characters that Windows forbids in file names removed.
std::wstring _sanitizeFileName(const std::wstring& name);
