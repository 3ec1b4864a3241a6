#pragma once
// What the engine reports to the shell: the start of a run and its one outcome.

#include <cstdint>
#include <string>

enum UninstallCode : std::int32_t {
    Start = 0,
    Success = 1,
    Fail = 2,
    GameInfoNotFound = 3,
    GameTitleNotFound = 4,
    GameRunning = 7,
};

// One event, valid only during the callback that receives it.
struct UninstallEvent {
    std::int32_t code = Start;
    std::wstring gameNo;
    std::wstring message;  // the game title on Success, empty otherwise
};
