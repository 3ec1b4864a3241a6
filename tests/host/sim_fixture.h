#pragma once
// A test fixture on the simulated platform: a scratch folder on the real file system
// with the user's folders in it, a fresh simulated registry and process list, and a log
// file that each test can read back.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/sim_control.h"
#include "tests/host/engine_test_access.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The scratch folder and the user's folders inside it.
    stdfs::path root;
    stdfs::path localAppData;
    stdfs::path desktop;
    stdfs::path programs;
    stdfs::path games;  // where test games are installed

    // The log file of environment token env ("" or "_qa"); its Logs folder is created.
    stdfs::path logFileFor(const std::wstring& env);
    // Sets the log up as the program does, for env.
    void startLog(const std::wstring& env = L"_qa");
    // The log's lines, without the BOM and CR LF, each cut after its "] [function@line] ".
    std::vector<std::string> logMessages();

    // Writes a file with the content, making its folders.
    static void writeFile(const stdfs::path& file, const std::string& content = "x");
    // Installs a game record below HKCU for gameNo and env.
    static void setGameRecord(const std::wstring& env, const std::wstring& gameNo,
                              const std::wstring& title, const std::wstring& path,
                              const std::wstring& recordNo);
    // Runs a whole engine to its end and returns the codes it emitted.
    struct Run {
        std::vector<std::int32_t> codes;
        std::vector<std::wstring> messages;
        std::vector<std::wstring> gameNos;
    };
    static Run runEngine(const std::wstring& gameNo, const std::wstring& env,
                         bool elevated = false);

    stdfs::path logFile;  // the file logMessages reads: the one logFileFor last named

    std::wstring recordKey(const std::wstring& env, const std::wstring& gameNo) {
        return L"Software\\ORBA" + env + L"\\Apps\\" + gameNo;
    }
};

// The UTF-8 form of a wide text (log lines are compared as UTF-8).
std::string utf8(const std::wstring& text);
