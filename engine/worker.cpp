// The engine's lifetime, its worker thread and the fixed order of the clean-up steps.
#include <mutex>
#include <system_error>

#include "engine/game_uninstall_helper.h"
#include "log/logger.h"

GameUninstallHelper::GameUninstallHelper(std::wstring gameNo, std::wstring env, bool elevated)
    : _gameNo(std::move(gameNo)), _env(std::move(env)), _elevated(elevated) {}

GameUninstallHelper::~GameUninstallHelper() {
    // The shell ends the process with exit() from inside the worker's callback, and the
    // last owner of the engine is released during that exit, on the worker thread. A
    // thread cannot join itself (std::thread would abort the process), so the worker is
    // let go: the process is ending and takes the thread with it.
    if (_thread.joinable() && _thread.get_id() == std::this_thread::get_id()) {
        _thread.detach();
        return;
    }
    join();
}

void GameUninstallHelper::start() {
    // std::thread reports a thread that cannot be created with std::system_error
    // (resource_unavailable_try_again); the caller decides what that means. The worker
    // may run before the new thread object is stored in _thread; the lock, which the
    // worker takes first, orders that store before anything the worker does, including
    // the destructor's look at _thread when the worker itself ends the process.
    std::lock_guard<std::mutex> lock(_startMutex);
    _thread = std::thread(&GameUninstallHelper::_worker, this);
}

void GameUninstallHelper::join() {
    if (_thread.joinable()) _thread.join();
}

void GameUninstallHelper::_emitEvent(std::int32_t code, const std::wstring& message) {
    if (!onEvent) return;
    const UninstallEvent event{code, _gameNo, message};
    onEvent(event);
}

std::wstring GameUninstallHelper::_gameRecordKey() const {
    return L"Software\\ORBA" + _env + L"\\Apps\\" + _gameNo;
}

void GameUninstallHelper::_worker() {
    { std::lock_guard<std::mutex> waitForStart(_startMutex); }
    // Every step, the Start event included, runs inside one try block: whatever escapes a
    // step or the callback is logged and ends the run with Fail.
    try {
        _emitEvent(Start, L"");

        std::wstring gamePath;
        std::wstring gameTitle;
        std::wstring recordGameNo;
        std::int32_t errorCode = 0;
        if (!_readGameInfo(gamePath, gameTitle, recordGameNo, errorCode)) {
            _emitEvent(errorCode, L"");
            return;
        }

        if (_isGameRunning(gamePath)) {
            LOG_ERROR << L"Game is currently running, cannot uninstall: " << gamePath;
            _emitEvent(GameRunning, L"");
            return;
        }

        // Looked up before anything is deleted; deleted only once the folder is gone.
        std::wstring uninstallKeyPath;
        std::uint32_t view = 0;
        const bool uninstallKeyFound = _findUninstallKey(uninstallKeyPath, view);

        _deleteInstallTempFiles(gamePath);

        if (!_deleteGameFolder(gamePath)) {
            _emitEvent(Fail, L"");
            return;
        }

        _deleteTmpManifest(recordGameNo);
        _deleteCombinedataManifest(gamePath);
        _deleteGameShortcuts(gameTitle);

        if (uninstallKeyFound)
            _regDeleteKey(platform::RegRoot::localMachine, uninstallKeyPath, view);
        _regDeleteKey(platform::RegRoot::currentUser, _gameRecordKey(), 0);

        _emitEvent(Success, gameTitle);
    } catch (const std::filesystem::filesystem_error& error) {
        LOG_ERROR << L"[_worker] filesystem_error: " << error.what() << L" path1="
                  << error.path1().wstring() << L" path2=" << error.path2().wstring();
        _emitEvent(Fail, L"");
    } catch (const std::exception& error) {
        LOG_ERROR << L"[_worker] std::exception: " << error.what();
        _emitEvent(Fail, L"");
    } catch (...) {
        LOG_ERROR << L"[_worker] unknown exception";
        _emitEvent(Fail, L"");
    }
}
