// Path handling: the extended-length form for Win32 calls, the classification of paths,
// and long and final names.

#include "platform/path_names.h"

#include <tuple>

#include "platform/win32/extended_path.h"
#include "tests/win/test_support.h"

namespace {

using gu_test::samePath;
using platform::fs::PathForm;
using platform::win32::extendedPath;

// Each path's extended-length form for Win32 calls (prefixed, dots resolved, relative forms
// made full from the current folder, set to a scratch folder here) and its form.
TEST(PathForms, ExtendedFormAndPathFormOfDriveShareAndOtherPaths) {
    gu_test::ScratchFolder folder;
    wchar_t previous[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    const std::wstring here = L"\\\\?\\" + folder.path(), drive = folder.path().substr(0, 2);
    const std::wstring up = here.substr(0, here.find_last_of(L'\\'));
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'a') + L"\\" + std::wstring(9, L'b');
    const std::tuple<std::wstring, std::wstring, PathForm> rows[] = {
        {L"", L"", PathForm::relative},
        {L"C:\\", L"\\\\?\\C:\\", PathForm::root},
        {L"d:/", L"\\\\?\\d:\\", PathForm::root},
        {L"C:\\Games\\Foo", L"\\\\?\\C:\\Games\\Foo", PathForm::full},
        {L"C:/Games/Foo/", L"\\\\?\\C:\\Games\\Foo\\", PathForm::full},
        {longPath, L"\\\\?\\" + longPath, PathForm::full},  // nothing cut past 260 characters
        {L"C:\\Games\\Foo\\..\\Bar", L"\\\\?\\C:\\Games\\Bar", PathForm::full},
        {L"C:\\Games\\.\\Foo", L"\\\\?\\C:\\Games\\Foo", PathForm::full},
        {L"C:\\Games\\\\Foo", L"\\\\?\\C:\\Games\\Foo", PathForm::full},
        {L"C:\\..", L"\\\\?\\C:\\", PathForm::full},
        // A last name's trailing dots and spaces go, as ordinary Win32 paths drop them.
        {L"C:\\Windows. ", L"\\\\?\\C:\\Windows", PathForm::full},
        {L"C:\\Games\\.hidden\\..x", L"\\\\?\\C:\\Games\\.hidden\\..x", PathForm::full},
        {L"\\\\server\\share", L"\\\\?\\UNC\\server\\share", PathForm::root},
        {L"//server/share/", L"\\\\?\\UNC\\server\\share\\", PathForm::root},
        {L"\\\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\dir", PathForm::full},
        {L"\\\\server\\share\\a\\..\\b", L"\\\\?\\UNC\\server\\share\\b", PathForm::full},
        {L"\\\\?\\C:\\Games", L"\\\\?\\C:\\Games", PathForm::relative},
        {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share", PathForm::relative},
        {L"sub\\file.txt", here + L"\\sub\\file.txt", PathForm::relative},
        {L"..\\other", up + L"\\other", PathForm::relative},
        {L"\\rooted\\x", L"\\\\?\\" + drive + L"\\rooted\\x", PathForm::relative},
        {drive + L"rel", here + L"\\rel", PathForm::relative},
    };
    for (const auto& [path, extended, form] : rows) {
        EXPECT_EQ(extendedPath(path), extended);
        EXPECT_EQ(platform::fs::pathForm(path), form) << gu_test::narrow(path);
    }
    // Wine may start a program outside every drive in a folder it cannot return to.
    if (!SetCurrentDirectoryW(previous)) {
        ASSERT_GT(GetWindowsDirectoryW(previous, MAX_PATH), 0u);
        ASSERT_TRUE(SetCurrentDirectoryW(previous));
    }
    // Forms alone: a share needs its server and share names, a drive its separator.
    const std::pair<const wchar_t*, PathForm> forms[] = {
        {L"C:", PathForm::relative},
        {L"1:\\Games", PathForm::relative},
        {L"C:Games", PathForm::relative},
        {L"/", PathForm::relative},
        {L"\\\\server", PathForm::relative},
        {L"\\\\server\\", PathForm::relative},
        {L"\\\\server\\\\x", PathForm::relative},
        {L"\\\\\\share\\x", PathForm::relative},  // no server name
        {L"\\\\", PathForm::relative},
        {L"\\\\.\\C:\\Games", PathForm::relative},
    };
    for (const auto& [path, form] : forms) {
        EXPECT_EQ(platform::fs::pathForm(path), form) << gu_test::narrow(path);
    }
}

// Wine gives names that are not 8.3 a short name, as Windows does on volumes that keep
// them; both functions give the long form back, in the ordinary form.
TEST(PathNames, ShortNamesAreMadeLongAndAbsentItemsOrPlacesOutsideDrivesHaveNone) {
    gu_test::ScratchFolder folder;
    const std::wstring longPath = folder / L"A folder with a long name";
    gu_test::makeFolder(longPath);
    std::wstring shortPath(MAX_PATH, L'\0');
    shortPath.resize(GetShortPathNameW(longPath.c_str(), shortPath.data(), MAX_PATH));
    ASSERT_FALSE(shortPath.empty() || samePath(shortPath, longPath));
    EXPECT_TRUE(samePath(platform::longPathName(shortPath), longPath));
    for (const std::wstring& name : {shortPath, L"\\\\?\\" + shortPath, shortPath + L"\\"}) {
        EXPECT_TRUE(samePath(platform::finalPathName(name), longPath)) << gu_test::narrow(name);
    }
    EXPECT_TRUE(samePath(platform::finalPathName(L"C:\\"), L"C:\\"));
    // The tests run outside every drive ("unix\..."), a place with no ordinary form.
    const std::wstring self = platform::moduleFileName();
    ASSERT_EQ(platform::fs::pathForm(self), PathForm::relative) << gu_test::narrow(self);
    EXPECT_EQ(platform::finalPathName(gu_test::longForm(self)), L"");
    for (const std::wstring& absent : {folder / L"absent", std::wstring(), folder / L"a:b"}) {
        EXPECT_EQ(platform::longPathName(absent) + platform::finalPathName(absent), L"");
    }
}

}  // namespace
