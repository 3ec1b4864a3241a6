// shortname.exe PATH...: prints for each PATH one UTF-8 line with the short (8.3) form
// GetShortPathNameW gives, or an empty line when the call fails.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        std::wstring shortPath(32768, L'\0');
        const DWORD length =
            GetShortPathNameW(argv[i], shortPath.data(), static_cast<DWORD>(shortPath.size()));
        shortPath.resize(length < shortPath.size() ? length : 0);
        std::string utf8(shortPath.size() * 3, '\0');
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, shortPath.data(), static_cast<int>(shortPath.size()),
                                utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
        utf8.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
        std::printf("%s\n", utf8.c_str());
    }
    return 0;
}
