#pragma once
// The texts the user reads, and the shell's reaction to the engine's events.

#include <map>
#include <string>

#include "engine/uninstall_event.h"

extern std::map<std::string, const wchar_t*> g_uninstallMessages;

// Fills g_uninstallMessages with the question, success and failure texts.
void initUninstallMessages();

// Shows the result of a final event and ends the process with status 0 once the user
// has pressed OK, or when the box cannot be shown; ignores every other event.
void onUninstallEvent(const UninstallEvent& event);
