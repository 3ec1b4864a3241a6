#pragma once
// Which paths the engine may remove. The game folder and file names come from the
// user's registry hive and command line while the program runs with administrator
// rights, so they are checked before anything is deleted.

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/shell.h"

// Opens the game folder at path as itself, once, and judges it: a full local or UNC path
// below a root, on no administrative share ("\\server\C$", "\\server\ADMIN$"), with no
// character Windows forbids in names (NUL, controls, wildcards, a colon past the drive's)
// and no component made of dots and spaces alone (".", ".."), a folder of its own (not a
// link, not a file), kept by none of the platform's protected folders (it neither is nor
// holds one, nor lies where one's guard keeps games away: inside the Windows folder,
// anywhere in another user's profile, ...), under any of its names: as written, with its
// short names made long, and as the final path of its handle (links above it and mapped
// drives resolved). Extended-length forms ("\\?\C:\...", "\\?\UNC\...") are judged in
// their plain form. True with `folder` holding it, or empty when nothing is there (and the
// text is acceptable); false when refused. Throws std::filesystem::filesystem_error
// ("exists") when it cannot be opened for another reason than not-found.
// (game_folder_check.cpp: it asks the platform, and isGameFolderName judges the names.)
bool openRemovableGameFolder(const std::wstring& path, platform::fs::OpenItem& folder);
// The rule on names alone: `path` with its `otherNames` (long and final names, empty where
// unknown) against the protected folders, each given under every name it has.
bool isGameFolderName(const std::wstring& path, const std::vector<std::wstring>& otherNames,
                      const std::vector<platform::ProtectedFolder>& protectedFolders);

// True when name is one plain file name: not empty, no NUL, no separator, no drive colon,
// and not made of dots and spaces alone (".", "..").
bool isPlainFileName(const std::wstring& name);

// The form in which two paths are compared: separators as "\", as many leading ones as
// the platform gives a meaning (two for a UNC path on Windows, one elsewhere), each
// component without the trailing dots and spaces Windows ignores, no trailing
// separator, upper case.
std::wstring comparablePath(const std::wstring& path);
