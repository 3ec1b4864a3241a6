// Path handling: the extended-length form for Win32 calls and the classification of paths.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/file_system.h"
#include "platform/path_names.h"
#include "platform/win32/extended_path.h"
#include "tests/win/test_support.h"

namespace {

using platform::fs::PathForm;
using platform::win32::extendedPath;

TEST(ExtendedPath, FullPathsGetThePrefixWithoutNormalising) {
    EXPECT_EQ(extendedPath(L"C:\\Games\\Foo"), L"\\\\?\\C:\\Games\\Foo");
    EXPECT_EQ(extendedPath(L"C:/Games/Foo"), L"\\\\?\\C:\\Games\\Foo");
    EXPECT_EQ(extendedPath(L"c:\\"), L"\\\\?\\c:\\");
    EXPECT_EQ(extendedPath(L"\\\\server\\share\\dir"), L"\\\\?\\UNC\\server\\share\\dir");
    EXPECT_EQ(extendedPath(L"//server/share/dir"), L"\\\\?\\UNC\\server\\share\\dir");
    EXPECT_EQ(extendedPath(L"\\\\?\\C:\\Games\\Foo"), L"\\\\?\\C:\\Games\\Foo");
    EXPECT_EQ(extendedPath(L"\\\\?\\UNC\\server\\share"), L"\\\\?\\UNC\\server\\share");
    EXPECT_EQ(extendedPath(L""), L"");
    // Past 260 characters nothing is cut.
    const std::wstring longPath =
        L"C:\\" + std::wstring(300, L'a') + L"\\" + std::wstring(200, L'b');
    EXPECT_EQ(extendedPath(longPath), L"\\\\?\\" + longPath);
}

TEST(ExtendedPath, DotComponentsAndDoubledSeparatorsAreResolvedFirst) {
    EXPECT_EQ(extendedPath(L"C:\\Games\\Foo\\..\\Bar"), L"\\\\?\\C:\\Games\\Bar");
    EXPECT_EQ(extendedPath(L"C:\\Games\\.\\Foo"), L"\\\\?\\C:\\Games\\Foo");
    EXPECT_EQ(extendedPath(L"C:\\Games\\\\Foo"), L"\\\\?\\C:\\Games\\Foo");
    EXPECT_EQ(extendedPath(L"C:\\.."), L"\\\\?\\C:\\");
    EXPECT_EQ(extendedPath(L"\\\\server\\share\\a\\..\\b"), L"\\\\?\\UNC\\server\\share\\b");
    // A last name's trailing dots and spaces go, as every ordinary Win32 path drops them:
    // "C:\Windows. " names the Windows folder itself.
    EXPECT_EQ(extendedPath(L"C:\\Windows. "), L"\\\\?\\C:\\Windows");
    // Names merely starting with dots are names.
    EXPECT_EQ(extendedPath(L"C:\\Games\\.hidden\\..x"), L"\\\\?\\C:\\Games\\.hidden\\..x");
}

TEST(ExtendedPath, RelativeFormsAreMadeFullFromTheCurrentFolder) {
    gu_test::ScratchFolder folder;
    wchar_t previous[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    const std::wstring here = folder.path();
    const std::wstring drive = here.substr(0, 2);

    const std::wstring relative = extendedPath(L"sub\\file.txt");
    const std::wstring parent = extendedPath(L"..\\other");
    const std::wstring rooted = extendedPath(L"\\rooted\\x");
    const std::wstring driveRelative = extendedPath(drive + L"rel");
    // Wine may start a program outside every drive in a folder it cannot return to.
    if (!SetCurrentDirectoryW(previous)) {
        ASSERT_GT(GetWindowsDirectoryW(previous, MAX_PATH), 0u);
        ASSERT_TRUE(SetCurrentDirectoryW(previous));
    }

    EXPECT_EQ(relative, L"\\\\?\\" + here + L"\\sub\\file.txt");
    EXPECT_EQ(parent, L"\\\\?\\" + here.substr(0, here.find_last_of(L'\\')) + L"\\other");
    EXPECT_EQ(rooted, L"\\\\?\\" + drive + L"\\rooted\\x");
    EXPECT_EQ(driveRelative, L"\\\\?\\" + here + L"\\rel");
}

TEST(PathForm, ClassifiesDriveShareAndOtherPaths) {
    const struct {
        const wchar_t* path;
        PathForm form;
    } cases[] = {
        {L"", PathForm::relative},
        {L"C:\\", PathForm::root},
        {L"C:/", PathForm::root},
        {L"d:\\", PathForm::root},
        {L"C:\\Games", PathForm::full},
        {L"C:/Games/Foo/", PathForm::full},
        {L"C:", PathForm::relative},
        {L"C:Games", PathForm::relative},
        {L"\\Games", PathForm::relative},
        {L"/", PathForm::relative},
        {L"Games\\Foo", PathForm::relative},
        {L".", PathForm::relative},
        {L"..\\Games", PathForm::relative},
        {L"1:\\Games", PathForm::relative},
        {L"\\\\server\\share", PathForm::root},
        {L"\\\\server\\share\\", PathForm::root},
        {L"//server/share/", PathForm::root},
        {L"\\\\server\\share\\Games", PathForm::full},
        {L"\\\\server", PathForm::relative},
        {L"\\\\server\\", PathForm::relative},
        {L"\\\\server\\\\x", PathForm::relative},
        {L"\\\\\\share\\x", PathForm::relative},  // no server name
        {L"\\\\", PathForm::relative},
        {L"\\\\?\\C:\\Games", PathForm::relative},
        {L"\\\\?\\UNC\\server\\share\\x", PathForm::relative},
        {L"\\\\.\\C:\\Games", PathForm::relative},
        {L"\\\\.\\PhysicalDrive0", PathForm::relative},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::fs::pathForm(c.path), c.form) << gu_test::narrow(c.path);
    }
}

// Wine gives names that are not 8.3 a short name of its own, as Windows does on volumes
// that keep them; both functions give the long form back, in the ordinary form. (Wine's
// GetLongPathNameW hands an extended-length path back unchanged: only the final path
// name is asked for that form.)
TEST(PathNames, ShortNamesAreMadeLongAndAbsentItemsHaveNone) {
    gu_test::ScratchFolder folder;
    const std::wstring longPath = folder / L"A folder with a long name";
    gu_test::makeFolder(longPath);
    std::wstring shortPath(MAX_PATH, L'\0');
    shortPath.resize(GetShortPathNameW(longPath.c_str(), shortPath.data(), MAX_PATH));
    ASSERT_FALSE(shortPath.empty());
    ASSERT_FALSE(gu_test::samePath(shortPath, longPath)) << gu_test::narrow(shortPath);
    EXPECT_TRUE(gu_test::samePath(platform::longPathName(shortPath), longPath));
    for (const std::wstring& name : {shortPath, L"\\\\?\\" + shortPath, shortPath + L"\\"}) {
        EXPECT_TRUE(gu_test::samePath(platform::finalPathName(name), longPath))
            << gu_test::narrow(name);
    }
    EXPECT_TRUE(gu_test::samePath(platform::finalPathName(L"C:\\"), L"C:\\"));
    for (const std::wstring& absent : {folder / L"absent", std::wstring(), folder / L"a:b"}) {
        EXPECT_EQ(platform::longPathName(absent), L"") << gu_test::narrow(absent);
        EXPECT_EQ(platform::finalPathName(absent), L"") << gu_test::narrow(absent);
    }
}

}  // namespace
