#pragma once
// Handing the uninstall over to the platform's launcher when one is installed.

#include <string>

// The "deletegame" URL for the launcher, or empty when the game number or environment
// token holds characters that could split or quote it on the launcher's command line.
std::wstring launcherUrl(const std::wstring& gameNo, const std::wstring& env);

// Starts the launcher of the same environment with the URL. True when it was started;
// false (nothing done) when no usable launcher is installed or it could not be started.
bool handOffToLauncher(const std::wstring& gameNo, const std::wstring& env);
