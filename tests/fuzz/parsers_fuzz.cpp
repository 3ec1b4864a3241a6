// The parsers of what comes from outside on arbitrary input, chosen by the first byte:
// even, the path rules on the rest as UTF-16 text; odd, RegKey::readString on a value the
// rest describes, which may change between its queries. (The command line and the
// launcher URL are simple enough for the host tests' rows.)
#include <algorithm>
#include <filesystem>

#include "engine/game_folder_rules.h"
#include "fuzz_common.h"
#include "platform/path_names.h"
#include "platform/sim/sim.h"

namespace {

namespace sim = platform::sim;
const std::vector<std::wstring> kProtected = {L"/", L"/home/user", L"/home/user/Desktop", L"/usr"};

bool onlyDotsAndSpaces(const std::wstring& text) {
    return text.find_first_not_of(L". ") == std::wstring::npos;
}

// The components between separators ("\" and "/" both), empty ones left out.
std::vector<std::wstring> parts(const std::wstring& path) {
    std::vector<std::wstring> out(1);
    for (wchar_t c : path) {
        if (c != L'\\' && c != L'/')
            out.back().push_back(c);
        else if (!out.back().empty())
            out.emplace_back();
    }
    if (out.back().empty()) out.pop_back();
    return out;
}

// A plain file name holds no NUL, separator or colon and is not dots and spaces alone; a
// removable game folder holds no NUL or dots-and-spaces component and neither is nor holds
// a protected folder, in the rules' own form and as the host resolves both ("/" only);
// the comparable form is upper case with "\" separators and no trailing dots or spaces.
void checkPaths(const std::wstring& text) {
    FUZZ_CHECK(isPlainFileName(text) ==
               (!onlyDotsAndSpaces(text) &&
                text.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos));
    bool removable = false;
    try {
        removable = isRemovableGameFolder(text, platform::finalPathName(text));
    } catch (const std::filesystem::filesystem_error&) {  // a status that cannot be read
    }
    const std::wstring form = comparablePath(text);
    if (removable) {
        FUZZ_CHECK(text.find(L'\0') == std::wstring::npos);
        for (const auto& part : parts(text)) FUZZ_CHECK(!onlyDotsAndSpaces(part));
        std::vector<std::wstring> game;
        for (const auto& part : std::filesystem::path(text).lexically_normal()) {
            if (part != "/" && !part.empty()) game.push_back(comparablePath(part.wstring()));
        }
        for (const auto& folder : kProtected) {
            const std::wstring kept = comparablePath(folder);
            FUZZ_CHECK(kept != form && kept.compare(0, form.size() + 1, form + L"\\") != 0);
            const auto keptParts = parts(kept);
            FUZZ_CHECK(game.size() > keptParts.size() ||
                       !std::equal(game.begin(), game.end(), keptParts.begin()));
        }
    }
    FUZZ_CHECK(form.find(L'/') == std::wstring::npos);
    FUZZ_CHECK(
        std::none_of(form.begin(), form.end(), [](wchar_t c) { return c >= L'a' && c <= L'z'; }));
    for (const auto& part : parts(form)) FUZZ_CHECK(part.back() != L'.' && part.back() != L' ');
    // Where no component vanishes (dots and spaces alone), a normal form: the text's leading
    // separator kept (one, as the host reads "//home"), none trailing, a second pass the same.
    const auto textParts = parts(text);
    if (std::none_of(textParts.begin(), textParts.end(), onlyDotsAndSpaces)) {
        const std::size_t lead = text.find_first_not_of(L"\\/") == 0 || text.empty() ? 0 : 1;
        FUZZ_CHECK(form.find_first_not_of(L'\\') ==
                   (textParts.empty() ? std::wstring::npos : lead));
        FUZZ_CHECK(textParts.empty() || form.back() != L'\\');
        FUZZ_CHECK(comparablePath(form) == form);
    }
}

// What the read must give of a version: its whole UTF-16LE units (an odd last byte left
// out) without trailing NULs, or nothing when it is not text.
std::wstring expected(std::uint32_t type, const std::string& bytes) {
    if (type != platform::kRegSz && type != platform::kRegExpandSz)
        return std::wstring(L"kept\0", 5);
    std::wstring text =
        utf16Text(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

// Byte 0: the first type (bits 0-2), the value missing (bit 6); byte 1: the query after
// which it changes (bits 0-2, 0 never), flipping at every query from then on (bit 3), the
// second type (bits 4-6); byte 2: the first version's byte count; the rest: the versions.
void checkRegistryRead(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const unsigned changeAfter = data[1] & 7;
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t first =
        changeAfter ? std::min<std::size_t>(data[2], rest.size()) : rest.size();
    const std::pair<std::uint32_t, std::string> versions[2] = {
        {data[0] & 7u, rest.substr(0, first)}, {(data[1] >> 4) & 7u, rest.substr(first)}};
    const bool missing = data[0] & 0x40;
    const std::wstring key = L"Software\\ORBA_qa\\Apps\\77";
    sim::reset();
    sim::state().keys[sim::keyId(platform::RegRoot::currentUser, 0, key)];
    if (!missing)
        sim::setValue(platform::RegRoot::currentUser, 0, key, L"V", versions[0].first,
                      versions[0].second);
    unsigned queries = 0;
    int now = 0;
    if (changeAfter != 0 && !missing) {
        sim::state().onValueQuery = [&] {
            if (++queries == changeAfter || ((data[1] & 8) && queries > changeAfter)) {
                now = 1 - now;
                sim::setValue(platform::RegRoot::currentUser, 0, key, L"V", versions[now].first,
                              versions[now].second);
            }
        };
    }
    platform::RegKey open;
    std::wstring text(L"kept\0", 5);  // ends in a NUL, which no read gives
    FUZZ_CHECK(open.open(platform::RegRoot::currentUser, key, platform::kKeyRead) == 0);
    const long status = open.readString(L"V", text);
    sim::reset();  // drops the hook, which refers to this call's locals
    FUZZ_CHECK((status == 0) == (text != std::wstring(L"kept\0", 5)));
    FUZZ_CHECK(!missing || status == platform::kErrorFileNotFound);
    // Nothing half read and nothing mixed: the whole of a version, or a failure.
    const std::wstring whole[2] = {expected(versions[0].first, versions[0].second),
                                   expected(versions[1].first, versions[1].second)};
    FUZZ_CHECK(missing || text == whole[0] ||
               (changeAfter != 0 && (status != 0 || text == whole[1])));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 != 0) return checkRegistryRead(data + 1, size - 1), 0;
    sim::state().protectedFolders.clear();
    for (const auto& folder : kProtected) sim::state().protectedFolders.push_back({folder});
    checkPaths(utf16Text(data + 1, size - 1));
    return 0;
}
