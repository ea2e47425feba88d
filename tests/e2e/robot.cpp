// The end-to-end test robot: starts the installer, records every window it shows into a transcript
// (one JSON line per appearance, texts in UTF-8) and answers each window by the scenario's rules.
//
//   robot.exe [--timeout SECONDS] [--poll MS] [--first-paint X,Y:#rrggbb] [--args TEXT] [--follow]
//             RULES INSTALLER TRANSCRIPT
//
// --args puts TEXT on the installer's command line after its quoted path. --follow also answers the
// windows of every process the installer starts, and theirs in turn: INSTALLER may then be a caller
// such as cmd.exe running a batch file that starts the installer. Each of those processes that a
// sweep saw gets a record with its exit code once INSTALLER has ended (a program started by another
// that does not pass its exit code on, as Wine's uninstaller does not, is still told by it).
// --first-paint measures, with the performance counter, the time from starting the installer to the
// moment the pixel (X, Y) of a visible window's client area first shows that colour on the screen; the
// end record carries it as "first_paint_ms" (null when it never showed).
// RULES is a text file of rules, one a line (or a whole scenario file: then only the lines of its
// "@robot" block count). Screenshots go to the transcript's folder. Every window record also carries,
// for benchmarks, "seen_ms" (performance counter, milliseconds since the installer was started, taken
// by the sweep that found the window), "action_ms" (the same clock after each action) and
// "peak_working_set" (the installer's peak working set in bytes at that moment, or null). The exit code is 0 when the
// installer ended by itself (or by a rule's "kill": the end record says "killed") and every dialog and message box
// met a rule, 1 otherwise, 2 on bad use.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

enum {
    TEXT_CAPACITY = 8192,
    NAME_CAPACITY = 256,
    DEFAULT_TIMEOUT_SECONDS = 120,
    DEFAULT_POLL_MS = 15,
    SEND_TIMEOUT_MS = 3000,
    // How long a window may take to paint before the robot gives up on its pixels.
    PAINT_WAIT_MS = 5000,
    PAINT_POLL_MS = 25,
    // How long a "wait" action looks at a window for its conditions, and how often.
    WAIT_LIMIT_MS = 60000,
    WAIT_POLL_MS = 5,
    // How often a "follow" action reads the texts it follows.
    FOLLOW_POLL_MS = 1,
    EXIT_OK = 0,
    EXIT_FAILED = 1,
    EXIT_USAGE = 2,
    KILLED_EXIT_CODE = 0xDEAD,
    // The exit code a "kill" action gives the installer, apart from the timeout's.
    KILLED_BY_RULE_EXIT_CODE = 0xC1,
};

static const wchar_t DIALOG_CLASS[] = L"#32770";

// ---- Text ---------------------------------------------------------------------------------------

static std::string ToUtf8(const wchar_t *text, int length = -1)
{
    if (length == 0)
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text, length, NULL, 0, NULL, NULL);
    if (size <= 0)
        return std::string();
    std::string result((size_t)size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &result[0], size, NULL, NULL);
    if (length < 0)
        result.resize(strlen(result.c_str()));
    return result;
}

static std::wstring FromUtf8(const std::string &text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size() + 1, NULL, 0);
    std::wstring result((size_t)(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), (int)text.size() + 1, &result[0], size);
    result.resize(wcslen(result.c_str()));
    return result;
}

// ANSI text of the robot's own command line, as the system code page has it.
static std::string FromAnsi(const char *text)
{
    int size = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    std::wstring wide((size_t)(size > 0 ? size : 1), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], size);
    return ToUtf8(wide.c_str());
}

static std::string JsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

static std::string Hex(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lx", value);
    return text;
}

// A colour as #rrggbb.
static std::string ColorText(COLORREF color)
{
    char text[16];
    snprintf(text, sizeof text, "#%02x%02x%02x", GetRValue(color), GetGValue(color), GetBValue(color));
    return text;
}

// Button labels are compared without their mnemonic ampersands and without regard to ASCII case.
static std::string PlainLabel(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '&' && i + 1 < text.size()) {
            i++;
        }
        out += text[i];
    }
    return out;
}

static std::string Lower(std::string text)
{
    for (char &c : text)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return text;
}

static bool IsNumber(const std::string &text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// ---- Windows of the installer -------------------------------------------------------------------

static std::string ClassOf(HWND window)
{
    wchar_t name[NAME_CAPACITY];
    name[0] = L'\0';
    GetClassNameW(window, name, NAME_CAPACITY);
    return ToUtf8(name);
}

// The text of a window of another process. An edit control keeps its text in a buffer of its own,
// which only WM_GETTEXT, marshalled across processes, reaches (a hung window falls back to what the
// system keeps); every other window's text is the one the system keeps, read at once, without
// waiting for the installer's thread to come back to its message loop between two steps of its work.
static std::string WindowText(HWND window)
{
    static wchar_t text[TEXT_CAPACITY];
    DWORD_PTR length = 0;
    text[0] = L'\0';
    if (Lower(ClassOf(window)) != "edit" ||
        !SendMessageTimeoutW(window, WM_GETTEXT, TEXT_CAPACITY, (LPARAM)text, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                             SEND_TIMEOUT_MS, &length))
        InternalGetWindowText(window, text, TEXT_CAPACITY);
    text[TEXT_CAPACITY - 1] = L'\0';
    return ToUtf8(text);
}

struct Control {
    HWND Handle;
    int Id;
    std::string Class;
    std::string Text;
    DWORD Style;
    bool Visible;
    bool Enabled;
};

enum Kind { KIND_ANY, KIND_BOX, KIND_DIALOG, KIND_WINDOW };
static const char *const KIND_NAMES[] = { "any", "box", "dialog", "window" };

struct Sight {
    HWND Handle;
    int Sequence;
    Kind Kind;
    std::string Class;
    std::string Caption;
    DWORD Style, ExStyle;
    RECT Rect;
    RECT Client;
    POINT ClientOrigin; // of the client area, in screen coordinates
    bool HasOwner;
    std::string OwnerClass, OwnerCaption;
    std::vector<Control> Controls;
    // Message boxes only.
    std::string Text;
    std::string Icon;
    std::vector<const Control *> Buttons;
};

static bool IsClass(const Control &control, const char *name)
{
    return Lower(control.Class) == Lower(name);
}

static bool IsIconStatic(const Control &control)
{
    return IsClass(control, "Static") && (control.Style & SS_TYPEMASK) == SS_ICON;
}

// A message box is a dialog whose visible controls are statics and standard command buttons only.
static bool LooksLikeMessageBox(const Sight &sight)
{
    int buttons = 0;
    for (const Control &control : sight.Controls) {
        if (!control.Visible)
            continue;
        if (IsClass(control, "Button") && control.Id >= IDOK && control.Id <= IDCONTINUE)
            buttons++;
        else if (!IsClass(control, "Static"))
            return false;
    }
    return buttons > 0;
}

static void Observe(HWND window, Sight *sight)
{
    sight->Handle = window;
    sight->Class = ClassOf(window);
    sight->Caption = WindowText(window);
    sight->Style = (DWORD)GetWindowLongW(window, GWL_STYLE);
    sight->ExStyle = (DWORD)GetWindowLongW(window, GWL_EXSTYLE);
    GetWindowRect(window, &sight->Rect);
    GetClientRect(window, &sight->Client);
    sight->ClientOrigin.x = sight->ClientOrigin.y = 0;
    ClientToScreen(window, &sight->ClientOrigin);
    HWND owner = GetWindow(window, GW_OWNER);
    sight->HasOwner = owner != NULL;
    if (owner != NULL) {
        sight->OwnerClass = ClassOf(owner);
        sight->OwnerCaption = WindowText(owner);
    }
    // Direct children in z-order, which for a dialog is the order of its template.
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        Control control;
        control.Handle = child;
        control.Id = GetDlgCtrlID(child);
        control.Class = ClassOf(child);
        control.Text = WindowText(child);
        control.Style = (DWORD)GetWindowLongW(child, GWL_STYLE);
        control.Visible = IsWindowVisible(child) != FALSE;
        control.Enabled = IsWindowEnabled(child) != FALSE;
        sight->Controls.push_back(control);
    }
    if (sight->Class != ToUtf8(DIALOG_CLASS)) {
        sight->Kind = KIND_WINDOW;
        return;
    }
    sight->Kind = LooksLikeMessageBox(*sight) ? KIND_BOX : KIND_DIALOG;
    if (sight->Kind != KIND_BOX)
        return;
    for (const Control &control : sight->Controls) {
        if (!control.Visible)
            continue;
        if (IsClass(control, "Button"))
            sight->Buttons.push_back(&control);
        else if (!IsIconStatic(control) && sight->Text.empty())
            sight->Text = control.Text;
    }
}

