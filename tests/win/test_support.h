#pragma once
// Helpers for the Windows unit tests: scratch folders, files written through
// extended-length paths, environment variables and text for failure messages.

#include <windows.h>

#include <string>

namespace gu_test {

// A fresh, empty folder under `base` (by default the temporary folder); it and everything
// in it are removed when the object goes out of scope.
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

// "\\?\" + path, for creating test items past 260 characters; path must be full.
std::wstring longForm(const std::wstring& path);
// Creates a folder (through the long form); fails the current test when it cannot.
void makeFolder(const std::wstring& path);
// Creates or replaces a file holding text (through the long form).
void writeFile(const std::wstring& path, const std::string& text = "x");
// Reads a whole file as bytes; empty when it cannot be read.
std::string readFile(const std::wstring& path);
// GetFileAttributesW through the long form; INVALID_FILE_ATTRIBUTES when absent.
DWORD attributesOf(const std::wstring& path);
// True when something is at path (links not followed).
bool present(const std::wstring& path);
// An environment variable's value; empty when unset.
std::wstring environment(const wchar_t* name);
// Case-insensitive comparison, as Windows compares paths.
bool samePath(const std::wstring& a, const std::wstring& b);
// UTF-8 text for failure messages.
std::string narrow(const std::wstring& text);
// Copies the helper program (child_main.cpp, built next to the tests) to path, which may
// pass 260 characters; fails the current test when it cannot.
void copyChildProgram(const std::wstring& path);

// The helper program's report: its module path and its command line.
struct ChildReport {
    std::wstring moduleName;
    std::wstring commandLine;
};
// Waits up to `ms` for the helper's report file and reads it; empty when there is none.
ChildReport waitForReport(const std::wstring& file, DWORD ms);

// A started program, waited for (up to 30 s) and released when the object goes out of
// scope. Programs are started by their path on a drive (see copyChildProgram): Wine
// cannot start one by the path it gives a program outside every drive.
class ChildProcess {
public:
    // Starts program with the arguments; started() tells whether it worked.
    ChildProcess(const std::wstring& program, const std::wstring& arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return _info.hProcess != nullptr; }
    // Waits up to 30 s for the end; the exit code, or STILL_ACTIVE when it runs on.
    DWORD wait();

private:
    PROCESS_INFORMATION _info = {};
};

}  // namespace gu_test
