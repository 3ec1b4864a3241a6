// The texts the user reads and the reactions to the engine's events.
#include "app/uninstall_messages.h"

#include <string>

#include "log/logger.h"
#include "platform/ui.h"

std::map<std::string, const wchar_t*> g_uninstallMessages;

void initUninstallMessages() {
    g_uninstallMessages.clear();
    g_uninstallMessages["uninstall start"] =
        L"해당 게임을 삭제하시겠습니까?\n삭제 시 개인 파일(스크린 샷 등) 모두 제거됩니다.";
    g_uninstallMessages["uninstall success"] = L"게임이 삭제되었습니다.";
    g_uninstallMessages["uninstall fail"] = L"게임 삭제에 실패하였습니다.";
}

namespace {

// Shows a result box and ends the process. When the box cannot be shown the process
// ends all the same: nothing else would end the main thread's message loop.
void showResultAndExit(const std::wstring& text, const std::wstring& caption) {
    platform::messageBox(text, caption, platform::kMbOkExclamation);
    platform::exitProcess(0);
}

}  // namespace

void onUninstallEvent(const UninstallEvent& event) {
    switch (event.code) {
        case Success:
            showResultAndExit(g_uninstallMessages["uninstall success"], L"");
            return;
        case Fail:
        case GameInfoNotFound:
        case GameTitleNotFound:
        case 5:
        case 6:
        case GameRunning: {
            const std::wstring text = std::wstring(g_uninstallMessages["uninstall fail"]) +
                                      L"\n(Error Code=" + std::to_wstring(event.code) + L")";
            LOG_ERROR << L"Fail to uninstall due to error(" << event.code << L")";
            showResultAndExit(text, L"Error");
            return;
        }
        default:
            return;  // Start, and codes the engine never sends
    }
}