static const Control *FindControl(const Sight &sight, int id)
{
    for (const Control &control : sight.Controls)
        if (control.Id == id)
            return &control;
    return NULL;
}

// ---- Pixels -------------------------------------------------------------------------------------

struct Pixels {
    int Width = 0, Height = 0;
    std::vector<unsigned char> Bits; // 24-bit rows, bottom-up, each padded to 4 bytes
    int Stride() const { return (Width * 3 + 3) & ~3; }
};

static BITMAPINFO DibInfo(int width, int height)
{
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

// Copies a rectangle of the screen. The X server holds what every process has drawn, so the screen
// is the one place where the installer's pixels and the robot's own can be compared.
static bool CaptureScreen(int x, int y, int width, int height, Pixels *pixels)
{
    if (width <= 0 || height <= 0)
        return false;
    pixels->Width = width;
    pixels->Height = height;
    pixels->Bits.assign((size_t)pixels->Stride() * height, 0);
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BOOL copied = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY);
    SelectObject(memory, previous);
    BITMAPINFO info = DibInfo(width, height);
    int rows = copied ? GetDIBits(memory, bitmap, 0, (UINT)height, pixels->Bits.data(), &info, DIB_RGB_COLORS) : 0;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return rows == height;
}

static bool CaptureClient(HWND window, Pixels *pixels)
{
    RECT client;
    POINT origin = { 0, 0 };
    if (!GetClientRect(window, &client) || !ClientToScreen(window, &origin))
        return false;
    return CaptureScreen(origin.x, origin.y, client.right, client.bottom, pixels);
}

static bool SaveBitmap(const Pixels &pixels, const std::string &path)
{
    BITMAPINFO info = DibInfo(pixels.Width, pixels.Height);
    BITMAPFILEHEADER header;
    memset(&header, 0, sizeof header);
    header.bfType = 0x4D42; // "BM"
    header.bfOffBits = sizeof header + sizeof info.bmiHeader;
    header.bfSize = header.bfOffBits + (DWORD)pixels.Bits.size();
    HANDLE file = CreateFileW(FromUtf8(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, &header, sizeof header, &written, NULL) && written == sizeof header;
    ok = ok && WriteFile(file, &info.bmiHeader, sizeof info.bmiHeader, &written, NULL) &&
         written == sizeof info.bmiHeader;
    ok = ok && WriteFile(file, pixels.Bits.data(), (DWORD)pixels.Bits.size(), &written, NULL) &&
         written == pixels.Bits.size();
    CloseHandle(file);
    return ok;
}

// Lets the installer's thread work through what is queued (a sent message is answered only when
// the thread is back in its message loop) and reports whether any painting is still pending.
static bool PaintPending(HWND window)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, SEND_TIMEOUT_MS, &ignored);
    if (GetUpdateRect(window, NULL, FALSE))
        return true;
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT))
        if (IsWindowVisible(child) && GetUpdateRect(child, NULL, FALSE))
            return true;
    return false;
}

// The client area as soon as nothing is left to paint, for a window that never stops changing
// while it works (the copy dialog's bars).
static bool CapturePaintedClient(HWND window, Pixels *pixels)
{
    DWORD start = GetTickCount();
    while (IsWindow(window)) {
        if (!PaintPending(window) && CaptureClient(window, pixels))
            return true;
        if (GetTickCount() - start > PAINT_WAIT_MS)
            return false;
        Sleep(PAINT_POLL_MS);
    }
    return false;
}

// The client area once it is painted and has stopped changing between two looks.
static bool CaptureSettledClient(HWND window, Pixels *pixels)
{
    DWORD start = GetTickCount();
    Pixels previous;
    bool havePrevious = false;
    while (IsWindow(window)) {
        if (!PaintPending(window) && CaptureClient(window, pixels)) {
            if (havePrevious && previous.Width == pixels->Width && previous.Height == pixels->Height &&
                previous.Bits == pixels->Bits)
                return true;
            previous = *pixels;
            havePrevious = true;
        }
        if (GetTickCount() - start > PAINT_WAIT_MS)
            return havePrevious;
        Sleep(PAINT_POLL_MS);
    }
    return false;
}

struct StandardIcon {
    const char *Name;
    WORD Resource; // the predefined icon's number, as MAKEINTRESOURCE takes it
};
static const StandardIcon STANDARD_ICONS[] = {
    { "error", (WORD)(ULONG_PTR)IDI_ERROR },
    { "information", (WORD)(ULONG_PTR)IDI_INFORMATION },
    { "question", (WORD)(ULONG_PTR)IDI_QUESTION },
    { "warning", (WORD)(ULONG_PTR)IDI_WARNING },
};

// Draws `icon` the way a static icon control does, on the background the control shows, and counts
// the pixels that differ from `seen`.
static int CountDifferences(const Pixels &seen, HICON icon)
{
    int width = seen.Width, height = seen.Height;
    const unsigned char *corner = seen.Bits.data() + (size_t)(height - 1) * seen.Stride();
    COLORREF background = RGB(corner[2], corner[1], corner[0]);

    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    HBRUSH brush = CreateSolidBrush(background);
    RECT all = { 0, 0, width, height };
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, icon, width, height, 0, NULL, DI_NORMAL);
    SelectObject(memory, previous);
    Pixels drawn;
    drawn.Width = width;
    drawn.Height = height;
    drawn.Bits.assign(seen.Bits.size(), 0);
    BITMAPINFO info = DibInfo(width, height);
    GetDIBits(memory, bitmap, 0, (UINT)height, drawn.Bits.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);

    int differences = 0;
    for (int y = 0; y < height; y++) {
        const unsigned char *a = seen.Bits.data() + (size_t)y * seen.Stride();
        const unsigned char *b = drawn.Bits.data() + (size_t)y * drawn.Stride();
        for (int x = 0; x < width * 3; x += 3)
            if (a[x] != b[x] || a[x + 1] != b[x + 1] || a[x + 2] != b[x + 2])
                differences++;
    }
    return differences;
}

