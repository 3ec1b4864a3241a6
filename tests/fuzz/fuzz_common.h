#pragma once
// Shared pieces of the libFuzzer targets: a check that stops the run on a broken rule,
// and the decoding of the fuzzer's bytes as UTF-16 text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Stops the run (libFuzzer saves the input as a crash) when a rule does not hold.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "rule broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            __builtin_trap();                                                                   \
        }                                                                                       \
    } while (0)

// The bytes as little-endian 16-bit units, one wchar_t each; an odd last byte is dropped.
inline std::wstring utf16Text(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    text.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    }
    return text;
}
