#include "tests/host/sim_fixture.h"

#include <fstream>
#include <sstream>

#include "app/log_setup.h"
#include "log/logger.h"
#include "platform/shell.h"

std::string utf8(const std::wstring& text) { return logging::toUtf8(text); }

void SimTest::SetUp() {
    platform::sim::reset();
    logging::shutdown();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = stdfs::temp_directory_path() / "gu-tests" /
           (std::string(info->test_suite_name()) + "." + info->name());
    stdfs::remove_all(root);
    localAppData = root / "AppData" / "Local";
    desktop = root / "Desktop";
    programs = root / "Programs";
    games = root / "Games";
    for (const auto& folder : {localAppData, desktop, programs, games})
        stdfs::create_directories(folder);
    platform::sim::setFolder(platform::kCsidlLocalAppData, localAppData.wstring());
    platform::sim::setFolder(platform::kCsidlDesktopCreate, desktop.wstring());
    platform::sim::setFolder(platform::kCsidlProgramsCreate, programs.wstring());
    platform::sim::setProtectedFolders({root.wstring(), localAppData.wstring(), desktop.wstring(),
                                        programs.wstring(), L"/usr", L"/etc", L"/home"});
}

void SimTest::TearDown() {
    logging::shutdown();
    platform::sim::reset();
    std::error_code ec;
    stdfs::permissions(root, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(root, ec);
}

stdfs::path SimTest::logFileFor(const std::wstring& env) {
    logFile = logFilePath(env);
    stdfs::create_directories(logFile.parent_path());
    return logFile;
}

void SimTest::startLog(const std::wstring& env) {
    logFileFor(env);
    initLogFile(env);
}

std::vector<std::string> SimTest::logMessages() {
    std::ifstream in(logFile, std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> messages;
    for (std::size_t at = content.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0, end;
         (end = content.find("\r\n", at)) != std::string::npos; at = end + 2) {
        // "date time SEV   [tid] [function@line] message" -> "SEV function: message"
        const std::string line = content.substr(at, end - at);
        const auto open = line.find("] [") + 3;
        const auto call = line.find('@', open);
        messages.push_back(line.substr(24, line.find(' ', 24) - 24) + " " +
                           line.substr(open, call - open) + ": " +
                           line.substr(line.find("] ", call) + 2));
    }
    return messages;
}

void SimTest::writeFile(const stdfs::path& file, const std::string& content) {
    stdfs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
}

void SimTest::setGameRecord(const std::wstring& env, const std::wstring& gameNo,
                            const std::wstring& title, const std::wstring& path,
                            const std::wstring& recordNo) {
    using platform::RegRoot;
    const std::wstring key = L"Software\\ORBA" + env + L"\\Apps\\" + gameNo;
    platform::sim::createKey(RegRoot::currentUser, 0, key);
    if (!title.empty()) platform::sim::setString(RegRoot::currentUser, 0, key, L"GameTitle", title);
    if (!path.empty()) platform::sim::setString(RegRoot::currentUser, 0, key, L"GamePath", path);
    if (!recordNo.empty())
        platform::sim::setString(RegRoot::currentUser, 0, key, L"GameNo", recordNo);
}

SimTest::Run SimTest::runEngine(const std::wstring& gameNo, const std::wstring& env,
                                bool elevated) {
    Run run;
    GameUninstallHelper engine(gameNo, env, elevated);
    engine.onEvent = [&run](const UninstallEvent& event) {
        run.codes.push_back(event.code);
        run.messages.push_back(event.message);
        run.gameNos.push_back(event.gameNo);
    };
    engine.start();
    engine.join();
    return run;
}
