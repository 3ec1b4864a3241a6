#pragma once
// The one fixture of the host tests: a scratch folder on the real file system holding the
// user's folders, a fresh simulated platform, the log of environment "_qa" read back, and
// the engine's private steps.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/log_setup.h"
#include "engine/game_uninstall_helper.h"
#include "log/logger.h"
#include "platform/sim/sim.h"

namespace stdfs = std::filesystem;
namespace sim = platform::sim;
using platform::RegRoot;
using Lines = std::vector<std::string>;

// The engine with its private steps made public (the engine names this class its friend).
class EngineTestAccess : public GameUninstallHelper {
public:
    using GameUninstallHelper::_deleteCombinedataManifest;
    using GameUninstallHelper::_deleteGameFolder;
    using GameUninstallHelper::_deleteGameShortcuts;
    using GameUninstallHelper::_deleteInstallTempFiles;
    using GameUninstallHelper::_manifestZone;
    using GameUninstallHelper::GameUninstallHelper;
};

class HostTest : public ::testing::Test {
protected:
    const stdfs::path root = stdfs::temp_directory_path() / ("gu-" + std::to_string(::getpid()));
    const stdfs::path local = root / "Local", desktop = root / "Desktop",
                      programs = root / "Programs", game = root / "Games" / "G";

    void SetUp() override {
        TearDown();
        stdfs::create_directories(local / "VEXALqa" / "Logs");
        for (const auto& folder : {desktop, programs, game.parent_path()}) {
            stdfs::create_directories(folder);
        }
        sim::state().folders = {{platform::kCsidlLocalAppData, local.wstring()},
                                {platform::kCsidlDesktopCreate, desktop.wstring()},
                                {platform::kCsidlProgramsCreate, programs.wstring()}};
        for (const auto& folder : {root, local, desktop, programs, stdfs::path("/usr")}) {
            sim::state().protectedFolders.push_back({folder.wstring()});
        }
        initLogFile(L"_qa");
    }
    void TearDown() override {
        logging::shutdown();
        sim::reset();
        std::error_code ec;
        stdfs::permissions(root, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
        stdfs::remove_all(root, ec);
    }

    // The log's lines as "SEVERITY function: message", the engine's class name left out.
    Lines logLines() const {
        std::ifstream in(local / "VEXALqa" / "Logs" / "GameUninstaller.log", std::ios::binary);
        Lines lines;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
            // "date time SEV   [tid] [function@line] message\r"
            const auto open = line.find("] [") + 3, call = line.find('@', open);
            std::string function = line.substr(open, call - open);
            if (function.rfind("GameUninstallHelper::", 0) == 0) function.erase(0, 21);
            const auto text = line.find("] ", call) + 2;
            lines.push_back(line.substr(24, line.find(' ', 24) - 24) + " " + function + ": " +
                            line.substr(text, line.size() - 1 - text));
        }
        return lines;
    }
    // The lines with "<R>" standing for the scratch folder and "<G>" for the game folder.
    Lines expand(Lines lines) const {
        for (auto& line : lines) {
            for (const auto& [token, path] : {std::pair{"<R>", root}, {"<G>", game}}) {
                for (auto at = line.find(token); at != std::string::npos; at = line.find(token)) {
                    line.replace(at, 3, path.string());
                }
            }
        }
        return lines;
    }
    // Writes a file with the text, making its folders.
    static void write(const stdfs::path& file, const std::string& text = "x") {
        stdfs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    // The file's whole content; empty when it cannot be read.
    static std::string read(const stdfs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    static void setString(const std::wstring& key, const std::wstring& name,
                          const std::wstring& text) {
        sim::setValue(RegRoot::currentUser, 0, key, name, platform::kRegSz, sim::utf16z(text));
    }
};
