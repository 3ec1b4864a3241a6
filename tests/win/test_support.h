#pragma once
// Helpers for the Windows unit tests: scratch folders, files made through extended-length
// paths, and the helper program (child_main.cpp) the tests start.

#include <windows.h>

#include <string>

namespace gu_test {

// A fresh, empty folder under `base` (by default the temporary folder), removed with
// everything in it when the object goes out of scope.
class ScratchFolder {
public:
    explicit ScratchFolder(std::wstring base = {});
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // The folder's full path, without a trailing separator.
    const std::wstring& path() const { return _path; }
    // path() + "\" + name.
    std::wstring operator/(const std::wstring& name) const { return _path + L"\\" + name; }

private:
    std::wstring _path;
};

// "\\?\" + path, for items past 260 characters; path must be full.
std::wstring longForm(const std::wstring& path);
// Creates a folder; fails the current test when it cannot.
void makeFolder(const std::wstring& path);
// Creates or replaces a file holding text, with the given attributes.
void writeFile(const std::wstring& path, const std::string& text = "x", DWORD attributes = 0);
// A whole file's bytes; empty when it cannot be read.
std::string readFile(const std::wstring& path);
// GetFileAttributesW of the long form; INVALID_FILE_ATTRIBUTES when absent.
DWORD attributesOf(const std::wstring& path);
// True when something is at path (links not followed).
inline bool present(const std::wstring& path) {
    return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}
// An environment variable's value; empty when unset.
std::wstring environment(const wchar_t* name);
// Case-insensitive comparison, as Windows compares paths.
bool samePath(const std::wstring& a, const std::wstring& b);
// UTF-8 text for failure messages.
std::string narrow(const std::wstring& text);
// Copies the helper program, built next to the tests, to path.
void copyChildProgram(const std::wstring& path);
// Waits up to `ms` for the helper's report file: its module path, a line end, its command
// line; empty when there is none.
std::wstring waitForReport(const std::wstring& file, DWORD ms);

}  // namespace gu_test
