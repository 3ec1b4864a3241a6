// The path rules (isRemovableGameFolder, isPlainFileName, comparablePath) and the
// launcher URL, on arbitrary UTF-16 text, against a fixed list of protected folders.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "app/launcher_handoff.h"
#include "engine/game_folder_rules.h"
#include "fuzz_common.h"
#include "platform/sim/sim_control.h"

namespace {

const std::vector<std::wstring> kProtected = {L"/", L"/home/user", L"/home/user/Desktop", L"/usr"};

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The components between separators, empty ones left out.
std::vector<std::wstring> parts(const std::wstring& path) {
    std::vector<std::wstring> out(1);
    for (wchar_t c : path) {
        if (!isSeparator(c))
            out.back().push_back(c);
        else if (!out.back().empty())
            out.emplace_back();
    }
    if (out.back().empty()) out.pop_back();
    return out;
}

bool onlyDotsAndSpaces(const std::wstring& text) {
    return text.find_first_not_of(L". ") == std::wstring::npos;
}

// What a path names on the simulated platform, which works on the host's file system:
// its components between "/" (any run of them counts as one), each in comparablePath's
// form (upper case, trailing dots and spaces trimmed).
std::vector<std::wstring> hostComponents(const std::wstring& path) {
    std::vector<std::wstring> out;
    std::wstring part;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'/') {
            part.push_back(path[i]);
        } else if (!part.empty()) {
            out.push_back(comparablePath(part));
            part.clear();
        }
    }
    return out;
}

// True when the folder is the path or lies below it, on the host's file system.
bool holds(const std::wstring& path, const std::wstring& folder) {
    const auto game = hostComponents(path);
    const auto kept = hostComponents(folder);
    return game.size() <= kept.size() && std::equal(game.begin(), game.end(), kept.begin());
}

void checkPathRules(const std::wstring& text) {
    // Plain file name: exactly the names that are not empty, hold no NUL, separator or
    // drive colon, and are not dots and spaces alone.
    const bool plain = !text.empty() && !onlyDotsAndSpaces(text) &&
                       text.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
    FUZZ_CHECK(isPlainFileName(text) == plain);

    // Removable game folder: never one with a NUL or a component of dots and spaces
    // alone, never a protected folder or one that holds a protected folder.
    // A status that cannot be read (a name too long for the host) ends a run as an
    // exception, never as an accepted folder.
    bool removable = false;
    try {
        removable = isRemovableGameFolder(text);
    } catch (const std::filesystem::filesystem_error&) {
    }
    if (removable) {
        FUZZ_CHECK(text.find(L'\0') == std::wstring::npos);
        for (const auto& part : parts(text)) FUZZ_CHECK(!onlyDotsAndSpaces(part));
        const std::wstring game = comparablePath(text);
        for (const auto& folder : kProtected) {
            // In the rules' own form ("\" and "/" both separate) ...
            const std::wstring kept = comparablePath(folder);
            FUZZ_CHECK(kept != game && kept.compare(0, game.size() + 1, game + L"\\") != 0);
            // ... and as the host's file system resolves both paths.
            FUZZ_CHECK(!holds(text, folder));
        }
    }

    // The comparable form: "\" separators, leading ones kept as far as the host gives them a
    // meaning (one here: "//home" is "/home"), no "/", no ASCII lower case, no component
    // ending in a dot or space.
    const std::wstring form = comparablePath(text);
    FUZZ_CHECK(form.find(L'/') == std::wstring::npos);
    FUZZ_CHECK(
        std::none_of(form.begin(), form.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; }));
    const std::size_t lead =
        std::min<std::size_t>(std::min(text.find_first_not_of(L"\\/"), text.size()), 1);
    FUZZ_CHECK(form.compare(0, lead, std::wstring(lead, L'\\')) == 0);
    for (const auto& part : parts(form)) FUZZ_CHECK(part.back() != L'.' && part.back() != L' ');
    // Where no component vanishes (dots and spaces alone), the form is a normal form: the
    // text's leading separators and no more, no trailing separator below a root, and a
    // second pass changes nothing.
    const auto textParts = parts(text);
    if (std::none_of(textParts.begin(), textParts.end(), onlyDotsAndSpaces)) {
        FUZZ_CHECK(form.find_first_not_of(L'\\') ==
                   (textParts.empty() ? std::wstring::npos : lead));
        FUZZ_CHECK(textParts.empty() || !isSeparator(form.back()));
        FUZZ_CHECK(comparablePath(form) == form);
    }
}

// launcherUrl: empty exactly when the game number or token holds a character at or below
// U+0020, a '"' or U+007F; otherwise "orba" + token + "://deletegame/" + game number.
void checkLauncherUrl(const std::wstring& gameNo, const std::wstring& env) {
    const auto unsafe = [](wchar_t c) { return c <= L' ' || c == L'"' || c == 0x7F; };
    const std::wstring url = launcherUrl(gameNo, env);
    const bool anyUnsafe = std::any_of(gameNo.begin(), gameNo.end(), unsafe) ||
                           std::any_of(env.begin(), env.end(), unsafe);
    FUZZ_CHECK(url.empty() == anyUnsafe);
    if (!url.empty()) {
        FUZZ_CHECK(std::none_of(url.begin(), url.end(), unsafe));
        FUZZ_CHECK(url == L"orba" + env + L"://deletegame/" + gameNo);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    platform::sim::setProtectedFolders(kProtected);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = utf16Text(data, size);
    checkPathRules(text);
    // The text as a game number, and split at its first U+0001 into game number and token.
    checkLauncherUrl(text, L"_qa");
    const auto cut = text.find(L'\x01');
    checkLauncherUrl(text.substr(0, cut), cut == std::wstring::npos ? L"" : text.substr(cut + 1));
    return 0;
}