// Names the standard icon a message box shows: "none" without a visible icon control, "unknown" when
// its pixels match none of the standard icons once painted (the capture is then kept for a look).
static std::string RecognizeIcon(const Sight &sight, const std::string &folder)
{
    const Control *iconControl = NULL;
    for (const Control &control : sight.Controls)
        if (control.Visible && IsIconStatic(control))
            iconControl = &control;
    if (iconControl == NULL)
        return "none";
    // Wine keeps the icon control of a box without an icon, visible and empty. A null icon handle
    // says so; a non-null one means nothing across processes, hence the pixels below.
    DWORD_PTR handle = 0;
    if (SendMessageTimeoutW(iconControl->Handle, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, SEND_TIMEOUT_MS,
                            &handle) &&
        handle == 0)
        return "none";

    HICON icons[sizeof STANDARD_ICONS / sizeof STANDARD_ICONS[0]];
    for (size_t i = 0; i < sizeof icons / sizeof icons[0]; i++)
        icons[i] = LoadIconW(NULL, MAKEINTRESOURCEW(STANDARD_ICONS[i].Resource));

    DWORD start = GetTickCount();
    Pixels seen;
    bool captured = false;
    do {
        if (!PaintPending(sight.Handle) && CaptureClient(iconControl->Handle, &seen)) {
            captured = true;
            int allowed = seen.Width * seen.Height / 50;
            int best = -1, bestCount = 0;
            for (size_t i = 0; i < sizeof icons / sizeof icons[0]; i++) {
                int count = CountDifferences(seen, icons[i]);
                if (count <= allowed && (best < 0 || count < bestCount)) {
                    best = (int)i;
                    bestCount = count;
                }
            }
            if (best >= 0)
                return STANDARD_ICONS[best].Name;
        }
        Sleep(PAINT_POLL_MS);
    } while (GetTickCount() - start < PAINT_WAIT_MS && IsWindow(sight.Handle));
    if (captured) {
        char name[64];
        snprintf(name, sizeof name, "icon-%d.bmp", sight.Sequence);
        SaveBitmap(seen, folder + name);
    }
    return "unknown";
}

// ---- Rules --------------------------------------------------------------------------------------

struct Condition {
    std::string Field; // class, caption, text, icon, owner, owner.class, owner.caption, button, control, control.<id>
    bool Contains;     // "~" rather than "="
    bool Negated;      // "!=" or "!~": holds when the plain condition does not
    bool AtLeast;      // ">=": the number the text starts with is at least the value ("37 %" >= 37)
    std::string Value;
};

struct Action {
    std::string Verb; // press, click, point, set, key, close, screenshot, wait, follow, run, kill, leave
    std::string Target;
    std::string Value;
    std::vector<Condition> Conditions; // wait: what must hold
};

struct Rule {
    int Line = 0;
    Kind Kind = KIND_ANY;
    std::vector<Condition> Conditions;
    int Nth = 0;  // only the n-th window that meets the conditions
    int From = 0; // the n-th and every later one
    std::vector<Action> Actions;
    int Seen = 0;
    int Fired = 0;
    std::string Source;
};

// Splits a rule line into words: bare words, "double quoted" (\" and \\ escaped) or 'single
// quoted' (taken as is) parts, and the separators as words of their own: ';' anywhere outside quotes,
// ':' outside quotes when a blank or the line's end follows it (so that text~C:\dist stays whole).
static bool SplitWords(const std::string &line, std::vector<std::string> *words, std::vector<bool> *quoted,
                       std::string *error)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    auto isSeparator = [&](size_t at) {
        return line[at] == ';' || (line[at] == ':' && (at + 1 == line.size() || isBlank(line[at + 1])));
    };
    size_t i = 0;
    while (i < line.size()) {
        if (isBlank(line[i])) {
            i++;
            continue;
        }
        if (line[i] == '#')
            break;
        if (isSeparator(i)) {
            words->push_back(std::string(1, line[i]));
            quoted->push_back(false);
            i++;
            continue;
        }
        std::string word;
        bool wasQuoted = false;
        while (i < line.size() && !isBlank(line[i]) && !isSeparator(i)) {
            char c = line[i];
            if (c != '"' && c != '\'') {
                word += c;
                i++;
                continue;
            }
            wasQuoted = true;
            size_t j = i + 1;
            for (; j < line.size() && line[j] != c; j++) {
                if (c == '"' && line[j] == '\\' && j + 1 < line.size() && (line[j + 1] == '"' || line[j + 1] == '\\'))
                    j++;
                word += line[j];
            }
            if (j >= line.size()) {
                *error = "unterminated quote";
                return false;
            }
            i = j + 1;
        }
        words->push_back(word);
        quoted->push_back(wasQuoted);
    }
    return true;
}

static bool ParseKind(const std::string &word, Kind *kind)
{
    for (int i = 0; i < 4; i++)
        if (word == KIND_NAMES[i]) {
            *kind = (Kind)i;
            return true;
        }
    return false;
}

// FIELD=VALUE, FIELD~VALUE (contains), FIELD!=VALUE or FIELD!~VALUE (the opposite), FIELD>=NUMBER.
static bool ParseCondition(const std::string &word, Condition *condition, std::string *error)
{
    size_t at = word.find_first_of("=~");
    if (at == std::string::npos || at == 0 || (at == 1 && (word[0] == '!' || word[0] == '>'))) {
        *error = "condition without = or ~: " + word;
        return false;
    }
    condition->Negated = word[at - 1] == '!';
    condition->AtLeast = word[at - 1] == '>' && word[at] == '=';
    condition->Field = word.substr(0, condition->Negated || condition->AtLeast ? at - 1 : at);
    condition->Contains = word[at] == '~';
    condition->Value = word.substr(at + 1);
    if (condition->AtLeast && !IsNumber(condition->Value)) {
        *error = ">= needs a number: " + word;
        return false;
    }
    static const char *const fields[] = { "class", "caption", "text", "icon", "owner", "owner.class",
                                          "owner.caption", "button", "control", "nth", "from" };
    bool known = condition->Field.compare(0, 8, "control.") == 0 && IsNumber(condition->Field.substr(8));
    for (const char *field : fields)
        known = known || condition->Field == field;
    if (!known) {
        *error = "unknown condition field: " + condition->Field;
        return false;
    }
    return true;
}

