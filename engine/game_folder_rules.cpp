// Containment rules for what the engine removes, on the names alone (the platform's
// answers are asked for in game_folder_check.cpp).
#include "engine/game_folder_rules.h"

#include <algorithm>
#include <cwctype>

#include "platform/file_system.h"
#include "platform/path_names.h"

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

// True for an administrative share ("\\server\C$...", "\\server\ADMIN$..."), which names
// a whole drive or the Windows folder of a machine under a name no protected folder has.
// Other hidden shares ("\\nas\Games$") are ordinary places for games.
bool isAdministrativeShare(const std::wstring& path) {
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1])) return false;
    const auto parts = components(path);
    if (parts.size() < 2) return false;
    const std::wstring share = comparablePath(parts[1]);
    return share == L"ADMIN$" ||
           (share.size() == 2 && share[1] == L'$' && share[0] >= L'A' && share[0] <= L'Z');
}

// A protected folder in comparable form, as named or as its final path, with the forms of
// the user's own profile where its guard lets games in.
struct KeptForm {
    std::wstring form;
    platform::FolderGuard guard;
    std::vector<std::wstring> own;
};

// The protected folders in comparable form, the empty names of unknown ones left out.
std::vector<KeptForm> protectedForms(const std::vector<platform::ProtectedFolder>& folders) {
    std::vector<KeptForm> forms;
    for (const auto& folder : folders) {
        const std::wstring kept = comparablePath(folder.path);
        if (kept.empty()) continue;
        std::vector<std::wstring> own;
        for (const auto& name : folder.own) {
            if (!comparablePath(name).empty()) own.push_back(comparablePath(name));
        }
        forms.push_back(KeptForm{kept, folder.guard, own});
    }
    return forms;
}

// True when the comparable form `inner` lies below `outer` (not equal to it).
bool isBelow(const std::wstring& inner, const std::wstring& outer) {
    return inner.size() > outer.size() + 1 && inner.compare(0, outer.size(), outer) == 0 &&
           (outer.back() == L'\\' || inner[outer.size()] == L'\\');
}

// True when `inner` lies directly in `outer`, one component below it.
bool isChild(const std::wstring& inner, const std::wstring& outer) {
    return isBelow(inner, outer) &&
           inner.find(L'\\', outer.size() + (outer.back() == L'\\' ? 0 : 1)) == std::wstring::npos;
}

// True when the comparable form `game` is kept by the folder: it is the folder or holds it,
// or lies where the folder's guard keeps games away. A game folder may otherwise lie
// inside a protected folder: games live below Program Files.
bool keptBy(const std::wstring& game, const KeptForm& kept) {
    const std::wstring& folder = kept.form;
    if (folder == game || isBelow(folder, game)) return true;
    switch (kept.guard) {
        case platform::FolderGuard::itself:
            return false;
        case platform::FolderGuard::wholeTree:
            return isBelow(game, folder);
        case platform::FolderGuard::otherProfiles:
            // Every profile but the user's own, at any depth; the own profile's folders
            // are kept by guards of their own.
            return isBelow(game, folder) &&
                   std::none_of(kept.own.begin(), kept.own.end(),
                                [&game](const std::wstring& own) { return isBelow(game, own); });
        case platform::FolderGuard::platformData: {
            // "VEXAL*" directly in the folder, and its "Logs" and "tmpgamemanifest".
            const auto isPlatformFolder = [&folder](const std::wstring& path) {
                return isChild(path, folder) &&
                       path.compare(path.rfind(L'\\') + 1, 5, L"VEXAL") == 0;
            };
            if (isPlatformFolder(game)) return true;
            const std::size_t cut = game.rfind(L'\\');
            if (cut == std::wstring::npos) return false;
            const std::wstring name = game.substr(cut + 1);
            return (name == L"LOGS" || name == L"TMPGAMEMANIFEST") &&
                   isPlatformFolder(game.substr(0, cut));
        }
    }
    return true;
}

// True when the comparable form `game` is kept by any of the folders.
bool namesProtected(const std::wstring& game, const std::vector<KeptForm>& kept) {
    return std::any_of(kept.begin(), kept.end(),
                       [&game](const KeptForm& folder) { return keptBy(game, folder); });
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

bool isGameFolderName(const std::wstring& path, const std::vector<std::wstring>& otherNames,
                      const std::vector<platform::ProtectedFolder>& protectedFolders) {
    // The extended-length forms name the same places as the plain ones, without the
    // system's own clean-up of the text: they are judged in their plain form.
    const std::wstring plain = platform::plainForm(path);
    if (hasForbiddenCharacter(plain)) return false;  // NUL, streams, wildcards
    if (platform::fs::pathForm(plain) != platform::fs::PathForm::full) return false;
    for (const auto& part : components(plain)) {
        if (onlyDotsAndSpaces(part)) return false;  // ".", "..", and names Windows would trim away
    }
    const std::vector<KeptForm> kept = protectedForms(protectedFolders);
    std::vector<std::wstring> forms = {plain};
    for (const auto& name : otherNames) forms.push_back(platform::plainForm(name));
    for (const std::wstring& form : forms) {
        if (form.empty()) continue;  // absent, or a place without an ordinary name
        if (platform::fs::pathForm(form) != platform::fs::PathForm::full) return false;
        if (isAdministrativeShare(form) || namesProtected(comparablePath(form), kept)) {
            return false;
        }
    }
    return true;
}

bool isPlainFileName(const std::wstring& name) {
    if (name.empty() || onlyDotsAndSpaces(name)) return false;
    return name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}
