// Containment rules for what the engine removes.
#include "engine/game_folder_rules.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "platform/file_system.h"
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
    if (path.find(L'\0') != std::wstring::npos) return false;
    if (platform::fs::pathForm(path) != platform::fs::PathForm::full) return false;
    for (const auto& part : components(path)) {
        if (onlyDotsAndSpaces(part)) return false;  // ".", "..", and names Windows would trim away
    }
    const std::wstring game = comparablePath(path);
    for (const auto& folder : platform::protectedFolders()) {
        const std::wstring kept = comparablePath(folder);
        if (kept.empty()) continue;
        // The game folder may lie inside a protected folder (games live below Program
        // Files) but may neither be one nor hold one.
        if (kept == game || kept.compare(0, game.size() + 1, game + L"\\") == 0) return false;
    }
    return true;
}

bool isPlainFileName(const std::wstring& name) {
    if (name.empty() || onlyDotsAndSpaces(name)) return false;
    return name.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos;
}
