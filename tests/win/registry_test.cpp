// RegKey and regDeleteKey against Wine's registry: values, sizes, statuses and both views
// of HKEY_LOCAL_MACHINE\Software.

#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <tuple>

#include "tests/win/test_support.h"

namespace {

using platform::RegKey;
using platform::RegRoot;

// Creates root\path (and its parents) in the view given by `view`.
void createKey(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// A key path of this run's own under Software.
std::wstring testKey() {
    return L"Software\\GameUninstallerTests_" + std::to_wstring(GetCurrentProcessId());
}

// HKCU\<testKey>\App with a subkey and two text values, removed afterwards.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        createKey(HKEY_CURRENT_USER, _app + L"\\Child", 0);
        setText(L"Name", REG_SZ, L"abc");
        setText(L"Folder", REG_EXPAND_SZ, L"%TEMP%\\x");
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, testKey().c_str()); }

    // Stores text with its terminating NUL as a value of the App key.
    void setText(const wchar_t* name, DWORD type, const std::wstring& text) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, _app.c_str(), name, type, text.c_str(),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    const std::wstring _app = testKey() + L"\\App";
};

TEST_F(RegistryTest, ReadsTextValuesAndKeepsOutputsOnFailure) {
    RegKey key;
    ASSERT_EQ(key.open(RegRoot::currentUser, _app, platform::kKeyRead), platform::kErrorSuccess);
    // (value, at most bytes, status, text): the text starts as "kept".
    const std::tuple<const wchar_t*, std::uint32_t, long, std::wstring> rows[] = {
        {L"Name", 8, platform::kErrorSuccess, L"abc"},  // "abc" and its NUL in UTF-16
        {L"Name", 7, platform::kErrorMoreData, L"kept"},
        {L"Folder", 100, platform::kErrorSuccess, L"%TEMP%\\x"},  // not expanded
        {L"Count", 100, platform::kErrorUnsupportedType, L"kept"},
        {L"None", 100, platform::kErrorFileNotFound, L"kept"}};
    const DWORD count = 7;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, _app.c_str(), L"Count", REG_DWORD, &count, 4), 0);
    for (const auto& [name, maxBytes, status, text] : rows) {
        std::wstring read = L"kept";
        EXPECT_EQ(key.readString(name, read, maxBytes), status) << gu_test::narrow(name);
        EXPECT_EQ(read, text) << gu_test::narrow(name);
    }
    // Too small a buffer: 234 with the needed size, the type left alone.
    std::uint32_t type = 0xDEAD;
    std::uint32_t bytes = 4;
    wchar_t small[2] = {};
    EXPECT_EQ(key.queryValue(L"Name", &type, small, &bytes), platform::kErrorMoreData);
    EXPECT_EQ(std::make_pair(type, bytes), std::make_pair(0xDEADu, 8u));
}

TEST_F(RegistryTest, OpenReplacesAndCloseReleasesTheKey) {
    RegKey key;
    EXPECT_EQ(key.open(RegRoot::currentUser, _app + L"\\Missing", platform::kKeyRead),
              platform::kErrorFileNotFound);
    EXPECT_FALSE(key.isOpen());

    ASSERT_EQ(key.open(RegRoot::currentUser, _app, platform::kKeyRead), platform::kErrorSuccess);
    // Opening again replaces the key: Child has no values.
    ASSERT_EQ(key.open(RegRoot::currentUser, _app + L"\\Child", platform::kKeyRead),
              platform::kErrorSuccess);
    std::uint32_t bytes = 0;
    EXPECT_EQ(key.queryValue(L"Name", nullptr, nullptr, &bytes), platform::kErrorFileNotFound);

    key.close();
    EXPECT_FALSE(key.isOpen());
    EXPECT_NE(key.queryValue(L"Name", nullptr, nullptr, &bytes), platform::kErrorSuccess);
}

TEST_F(RegistryTest, DeleteRefusesKeysWithSubkeysAndReportsMissingOnes) {
    EXPECT_EQ(platform::regDeleteKey(RegRoot::currentUser, _app, 0), platform::kErrorAccessDenied);
    EXPECT_EQ(platform::regDeleteKey(RegRoot::currentUser, _app + L"\\Child", 0),
              platform::kErrorSuccess);
    EXPECT_EQ(platform::regDeleteKey(RegRoot::currentUser, _app + L"\\Child", 0),
              platform::kErrorFileNotFound);
    EXPECT_EQ(platform::regDeleteKey(RegRoot::currentUser, _app, 0), platform::kErrorSuccess);
    RegKey key;
    EXPECT_EQ(key.open(RegRoot::currentUser, _app, platform::kKeyRead),
              platform::kErrorFileNotFound);
}

// A key made in one view of HKLM\Software is seen, and deleted, only in that view.
TEST(RegistryLocalMachine, EachViewSeesOnlyItsOwnKeys) {
    constexpr std::uint32_t kKeyWow64_64Key = 0x100;  // KEY_WOW64_64KEY
    const std::wstring path = testKey() + L"\\Game";
    for (const std::uint32_t view : {platform::kKeyWow64_32Key, kKeyWow64_64Key}) {
        const std::uint32_t other =
            view == platform::kKeyWow64_32Key ? kKeyWow64_64Key : platform::kKeyWow64_32Key;
        SCOPED_TRACE(view);
        createKey(HKEY_LOCAL_MACHINE, path, view);
        RegKey key;
        EXPECT_EQ(key.open(RegRoot::localMachine, path, platform::kKeyRead | other),
                  platform::kErrorFileNotFound);
        EXPECT_EQ(key.open(RegRoot::localMachine, path, platform::kKeyRead | view),
                  platform::kErrorSuccess);
        key.close();
        EXPECT_EQ(platform::regDeleteKey(RegRoot::localMachine, path, other),
                  platform::kErrorFileNotFound);
        EXPECT_EQ(platform::regDeleteKey(RegRoot::localMachine, path, view),
                  platform::kErrorSuccess);
        EXPECT_EQ(key.open(RegRoot::localMachine, path, platform::kKeyRead | view),
                  platform::kErrorFileNotFound);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, testKey().c_str(), view, 0);
    }
}

}  // namespace
