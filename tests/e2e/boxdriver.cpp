// boxdriver.exe: finds a message box shown by another program in the same Wine prefix,
// prints what it shows as one line of JSON, and optionally presses one of its buttons.
//
//   boxdriver.exe [--wait-ms N] [--pid P] [--press yes|no|ok|cancel]
//   boxdriver.exe [--pid P] --none-for-ms N
//
// --wait-ms    how long to wait for a box (default 10000)
// --pid        only boxes of this Windows process id
// --press      press that button once the box is read, and wait until the box closes
// --none-for-ms  succeed only if no box appears within N ms
//
// Output, one UTF-8 line:
//   {"caption":"..","text":"..","buttons":["yes","no"],"icon":"exclamation","pid":P,
//    "count":1,"rect":[left,top,right,bottom],"pressed":"yes"}
// or {"box":null} when there is no box (time-out, or success of --none-for-ms).
//   icon     exclamation, information, question, error, present (another icon) or null
//   pid      the Windows process id of the box's owner
//   count    how many boxes are up
//   pressed  only with --press, when the box has that button
// Exit status: 0 done; 1 a box appeared during --none-for-ms, the box has no such
// button, or it did not close after the press; 2 time-out (no box); 64 bad command line.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Options {
    DWORD waitMs = 10000;
    DWORD pid = 0;    // 0: a box of any process
    int pressId = 0;  // 0: do not press
    bool expectNone = false;
    DWORD noneForMs = 0;
};

struct ButtonName {
    int id;
    const char* name;
};
// The buttons the program's boxes can have, in the order they are reported.
constexpr ButtonName kButtons[] = {
    {IDYES, "yes"}, {IDNO, "no"}, {IDOK, "ok"}, {IDCANCEL, "cancel"}};

constexpr int kTextId = 0xFFFF;            // the Static child holding the message text
constexpr int kIconIds[] = {0x14, 0x440};  // the icon's Static child: Windows, Wine

// ---- output ---------------------------------------------------------------------------

std::string toUtf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

// A JSON string literal: quotes, backslashes and control characters escaped, everything
// else (non-ASCII included) kept as raw UTF-8.
std::string jsonString(const std::wstring& w) {
    std::wstring esc;
    for (wchar_t c : w) {
        switch (c) {
            case L'"':
                esc += L"\\\"";
                break;
            case L'\\':
                esc += L"\\\\";
                break;
            case L'\n':
                esc += L"\\n";
                break;
            case L'\r':
                esc += L"\\r";
                break;
            case L'\t':
                esc += L"\\t";
                break;
            default:
                if (c < 0x20) {
                    wchar_t buf[8];
                    swprintf(buf, 8, L"\\u%04x", static_cast<unsigned>(c));
                    esc += buf;
                } else {
                    esc += c;
                }
        }
    }
    return "\"" + toUtf8(esc) + "\"";
}

// Writes raw bytes: the C runtime's text mode would turn \n into \r\n.
void writeLine(const std::string& line) {
    std::string s = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written,
              nullptr);
}

void fail(const char* message) {
    std::string s = std::string("boxdriver: ") + message + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written,
              nullptr);
}

// ---- finding and reading boxes --------------------------------------------------------

struct Finder {
    DWORD pid;
    std::vector<HWND> boxes;
};

BOOL CALLBACK collectBox(HWND hwnd, LPARAM param) {
    auto* finder = reinterpret_cast<Finder*>(param);
    wchar_t cls[16] = {};
    if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 16) || wcscmp(cls, L"#32770") != 0)
        return TRUE;
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (finder->pid == 0 || owner == finder->pid) finder->boxes.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> findBoxes(DWORD pid) {
    Finder finder{pid, {}};
    EnumWindows(collectBox, reinterpret_cast<LPARAM>(&finder));
    return finder.boxes;
}

