// RegKey and regDeleteKey against Wine's registry: values, sizes, statuses and both views
// of HKEY_LOCAL_MACHINE\Software.

#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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

TEST_F(RegistryTest, QueriesSizeThenTextAndKeepsOutParametersOnFailure) {
    RegKey key;
    ASSERT_EQ(key.open(RegRoot::currentUser, _app, platform::kKeyRead), platform::kErrorSuccess);
    EXPECT_TRUE(key.isOpen());

    // No buffer: type and byte count only ("abc" and its NUL in UTF-16).
    std::uint32_t type = 0;
    std::uint32_t bytes = 0;
    ASSERT_EQ(key.queryValue(L"Name", &type, nullptr, &bytes), platform::kErrorSuccess);
    EXPECT_EQ(type, platform::kRegSz);
    EXPECT_EQ(bytes, 8u);
    wchar_t text[4] = {L'?', L'?', L'?', L'?'};
    ASSERT_EQ(key.queryValue(L"Name", &type, text, &bytes), platform::kErrorSuccess);
    EXPECT_EQ(std::wstring(text), L"abc");

    wchar_t folder[32] = {};
    bytes = sizeof(folder);
    ASSERT_EQ(key.queryValue(L"Folder", &type, folder, &bytes), platform::kErrorSuccess);
    EXPECT_EQ(type, platform::kRegExpandSz);
    EXPECT_EQ(std::wstring(folder), L"%TEMP%\\x");  // not expanded
    EXPECT_EQ(bytes, sizeof(L"%TEMP%\\x"));

    // Too small a buffer: 234 with the needed size; type and buffer left alone.
    type = 0xDEAD;
    bytes = 4;
    wchar_t small[2] = {L'#', L'#'};
    EXPECT_EQ(key.queryValue(L"Name", &type, small, &bytes), platform::kErrorMoreData);
    EXPECT_EQ(bytes, 8u);
    EXPECT_EQ(type, 0xDEADu);
    EXPECT_EQ(small[0], L'#');  // Wine leaves it; Windows calls its content undefined

    // A missing value: 2, nothing written.
    type = 0xBEEF;
    bytes = 77;
    EXPECT_EQ(key.queryValue(L"None", &type, nullptr, &bytes), platform::kErrorFileNotFound);
    EXPECT_EQ(type, 0xBEEFu);
    EXPECT_EQ(bytes, 77u);
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