// "on KIND [CONDITION...] : ACTION [; ACTION...]"
static bool ParseRule(const std::string &line, int lineNumber, Rule *rule, std::string *error)
{
    std::vector<std::string> words;
    std::vector<bool> quoted;
    if (!SplitWords(line, &words, &quoted, error))
        return false;
    rule->Line = lineNumber;
    rule->Source = line;
    while (!rule->Source.empty() && (rule->Source.back() == '\r' || rule->Source.back() == ' '))
        rule->Source.pop_back();
    size_t i = 0;
    if (words.size() < 2 || words[0] != "on" || !ParseKind(words[1], &rule->Kind)) {
        *error = "a rule starts with: on box|dialog|window|any";
        return false;
    }
    for (i = 2; i < words.size() && words[i] != ":"; i++) {
        const std::string &word = words[i];
        Condition condition;
        if (!ParseCondition(word, &condition, error))
            return false;
        if (condition.Field == "nth" || condition.Field == "from") {
            int n = atoi(condition.Value.c_str());
            if (n <= 0 || condition.Contains || condition.Negated) {
                *error = condition.Field + " needs a count from 1";
                return false;
            }
            (condition.Field == "nth" ? rule->Nth : rule->From) = n;
            continue;
        }
        rule->Conditions.push_back(condition);
    }
    if (i >= words.size()) {
        *error = "missing ':' before the actions";
        return false;
    }
    for (i++; i < words.size(); i++) {
        if (words[i] == ";")
            continue;
        Action action;
        action.Verb = words[i];
        auto next = [&](std::string *into) {
            if (i + 1 < words.size() && (words[i + 1] != ";" || quoted[i + 1])) {
                *into = words[++i];
                return true;
            }
            return false;
        };
        if (action.Verb == "press" || action.Verb == "click" || action.Verb == "key" ||
            action.Verb == "screenshot" || action.Verb == "run" || action.Verb == "point") {
            if (!next(&action.Target)) {
                *error = action.Verb + " needs an argument";
                return false;
            }
            // screenshot FILE moving: taken once painted, without waiting for the picture to stand still.
            if (action.Verb == "screenshot" && i + 1 < words.size() && words[i + 1] == "moving" && !quoted[i + 1])
                action.Value = words[++i];
        } else if (action.Verb == "follow") {
            // follow ID BY: the numbers control ID shows, as long as control BY shows the same text.
            if (!next(&action.Target) || !IsNumber(action.Target) || !next(&action.Value) ||
                !IsNumber(action.Value)) {
                *error = "follow needs two control ids";
                return false;
            }
        } else if (action.Verb == "set") {
            if (!next(&action.Target) || !IsNumber(action.Target) || !next(&action.Value)) {
                *error = "set needs a control id and a text";
                return false;
            }
        } else if (action.Verb == "wait") {
            // wait CONDITION...: the window is looked at again until every condition holds.
            while (i + 1 < words.size() && words[i + 1] != ";") {
                Condition condition;
                if (!ParseCondition(words[++i], &condition, error))
                    return false;
                if (condition.Field == "nth" || condition.Field == "from") {
                    *error = "wait takes no " + condition.Field;
                    return false;
                }
                action.Conditions.push_back(condition);
                action.Value += (action.Value.empty() ? "" : " ") + words[i];
            }
            if (action.Conditions.empty()) {
                *error = "wait needs at least one condition";
                return false;
            }
        } else if (action.Verb == "close") {
            // close, or close owner: the title bar's close box of the window or of its owner.
            if (i + 1 < words.size() && words[i + 1] == "owner")
                action.Target = words[++i];
        } else if (action.Verb != "leave" && action.Verb != "kill") {
            *error = "unknown action: " + action.Verb;
            return false;
        }
        rule->Actions.push_back(action);
        if (i + 1 < words.size() && words[i + 1] != ";") {
            *error = "expected ';' after " + action.Verb;
            return false;
        }
    }
    if (rule->Actions.empty()) {
        *error = "a rule needs at least one action (leave does nothing)";
        return false;
    }
    return true;
}

static bool LoadRules(const char *path, std::vector<Rule> *rules)
{
    FILE *file = fopen(path, "rb");
    if (file == NULL) {
        fprintf(stderr, "robot: cannot open rules %s\n", path);
        return false;
    }
    std::vector<std::string> lines;
    char buffer[TEXT_CAPACITY];
    bool sectioned = false;
    while (fgets(buffer, sizeof buffer, file) != NULL) {
        std::string line = buffer;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line.compare(0, 6, "@robot") == 0)
            sectioned = true;
        lines.push_back(line);
    }
    fclose(file);

    bool inside = !sectioned, ok = true;
    for (size_t n = 0; n < lines.size(); n++) {
        const std::string &line = lines[n];
        // "@name" opens a block of the scenario; "@=" (a registry default value) does not.
        if (line.size() > 1 && line[0] == '@' && isalpha((unsigned char)line[1])) {
            inside = line.compare(0, 6, "@robot") == 0;
            continue;
        }
        size_t first = line.find_first_not_of(" \t");
        if (!inside || first == std::string::npos || line[first] == '#')
            continue;
        Rule rule;
        std::string error;
        if (!ParseRule(line.substr(first), (int)n + 1, &rule, &error)) {
            fprintf(stderr, "robot: %s:%d: %s\n", path, (int)n + 1, error.c_str());
            ok = false;
            continue;
        }
        rules->push_back(rule);
    }
    return ok;
}

static bool ValueMatches(const Condition &condition, const std::string &value)
{
    if (condition.AtLeast)
        return !value.empty() && isdigit((unsigned char)value[0]) && atol(value.c_str()) >= atol(condition.Value.c_str());
    return condition.Contains ? value.find(condition.Value) != std::string::npos : value == condition.Value;
}

static bool PlainConditionHolds(const Condition &condition, const Sight &sight);

static bool ConditionHolds(const Condition &condition, const Sight &sight)
{
    return PlainConditionHolds(condition, sight) != condition.Negated;
}

static bool PlainConditionHolds(const Condition &condition, const Sight &sight)
{
    const std::string &field = condition.Field;
    if (field == "class")
        return ValueMatches(condition, sight.Class);
    if (field == "caption")
        return ValueMatches(condition, sight.Caption);
    if (field == "text")
        return ValueMatches(condition, sight.Text);
    if (field == "icon")
        return ValueMatches(condition, sight.Icon);
    if (field == "owner")
        return sight.HasOwner ? condition.Value != "none" && ValueMatches(condition, sight.OwnerCaption)
                              : condition.Value == "none";
    if (field == "owner.class")
        return sight.HasOwner && ValueMatches(condition, sight.OwnerClass);
    if (field == "owner.caption")
        return sight.HasOwner && ValueMatches(condition, sight.OwnerCaption);
    if (field == "button") {
        for (const Control &control : sight.Controls)
            if (control.Visible && IsClass(control, "Button") &&
                (condition.Contains ? PlainLabel(control.Text).find(condition.Value) != std::string::npos
                                    : Lower(PlainLabel(control.Text)) == Lower(condition.Value)))
                return true;
        return false;
    }
    if (field == "control")
        return FindControl(sight, atoi(condition.Value.c_str())) != NULL;
    const Control *control = FindControl(sight, atoi(field.c_str() + 8));
    return control != NULL && ValueMatches(condition, control->Text);
}

// The first rule that applies. Every rule counts the appearances that meet its conditions, also
// those an earlier rule answers, so that nth=2 means the second such window of the whole run.
static Rule *FindRule(std::vector<Rule> &rules, const Sight &sight)
{
    Rule *chosen = NULL;
    for (Rule &rule : rules) {
        if (rule.Kind != KIND_ANY && rule.Kind != sight.Kind)
            continue;
        bool holds = true;
        for (const Condition &condition : rule.Conditions)
            holds = holds && ConditionHolds(condition, sight);
        if (!holds)
            continue;
        rule.Seen++;
        bool due = (rule.Nth == 0 || rule.Seen == rule.Nth) && (rule.From == 0 || rule.Seen >= rule.From);
        if (due && chosen == NULL)
            chosen = &rule;
    }
    if (chosen != NULL)
        chosen->Fired++;
    return chosen;
}

// ---- Answers ------------------------------------------------------------------------------------

struct Robot {
    std::vector<Rule> Rules;
    std::string Folder; // of the transcript, with a trailing backslash
    FILE *Transcript = NULL;
    int Sequence = 0;
    int Failures = 0;
    bool Killed = false; // ended by a rule's kill action
    // For the timings and the memory figure of the window records.
    HANDLE Process = NULL;
    LARGE_INTEGER Launched = {}, Frequency = {};
};

