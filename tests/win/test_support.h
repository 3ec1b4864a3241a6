#pragma once
// Helpers for the Windows unit tests: scratch folders, files made through extended-length
// paths, and the helper program (child_main.cpp) the tests start.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "log/logger.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace gu_test {

// "\\?\" + path, for items past 260 characters; path must be full.
inline std::wstring longForm(const std::wstring& path) { return L"\\\\?\\" + path; }
// GetFileAttributesW of the long form; INVALID_FILE_ATTRIBUTES when absent.
inline DWORD attributesOf(const std::wstring& path) {
    return GetFileAttributesW(longForm(path).c_str());
}
// True when something is at path (links not followed).
inline bool present(const std::wstring& path) {
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}
// UTF-8 text for failure messages, by the log's own encoder.
inline std::string narrow(const std::wstring& text) { return logging::toUtf8(text); }

// Creates a folder; fails the current test when it cannot.
inline void makeFolder(const std::wstring& path) {
    ASSERT_TRUE(CreateDirectoryW(longForm(path).c_str(), nullptr)) << narrow(path);
}

// Creates or replaces a file holding text (through the long form), with the attributes.
inline void writeFile(const std::wstring& path, const std::string& text = "x",
                      DWORD attributes = 0) {
    std::ofstream(std::filesystem::path(longForm(path)), std::ios::binary) << text;
    ASSERT_TRUE(present(path)) << narrow(path);
    if (attributes != 0) {
        ASSERT_TRUE(SetFileAttributesW(longForm(path).c_str(), attributes));
    }
}

// A whole file's bytes; empty when it cannot be read.
inline std::string readFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An environment variable's value; empty when unset.
// The removals the program makes, on the item at a path: its folder opened by path, the
// item below it as the engine opens one (never through a link).
inline std::uintmax_t removeTreeAt(const std::wstring& path, const platform::fs::RemovalWalk& how,
                                   std::error_code& ec) {
    namespace fs = platform::fs;
    std::filesystem::path item(path);
    if (!item.has_filename()) item = item.parent_path();
    fs::OpenItem folder, top;
    if (!fs::openItem(item.parent_path(), folder, ec) ||
        !fs::openBelow(folder, item.filename().native(), item.native(), top, ec)) {
        if (!fs::isNotFound(ec)) return static_cast<std::uintmax_t>(-1);
        ec.clear();
        return 0;
    }
    return fs::removeTree(top, item.native(), how, ec);
}
inline std::uintmax_t removeAllAt(const std::wstring& path, std::error_code& ec) {
    return removeTreeAt(path, platform::fs::RemovalWalk{}, ec);
}
inline bool removeChildAt(const std::wstring& folderPath, const std::wstring& name,
                          std::error_code& ec) {
    platform::fs::OpenItem folder;
    return platform::fs::openItem(folderPath, folder, ec) &&
           platform::fs::removeChild(folder, name, folderPath + L"\\" + name, ec);
}

inline std::wstring environment(const wchar_t* name) {
    std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// Case-insensitive comparison, as Windows compares paths.
inline bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// A fresh, empty folder "<base>\gu_win_test_<pid>_<tick>_<n>" under `base` (by default the
// temporary folder; Wine numbers processes afresh with each server start, so the process
// id alone repeats across runs). It is removed with the code under test when the object
// goes out of scope; a leftover is reported, not hidden.
class ScratchFolder {
public:
    explicit ScratchFolder(std::wstring base = std::filesystem::temp_directory_path().wstring()) {
        static std::atomic<int> counter{0};
        if (base.back() == L'\\') base.pop_back();
        _path = base + L"\\gu_win_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                std::to_wstring(GetTickCount64()) + L"_" + std::to_wstring(counter++);
        makeFolder(_path);
    }
    ~ScratchFolder() {
        std::error_code ec;
        removeAllAt(_path, ec);
        EXPECT_FALSE(present(_path)) << "left behind: " << narrow(_path) << ": " << ec.message();
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // The folder's full path, without a trailing separator.
    const std::wstring& path() const { return _path; }
    // path() + "\" + name.
    std::wstring operator/(const std::wstring& name) const { return _path + L"\\" + name; }

private:
    std::wstring _path;
};

// Copies the helper program, built next to the tests, to path. Wine names a program
// outside every drive "unix\..." (no drive, no "\\?\"), which opens only as "\\?\unix\...".
inline void copyChildProgram(const std::wstring& path) {
    const std::wstring self = platform::moduleFileName();
    std::wstring source = self.substr(0, self.find_last_of(L'\\')) + L"\\gu_platform_win_child.exe";
    if (platform::fs::pathForm(source) == platform::fs::PathForm::relative) {
        source = longForm(source);
    }
    ASSERT_TRUE(CopyFileW(source.c_str(), longForm(path).c_str(), FALSE)) << narrow(source);
}

// Waits up to `ms` for the helper's report file, which it renames into place once written:
// its module path, a line end, its command line. Empty when there is none.
inline std::wstring waitForReport(const std::wstring& file, DWORD ms) {
    for (DWORD waited = 0; !present(file) && waited < ms; waited += 50) Sleep(50);
    const std::string bytes = readFile(file);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                        bytes.size() / sizeof(wchar_t));
}

// How many running programs have this image path, by platform::forEachProcessImage.
inline int running(const std::wstring& program) {
    int found = 0;
    EXPECT_TRUE(platform::forEachProcessImage([&](const std::wstring& image) {
        found += samePath(image, program);
        return false;
    }));
    return found;
}

}  // namespace gu_test
