// The reading of registry text, the parser of what the program takes from the registry, on
// a value arbitrary input describes, which may change between its queries. (The path rules
// and the command line are the host tests' rows.)
#include <cassert>
#include <cstring>

#include "platform/registry.h"

// The rules are asserts: a broken one aborts the run, and libFuzzer saves the input (the
// fuzz preset, like the host ones, builds without NDEBUG).
namespace {

// The bytes as little-endian 16-bit units, one wchar_t each; an odd last byte is dropped.
std::wstring utf16Text(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    return text;
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
    assert((status == 0) == (text != std::wstring(L"kept\0", 5)));
    assert(!missing || status == platform::kErrorFileNotFound);
    // Nothing half read and nothing mixed: the whole of a version, or a failure.
    assert(missing || text == expected(versions[0].first, versions[0].second) ||
           (changeAfter != 0 &&
            (status != 0 || text == expected(versions[1].first, versions[1].second))));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkRegistryRead(data, size);
    return 0;
}