std::wstring windowText(HWND hwnd) {
    if (!hwnd) return {};
    int len = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    int got = GetWindowTextW(hwnd, text.data(), len + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

HWND visibleChild(HWND box, int id) {
    HWND child = GetDlgItem(box, id);
    return child && IsWindowVisible(child) ? child : nullptr;
}

// ---- reading pixels ------------------------------------------------------------------
// Another process's window DC reads back nothing under Wine, but the screen DC returns
// what is on the display, so controls are read from the screen at their position.

// A w x h 32-bit top-down bitmap selected into a memory DC.
struct Canvas {
    int w, h;
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* px = nullptr;

    Canvas(int width, int height) : w(width), h(height) {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        px = static_cast<DWORD*>(bits);
        old = SelectObject(dc, bmp);
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bmp);
        DeleteDC(dc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    bool valid() const { return px != nullptr && w > 0 && h > 0; }
    size_t size() const { return static_cast<size_t>(w) * static_cast<size_t>(h); }
    DWORD colour(size_t i) const { return px[i] & 0x00FFFFFF; }  // alpha ignored

    // Copies what the screen shows at (x, y).
    void grab(int x, int y) {
        HDC screen = GetDC(nullptr);
        BitBlt(dc, 0, 0, w, h, screen, x, y, SRCCOPY);
        ReleaseDC(nullptr, screen);
        GdiFlush();
    }
    bool uniform() const {
        for (size_t i = 1; i < size(); ++i)
            if (colour(i) != colour(0)) return false;
        return true;
    }
    bool sameAs(const Canvas& other) const {
        if (other.size() != size()) return false;
        for (size_t i = 0; i < size(); ++i)
            if (colour(i) != other.colour(i)) return false;
        return true;
    }
};

// Waits (up to `ms`) until the box's text has been drawn, so that what is read from the
// screen, and a screenshot taken next, show the finished box.
void waitUntilPainted(HWND box, DWORD ms) {
    HWND text = GetDlgItem(box, kTextId);
    RECT r;
    if (!text || !GetWindowRect(text, &r) || GetWindowTextLengthW(text) == 0) return;
    Canvas shot(r.right - r.left, r.bottom - r.top);
    if (!shot.valid()) return;
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        shot.grab(r.left, r.top);
        if (!shot.uniform() || GetTickCount64() >= deadline) return;
        Sleep(10);
    }
}

// Which standard icon the box shows, as a JSON value. Icon handles belong to the process
// that loaded them, so they cannot be compared across processes; instead the control is
// read from the screen and each standard icon is drawn on the same background.
// "present" when none matches, null when the box has no icon.
std::string iconKind(HWND box) {
    HWND icon = nullptr;
    for (int id : kIconIds) {
        HWND child = visibleChild(box, id);
        if (child && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = child;
    }
    if (!icon || !SendMessageW(icon, STM_GETICON, 0, 0)) return "null";

    RECT r;
    GetWindowRect(icon, &r);
    const int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
    Canvas shot(w, h), drawn(w, h);
    if (!shot.valid() || !drawn.valid()) return "\"present\"";
    // The icon control may be painted after the text: wait until it shows something.
    const ULONGLONG deadline = GetTickCount64() + 1000;
    for (;;) {
        shot.grab(r.left, r.top);
        if (!shot.uniform() || GetTickCount64() >= deadline) break;
        Sleep(10);
    }

    const DWORD bg = shot.colour(0);
    HBRUSH brush = CreateSolidBrush(RGB((bg >> 16) & 0xFF, (bg >> 8) & 0xFF, bg & 0xFF));
    const RECT all = {0, 0, w, h};
    struct Candidate {
        LPCWSTR id;
        const char* name;
    };
    const Candidate candidates[] = {{IDI_EXCLAMATION, "exclamation"},
                                    {IDI_ASTERISK, "information"},
                                    {IDI_QUESTION, "question"},
                                    {IDI_HAND, "error"}};
    std::string kind = "\"present\"";
    for (const auto& c : candidates) {
        FillRect(drawn.dc, &all, brush);
        DrawIconEx(drawn.dc, 0, 0, LoadIconW(nullptr, c.id), w, h, 0, nullptr, DI_NORMAL);
        GdiFlush();
        if (shot.sameAs(drawn)) {
            kind = std::string("\"") + c.name + "\"";
            break;
        }
    }
    DeleteObject(brush);
    return kind;
}

std::string describe(HWND box, size_t count, const char* pressed) {
    waitUntilPainted(box, 2000);
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    std::string buttons;
    for (const auto& b : kButtons) {
        if (!visibleChild(box, b.id)) continue;
        if (!buttons.empty()) buttons += ",";
        buttons += std::string("\"") + b.name + "\"";
    }
    RECT r = {};
    GetWindowRect(box, &r);
    std::string json = "{\"caption\":" + jsonString(windowText(box)) +
                       ",\"text\":" + jsonString(windowText(GetDlgItem(box, kTextId))) +
                       ",\"buttons\":[" + buttons + "],\"icon\":" + iconKind(box) +
                       ",\"pid\":" + std::to_string(pid) + ",\"count\":" + std::to_string(count) +
                       ",\"rect\":[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                       std::to_string(r.right) + "," + std::to_string(r.bottom) + "]";
    if (pressed) json += std::string(",\"pressed\":\"") + pressed + "\"";
    return json + "}";
}

// Waits until a box shows; nullptr at the deadline. `count` gets how many are up.
HWND waitForBox(DWORD pid, DWORD waitMs, size_t& count) {
    const ULONGLONG deadline = GetTickCount64() + waitMs;
    for (;;) {
        auto boxes = findBoxes(pid);
        if (!boxes.empty()) {
            count = boxes.size();
            return boxes.front();
        }
        if (GetTickCount64() >= deadline) return nullptr;
        Sleep(10);
    }
}

// ---- command line ---------------------------------------------------------------------

bool parseNumber(const wchar_t* s, DWORD& out) {
    wchar_t* end = nullptr;
    unsigned long v = wcstoul(s, &end, 10);
    if (!*s || *end) return false;
    out = static_cast<DWORD>(v);
    return true;
}

bool parse(int argc, wchar_t** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::wstring a = argv[i];
        if (i + 1 >= argc) return false;
        const wchar_t* v = argv[++i];
        if (a == L"--wait-ms") {
            if (!parseNumber(v, o.waitMs)) return false;
        } else if (a == L"--pid") {
            if (!parseNumber(v, o.pid)) return false;
        } else if (a == L"--none-for-ms") {
            if (!parseNumber(v, o.noneForMs)) return false;
            o.expectNone = true;
        } else if (a == L"--press") {
            o.pressId = 0;
            for (const auto& b : kButtons)
                if (toUtf8(v) == b.name) o.pressId = b.id;
            if (!o.pressId) return false;
        } else {
            return false;
        }
    }
    return !(o.expectNone && o.pressId);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        fail(
            "usage: boxdriver [--wait-ms N] [--pid P] [--press yes|no|ok|cancel] | "
            "[--pid P] --none-for-ms N");
        return 64;
    }

    size_t count = 0;
    if (o.expectNone) {
        HWND box = waitForBox(o.pid, o.noneForMs, count);
        if (!box) {
            writeLine("{\"box\":null}");
            return 0;
        }
        writeLine(describe(box, count, nullptr));
        fail("a message box appeared");
        return 1;
    }

    HWND box = waitForBox(o.pid, o.waitMs, count);
    if (!box) {
        writeLine("{\"box\":null}");
        fail("no message box appeared in time");
        return 2;
    }
    if (!o.pressId) {
        writeLine(describe(box, count, nullptr));
        return 0;
    }

    HWND button = visibleChild(box, o.pressId);
    const char* name = nullptr;
    for (const auto& b : kButtons)
        if (b.id == o.pressId) name = b.name;
    writeLine(describe(box, count, button ? name : nullptr));
    if (!button) {
        fail("the box has no such button");
        return 1;
    }
    // A posted click notification closes the box at once; BM_CLICK takes about 2 s
    // without a window manager.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(o.pressId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (GetTickCount64() >= deadline) {
            fail("the box did not close after the press");
            return 1;
        }
        Sleep(10);
    }
    return 0;
}
