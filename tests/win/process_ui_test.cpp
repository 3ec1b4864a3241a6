// Processes and user interface: the single-instance mutex, the process walk, the message
// loop, ending the process and message boxes.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/process.h"
#include "platform/shell.h"
#include "platform/ui.h"
#include "tests/win/test_support.h"

namespace {

using gu_test::narrow;

// A mutex name no other test run uses.
std::wstring uniqueName(const wchar_t* what) {
    return std::wstring(L"gu_test_") + what + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount64());
}

TEST(ProcessSingleInstance, SecondClaimOfANameFails) {
    const std::wstring name = uniqueName(L"mutex");
    EXPECT_TRUE(platform::claimSingleInstance(name));
    EXPECT_FALSE(platform::claimSingleInstance(name));
    EXPECT_TRUE(platform::claimSingleInstance(name + L"_other"));

    // The first claim's handle is still held: the mutex can be opened by name.
    const HANDLE held = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    EXPECT_NE(held, nullptr);
    if (held != nullptr) CloseHandle(held);
}

TEST(ProcessImages, WalkFindsARunningProgramAndStopsWhenAsked) {
    gu_test::ScratchFolder folder;
    const std::wstring program = folder / L"running.exe";
    gu_test::copyChildProgram(program);
    gu_test::ChildProcess child(program, L"\"" + (folder / L"report.txt") + L"\" 2000");
    ASSERT_TRUE(child.started());

    int visits = 0;
    int found = 0;
    EXPECT_TRUE(platform::forEachProcessImage([&](const std::wstring& image) {
        ++visits;
        EXPECT_FALSE(image.empty());
        EXPECT_EQ(image.find(L'\0'), std::wstring::npos);
        if (gu_test::samePath(image, program)) ++found;
        return false;
    }));
    EXPECT_EQ(found, 1) << narrow(program);
    EXPECT_GT(visits, 2);  // Wine's own services run in the prefix too

    int stopped = 0;
    EXPECT_TRUE(platform::forEachProcessImage([&](const std::wstring&) {
        ++stopped;
        return true;
    }));
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(child.wait(), 0u);
}

// Posts WM_QUIT with the exit code 7 when the timer fires.
void CALLBACK quitFromTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostQuitMessage(7);
}

TEST(UiMessageLoop, ReturnsTheQuitCodeAndDispatchesOnTheWay) {
    PostQuitMessage(42);
    EXPECT_EQ(platform::runMessageLoop(), 42);

    // The timer's callback runs only when the loop dispatches WM_TIMER.
    ASSERT_NE(SetTimer(nullptr, 0, 10, quitFromTimer), 0u);
    EXPECT_EQ(platform::runMessageLoop(), 7);
}

TEST(UiExitProcess, EndsTheProcessWithTheStatusFromAnyThread) {
    gu_test::ScratchFolder folder;
    const std::wstring program = folder / L"exiting.exe";
    gu_test::copyChildProgram(program);
    gu_test::ChildProcess direct(program, L"--exit 3");
    EXPECT_EQ(direct.wait(), 3u);
    // From a worker thread while the main thread waits in the message loop.
    gu_test::ChildProcess fromWorker(program, L"--exit-from-worker 5");
    EXPECT_EQ(fromWorker.wait(), 5u);
}

// Presses a button of the first box captioned `caption`, waiting up to 10 s for it, and
// records the box's text.
void pressWhenShown(const std::wstring& caption, int button, std::wstring& text) {
    for (int tries = 0; tries < 1000; ++tries) {
        const HWND box = FindWindowW(L"#32770", caption.c_str());
        if (box != nullptr) {
            wchar_t buffer[256] = {};
            GetDlgItemTextW(box, 0xFFFF, buffer, 256);
            text = buffer;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            return;
        }
        Sleep(10);
    }
}

TEST(UiMessageBox, ReturnsThePressedButtonOrZeroWithoutADisplay) {
    const std::wstring caption = uniqueName(L"box");
    const std::wstring text = L"Remove the game? \uAC8C\uC784";
    if (gu_test::environment(L"DISPLAY").empty()) {
        // Without a display Wine's MessageBoxW gives -1: no box was shown.
        EXPECT_EQ(platform::messageBox(text, caption, platform::kMbYesNoExclamation), 0);
        return;
    }
    std::wstring shownText;
    std::thread presser(pressWhenShown, caption, platform::kIdYes, std::ref(shownText));
    const int answer = platform::messageBox(text, caption, platform::kMbYesNoExclamation);
    presser.join();
    EXPECT_EQ(answer, platform::kIdYes);
    EXPECT_EQ(shownText, text);
}

}  // namespace