// Milliseconds since the installer was started, by the performance counter.
static double ElapsedMs(const Robot &robot)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - robot.Launched.QuadPart) * 1000.0 / (double)robot.Frequency.QuadPart;
}

static std::string MsText(double ms)
{
    char text[32];
    snprintf(text, sizeof text, "%.3f", ms);
    return text;
}

// What the fields that `conditions` name held in `sight`, for a report: caption="...", control.256="...".
static std::string Describe(const std::vector<Condition> &conditions, const Sight &sight)
{
    std::string text;
    for (const Condition &condition : conditions) {
        const std::string &field = condition.Field;
        std::string value;
        if (field == "caption")
            value = JsonString(sight.Caption);
        else if (field == "text")
            value = JsonString(sight.Text);
        else if (field.compare(0, 8, "control.") == 0) {
            const Control *control = FindControl(sight, atoi(field.c_str() + 8));
            value = control != NULL ? JsonString(control->Text) : "(no such control)";
        } else
            continue;
        text += (text.empty() ? "" : " ") + field + "=" + value;
    }
    return text.empty() ? "(nothing to show)" : text;
}

// The control a press or click means: a number is a control id, anything else a button's label.
static const Control *FindTarget(const Sight &sight, const std::string &target)
{
    if (IsNumber(target))
        return FindControl(sight, atoi(target.c_str()));
    for (const Control &control : sight.Controls)
        if (control.Visible && IsClass(control, "Button") && Lower(PlainLabel(control.Text)) == Lower(target))
            return &control;
    return NULL;
}

static bool KeyCode(const std::string &name, UINT *key)
{
    static const struct {
        const char *Name;
        UINT Key;
    } keys[] = {
        { "escape", VK_ESCAPE }, { "enter", VK_RETURN }, { "return", VK_RETURN }, { "tab", VK_TAB },
        { "space", VK_SPACE },   { "up", VK_UP },        { "down", VK_DOWN },     { "left", VK_LEFT },
        { "right", VK_RIGHT },
    };
    for (const auto &entry : keys)
        if (Lower(name) == entry.Name) {
            *key = entry.Key;
            return true;
        }
    return false;
}

// The file name a screenshot action writes: %n stands for the window's sequence number.
static std::string ScreenshotName(const Action &action, int sequence)
{
    std::string name = action.Target;
    size_t at = name.find("%n");
    if (at != std::string::npos)
        name.replace(at, 2, std::to_string(sequence));
    return name;
}

// Performs one action; returns an empty string or what went wrong. A window that closes by itself
// before its picture settles is no fault of the installer: that goes to `notes` instead.
static std::string Perform(Robot &robot, const Sight &sight, const Action &action, std::vector<std::string> *files,
                           std::vector<std::string> *notes)
{
    HWND window = sight.Handle;
    if (action.Verb == "leave")
        return "";
    if (action.Verb == "kill") {
        // The process ends where it stands, as when a system shuts down or a deployment tool gives up.
        if (robot.Process == NULL || !TerminateProcess(robot.Process, KILLED_BY_RULE_EXIT_CODE))
            return "cannot end the installer";
        robot.Killed = true;
        WaitForSingleObject(robot.Process, INFINITE);
        return "";
    }
    if (action.Verb == "close") {
        // What the close box of the title bar sends.
        HWND target = action.Target == "owner" ? GetWindow(window, GW_OWNER) : window;
        if (target == NULL)
            return "no owner to close";
        PostMessageW(target, WM_SYSCOMMAND, SC_CLOSE, 0);
        return "";
    }
    if (action.Verb == "press" || action.Verb == "click") {
        const Control *control = FindTarget(sight, action.Target);
        if (control == NULL)
            return "no control " + action.Target;
        if (action.Verb == "press") {
            // What a button's click sends to its dialog, posted so that a dialog opened by the handler
            // cannot hold the robot.
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(control->Id, BN_CLICKED), (LPARAM)control->Handle);
        } else {
            RECT rect;
            GetClientRect(control->Handle, &rect);
            LPARAM at = MAKELPARAM(rect.right / 2, rect.bottom / 2);
            PostMessageW(control->Handle, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(control->Handle, WM_LBUTTONUP, 0, at);
        }
        return "";
    }
    if (action.Verb == "point") {
        // point ID|LABEL: the system's pointer to the centre of that control, as a hand on the mouse
        // moves it; point X,Y: to that point of the screen. It stays there, as a resting hand leaves it.
        POINT at;
        int x = 0, y = 0;
        char rest = 0;
        if (sscanf(action.Target.c_str(), "%d,%d%c", &x, &y, &rest) == 2) {
            at.x = x;
            at.y = y;
        } else {
            const Control *control = FindTarget(sight, action.Target);
            if (control == NULL)
                return "no control " + action.Target;
            RECT rect;
            GetWindowRect(control->Handle, &rect);
            at.x = (rect.left + rect.right) / 2;
            at.y = (rect.top + rect.bottom) / 2;
        }
        if (!SetCursorPos(at.x, at.y))
            return "cannot move the pointer to " + action.Target;
        return "";
    }
    if (action.Verb == "set") {
        const Control *control = FindControl(sight, atoi(action.Target.c_str()));
        if (control == NULL)
            return "no control " + action.Target;
        std::wstring text = FromUtf8(action.Value);
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(control->Handle, WM_SETTEXT, 0, (LPARAM)text.c_str(), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                 SEND_TIMEOUT_MS, &result) ||
            !result)
            return "could not set the text of " + action.Target;
        return "";
    }
    if (action.Verb == "key") {
        UINT key = 0;
        if (!KeyCode(action.Target, &key))
            return "unknown key " + action.Target;
        // The key goes where the keyboard would send it: the focused control of the installer's thread.
        GUITHREADINFO info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        HWND target = window;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(window, NULL), &info) && info.hwndFocus != NULL &&
            (info.hwndFocus == window || IsChild(window, info.hwndFocus)))
            target = info.hwndFocus;
        UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
        PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
        PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
        return "";
    }
    if (action.Verb == "wait") {
        DWORD start = GetTickCount();
        bool held = false;
        for (;;) {
            // The installer changes one text after the other (an entry's label, then its percentage
            // back to 0): the conditions must hold at two looks a poll apart, never at one that fell
            // between two such changes.
            Sight now;
            Observe(window, &now);
            if (!IsWindow(window))
                return "the window closed first; last seen: " + Describe(action.Conditions, now);
            bool holds = true;
            for (const Condition &condition : action.Conditions)
                holds = holds && ConditionHolds(condition, now);
            if (holds && held)
                return "";
            held = holds;
            if (GetTickCount() - start > WAIT_LIMIT_MS)
                return "not met within " + std::to_string(WAIT_LIMIT_MS / 1000) +
                       " s; last seen: " + Describe(action.Conditions, now);
            Sleep(WAIT_POLL_MS);
        }
    }
    if (action.Verb == "follow") {
        // Reads both texts until the window closes; every new pair goes into the notes. Within one
        // text of control BY (one [Files] entry), the number control ID shows must never go down, but
        // to 0: BY's new text may be read just before ID's is set back to 0 for it.
        HWND followed = GetDlgItem(window, atoi(action.Target.c_str()));
        HWND by = GetDlgItem(window, atoi(action.Value.c_str()));
        if (followed == NULL || by == NULL)
            return "no control " + (followed == NULL ? action.Target : action.Value);
        std::string lastBy, lastText, shown, fault;
        DWORD start = GetTickCount();
        while (IsWindow(window) && GetTickCount() - start < WAIT_LIMIT_MS) {
            std::string byText = WindowText(by), text = WindowText(followed);
            // A window on its way out (hidden before its controls go) shows nothing more.
            if (!IsWindow(window) || !IsWindowVisible(window))
                break;
            if (byText != lastBy || text != lastText) {
                int number = atoi(text.c_str());
                if (byText == lastBy && fault.empty() && number != 0 && number < atoi(lastText.c_str()))
                    fault = "control " + action.Target + " went from \"" + lastText + "\" back to \"" + text +
                            "\" while control " + action.Value + " showed \"" + byText + "\"";
                shown += (byText != lastBy ? (shown.empty() ? "" : " | ") + byText + ": " : " ") + text;
                lastBy = byText;
                lastText = text;
            }
            Sleep(FOLLOW_POLL_MS);
        }
        notes->push_back("follow " + action.Target + " " + action.Value + ": " + shown);
        return fault;
    }
    if (action.Verb == "run") {
        // run COMMAND: another program started while the window waits (a second installer, a
        // caller's batch file), waited for; its exit code goes into the window's notes.
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started;
        std::string commandLine = action.Target;
        if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started))
            return "cannot start " + action.Target + " (error " + std::to_string(GetLastError()) + ")";
        DWORD waited = WaitForSingleObject(started.hProcess, WAIT_LIMIT_MS);
        DWORD exitCode = 0;
        GetExitCodeProcess(started.hProcess, &exitCode);
        CloseHandle(started.hThread);
        CloseHandle(started.hProcess);
        if (waited != WAIT_OBJECT_0)
            return action.Target + " did not end within " + std::to_string(WAIT_LIMIT_MS / 1000) + " s";
        notes->push_back("run " + action.Target + ": exit code " + std::to_string(exitCode));
        return "";
    }
    if (action.Verb == "screenshot") {
        std::string name = ScreenshotName(action, sight.Sequence);
        Pixels pixels;
        bool taken = action.Value == "moving" ? CapturePaintedClient(window, &pixels)
                                              : CaptureSettledClient(window, &pixels);
        if (!taken) {
            if (IsWindow(window) && IsWindowVisible(window))
                return "no screenshot of the client area";
            notes->push_back("no " + name + ": the window closed first");
            return "";
        }
        if (!SaveBitmap(pixels, robot.Folder + name))
            return "cannot write " + name;
        files->push_back(name);
        return "";
    }
    return "unknown action " + action.Verb;
}

