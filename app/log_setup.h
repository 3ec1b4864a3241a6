#pragma once
// Where this environment's log file lives, and setting the log up there.

#include <string>

// <local app data>\VEXAL<env without one leading "_">\Logs\GameUninstaller.log, or empty
// when the local application data folder is unknown.
std::wstring logFilePath(const std::wstring& env);

// Sets the log up with threshold info on that path; never fails visibly.
void initLogFile(const std::wstring& env);
