// boxdriver.exe: finds a message box shown by another program in the same Wine prefix,
// prints what it shows as one line of JSON, and optionally presses one of its buttons.
//
//   boxdriver.exe [--wait-ms N] [--press yes|no|ok|cancel]    (N defaults to 10000)
//   boxdriver.exe --none-for-ms N    succeeds only if no box appears within N ms
//
// Output, one UTF-8 line: {"caption":"..","text":"..","buttons":["yes","no"],
// "icon":"exclamation","pid":P,"count":1,"rect":[l,t,r,b],"pressed":"yes"}, or {"box":null} when there is
// none. icon: exclamation, information, question, error, present (another) or null; count:
// how many boxes are up; rect: the box on the screen (the demonstration's screenshots);
// pressed: only with --press, when the box has that button.
// Exit status: 0 done; 1 a box appeared during --none-for-ms, the box has no such button,
// or it did not close after the press; 2 time-out (no box); 64 bad command line.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

// The buttons the program's boxes can have, in the order they are reported.
constexpr std::pair<int, const char*> kButtons[] = {
    {IDYES, "yes"}, {IDNO, "no"}, {IDOK, "ok"}, {IDCANCEL, "cancel"}};
constexpr int kTextId = 0xFFFF;            // the Static child holding the message text
constexpr int kIconIds[] = {0x14, 0x440};  // the icon's Static child: Windows, Wine

// UTF-8 of wide text.
std::string toUtf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// A JSON string: quotes, backslashes and control characters escaped, the rest raw UTF-8.
std::string jsonString(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        wchar_t code[8];
        swprintf(code, 8, L"\\u%04x", static_cast<unsigned>(c));
        escaped += c == L'"'    ? L"\\\""
                   : c == L'\\' ? L"\\\\"
                   : c < 0x20   ? code
                                : std::wstring(1, c);
    }
    return "\"" + toUtf8(escaped) + "\"";
}

