// User interface: message boxes, the message loop and ending the process.

#include "platform/ui.h"

#include <windows.h>

#include <cstdlib>

namespace platform {

// MessageBoxW without an owner. It gives 0 when it fails, and Wine gives -1 when it has no
// display; both mean no box was shown.
int messageBox(const std::wstring& text, const std::wstring& caption, unsigned style) {
    const int result = MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
    return result > 0 ? result : 0;
}

// GetMessageW loop until WM_QUIT; a failing GetMessageW (-1) ends it with 0 instead of
// spinning on the error.
int runMessageLoop() {
    MSG message = {};
    while (true) {
        const BOOL result = GetMessageW(&message, nullptr, 0, 0);
        if (result == 0) return static_cast<int>(message.wParam);
        if (result == -1) return 0;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// exit(): runs the C++ exit handlers and ends every thread of the process.
void exitProcess(int status) { std::exit(status); }

}  // namespace platform
