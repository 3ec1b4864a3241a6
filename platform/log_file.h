#pragma once
// The log file as the logger writes it: opened for appending, shared for reading only,
// so a second writer is refused while this one holds it.

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

class LogFile {
public:
    LogFile();
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens path for writing at its end, creating the file (never its folder). Fails when
    // the folder is missing or another writer holds the file. On Windows, where the program
    // writes as administrator into folders the user controls, path must lie below the local
    // application data folder, and that folder in the user's profile as the system records
    // it; each name below it is opened from the folder before without following links, and
    // the open fails unless every folder is a plain folder and the file a plain file with
    // one name, each at its expected final path.
    [[nodiscard]] bool open(const std::wstring& path);
    bool isOpen() const;
    // The file's size when it was opened: zero for a new or empty file.
    std::size_t sizeAtOpen() const;
    // Appends the bytes; false when the write fails.
    bool write(const char* data, std::size_t size);

private:
    struct State;
    std::unique_ptr<State> _state;
};

}  // namespace platform
