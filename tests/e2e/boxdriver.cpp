// boxdriver.exe: the end-to-end tests' one helper program inside the Wine prefix.
//   boxdriver.exe [--wait-ms N] [--press yes|no|ok]  waits up to N ms (10000) for a message
//       box of another program, prints in UTF-8 its caption, text, buttons ("yes,no"), the
//       number of boxes up and the button pressed, each ended by U+001E (nothing when there
//       is no box), and presses the button.
//       Exit 0 done, 1 no such button or the box stayed up, 2 no box.
//   boxdriver.exe --none-for-ms N   exit 0 when no box shows within N ms, else 1.
//   boxdriver.exe wait FILE TEXT [HELD]   holds HELD (a file or folder) open without delete sharing and then
//       creates FILE; waits until FILE holds TEXT (exit 0) or 90 s pass (exit 2).
//   boxdriver.exe short PATH   prints the short (8.3) name of PATH.
//   <copy>.exe URL   the launcher's stand-in: appends its command line to args.txt beside it.
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr std::pair<int, const char*> kButtons[] = {{IDYES, "yes"}, {IDNO, "no"}, {IDOK, "ok"}};

// UTF-8 of wide text.
std::string utf8(const std::wstring& text) {
    std::string out(text.size() * 3, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   out.data(), static_cast<int>(out.size()), nullptr, nullptr));
    return out;
}

// Writes raw bytes to standard output: text mode would turn \n into \r\n.
void put(const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
              &written, nullptr);
}

// A window's text and the field separator.
std::string field(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return utf8(text) + "\x1e";
}

// The child with that id when it is visible.
HWND visibleChild(HWND box, int id) {
    HWND child = GetDlgItem(box, id);
    return child && IsWindowVisible(child) ? child : nullptr;
}

// Adds every visible dialog window (class #32770) to the vector.
BOOL CALLBACK collectBox(HWND window, LPARAM boxes) {
    wchar_t name[16] = {};
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) && wcscmp(name, L"#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(boxes)->push_back(window);
    return TRUE;
}

// Prints the first box up within ms and presses `press` on it; the exit status as above.
int driveBox(DWORD ms, bool expectNone, const std::string& press) {
    std::vector<HWND> boxes;
    for (const ULONGLONG end = GetTickCount64() + ms;
         EnumWindows(collectBox, reinterpret_cast<LPARAM>(&boxes)) && boxes.empty() &&
         GetTickCount64() < end;)
        Sleep(10);
    if (boxes.empty()) return expectNone ? 0 : 2;
    HWND box = boxes.front(), button = nullptr;
    std::string buttons;
    for (const auto& [id, name] : kButtons) {
        if (!visibleChild(box, id)) continue;
        buttons += (buttons.empty() ? "" : ",") + std::string(name);
        if (press == name) button = visibleChild(box, id);
    }
    put(field(box) + field(GetDlgItem(box, 0xFFFF)) + buttons + "\x1e" +
        std::to_string(boxes.size()) + "\x1e" + (button ? press : "") + "\x1e");
    if (expectNone || (!press.empty() && !button)) return 1;
    if (!button) return 0;
    // A posted click notification closes the box at once; BM_CLICK takes about 2 s without
    // a window manager.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    for (int tries = 0; tries < 500 && IsWindowVisible(box); ++tries) Sleep(10);
    return IsWindowVisible(box) ? 1 : 0;
}

// Holds `held` (when given) the way a program using it would, then waits for the text in
// the file, read while another process may hold it open for writing.
int waitFor(const wchar_t* file, const std::wstring& text, const wchar_t* held) {
    if (held) {
        if (CreateFileW(held, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr) == INVALID_HANDLE_VALUE)
            return 1;
        CloseHandle(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    for (const ULONGLONG end = GetTickCount64() + 90000; GetTickCount64() < end; Sleep(5)) {
        HANDLE read =
            CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        std::string content(1 << 20, '\0');
        DWORD got = 0;
        content.resize(ReadFile(read, content.data(), 1 << 20, &got, nullptr) ? got : 0);
        if (read != INVALID_HANDLE_VALUE) CloseHandle(read);
        if (content.find(utf8(text)) != std::string::npos) return 0;
    }
    return 2;
}

// Appends the command line to args.txt in this executable's folder.
int recordStart() {
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    path = path.substr(0, path.find_last_of(L'\\') + 1) + L"args.txt";
    const std::string line = utf8(GetCommandLineW()) + "\n";
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    const bool ok =
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"--wait-ms";
    if (mode == L"wait" && (argc == 4 || argc == 5))
        return waitFor(argv[2], argv[3], argc == 5 ? argv[4] : nullptr);
    if (mode == L"short" && argc == 3) {
        std::wstring shortPath(32768, L'\0');
        shortPath.resize(GetShortPathNameW(argv[2], shortPath.data(), 32768));
        put(utf8(shortPath) + "\n");
        return shortPath.empty() ? 1 : 0;
    }
    if (mode.rfind(L"--", 0) != 0) return recordStart();
    DWORD ms = 10000;
    std::string press;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (argv[i] == std::wstring(L"--press"))
            press = utf8(argv[i + 1]);
        else
            ms = wcstoul(argv[i + 1], nullptr, 10);
    }
    return driveBox(ms, mode == L"--none-for-ms", press);
}
