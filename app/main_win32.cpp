// The Windows entry point: everything happens in runUninstaller.
#include <windows.h>

#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    return runUninstaller(commandLine ? commandLine : L"");
}
