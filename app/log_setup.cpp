// The log file's place per environment, and setting the log up there.
#include "app/log_setup.h"

#include "engine/game_folder_rules.h"
#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/shell.h"

std::wstring logFilePath(const std::wstring& env) {
    std::wstring suffix = env;
    if (!suffix.empty() && suffix.front() == L'_') suffix.erase(0, 1);  // one underscore only
    const std::wstring localAppData = platform::folderPath(platform::kCsidlLocalAppData);
    // Without the folder the path would be rooted at the current drive, and a token with
    // separators would lead elsewhere: no log then.
    if (localAppData.empty() || !isPlainFileName(L"VEXAL" + suffix)) return L"";
    return platform::fs::localSeparators(localAppData + L"\\VEXAL" + suffix +
                                         L"\\Logs\\GameUninstaller.log");
}

void initLogFile(const std::wstring& env) {
    const std::wstring path = logFilePath(env);
    if (!path.empty()) logging::init(logging::Severity::info, path);
}
