#pragma once
// The program's start-up flow, shared by wWinMain and the host tests.

#include <memory>
#include <string>

#include "engine/game_uninstall_helper.h"

// The one engine of the process, kept until the process ends.
extern std::shared_ptr<GameUninstallHelper> g_helper;

// Runs the whole program for the command-line text that follows the program's name and
// returns the exit status (unless an event reaction ends the process first).
int runUninstaller(const std::wstring& commandLineText);
