#pragma once
// Text from Win32 calls that write into a caller's buffer and say when it was too small.
// Internal to the Win32 platform code.

#include <windows.h>

#include <string>

namespace platform::win32 {

// Calls fill(buffer, size) with a buffer as large as the call asks for, starting at
// MAX_PATH. fill returns the length written (less than size), or the size to try next,
// or 0 on failure. Empty on failure, or when the call asks for no more room than it had
// or for more than the longest path Windows allows (so a racing or lying call ends).
template <typename Fill>
std::wstring grownText(Fill fill) {
    constexpr DWORD kLongestPath = 32768;
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const auto size = static_cast<DWORD>(buffer.size());
        const DWORD length = fill(buffer.data(), size);
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (length == size || length > 2 * kLongestPath) return {};
        buffer.resize(length);
    }
}

}  // namespace platform::win32
