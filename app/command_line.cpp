// Splitting and reading the command line.
#include "app/command_line.h"

std::vector<std::wstring> splitCommandLine(const std::wstring& text) {
    std::vector<std::wstring> tokens;
    std::wstring::size_type begin = 0;
    for (auto space = text.find(L' '); space != std::wstring::npos;
         space = text.find(L' ', begin)) {
        tokens.push_back(text.substr(begin, space - begin));
        begin = space + 1;
    }
    if (begin < text.size()) tokens.push_back(text.substr(begin));
    return tokens;
}

CommandLine readCommandLine(const std::vector<std::wstring>& tokens) {
    CommandLine result;
    if (tokens.empty()) return result;
    result.hasGameNo = true;
    result.gameNo = tokens[0];
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i] == L"--elevated") {
            result.elevated = true;
        } else if (!tokens[i].empty()) {
            result.env = tokens[i];  // the last one wins
        }
    }
    return result;
}
