// The start-up flow: command line, single instance, launcher hand-off, the question,
// and the engine's run in a normal or an elevated process.
#include "app/startup.h"

#include <functional>
#include <system_error>

#include "app/command_line.h"
#include "app/launcher_handoff.h"
#include "app/log_setup.h"
#include "app/uninstall_messages.h"
#include "platform/process.h"
#include "platform/ui.h"

std::shared_ptr<GameUninstallHelper> g_helper;

namespace {

// Starts the worker; a worker that cannot be started is reported like a failed run.
bool startWorker(const CommandLine& commandLine) {
    try {
        g_helper->start();
        return true;
    } catch (const std::system_error&) {
        if (!commandLine.elevated) onUninstallEvent(UninstallEvent{Fail, commandLine.gameNo, L""});
        return false;
    }
}

}  // namespace

int runUninstaller(const std::wstring& commandLineText) {
    const CommandLine commandLine = readCommandLine(splitCommandLine(commandLineText));
    if (!commandLine.hasGameNo) {
        if (platform::messageBox(L"No Args", L"Error", platform::kMbOkExclamation) !=
            platform::kIdOk) {
            return 1;
        }
        platform::exitProcess(0);
        return 0;
    }

    // The elevated copy runs while the process that started it holds the guard and waits.
    if (!commandLine.elevated) {
        if (!platform::claimSingleInstance(L"game_uninstaller")) return 1;
        if (handOffToLauncher(commandLine.gameNo, commandLine.env)) return 1;
    }

    initUninstallMessages();
    initLogFile(commandLine.env);
    g_helper = std::make_shared<GameUninstallHelper>(commandLine.gameNo, commandLine.env,
                                                     commandLine.elevated);

    if (commandLine.elevated) {
        if (startWorker(commandLine)) g_helper->join();
        return 0;
    }

    g_helper->onEvent = [](const UninstallEvent& event) { onUninstallEvent(event); };
    std::function<void()> onConfirmed = [&commandLine] { startWorker(commandLine); };
    if (platform::messageBox(g_uninstallMessages["uninstall start"], L"",
                             platform::kMbYesNoExclamation) != platform::kIdYes) {
        platform::exitProcess(0);
        return 0;
    }
    onConfirmed();
    onConfirmed = nullptr;

    // Keeps the main thread alive; the reaction to the final event ends the process.
    return platform::runMessageLoop();
}
