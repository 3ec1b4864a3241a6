// Containment rules for what the engine removes.
#include "engine/game_folder_rules.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "platform/file_system.h"
#include "platform/path_names.h"
#include "platform/shell.h"

namespace {

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The path's components between separators, empty ones left out.
std::vector<std::wstring> components(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : path) {
        if (isSeparator(c)) {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

bool onlyDotsAndSpaces(const std::wstring& text) {
    return text.find_first_not_of(L". ") == std::wstring::npos;
}

// True when the path holds a character Windows forbids in names (controls, NUL included,
// and < > : " | ? *) other than the colon of a leading drive ("C:"). Such a path names no
// folder of its own: a colon names a stream of an item ("C:\Windows::$INDEX_ALLOCATION"
// is the Windows folder), wildcards match other items.
bool hasForbiddenCharacter(const std::wstring& path) {
    const bool drive = path.size() >= 2 && path[1] == L':';
    for (std::size_t i = 0; i < path.size(); ++i) {
        const wchar_t c = path[i];
        if (c < 0x20 || (std::wstring(L"<>\"|?*").find(c) != std::wstring::npos) ||
            (c == L':' && !(drive && i == 1))) {
            return true;
        }
    }
    return false;
}

// True for "\\server\share$...": an administrative share, which names a whole drive or the
// Windows folder of a machine (C$, ADMIN$) under a name no protected folder has.
bool isAdministrativeShare(const std::wstring& path) {
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1])) return false;
    const auto parts = components(path);
    return parts.size() >= 2 && parts[1].back() == L'$';
}

// The protected folders in comparable form, each also as its final path when that differs.
std::vector<std::wstring> protectedForms() {
    std::vector<std::wstring> forms;
    for (const auto& folder : platform::protectedFolders()) {
        for (const std::wstring& form : {folder, platform::finalPathName(folder)}) {
            const std::wstring kept = comparablePath(form);
            if (!kept.empty()) forms.push_back(kept);
        }
    }
    return forms;
}

// True when the comparable form `game` is one of the forms `kept` or holds one.
bool namesProtected(const std::wstring& game, const std::vector<std::wstring>& kept) {
    // The game folder may lie inside a protected folder (games live below Program Files)
    // but may neither be one nor hold one.
    return std::any_of(kept.begin(), kept.end(), [&game](const std::wstring& folder) {
        return folder == game || folder.compare(0, game.size() + 1, game + L"\\") == 0;
    });
}

// True when the item at path is a link itself; an unreadable status counts as one.
bool isLinkOrUnreadable(const std::wstring& path) {
    try {
        return platform::fs::itemKind(path) == platform::fs::ItemKind::link;
    } catch (const std::exception&) {
        return true;
    }
}

}  // namespace

std::wstring comparablePath(const std::wstring& path) {
    // Leading separators are kept, so that "\\server" (UNC) and "/" (host root) stay
    // roots; more of them than the platform gives a meaning to name the same place.
    std::size_t leading = 0;
    while (leading < path.size() && isSeparator(path[leading])) ++leading;
    const std::size_t meaningful = platform::fs::kSeparator == L'\\' ? 2 : 1;
    std::wstring out(std::min(leading, meaningful), L'\\');
    bool first = true;
    for (std::wstring part : components(path)) {
        while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
        for (auto& c : part) c = static_cast<wchar_t>(std::towupper(c));
        if (!first) out.push_back(L'\\');
        out += part;
        first = false;
    }
    return out;
}

bool isRemovableGameFolder(const std::wstring& path) {
    if (hasForbiddenCharacter(path)) return false;  // NUL, streams, wildcards
    if (platform::fs::pathForm(path) != platform::fs::PathForm::full) return false;
    for (const auto& part : components(path)) {
        if (onlyDotsAndSpaces(part)) return false;  // ".", "..", and names Windows would trim away
    }
    if (isAdministrativeShare(path)) return false;
    const std::vector<std::wstring> kept = protectedForms();
    if (namesProtected(comparablePath(path), kept)) return false;
    // The clean-up steps reach into the game folder by name, so a game folder that is a
    // link would let them work in the link's target; the removal itself never enters it.
    if (isLinkOrUnreadable(path)) return false;
    // The same folder under its other names: long names for short ones, and the place
    // that links above it or a mapped drive lead to.
    for (const std::wstring& other :
         {platform::longPathName(path), platform::finalPathName(path)}) {
        if (other.empty()) continue;  // absent, or a place without an ordinary name
        if (platform::fs::pathForm(other) != platform::fs::PathForm::full) return false;
        if (namesProtected(comparablePath(other), kept)) return false;
    }
    return true;
}

bool isPlainFileName(const std::wstring& name) {
    if (name.empty() || onlyDotsAndSpaces(name)) return false;
    return name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}
