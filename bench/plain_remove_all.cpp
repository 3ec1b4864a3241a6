// The reference removal for scripts/bench under Wine: std::filesystem::remove_all alone.
//   gu_bench_plain_remove_all FOLDER
// Prints the count it returned and the error, if any. Exits with 0 when remove_all
// reported no error, 1 when it did, 64 on wrong usage.
#include <cstdio>
#include <filesystem>
#include <system_error>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gu_bench_plain_remove_all FOLDER\n");
        return 64;
    }
    std::error_code ec;
    const std::uintmax_t removed = std::filesystem::remove_all(argv[1], ec);
    if (ec) {
        std::fprintf(stderr, "remove_all: %d/%s %s\n", ec.value(), ec.category().name(),
                     ec.message().c_str());
        return 1;
    }
    std::printf("removed %llu items\n", static_cast<unsigned long long>(removed));
    return 0;
}
