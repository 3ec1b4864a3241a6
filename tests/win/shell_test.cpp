// Shell services and processes under Wine: folders and the protected folders, starting
// programs and finding them running, the shell's delete operation (a stub in Wine 8), the
// single-instance mutex and the message loop. Message boxes, ending the process and the
// exit statuses are seen end to end (tests/e2e), where real boxes are read and pressed.

#include "platform/shell.h"

#include <algorithm>
#include <thread>

#include "platform/ui.h"
#include "tests/win/test_support.h"
// After windows.h, which it depends on (the comment keeps clang-format from sorting it).
#include <shlobj.h>

namespace {

using gu_test::environment;
using gu_test::narrow;
using gu_test::samePath;
using platform::FolderGuard;
using platform::folderPath;

TEST(ShellFolders, FolderPathAndProtectedFoldersNameTheSystemAndUserFolders) {
    EXPECT_TRUE(samePath(folderPath(platform::kCsidlLocalAppData), environment(L"LOCALAPPDATA")));
    EXPECT_EQ(folderPath(0x00ff), L"");  // no such folder
    const auto folders = platform::protectedFolders();
    for (const auto& folder : folders) {
        EXPECT_EQ(platform::fs::pathForm(folder.path), platform::fs::PathForm::full)
            << narrow(folder.path);
    }
    const std::wstring windows = environment(L"WINDIR");
    const std::wstring profile = environment(L"USERPROFILE");
    const std::wstring programData = environment(L"ProgramData");
    const std::pair<std::wstring, FolderGuard> expected[] = {
        {windows, FolderGuard::wholeTree},
        {windows + L"\\system32", FolderGuard::itself},
        {windows + L"\\syswow64", FolderGuard::itself},
        {environment(L"ProgramFiles"), FolderGuard::itself},
        {environment(L"ProgramFiles(x86)"), FolderGuard::itself},
        {environment(L"CommonProgramFiles"), FolderGuard::wholeTree},
        {environment(L"CommonProgramFiles(x86)"), FolderGuard::wholeTree},
        {programData, FolderGuard::itself},
        {programData + L"\\Microsoft", FolderGuard::wholeTree},
        {environment(L"PUBLIC"), FolderGuard::itself},
        {profile, FolderGuard::itself},
        {profile.substr(0, profile.find_last_of(L'\\')),
         FolderGuard::otherProfiles},  // users' root
        {folderPath(platform::kCsidlDesktopCreate), FolderGuard::itself},
        {folderPath(platform::kCsidlProgramsCreate), FolderGuard::itself},
        {folderPath(CSIDL_PERSONAL), FolderGuard::itself},
        {folderPath(CSIDL_STARTUP), FolderGuard::itself},
        {folderPath(platform::kCsidlLocalAppData), FolderGuard::platformData},
        {folderPath(CSIDL_APPDATA), FolderGuard::itself},
    };
    for (const auto& row : expected) {
        EXPECT_TRUE(!row.first.empty() && std::any_of(folders.begin(), folders.end(), [&](auto& f) {
            return samePath(f.path, row.first) && f.guard == row.second &&
                   (f.guard != FolderGuard::otherProfiles || samePath(f.own, profile));
        })) << narrow(row.first);
    }
}

// The helper writes its report at once and then stays 1.5 s: the process walk sees it
// until waitForExit has really waited for its end.
TEST(ShellStart, OpenAndRunAsStartTheProgramAndTheWalkFindsIt) {
    gu_test::ScratchFolder folder;
    const std::wstring program = folder / L"child.exe";
    gu_test::copyChildProgram(program);
    EXPECT_TRUE(platform::shellOpen(program, L"\"" + (folder / L"opened.txt") + L"\" 0 --opened"));
    EXPECT_NE(gu_test::waitForReport(folder / L"opened.txt", 20000).find(L"\" 0 --opened\n"),
              std::wstring::npos);
    EXPECT_FALSE(platform::shellOpen(folder / L"missing.exe", L""));

    platform::ProcessHandle process;
    unsigned long lastError = 0;
    const std::wstring args = L"\"" + (folder / L"elevated.txt") + L"\" 1500 --elevated";
    ASSERT_TRUE(platform::shellRunAs(program, args, process, lastError)) << lastError;
    EXPECT_NE(gu_test::waitForReport(folder / L"elevated.txt", 20000).find(args + L"\n"),
              std::wstring::npos);
    EXPECT_EQ(gu_test::running(program), 1);
    int visits = 0;
    EXPECT_TRUE(platform::forEachProcessImage([&](const std::wstring&) {
        ++visits;
        return true;
    }));
    EXPECT_EQ(visits, 1);  // the walk stops when asked
    process.waitForExit();
    EXPECT_EQ(gu_test::running(program), 0);

    // A handle given to the owner closes the one it held before, and its end the last.
    HANDLE first = nullptr, second = nullptr, self = GetCurrentProcess();
    DWORD flags = 0;
    ASSERT_TRUE(DuplicateHandle(self, self, self, &first, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ASSERT_TRUE(DuplicateHandle(self, self, self, &second, 0, FALSE, DUPLICATE_SAME_ACCESS));
    process.reset(first);
    process.reset(second);
    EXPECT_FALSE(GetHandleInformation(first, &flags));
    process.reset();
    EXPECT_FALSE(GetHandleInformation(second, &flags));
}

// Posts WM_QUIT with the exit code 7 when the timer fires.
void CALLBACK quitFromTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    PostQuitMessage(7);
}

TEST(ProcessAndUi, MutexClaimsOnceAndTheLoopDispatchesUntilQuit) {
    const std::wstring name = L"gu_test_mutex_" + std::to_wstring(GetCurrentProcessId());
    EXPECT_TRUE(platform::claimSingleInstance(name));
    EXPECT_FALSE(platform::claimSingleInstance(name));
    EXPECT_TRUE(platform::claimSingleInstance(name + L"_other"));
    // The timer's callback runs only when the loop dispatches WM_TIMER.
    ASSERT_NE(SetTimer(nullptr, 0, 10, quitFromTimer), 0u);
    EXPECT_EQ(platform::runMessageLoop(), 7);
}

}  // namespace
