#pragma once
// User interface: message boxes, the message loop and ending the process.

#include <string>

namespace platform {

constexpr unsigned kMbOkExclamation = 0x30;     // MB_OK | MB_ICONEXCLAMATION
constexpr unsigned kMbYesNoExclamation = 0x34;  // MB_YESNO | MB_ICONEXCLAMATION
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;

// MessageBoxW with no owner; returns the button pressed, or 0 when no box could be shown.
int messageBox(const std::wstring& text, const std::wstring& caption, unsigned style);

// Pumps the calling thread's messages until WM_QUIT and returns its wParam.
int runMessageLoop();

// Ends the whole process with the status (exit). Safe to call from the worker thread.
void exitProcess(int status);

}  // namespace platform