// Writes raw bytes to a standard handle: the C runtime's text mode would turn \n into \r\n.
void put(DWORD handle, const std::string& text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

// Adds every visible dialog window (class #32770) to the vector.
BOOL CALLBACK collectBox(HWND window, LPARAM boxes) {
    wchar_t name[16] = {};
    if (IsWindowVisible(window) && GetClassNameW(window, name, 16) && wcscmp(name, L"#32770") == 0)
        reinterpret_cast<std::vector<HWND>*>(boxes)->push_back(window);
    return TRUE;
}

// Waits up to ms until a box shows; all boxes up then, none at the deadline.
std::vector<HWND> waitForBoxes(DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (true) {
        std::vector<HWND> boxes;
        EnumWindows(collectBox, reinterpret_cast<LPARAM>(&boxes));
        if (!boxes.empty() || GetTickCount64() >= deadline) return boxes;
        Sleep(10);
    }
}

// A window's text.
std::wstring windowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

// The child with that id when it is visible.
HWND visibleChild(HWND box, int id) {
    HWND child = GetDlgItem(box, id);
    return child && IsWindowVisible(child) ? child : nullptr;
}

// w x h pixels of a memory DC: grabbed from the screen (another process's window DC reads
// back nothing under Wine) or drawn into.
struct Canvas {
    int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    Canvas() {
        HDC screen = GetDC(nullptr);
        bitmap = CreateCompatibleBitmap(screen, w, h);  // of the screen's depth, not monochrome
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    std::vector<COLORREF> pixels() const {
        std::vector<COLORREF> out;
        for (int i = 0; i < w * h; ++i) out.push_back(GetPixel(dc, i % w, i / w));
        return out;
    }
};

// Which standard icon the box shows, as a JSON value. Icon handles belong to the process
// that loaded them, so the control is read from the screen once painted and compared with
// each standard icon drawn on the same background.
std::string iconKind(HWND box) {
    HWND icon = nullptr;
    for (int id : kIconIds) {
        HWND child = visibleChild(box, id);
        if (child && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = child;
    }
    if (!icon || !SendMessageW(icon, STM_GETICON, 0, 0)) return "null";
    RECT at;
    GetWindowRect(icon, &at);
    Canvas shot, drawn;
    std::vector<COLORREF> shown;
    for (int tries = 0; tries < 100; ++tries, Sleep(10)) {
        HDC screen = GetDC(nullptr);
        BitBlt(shot.dc, 0, 0, shot.w, shot.h, screen, at.left, at.top, SRCCOPY);
        ReleaseDC(nullptr, screen);
        shown = shot.pixels();
        if (shown != std::vector<COLORREF>(shown.size(), shown[0])) break;
    }
    const std::pair<LPCWSTR, const char*> standard[] = {{IDI_EXCLAMATION, "exclamation"},
                                                        {IDI_ASTERISK, "information"},
                                                        {IDI_QUESTION, "question"},
                                                        {IDI_HAND, "error"}};
    HBRUSH background = CreateSolidBrush(shown[0]);
    const RECT all = {0, 0, drawn.w, drawn.h};
    std::string kind = "\"present\"";
    for (const auto& [id, name] : standard) {
        FillRect(drawn.dc, &all, background);
        DrawIconEx(drawn.dc, 0, 0, LoadIconW(nullptr, id), drawn.w, drawn.h, 0, nullptr, DI_NORMAL);
        if (drawn.pixels() == shown) kind = std::string("\"") + name + "\"";
    }
    DeleteObject(background);
    return kind;
}

// The box as one JSON line.
std::string describe(HWND box, size_t count, const char* pressed) {
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    std::string buttons;
    for (const auto& [id, name] : kButtons) {
        if (visibleChild(box, id))
            buttons += (buttons.empty() ? "\"" : ",\"") + std::string(name) + "\"";
    }
    RECT r = {};
    GetWindowRect(box, &r);
    return "{\"caption\":" + jsonString(windowText(box)) +
           ",\"text\":" + jsonString(windowText(GetDlgItem(box, kTextId))) + ",\"buttons\":[" +
           buttons + "],\"icon\":" + iconKind(box) + ",\"pid\":" + std::to_string(pid) +
           ",\"count\":" + std::to_string(count) + ",\"rect\":[" + std::to_string(r.left) + "," +
           std::to_string(r.top) + "," + std::to_string(r.right) + "," + std::to_string(r.bottom) +
           "]" + (pressed ? std::string(",\"pressed\":\"") + pressed + "\"" : "") + "}\n";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    DWORD waitMs = 10000;
    const char* press = nullptr;
    int pressId = 0;
    bool expectNone = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        expectNone = expectNone || option == L"--none-for-ms";
        if (option == L"--wait-ms" || option == L"--none-for-ms")
            waitMs = wcstoul(argv[i + 1], nullptr, 10);
        for (const auto& [id, name] : kButtons) {
            if (option == L"--press" && toUtf8(argv[i + 1]) == name) {
                pressId = id;
                press = name;
            }
        }
    }
    if (argc % 2 == 0 || (expectNone && pressId)) {
        put(STD_ERROR_HANDLE,
            "usage: boxdriver [--wait-ms N] [--press yes|no|ok|cancel] | --none-for-ms N\n");
        return 64;
    }
    const std::vector<HWND> boxes = waitForBoxes(waitMs);
    if (boxes.empty()) {
        put(STD_OUTPUT_HANDLE, "{\"box\":null}\n");
        return expectNone ? 0 : 2;
    }
    HWND box = boxes.front();
    HWND button = pressId ? visibleChild(box, pressId) : nullptr;
    put(STD_OUTPUT_HANDLE, describe(box, boxes.size(), button ? press : nullptr));
    if (expectNone || (pressId && !button)) return 1;
    if (!pressId) return 0;
    // A posted click notification closes the box at once; BM_CLICK takes about 2 s
    // without a window manager.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(pressId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    for (int tries = 0; tries < 500 && IsWindow(box) && IsWindowVisible(box); ++tries) Sleep(10);
    return IsWindow(box) && IsWindowVisible(box) ? 1 : 0;
}