// The answer to a dialog or message box that no rule foresaw: whatever most likely ends it soon.
static Action FallbackAnswer(const Sight &sight)
{
    Action action;
    if (sight.Kind == KIND_WINDOW) {
        action.Verb = "leave";
        return action;
    }
    static const char *const labels[] = { "cancel", "annuler", "annulla", "no", "non", "ok" };
    for (const char *label : labels) {
        if (FindTarget(sight, label) != NULL) {
            action.Verb = "press";
            action.Target = label;
            return action;
        }
    }
    action.Verb = "close";
    return action;
}

static std::string ActionText(const Action &action, int sequence)
{
    std::string text = action.Verb;
    if (action.Verb == "screenshot")
        text += " " + ScreenshotName(action, sequence);
    else if (!action.Target.empty())
        text += " " + action.Target;
    if (action.Verb == "set")
        text += " " + JsonString(action.Value);
    else if (action.Verb == "follow")
        text += " " + action.Value;
    else if (action.Verb == "wait")
        text += " " + action.Value;
    return text;
}

static void Write(Robot &robot, const std::string &line)
{
    fputs(line.c_str(), robot.Transcript);
    fputc('\n', robot.Transcript);
    fflush(robot.Transcript);
}

static void Answer(Robot &robot, HWND window, double seenMs)
{
    Sight sight;
    Observe(window, &sight);
    // A window on its way out while it was being looked at (the system hides a window before it
    // destroys its controls) leaves a partial picture: it counts as unseen, like one that lived between
    // two sweeps.
    if (!IsWindow(window) || !IsWindowVisible(window))
        return;
    sight.Sequence = ++robot.Sequence;
    if (sight.Kind == KIND_BOX)
        sight.Icon = RecognizeIcon(sight, robot.Folder);

    Rule *rule = FindRule(robot.Rules, sight);
    std::vector<Action> actions;
    if (rule != NULL)
        actions = rule->Actions;
    else
        actions.push_back(FallbackAnswer(sight));
    bool unmatched = rule == NULL && sight.Kind != KIND_WINDOW;

    PROCESS_MEMORY_COUNTERS memory;
    memset(&memory, 0, sizeof memory);
    memory.cb = sizeof memory;
    bool measured = robot.Process != NULL && GetProcessMemoryInfo(robot.Process, &memory, sizeof memory);

    std::vector<std::string> done, errors, files, notes;
    std::vector<double> doneMs;
    for (const Action &action : actions) {
        std::string error = Perform(robot, sight, action, &files, &notes);
        doneMs.push_back(ElapsedMs(robot));
        done.push_back(ActionText(action, sight.Sequence));
        if (!error.empty())
            errors.push_back(done.back() + ": " + error);
    }
    if (unmatched || !errors.empty())
        robot.Failures++;

    std::string line = "{\"seq\":" + std::to_string(sight.Sequence);
    line += ",\"kind\":" + JsonString(KIND_NAMES[sight.Kind]);
    line += ",\"class\":" + JsonString(sight.Class);
    line += ",\"caption\":" + JsonString(sight.Caption);
    if (sight.Kind == KIND_BOX) {
        line += ",\"text\":" + JsonString(sight.Text);
        line += ",\"icon\":" + JsonString(sight.Icon);
        line += ",\"buttons\":[";
        for (size_t i = 0; i < sight.Buttons.size(); i++)
            line += (i ? "," : "") + JsonString(PlainLabel(sight.Buttons[i]->Text));
        line += "]";
    }
    if (sight.HasOwner)
        line += ",\"owner\":{\"class\":" + JsonString(sight.OwnerClass) + ",\"caption\":" +
                JsonString(sight.OwnerCaption) + "}";
    else
        line += ",\"owner\":null";
    line += ",\"rect\":[" + std::to_string(sight.Rect.left) + "," + std::to_string(sight.Rect.top) + "," +
            std::to_string(sight.Rect.right - sight.Rect.left) + "," +
            std::to_string(sight.Rect.bottom - sight.Rect.top) + "]";
    line += ",\"client\":[" + std::to_string(sight.Client.right) + "," + std::to_string(sight.Client.bottom) + "]";
    line += ",\"client_origin\":[" + std::to_string(sight.ClientOrigin.x) + "," +
            std::to_string(sight.ClientOrigin.y) + "]";
    line += ",\"style\":" + JsonString(Hex(sight.Style)) + ",\"exstyle\":" + JsonString(Hex(sight.ExStyle));
    line += ",\"controls\":[";
    for (size_t i = 0; i < sight.Controls.size(); i++) {
        const Control &control = sight.Controls[i];
        line += (i ? "," : "");
        line += "{\"id\":" + std::to_string(control.Id) + ",\"class\":" + JsonString(control.Class) +
                ",\"text\":" + JsonString(control.Text) + ",\"style\":" + JsonString(Hex(control.Style)) +
                ",\"visible\":" + (control.Visible ? "true" : "false") +
                ",\"enabled\":" + (control.Enabled ? "true" : "false") + "}";
    }
    line += "]";
    line += ",\"rule\":" + (rule != NULL ? std::to_string(rule->Line) : std::string("null"));
    line += ",\"unmatched\":" + std::string(unmatched ? "true" : "false");
    line += ",\"actions\":[";
    for (size_t i = 0; i < done.size(); i++)
        line += (i ? "," : "") + JsonString(done[i]);
    line += "],\"errors\":[";
    for (size_t i = 0; i < errors.size(); i++)
        line += (i ? "," : "") + JsonString(errors[i]);
    line += "],\"notes\":[";
    for (size_t i = 0; i < notes.size(); i++)
        line += (i ? "," : "") + JsonString(notes[i]);
    line += "],\"screenshots\":[";
    for (size_t i = 0; i < files.size(); i++)
        line += (i ? "," : "") + JsonString(files[i]);
    line += "],\"seen_ms\":" + MsText(seenMs) + ",\"action_ms\":[";
    for (size_t i = 0; i < doneMs.size(); i++)
        line += (i ? "," : "") + MsText(doneMs[i]);
    line += "],\"peak_working_set\":" + (measured ? std::to_string(memory.PeakWorkingSetSize) : std::string("null"));
    line += "}";
    Write(robot, line);

    printf("robot: #%d %s \"%s\"", sight.Sequence, KIND_NAMES[sight.Kind], sight.Caption.c_str());
    if (sight.Kind == KIND_BOX)
        printf(" [%s] %s", sight.Icon.c_str(), sight.Text.c_str());
    for (const std::string &action : done)
        printf(" -> %s", action.c_str());
    if (unmatched)
        printf(" (NO RULE MATCHED)");
    for (const std::string &error : errors)
        printf(" (FAILED: %s)", error.c_str());
    for (const std::string &note : notes)
        printf(" (%s)", note.c_str());
    printf("\n");
    fflush(stdout);
}

