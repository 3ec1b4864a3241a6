// The parsers of what comes from outside on arbitrary input, chosen by the first byte:
// even, the path rules on the rest as UTF-16 text; odd, the reading of registry text from a
// value the rest describes, which may change between its queries. (The command line is
// simple enough for the host tests' rows.)
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine/game_folder_rules.h"
#include "platform/registry.h"

// Stops the run (libFuzzer saves the input as a crash) when a rule does not hold.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "rule broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                   \
        }                                                                                       \
    } while (0)

namespace {

// The bytes as little-endian 16-bit units, one wchar_t each; an odd last byte is dropped.
std::wstring utf16Text(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    return text;
}

const std::vector<platform::ProtectedFolder> kProtected = {
    {L"/"}, {L"/home/user"}, {L"/home/user/Desktop"}, {L"/usr"}};

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

// A plain file name holds no NUL, separator or colon and is not dots and spaces alone; an
// accepted game folder holds no NUL or dots-and-spaces component and neither is nor holds a
// protected folder, in the rules' own form and component by component; the comparable form
// is upper case with "\" separators and no trailing dots or spaces.
void checkPaths(const std::wstring& text) {
    FUZZ_CHECK(isPlainFileName(text) ==
               (!onlyDotsAndSpaces(text) &&
                text.find_first_of(std::wstring(L"\\/:\0", 4)) == std::wstring::npos));
    const std::wstring form = comparablePath(text);
    if (isGameFolderName(text, {}, kProtected)) {
        FUZZ_CHECK(text.find(L'\0') == std::wstring::npos);
        for (const auto& part : parts(text)) FUZZ_CHECK(!onlyDotsAndSpaces(part));
        std::vector<std::wstring> game;  // no "." or "..": the text is its own normal form
        for (const auto& part : parts(text)) game.push_back(comparablePath(part));
        for (const auto& folder : kProtected) {
            const std::wstring kept = comparablePath(folder.path);
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
// The query answers as RegQueryValueExW does.
void checkRegistryRead(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const unsigned changeAfter = data[1] & 7;
    const std::string rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    const std::size_t first =
        changeAfter ? std::min<std::size_t>(data[2], rest.size()) : rest.size();
    const std::pair<std::uint32_t, std::string> versions[2] = {
        {data[0] & 7u, rest.substr(0, first)}, {(data[1] >> 4) & 7u, rest.substr(first)}};
    const bool missing = data[0] & 0x40;
    unsigned queries = 0;
    int now = 0;
    const auto query = [&](std::uint32_t* type, void* buffer, std::uint32_t* bytes) -> long {
        const auto& [storedType, stored] = versions[now];
        if (++queries == changeAfter || ((data[1] & 8) && changeAfter && queries > changeAfter))
            now = 1 - now;  // after this query
        if (missing) return platform::kErrorFileNotFound;
        const auto storedSize = static_cast<std::uint32_t>(stored.size());
        const bool fits = buffer == nullptr || *bytes >= storedSize;
        if (buffer != nullptr && fits) std::memcpy(buffer, stored.data(), stored.size());
        if (fits) *type = storedType;
        *bytes = storedSize;
        return fits ? 0 : platform::kErrorMoreData;
    };
    std::wstring text(L"kept\0", 5);  // ends in a NUL, which no read gives
    const long status = platform::readText(query, text, 0xFFFFFFFF);
    FUZZ_CHECK((status == 0) == (text != std::wstring(L"kept\0", 5)));
    FUZZ_CHECK(!missing || status == platform::kErrorFileNotFound);
    // Nothing half read and nothing mixed: the whole of a version, or a failure.
    FUZZ_CHECK(missing || text == expected(versions[0].first, versions[0].second) ||
               (changeAfter != 0 &&
                (status != 0 || text == expected(versions[1].first, versions[1].second))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] % 2 != 0) return checkRegistryRead(data + 1, size - 1), 0;
    checkPaths(utf16Text(data + 1, size - 1));
    return 0;
}
