// Starting this program again with administrator rights and waiting for it.
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/shell.h"

void GameUninstallHelper::_relaunchElevated() {
    const std::wstring executable = platform::moduleFileName();
    std::wstring parameters = _gameNo;
    if (!_env.empty()) parameters += L" " + _env;
    parameters += L" --elevated";

    platform::ProcessHandle process;
    unsigned long lastError = 0;
    if (!platform::shellRunAs(executable, parameters, process, lastError)) {
        LOG_ERROR << L"ShellExecuteEx runas failed: " << lastError;
        return;
    }
    // Only whether the folder is gone afterwards counts; the exit code is not read.
    if (process.valid()) process.waitForExit();
}