// ---- The run ------------------------------------------------------------------------------------

struct Known {
    HWND Handle;
    bool Seen; // during the current sweep
};

struct Sweep {
    std::vector<DWORD> ProcessIds; // the installer's, and with --follow those of its descendants
    std::vector<HWND> Windows;
};

// A process of the followed tree, held open from the first sweep that saw it, so that its exit code
// can still be read when it has long ended (and its id is not given to another meanwhile).
struct Followed {
    DWORD Id;
    HANDLE Handle;
    std::string Image;
};

static BOOL CALLBACK CollectWindow(HWND window, LPARAM data)
{
    Sweep *sweep = (Sweep *)data;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    bool ours = false;
    for (DWORD id : sweep->ProcessIds)
        ours = ours || id == processId;
    if (ours && IsWindowVisible(window))
        sweep->Windows.push_back(window);
    return TRUE;
}

// `root` and every process descended from it that runs now.
static std::vector<DWORD> ProcessTree(DWORD root)
{
    std::vector<DWORD> tree = { root };
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return tree;
    std::vector<PROCESSENTRY32> processes;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        processes.push_back(entry);
    CloseHandle(snapshot);
    for (size_t grown = 0; grown < tree.size(); grown++) {
        for (const PROCESSENTRY32 &process : processes) {
            if (process.th32ParentProcessID == tree[grown] && process.th32ProcessID != tree[grown])
                tree.push_back(process.th32ProcessID);
        }
    }
    return tree;
}

static std::string ImageOf(HANDLE process)
{
    char image[MAX_PATH];
    DWORD length = MAX_PATH;
    return QueryFullProcessImageNameA(process, 0, image, &length) ? FromAnsi(image) : std::string();
}

// Opens every process of `ids` that is not followed yet, the installer itself aside. A process seen
// as it is being made has no image name yet: it is asked again at the next sweep.
static void FollowProcesses(const std::vector<DWORD> &ids, DWORD installer, std::vector<Followed> *followed)
{
    for (Followed &entry : *followed)
        if (entry.Image.empty())
            entry.Image = ImageOf(entry.Handle);
    for (DWORD id : ids) {
        bool known = id == installer;
        for (const Followed &entry : *followed)
            known = known || entry.Id == id;
        if (known)
            continue;
        HANDLE handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (handle != NULL) // NULL: ended since the snapshot
            followed->push_back(Followed{ id, handle, ImageOf(handle) });
    }
}

