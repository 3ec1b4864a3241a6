// splitCommandLine and readCommandLine on arbitrary UTF-16 text.
#include <algorithm>

#include "app/command_line.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = utf16Text(data, size);
    const std::vector<std::wstring> tokens = splitCommandLine(text);

    // Cut at U+0020 only: no token holds a space.
    for (const auto& token : tokens) FUZZ_CHECK(token.find(L' ') == std::wstring::npos);
    // Each space ends one token (empty ones kept); the rest is a token only when not empty.
    const auto spaces = static_cast<std::size_t>(std::count(text.begin(), text.end(), L' '));
    const bool tail = !text.empty() && text.back() != L' ';
    FUZZ_CHECK(tokens.size() == spaces + (tail ? 1 : 0));
    // Joined with single spaces, the tokens give back the text without its final space
    // when it ends in one (that space ended the last token), else the text itself.
    std::wstring joined;
    for (std::size_t i = 0; i < tokens.size(); ++i) joined += (i ? L" " : L"") + tokens[i];
    FUZZ_CHECK(joined == (tail || text.empty() ? text : text.substr(0, text.size() - 1)));

    const CommandLine line = readCommandLine(tokens);
    FUZZ_CHECK(line.hasGameNo == !tokens.empty());
    FUZZ_CHECK(line.gameNo == (tokens.empty() ? L"" : tokens[0]));
    // Elevated: a later token is exactly "--elevated".
    FUZZ_CHECK(line.elevated == (tokens.size() > 1 && std::find(tokens.begin() + 1, tokens.end(),
                                                                L"--elevated") != tokens.end()));
    // Environment: the last later token that is neither empty nor "--elevated".
    std::wstring env;
    for (std::size_t i = tokens.size(); i-- > 1;) {
        if (!tokens[i].empty() && tokens[i] != L"--elevated") {
            env = tokens[i];
            break;
        }
    }
    FUZZ_CHECK(line.env == env);
    return 0;
}
