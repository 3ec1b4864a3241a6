// RegKey and regDeleteKey against Wine's registry: text values, statuses, and both views
// of HKEY_LOCAL_MACHINE\Software. The text reader's rules are tested on the host; here the
// real registry's sizes and types meet them.

#include "platform/registry.h"

#include <tuple>

#include "tests/win/test_support.h"

namespace {

using platform::RegKey;
using platform::RegRoot;
constexpr RegRoot kUser = RegRoot::currentUser, kMachine = RegRoot::localMachine;
constexpr std::uint32_t k32 = platform::kKeyWow64_32Key, k64 = 0x100;  // KEY_WOW64_64KEY

// A key of this run's own under Software.
const std::wstring kTop =
    L"Software\\GameUninstallerTests_" + std::to_wstring(GetCurrentProcessId());
const std::wstring kApp = kTop + L"\\App";

// Creates root\path (and its parents) in the given view.
void createKey(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Stores text with its terminating NUL, or a DWORD, as a value of the App key.
void setValue(const wchar_t* name, DWORD type, const std::wstring& text) {
    const DWORD number = 7;
    const bool isText = type != REG_DWORD;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kApp.c_str(), name, type,
                              isText ? static_cast<const void*>(text.c_str()) : &number,
                              isText ? static_cast<DWORD>((text.size() + 1) * 2) : 4),
              ERROR_SUCCESS);
}

TEST(Registry, ReadsTextOpensAndDeletesKeysInTheirOwnView) {
    createKey(HKEY_CURRENT_USER, kApp, 0);
    setValue(L"Name", REG_SZ, L"abc");
    setValue(L"Folder", REG_EXPAND_SZ, L"%TEMP%\\x");
    setValue(L"Count", REG_DWORD, L"");
    RegKey key;
    ASSERT_EQ(key.open(kUser, kApp, platform::kKeyRead), 0);
    // (value, at most bytes, status, text): the text starts as "kept".
    const std::tuple<const wchar_t*, std::uint32_t, long, std::wstring> rows[] = {
        {L"Name", 8, platform::kErrorSuccess, L"abc"},  // "abc" and its NUL in UTF-16
        {L"Name", 7, platform::kErrorMoreData, L"kept"},
        {L"Folder", 100, platform::kErrorSuccess, L"%TEMP%\\x"},  // not expanded
        {L"Count", 100, platform::kErrorUnsupportedType, L"kept"},
        {L"None", 100, platform::kErrorFileNotFound, L"kept"}};
    for (const auto& [name, maxBytes, status, text] : rows) {
        std::wstring read = L"kept";
        EXPECT_EQ(key.readString(name, read, maxBytes), status) << gu_test::narrow(name);
        EXPECT_EQ(read, text) << gu_test::narrow(name);
    }
    // Too small a buffer: 234 with the needed size, the type left alone.
    std::uint32_t type = 0xDEAD, bytes = 4;
    wchar_t small[2] = {};
    EXPECT_EQ(key.queryValue(L"Name", &type, small, &bytes), platform::kErrorMoreData);
    EXPECT_EQ(std::make_pair(type, bytes), std::make_pair(0xDEADu, 8u));

    // Opens replace the key held (a failed one leaves none), deletes refuse keys with
    // subkeys, and a key made in one view of HKLM\Software is seen and deleted only there.
    createKey(HKEY_CURRENT_USER, kApp + L"\\Child", 0);
    createKey(HKEY_LOCAL_MACHINE, kTop + L"\\Game32", k32);
    createKey(HKEY_LOCAL_MACHINE, kTop + L"\\Game64", k64);
    const std::wstring child = kApp + L"\\Child", game32 = kTop + L"\\Game32",
                       game64 = kTop + L"\\Game64";
    ASSERT_EQ(key.open(kUser, child, platform::kKeyRead), 0);
    EXPECT_EQ(key.queryValue(L"Name", nullptr, nullptr, &bytes), 2);  // Child has no values
    EXPECT_EQ(key.open(kUser, kApp + L"\\Missing", platform::kKeyRead), 2);
    EXPECT_FALSE(key.isOpen());
    // (delete, root, path, view, status): open otherwise.
    const std::tuple<bool, RegRoot, std::wstring, std::uint32_t, long> steps[] = {
        {true, kUser, kApp, 0, 5},         {true, kUser, child, 0, 0},
        {true, kUser, child, 0, 2},        {true, kUser, kApp, 0, 0},
        {false, kUser, kApp, 0, 2},        {false, kMachine, game32, k64, 2},
        {false, kMachine, game32, k32, 0}, {true, kMachine, game32, k64, 2},
        {true, kMachine, game32, k32, 0},  {false, kMachine, game32, k32, 2},
        {false, kMachine, game64, k32, 2}, {true, kMachine, game64, k32, 2},
        {true, kMachine, game64, k64, 0},  {false, kMachine, game64, k64, 2},
    };
    for (const auto& [remove, root, path, view, status] : steps) {
        EXPECT_EQ(remove ? platform::regDeleteKey(root, path, view)
                         : key.open(root, path, platform::kKeyRead | view),
                  status)
            << remove << " " << gu_test::narrow(path) << " " << view;
        key.close();
    }
    for (const REGSAM view : {k32, k64}) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTop.c_str(), view, 0);
    RegDeleteTreeW(HKEY_CURRENT_USER, kTop.c_str());
}

}  // namespace
