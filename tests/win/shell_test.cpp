// Shell services under Wine: folders, the protected folders, starting programs and the shell's
// delete operation (a stub in Wine 8).

#include "platform/shell.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it depends on (the comment keeps clang-format from sorting it).
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "tests/win/test_support.h"

namespace {

using gu_test::narrow;
using gu_test::present;
using gu_test::samePath;
using gu_test::ScratchFolder;

// True when list holds path with that guard, compared as Windows compares paths.
bool holdsPath(const std::vector<platform::ProtectedFolder>& list, const std::wstring& path,
               platform::FolderGuard guard) {
    return std::any_of(list.begin(), list.end(), [&](const platform::ProtectedFolder& item) {
        return samePath(item.path, path) && item.guard == guard;
    });
}

TEST(ShellFolders, FolderPathAndProtectedFoldersNameTheSystemAndUserFolders) {
    const std::wstring local = platform::folderPath(platform::kCsidlLocalAppData);
    EXPECT_TRUE(samePath(local, gu_test::environment(L"LOCALAPPDATA"))) << narrow(local);
    EXPECT_EQ(platform::folderPath(0x00ff), L"");  // no such folder

    const std::vector<platform::ProtectedFolder> folders = platform::protectedFolders();
    for (const auto& folder : folders) {
        EXPECT_EQ(platform::fs::pathForm(folder.path), platform::fs::PathForm::full)
            << narrow(folder.path);
    }
    wchar_t windows[MAX_PATH] = {};
    wchar_t system[MAX_PATH] = {};
    wchar_t wow64[MAX_PATH] = {};
    ASSERT_GT(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    ASSERT_GT(GetSystemWow64DirectoryW(wow64, MAX_PATH), 0u);
    const std::wstring profile = gu_test::environment(L"USERPROFILE");
    const std::wstring programData = gu_test::environment(L"ProgramData");
    using platform::FolderGuard;
    const std::pair<std::wstring, FolderGuard> expected[] = {
        {windows, FolderGuard::wholeTree},
        {system, FolderGuard::itself},
        {wow64, FolderGuard::itself},
        {gu_test::environment(L"ProgramFiles"), FolderGuard::itself},
        {gu_test::environment(L"ProgramFiles(x86)"), FolderGuard::itself},
        {gu_test::environment(L"CommonProgramFiles"), FolderGuard::wholeTree},
        {gu_test::environment(L"CommonProgramFiles(x86)"), FolderGuard::wholeTree},
        {programData, FolderGuard::itself},
        {programData + L"\\Microsoft", FolderGuard::wholeTree},
        {gu_test::environment(L"PUBLIC"), FolderGuard::itself},
        {profile, FolderGuard::itself},
        {profile.substr(0, profile.find_last_of(L'\\')), FolderGuard::children},  // users' root
        {platform::folderPath(platform::kCsidlDesktopCreate), FolderGuard::itself},
        {platform::folderPath(platform::kCsidlProgramsCreate), FolderGuard::itself},
        {platform::folderPath(CSIDL_PERSONAL), FolderGuard::itself},
        {platform::folderPath(CSIDL_STARTUP), FolderGuard::itself},
        {local, FolderGuard::platformData},
        {platform::folderPath(CSIDL_APPDATA), FolderGuard::itself},
    };
    for (const auto& [folder, guard] : expected) {
        EXPECT_TRUE(!folder.empty() && holdsPath(folders, folder, guard)) << narrow(folder);
    }
}

// The child sleeps before it writes its report: after shellRunAs's wait the report must
// be there, while shellOpen's caller has to wait for it.
TEST(ShellStart, OpenAndRunAsStartTheProgramWithItsParameters) {
    ScratchFolder folder;
    const std::wstring program = folder / L"child.exe";
    gu_test::copyChildProgram(program);

    const std::wstring opened = folder / L"opened.txt";
    EXPECT_TRUE(platform::shellOpen(program, L"\"" + opened + L"\" 0 --opened"));
    EXPECT_NE(
        gu_test::waitForReport(opened, 20000).commandLine.find(L"\"" + opened + L"\" 0 --opened"),
        std::wstring::npos);
    EXPECT_FALSE(platform::shellOpen(folder / L"missing.exe", L""));

    const std::wstring elevated = folder / L"elevated.txt";
    platform::ProcessHandle process;
    unsigned long lastError = 0;
    ASSERT_TRUE(
        platform::shellRunAs(program, L"\"" + elevated + L"\" 700 --elevated", process, lastError))
        << lastError;
    ASSERT_TRUE(process.valid());
    process.waitForExit();
    EXPECT_TRUE(present(elevated));
    EXPECT_NE(gu_test::waitForReport(elevated, 0).commandLine.find(L" 700 --elevated"),
              std::wstring::npos);
}

TEST(ShellStart, ProcessHandleClosesWhatItOwns) {
    platform::ProcessHandle empty;
    EXPECT_FALSE(empty.valid());
    empty.waitForExit();  // nothing to wait for: returns at once

    HANDLE first = nullptr;
    HANDLE second = nullptr;
    const HANDLE self = GetCurrentProcess();
    ASSERT_TRUE(DuplicateHandle(self, self, self, &first, 0, FALSE, DUPLICATE_SAME_ACCESS));
    ASSERT_TRUE(DuplicateHandle(self, self, self, &second, 0, FALSE, DUPLICATE_SAME_ACCESS));
    DWORD flags = 0;
    {
        platform::ProcessHandle owner;
        owner.reset(first);
        EXPECT_TRUE(owner.valid());
        owner.reset(second);  // closes the first
        EXPECT_FALSE(GetHandleInformation(first, &flags));
        EXPECT_TRUE(GetHandleInformation(second, &flags));
    }  // closes the second
    EXPECT_FALSE(GetHandleInformation(second, &flags));
}

// Wine 8's IFileOperation answers E_NOTIMPL, so the operation reports failure and the
// item stays. COM must be left as it was found: uninitialised again after the call, and
// a multithreaded apartment (where the call fails at once) still initialised.
TEST(ShellDelete, FailsUnderWineLeavingTheItemAndTheThreadsCom) {
    ScratchFolder folder;
    const std::wstring file = folder / L"victim.txt";
    gu_test::writeFile(file);

    bool onFreshThread = true;
    HRESULT afterFresh = E_FAIL;
    bool onMultithreaded = true;
    HRESULT afterMultithreaded = E_FAIL;
    std::thread([&] {
        onFreshThread = platform::shellDeleteItem(file);
        afterFresh = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_OK only if uninitialised
        onMultithreaded = platform::shellDeleteItem(file);
        afterMultithreaded = CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // S_FALSE: still on
        if (SUCCEEDED(afterMultithreaded)) CoUninitialize();
        if (SUCCEEDED(afterFresh)) CoUninitialize();
    }).join();
    EXPECT_FALSE(onFreshThread);
    EXPECT_EQ(afterFresh, S_OK);
    EXPECT_FALSE(onMultithreaded);
    EXPECT_EQ(afterMultithreaded, S_FALSE);
    EXPECT_TRUE(present(file));
    EXPECT_FALSE(platform::shellDeleteItem(folder / L"missing.txt"));
}

}  // namespace
