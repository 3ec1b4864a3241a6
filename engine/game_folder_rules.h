#pragma once
// Which paths the engine may remove. The game folder and file names come from the
// user's registry hive and command line while the program runs with administrator
// rights, so they are checked before anything is deleted.

#include <string>

// True when path is a full local or UNC path below a root, with no embedded NUL and no
// component made of dots and spaces alone (".", ".."), that neither is nor contains a folder the system or the user
// cannot live without (the platform's protected folders).
bool isRemovableGameFolder(const std::wstring& path);

// True when name is one plain file name: not empty, no NUL, no separator, no drive colon,
// and not made of dots and spaces alone (".", "..").
bool isPlainFileName(const std::wstring& name);

// The form in which two paths are compared: separators as "\", each component without
// the trailing dots and spaces Windows ignores, no trailing separator, upper case.
std::wstring comparablePath(const std::wstring& path);