// One record per followed process, in the order they were first seen: its exit code, or null while
// it still runs.
static void WriteFollowed(Robot &robot, std::vector<Followed> *followed)
{
    for (Followed &entry : *followed) {
        DWORD exitCode = STILL_ACTIVE;
        bool ended =
            WaitForSingleObject(entry.Handle, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(entry.Handle, &exitCode);
        Write(robot, "{\"kind\":\"process\",\"pid\":" + std::to_string(entry.Id) + ",\"image\":" +
                         JsonString(entry.Image) + ",\"exit\":" + (ended ? std::to_string(exitCode) : "null") + "}");
        CloseHandle(entry.Handle);
    }
    followed->clear();
}

// ---- First paint --------------------------------------------------------------------------------

struct PaintSpot {
    int X = 0, Y = 0; // in the client area
    COLORREF Color = 0;
};

// "X,Y:#rrggbb"
static bool ParsePaintSpot(const char *text, PaintSpot *spot)
{
    unsigned red, green, blue;
    char end;
    if (sscanf(text, "%d,%d:#%2x%2x%2x%c", &spot->X, &spot->Y, &red, &green, &blue, &end) != 5 || spot->X < 0 ||
        spot->Y < 0)
        return false;
    spot->Color = RGB(red, green, blue);
    return true;
}

// Milliseconds from `launched` until a visible window of the process shows the spot's colour on the
// screen, or -1 when the process ends or `limitMs` passes first. Polls as fast as the system lets it.
static double WaitFirstPaint(HANDLE process, DWORD processId, const PaintSpot &spot, LARGE_INTEGER launched,
                             LARGE_INTEGER frequency, DWORD limitMs)
{
    DWORD start = GetTickCount();
    HDC screen = GetDC(NULL);
    double result = -1;
    while (result < 0 && GetTickCount() - start < limitMs) {
        Sweep sweep;
        sweep.ProcessIds = { processId };
        EnumWindows(CollectWindow, (LPARAM)&sweep);
        for (HWND window : sweep.Windows) {
            RECT client;
            POINT at = { spot.X, spot.Y };
            if (!GetClientRect(window, &client) || spot.X >= client.right || spot.Y >= client.bottom ||
                !ClientToScreen(window, &at))
                continue;
            if (GetPixel(screen, at.x, at.y) == spot.Color) {
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                result = (double)(now.QuadPart - launched.QuadPart) * 1000.0 / (double)frequency.QuadPart;
                break;
            }
        }
        if (result < 0 && WaitForSingleObject(process, 1) == WAIT_OBJECT_0)
            break;
    }
    ReleaseDC(NULL, screen);
    return result;
}

// The Windows directory as the system reports it to programs.
static std::string WindowsDirectory()
{
    char path[MAX_PATH];
    UINT length = GetWindowsDirectoryA(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? FromAnsi(path) : std::string();
}

static std::string FolderOf(const std::string &path)
{
    size_t at = path.find_last_of("\\/");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

int main(int argc, char **argv)
{
    int timeoutSeconds = DEFAULT_TIMEOUT_SECONDS;
    int pollMs = DEFAULT_POLL_MS;
    PaintSpot spot;
    bool measuring = false, usage = false, follow = false;
    std::string arguments;
    int arg = 1;
    for (; arg + 1 < argc && argv[arg][0] == '-' && argv[arg][1] == '-'; arg += 2) {
        if (strcmp(argv[arg], "--follow") == 0) {
            follow = true;
            arg--;
        } else if (strcmp(argv[arg], "--args") == 0)
            arguments = argv[arg + 1];
        else if (strcmp(argv[arg], "--timeout") == 0)
            timeoutSeconds = atoi(argv[arg + 1]);
        else if (strcmp(argv[arg], "--poll") == 0)
            pollMs = atoi(argv[arg + 1]);
        else if (strcmp(argv[arg], "--first-paint") == 0)
            usage = usage || !(measuring = ParsePaintSpot(argv[arg + 1], &spot));
        else
            break;
    }
    if (argc - arg != 3 || timeoutSeconds <= 0 || pollMs <= 0 || usage) {
        fprintf(stderr, "usage: robot.exe [--timeout SECONDS] [--poll MS] [--first-paint X,Y:#rrggbb] [--args TEXT] "
                        "[--follow] RULES INSTALLER TRANSCRIPT\n");
        return EXIT_USAGE;
    }
    const char *rulesPath = argv[arg];
    const char *installer = argv[arg + 1];
    const char *transcriptPath = argv[arg + 2];

    Robot robot;
    if (!LoadRules(rulesPath, &robot.Rules))
        return EXIT_USAGE;
    robot.Folder = FolderOf(transcriptPath);
    robot.Transcript = fopen(transcriptPath, "wb");
    if (robot.Transcript == NULL) {
        fprintf(stderr, "robot: cannot write %s\n", transcriptPath);
        return EXIT_USAGE;
    }

    // The installer runs in its own folder, as when a user opens it from there.
    std::string folder = FolderOf(installer);
    if (folder.size() > 3 && folder.back() == '\\')
        folder.pop_back();
    std::string commandLine = std::string("\"") + installer + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    std::string start = "{\"kind\":\"start\",\"installer\":" + JsonString(FromAnsi(installer)) +
                        ",\"folder\":" + JsonString(FromAnsi(folder.c_str())) +
                        ",\"ui_language\":" + std::to_string(GetUserDefaultUILanguage()) +
                        ",\"acp\":" + std::to_string(GetACP()) + ",\"timeout\":" + std::to_string(timeoutSeconds) +
                        ",\"appworkspace\":" + JsonString(ColorText(GetSysColor(COLOR_APPWORKSPACE))) +
                        ",\"windows\":" + JsonString(WindowsDirectory());
    LARGE_INTEGER frequency, launched;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&launched);
    robot.Frequency = frequency;
    robot.Launched = launched;
    if (!CreateProcessA(installer, &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                        folder.empty() ? NULL : folder.c_str(), &startup, &process)) {
        DWORD error = GetLastError();
        Write(robot, start + "}");
        Write(robot, "{\"kind\":\"end\",\"status\":\"not-started\",\"error\":" + std::to_string(error) + "}");
        fprintf(stderr, "robot: cannot start %s (error %lu)\n", installer, error);
        fclose(robot.Transcript);
        return EXIT_FAILED;
    }
    char image[MAX_PATH];
    DWORD imageLength = MAX_PATH;
    if (!QueryFullProcessImageNameA(process.hProcess, 0, image, &imageLength))
        image[0] = '\0';
    robot.Process = process.hProcess;
    Write(robot, start + ",\"image\":" + JsonString(FromAnsi(image)) + ",\"pid\":" +
                     std::to_string(process.dwProcessId) + "}");

    DWORD started = GetTickCount();
    double firstPaintMs = -1;
    if (measuring) {
        firstPaintMs = WaitFirstPaint(process.hProcess, process.dwProcessId, spot, launched, frequency,
                                      (DWORD)timeoutSeconds * 1000);
        if (firstPaintMs >= 0)
            printf("robot: first paint after %.1f ms\n", firstPaintMs);
        else
            printf("robot: the first paint was never seen\n");
        fflush(stdout);
    }
    std::vector<Known> known;
    std::vector<Followed> followed;
    bool timedOut = false;
    for (;;) {
        Sweep sweep;
        sweep.ProcessIds = follow ? ProcessTree(process.dwProcessId) : std::vector<DWORD>{ process.dwProcessId };
        FollowProcesses(sweep.ProcessIds, process.dwProcessId, &followed);
        EnumWindows(CollectWindow, (LPARAM)&sweep);
        double sweptMs = ElapsedMs(robot);
        for (Known &entry : known)
            entry.Seen = false;
        // EnumWindows goes from the top of the z-order down, and an owned window always lies above its
        // owner: taken bottom-up, windows that show up in one sweep are recorded owner first.
        for (auto at = sweep.Windows.rbegin(); at != sweep.Windows.rend(); ++at) {
            HWND window = *at;
            bool isKnown = false;
            for (Known &entry : known)
                if (entry.Handle == window) {
                    entry.Seen = isKnown = true;
                }
            if (isKnown)
                continue;
            known.push_back(Known{ window, true });
            Answer(robot, window, sweptMs);
        }
        // A window that was hidden or destroyed counts as a new appearance when it shows again.
        for (size_t i = known.size(); i-- > 0;)
            if (!known[i].Seen)
                known.erase(known.begin() + (long)i);

        if (WaitForSingleObject(process.hProcess, (DWORD)pollMs) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - started > (DWORD)timeoutSeconds * 1000) {
            timedOut = true;
            TerminateProcess(process.hProcess, KILLED_EXIT_CODE);
            WaitForSingleObject(process.hProcess, INFINITE);
            break;
        }
    }
    robot.Process = NULL;
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    WriteFollowed(robot, &followed);

    std::string unused = "[";
    for (const Rule &rule : robot.Rules)
        if (rule.Fired == 0)
            unused += (unused.size() > 1 ? "," : "") + std::to_string(rule.Line);
    unused += "]";
    Write(robot, std::string("{\"kind\":\"end\",\"status\":") +
                     (timedOut ? "\"timeout\"" : robot.Killed ? "\"killed\"" : "\"exited\"") +
                     ",\"exit\":" + std::to_string(exitCode) + ",\"windows\":" + std::to_string(robot.Sequence) +
                     ",\"failures\":" + std::to_string(robot.Failures) + ",\"unused_rules\":" + unused +
                     ",\"seconds\":" + std::to_string((GetTickCount() - started) / 1000.0) +
                     (measuring ? ",\"first_paint_ms\":" +
                                      (firstPaintMs >= 0 ? std::to_string(firstPaintMs) : std::string("null"))
                                : std::string()) +
                     "}");
    fclose(robot.Transcript);
    printf("robot: installer %s with exit code %lu after %d window(s), %d failure(s)\n",
           timedOut ? "KILLED after the timeout" : "ended", exitCode, robot.Sequence, robot.Failures);
    return timedOut || robot.Failures != 0 ? EXIT_FAILED : EXIT_OK;
}
