#pragma once
// The command line as the program reads it: game number, environment token, elevated flag.

#include <string>
#include <vector>

// Cuts the text at every space (U+0020) and nowhere else. Each space ends one token,
// empty ones included; the text after the last space is a token only when not empty.
std::vector<std::wstring> splitCommandLine(const std::wstring& text);

struct CommandLine {
    bool hasGameNo = false;  // false when there was no token at all
    std::wstring gameNo;     // token 0, unchanged
    std::wstring env;        // the last non-empty later token other than "--elevated"
    bool elevated = false;   // a later token was exactly "--elevated"
};

CommandLine readCommandLine(const std::vector<std::wstring>& tokens);
