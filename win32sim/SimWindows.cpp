// win32sim window system: classes, windows, one thread's message queue, dialogs built from the
// resource templates with their controls, message boxes, focus and mouse capture.
//
// The queue keeps Windows' order of retrieval: posted messages, then the quit flag, then input
// (what the scripted user does), then repaints. When a loop would wait for input that no one
// gives, the scripted user is asked; when it gives nothing either, the run fails instead of hanging.
#include <windows.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>

#include "SimInternal.h"

namespace {

using sim::detail::DialogTemplate;
using sim::detail::Fail;
using sim::detail::Lower;

// Frame sizes of the virtual desktop's windows, in pixels.
const int FRAME = 4;
const int DIALOG_FRAME = 3;
const int CAPTION = 19;
// Dialog base units of "MS Sans Serif" 8.
const int BASE_X = 6;
const int BASE_Y = 13;
const int DEFAULT_EDIT_LIMIT = 0x7FFFFFFE;

struct WindowClass {
    std::string name;
    WNDCLASSA info;
};

struct Window {
    HWND handle = nullptr;
    std::string className;
    WNDPROC proc = nullptr;
    DLGPROC dialogProc = nullptr;
    bool isDialog = false;
    std::string templateName;
    std::string text;
    DWORD style = 0;
    RECT rect{};          // screen coordinates
    int clientWidth = 0, clientHeight = 0;
    HWND parent = nullptr;  // child windows
    HWND owner = nullptr;   // popup and overlapped windows
    int id = 0;
    bool enabled = true;
    bool visible = false;
    bool invalid = false;
    bool erase = false;
    bool destroying = false;
    bool modalEnded = false;
    INT_PTR modalResult = 0;
    int editLimit = DEFAULT_EDIT_LIMIT;
    HWND focus = nullptr;   // dialogs: the control that has the focus
    std::vector<HWND> children;
};

struct Input {
    MSG msg;
};

struct WindowsState {
    std::map<std::string, WindowClass> classes;  // by lower-case name
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    uintptr_t nextWindow = 0x20000;
    std::deque<MSG> posted;
    std::deque<MSG> input;
    bool quit = false;
    int quitCode = 0;
    HWND capture = nullptr;
    HWND focus = nullptr;
    bool failNextCreate = false;
    std::map<uintptr_t, std::string> icons;  // icon handle -> resource name
    uintptr_t nextIcon = 0x30000;
    DWORD time = 0;
};

WindowsState &TheState()
{
    static WindowsState state;
    return state;
}

Window *Find(HWND handle)
{
    auto found = TheState().windows.find((uintptr_t)handle);
    if (found == TheState().windows.end() || found->second->destroying)
        return nullptr;
    return found->second.get();
}

Window &Require(HWND handle, const char *what)
{
    Window *window = Find(handle);
    if (window == nullptr)
        Fail(std::string(what) + ": no such window");
    return *window;
}

bool IsSelfOrDescendant(HWND ancestor, HWND window)
{
    for (Window *w = Find(window); w != nullptr; w = Find(w->parent)) {
        if (w->handle == ancestor)
            return true;
    }
    return false;
}

bool MatchesFilter(const MSG &msg, HWND filter, UINT first, UINT last)
{
    if (filter != nullptr && !IsSelfOrDescendant(filter, msg.hwnd))
        return false;
    if (first == 0 && last == 0)
        return true;
    return msg.message >= first && msg.message <= last;
}

void Stamp(MSG &msg)
{
    msg.time = ++TheState().time;
    msg.pt = POINT{ 0, 0 };
}

LRESULT Call(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *window = Find(handle);
    if (window == nullptr) {
        // A message to a window that is being destroyed still reaches its procedure.
        auto found = TheState().windows.find((uintptr_t)handle);
        if (found == TheState().windows.end())
            return 0;
        window = found->second.get();
    }
    return window->proc(handle, message, wParam, lParam);
}

// Takes the next message in Windows' order; false when nothing waits. `kinds` (QS_ flags, as
// PeekMessageA's PM_QS_ flags give them; 0 for all) leaves out posted messages and the quit message
// (QS_POSTMESSAGE), the user's input (QS_INPUT) or repaints (QS_PAINT).
bool TakeMessage(MSG *msg, HWND filter, UINT first, UINT last, bool remove, UINT kinds = 0)
{
    WindowsState &s = TheState();
    if (kinds == 0)
        kinds = QS_POSTMESSAGE | QS_INPUT | QS_PAINT;
    for (auto it = s.posted.begin(); (kinds & QS_POSTMESSAGE) && it != s.posted.end(); ++it) {
        if (MatchesFilter(*it, filter, first, last)) {
            *msg = *it;
            if (remove)
                s.posted.erase(it);
            return true;
        }
    }
    if ((kinds & QS_POSTMESSAGE) && s.quit && (first == 0 && last == 0 ? true : (WM_QUIT >= first && WM_QUIT <= last))) {
        *msg = MSG{ nullptr, WM_QUIT, (WPARAM)s.quitCode, 0, 0, { 0, 0 } };
        if (remove)
            s.quit = false;
        return true;
    }
    for (auto it = s.input.begin(); (kinds & QS_INPUT) && it != s.input.end(); ++it) {
        if (MatchesFilter(*it, filter, first, last)) {
            *msg = *it;
            if (remove)
                s.input.erase(it);
            return true;
        }
    }
    if (!(kinds & QS_PAINT))
        return false;
    // Repaints come last; they stay pending until the window validates itself.
    for (auto &entry : s.windows) {
        Window &w = *entry.second;
        if (w.destroying || !w.invalid || !w.visible)
            continue;
        MSG paint{ w.handle, WM_PAINT, 0, 0, 0, { 0, 0 } };
        if (MatchesFilter(paint, filter, first, last)) {
            *msg = paint;
            return true;
        }
    }
    return false;
}

size_t Pending()
{
    return TheState().posted.size() + TheState().input.size() + (TheState().quit ? 1 : 0);
}

void NotifyTaken(const MSG &msg)
{
    const sim::User &user = sim::detail::CurrentUser();
    if (user.onMessage)
        user.onMessage(msg);
}

void QueueInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{ window, message, wParam, lParam, 0, { 0, 0 } };
    Stamp(msg);
    TheState().input.push_back(msg);
}

void Invalidate(Window &w, bool erase)
{
    w.invalid = true;
    w.erase = w.erase || erase;
}

HWND NewHandle()
{
    uintptr_t handle = TheState().nextWindow;
    TheState().nextWindow += 2;
    return (HWND)handle;
}

void SetClientFromRect(Window &w)
{
    int width = w.rect.right - w.rect.left;
    int height = w.rect.bottom - w.rect.top;
    if (w.style & WS_CHILD) {
        int border = (w.style & WS_BORDER) ? 1 : 0;
        w.clientWidth = std::max(0, width - 2 * border);
        w.clientHeight = std::max(0, height - 2 * border);
    } else if (w.isDialog) {
        w.clientWidth = std::max(0, width - 2 * DIALOG_FRAME);
        w.clientHeight = std::max(0, height - 2 * DIALOG_FRAME - ((w.style & WS_CAPTION) == WS_CAPTION ? CAPTION : 0));
    } else {
        int frame = (w.style & WS_THICKFRAME) ? FRAME : (w.style & WS_BORDER) ? 1 : 0;
        w.clientWidth = std::max(0, width - 2 * frame);
        w.clientHeight = std::max(0, height - 2 * frame - ((w.style & WS_CAPTION) == WS_CAPTION ? CAPTION : 0));
    }
}

// ---- Built-in controls ------------------------------------------------------------------------

LRESULT CALLBACK ButtonProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *w = Find(handle);
    switch (message) {
    case WM_LBUTTONUP:
    case BM_CLICK:
        if (w != nullptr && w->enabled && Find(w->parent) != nullptr)
            Call(w->parent, WM_COMMAND, MAKEWPARAM(w->id, BN_CLICKED), (LPARAM)handle);
        return 0;
    default:
        return DefWindowProcA(handle, message, wParam, lParam);
    }
}

LRESULT CALLBACK EditProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *w = Find(handle);
    switch (message) {
    case EM_LIMITTEXT:
        if (w != nullptr)
            w->editLimit = wParam == 0 ? DEFAULT_EDIT_LIMIT : (int)wParam;
        return 0;
    default:
        return DefWindowProcA(handle, message, wParam, lParam);
    }
}

LRESULT CALLBACK StaticProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *w = Find(handle);
    // A text static paints its whole client area with the colour its dialog gives statics (the
    // button face) before its text, which is not drawn here: whatever was drawn onto it is gone.
    if (message == WM_PAINT && w != nullptr && (w->style & SS_TYPEMASK) <= SS_RIGHT) {
        PAINTSTRUCT paint;
        BeginPaint(handle, &paint);
        sim::detail::EraseWithClassBrush(handle, (HBRUSH)(uintptr_t)(COLOR_BTNFACE + 1));
        EndPaint(handle, &paint);
        return 0;
    }
    return DefWindowProcA(handle, message, wParam, lParam);
}

WNDPROC BuiltInProc(const std::string &className)
{
    if (className == "BUTTON")
        return ButtonProc;
    if (className == "EDIT")
        return EditProc;
    if (className == "STATIC")
        return StaticProc;
    return nullptr;
}

// ---- Dialogs --------------------------------------------------------------------------------

int DefaultButtonId(Window &dialog)
{
    for (HWND child : dialog.children) {
        Window *c = Find(child);
        if (c != nullptr && c->className == "BUTTON" && (c->style & 0x0F) == BS_DEFPUSHBUTTON)
            return c->id;
    }
    return IDOK;
}

LRESULT CALLBACK DialogWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *w = Find(handle);
    if (w != nullptr && w->dialogProc != nullptr && w->dialogProc(handle, message, wParam, lParam))
        return TRUE;
    switch (message) {
    case WM_CLOSE: {
        // The close box asks the dialog for IDCANCEL, as if its Cancel button had been pressed.
        HWND cancel = GetDlgItem(handle, IDCANCEL);
        Window *c = Find(cancel);
        if (c == nullptr || c->enabled)
            PostMessageA(handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)cancel);
        return 0;
    }
    case DM_GETDEFID:
        return w == nullptr ? 0 : MAKELONG(DefaultButtonId(*w), DC_HASDEFID);
    case WM_ERASEBKGND:
    case WM_PAINT:
    case WM_SYSCOMMAND:
    case WM_CANCELMODE:
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
    case WM_NCCREATE:
        return DefWindowProcA(handle, message, wParam, lParam);
    default:
        return 0;
    }
}

RECT DialogUnitsToPixels(int x, int y, int cx, int cy)
{
    return RECT{ x * BASE_X / 4, y * BASE_Y / 8, (x + cx) * BASE_X / 4, (y + cy) * BASE_Y / 8 };
}

HWND CreateFromTemplate(LPCSTR templateName, HWND owner, DLGPROC dialogProc, LPARAM param)
{
    const DialogTemplate *t = sim::detail::FindDialogTemplate(templateName);
    if (t == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    WindowsState &s = TheState();
    auto dialog = std::make_unique<Window>();
    Window &d = *dialog;
    d.handle = NewHandle();
    d.className = "#32770";
    d.proc = DialogWindowProc;
    d.dialogProc = dialogProc;
    d.isDialog = true;
    d.templateName = t->name;
    d.text = t->caption;
    d.style = t->style & ~WS_VISIBLE;
    d.owner = owner;
    RECT client = DialogUnitsToPixels(t->x, t->y, t->cx, t->cy);
    POINT origin{ 0, 0 };
    if (Window *o = Find(owner)) {
        // Template positions are relative to the owner's client area.
        origin.x = o->rect.left + ((o->style & WS_THICKFRAME) ? FRAME : 0);
        origin.y = o->rect.top + ((o->style & WS_THICKFRAME) ? FRAME : 0) + ((o->style & WS_CAPTION) == WS_CAPTION ? CAPTION : 0);
    }
    int width = client.right - client.left + 2 * DIALOG_FRAME;
    int height = client.bottom - client.top + 2 * DIALOG_FRAME + ((d.style & WS_CAPTION) == WS_CAPTION ? CAPTION : 0);
    d.rect = RECT{ origin.x + client.left, origin.y + client.top, origin.x + client.left + width, origin.y + client.top + height };
    SetClientFromRect(d);
    HWND handle = d.handle;
    s.windows[(uintptr_t)handle] = std::move(dialog);

    HWND firstTabStop = nullptr;
    for (const auto &item : t->items) {
        auto control = std::make_unique<Window>();
        Window &c = *control;
        c.handle = NewHandle();
        c.className = item.className;
        c.proc = BuiltInProc(item.className);
        if (c.proc == nullptr)
            Fail("dialog " + t->name + " uses the unknown control class " + item.className);
        c.text = item.text;
        c.style = item.style;
        c.id = item.id;
        c.parent = handle;
        c.visible = (item.style & WS_VISIBLE) != 0;
        c.enabled = (item.style & WS_DISABLED) == 0;
        RECT r = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
        Window &d2 = *Find(handle);
        int left = d2.rect.left + DIALOG_FRAME;
        int top = d2.rect.top + DIALOG_FRAME + ((d2.style & WS_CAPTION) == WS_CAPTION ? CAPTION : 0);
        c.rect = RECT{ left + r.left, top + r.top, left + r.right, top + r.bottom };
        SetClientFromRect(c);
        if (firstTabStop == nullptr && (item.style & WS_TABSTOP))
            firstTabStop = c.handle;
        d2.children.push_back(c.handle);
        s.windows[(uintptr_t)c.handle] = std::move(control);
    }
    sim::detail::AddTrace({ sim::TraceEntry::DialogOpened, handle, 0, 0, 0, t->name });
    if (Call(handle, WM_INITDIALOG, (WPARAM)firstTabStop, param) && firstTabStop != nullptr && Find(handle))
        SetFocus(firstTabStop);
    if (Find(handle) != nullptr && (t->style & WS_VISIBLE))
        ShowWindow(handle, SW_SHOW);
    return Find(handle) != nullptr ? handle : nullptr;
}

void DestroyTree(HWND handle)
{
    WindowsState &s = TheState();
    Window *w = Find(handle);
    if (w == nullptr)
        return;
    // Owned popups go first, then the window itself, then its children.
    std::vector<HWND> owned;
    for (auto &entry : s.windows) {
        if (!entry.second->destroying && entry.second->owner == handle)
            owned.push_back(entry.second->handle);
    }
    for (HWND popup : owned)
        DestroyTree(popup);
    w = Find(handle);
    if (w == nullptr)
        return;
    if (s.capture == handle)
        ReleaseCapture();
    w->destroying = true;
    w->proc(handle, WM_DESTROY, 0, 0);
    std::vector<HWND> children = w->children;
    for (HWND child : children) {
        if (Window *c = Find(child))
            c->parent = handle;
        DestroyTree(child);
    }
    w->proc(handle, WM_NCDESTROY, 0, 0);
    if (s.focus == handle)
        s.focus = nullptr;
    auto dropFor = [handle](std::deque<MSG> &queue) {
        queue.erase(std::remove_if(queue.begin(), queue.end(), [handle](const MSG &m) { return m.hwnd == handle; }), queue.end());
    };
    dropFor(s.posted);
    dropFor(s.input);
    if (w->isDialog)
        sim::detail::AddTrace({ sim::TraceEntry::DialogClosed, handle, 0, 0, 0, w->templateName });
    sim::detail::ForgetSurface(handle);
    s.windows.erase((uintptr_t)handle);
}

// One round of a modal loop: false when nothing at all waits.
bool DispatchOne(HWND dialog)
{
    MSG msg;
    if (!TakeMessage(&msg, nullptr, 0, 0, true))
        return false;
    NotifyTaken(msg);
    if (msg.message == WM_QUIT) {
        // A modal loop ends on the quit message and leaves it for the loop outside.
        PostQuitMessage((int)msg.wParam);
        return true;
    }
    if (dialog == nullptr || !IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

}  // namespace

// ---- For the other modules -------------------------------------------------------------------

namespace sim::detail {

void ResetWindows()
{
    TheState() = WindowsState();
}

bool IsLiveWindow(HWND window)
{
    return Find(window) != nullptr;
}

bool ClientSize(HWND window, int *width, int *height)
{
    Window *w = Find(window);
    if (w == nullptr)
        return false;
    *width = w->clientWidth;
    *height = w->clientHeight;
    return true;
}

HBRUSH ClassBackgroundOf(HWND window)
{
    Window *w = Find(window);
    if (w == nullptr)
        return nullptr;
    auto found = TheState().classes.find(Lower(w->className));
    return found == TheState().classes.end() ? nullptr : found->second.info.hbrBackground;
}

void ValidateWindow(HWND window, bool *erase)
{
    Window *w = Find(window);
    *erase = w != nullptr && w->erase;
    if (w != nullptr) {
        w->invalid = false;
        w->erase = false;
    }
}

LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return Call(window, message, wParam, lParam);
}

}  // namespace sim::detail

// ---- Test controls ---------------------------------------------------------------------------

namespace sim {

void FailCreateWindow()
{
    TheState().failNextCreate = true;
}

int RegisteredClasses()
{
    return (int)TheState().classes.size();
}

int QueuedMessages(HWND window, UINT first, UINT last)
{
    int count = 0;
    for (const MSG &msg : TheState().posted) {
        if ((window == nullptr || msg.hwnd == window) && msg.message >= first && msg.message <= last)
            count++;
    }
    return count;
}

HWND FindWindowByTemplate(const std::string &templateName)
{
    for (auto &entry : TheState().windows) {
        Window &w = *entry.second;
        if (!w.destroying && w.isDialog && Lower(w.templateName) == Lower(templateName))
            return w.handle;
    }
    return nullptr;
}

HWND MainWindowOfClass(const std::string &className)
{
    for (auto &entry : TheState().windows) {
        Window &w = *entry.second;
        if (!w.destroying && !(w.style & WS_CHILD) && Lower(w.className) == Lower(className))
            return w.handle;
    }
    return nullptr;
}

std::string WindowText(HWND window)
{
    return Require(window, "WindowText").text;
}

std::string ControlText(HWND dialog, int id)
{
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr)
        Fail("ControlText: no control " + std::to_string(id));
    return Require(control, "ControlText").text;
}

DWORD WindowStyle(HWND window)
{
    return Require(window, "WindowStyle").style;
}

HWND WindowOwner(HWND window)
{
    return Require(window, "WindowOwner").owner;
}

std::string ClassOf(HWND window)
{
    return Require(window, "ClassOf").className;
}

HICON ClassIcon(const std::string &className)
{
    auto found = TheState().classes.find(Lower(className));
    return found == TheState().classes.end() ? nullptr : found->second.info.hIcon;
}

std::string IconName(HICON icon)
{
    auto found = TheState().icons.find((uintptr_t)icon);
    return found == TheState().icons.end() ? std::string() : found->second;
}

HBRUSH ClassBackground(const std::string &className)
{
    auto found = TheState().classes.find(Lower(className));
    return found == TheState().classes.end() ? nullptr : found->second.info.hbrBackground;
}

int EditLimit(HWND dialog, int id)
{
    return Require(GetDlgItem(dialog, id), "EditLimit").editLimit;
}

RECT WindowRect(HWND window)
{
    return Require(window, "WindowRect").rect;
}

void TypeText(HWND dialog, int id, const std::string &text)
{
    Window &edit = Require(GetDlgItem(dialog, id), "TypeText");
    if (edit.className != "EDIT")
        Fail("TypeText: control " + std::to_string(id) + " is not an edit control");
    if (!edit.enabled || !Require(dialog, "TypeText").enabled)
        Fail("TypeText: the user cannot type into a disabled window");
    // Typing stops at the control's limit.
    edit.text = text.substr(0, std::min<size_t>(text.size(), (size_t)edit.editLimit));
}

void PressButton(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    Window &b = Require(button, "PressButton");
    if (!b.enabled || !Require(dialog, "PressButton").enabled)
        Fail("PressButton: the user cannot press a disabled button");
    QueueInput(button, WM_LBUTTONDOWN, 0, 0);
    QueueInput(button, WM_LBUTTONUP, 0, 0);
}

void PressKey(HWND window, UINT virtualKey)
{
    Window &w = Require(window, "PressKey");
    if (!w.enabled)
        Fail("PressKey: the user cannot type into a disabled window");
    HWND target = w.focus != nullptr && Find(w.focus) ? w.focus : window;
    QueueInput(target, WM_KEYDOWN, virtualKey, 0);
    QueueInput(target, WM_KEYUP, virtualKey, 0);
}

void ClickCloseBox(HWND window)
{
    Window &w = Require(window, "ClickCloseBox");
    if (!w.enabled)
        Fail("ClickCloseBox: the window is disabled");
    if (!(w.style & WS_SYSMENU))
        Fail("ClickCloseBox: the window has no close box");
    QueueInput(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void ResizeClient(HWND window, int width, int height)
{
    Window &w = Require(window, "ResizeClient");
    w.rect.right += width - w.clientWidth;
    w.rect.bottom += height - w.clientHeight;
    w.clientWidth = width;
    w.clientHeight = height;
    sim::detail::ResizeSurface(window, width, height);
    Call(window, WM_SIZE, 0, MAKELPARAM(width, height));
    Invalidate(w, true);
}

}  // namespace sim

// ---- The Win32 calls -------------------------------------------------------------------------

extern "C" {

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name)
{
    std::string key;
    if (IS_INTRESOURCE(name)) {
        if (instance != nullptr) {
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
            return nullptr;
        }
        key = "#" + std::to_string((UINT_PTR)name);
    } else if (sim::detail::IconExists(name)) {
        key = sim::detail::Lower(name);
        for (char &c : key)
            c = (char)toupper((unsigned char)c);
    } else {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    WindowsState &s = TheState();
    for (auto &entry : s.icons) {
        if (entry.second == key)
            return (HICON)entry.first;
    }
    uintptr_t handle = s.nextIcon;
    s.nextIcon += 4;
    s.icons[handle] = key;
    return (HICON)handle;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name)
{
    if (instance != nullptr || !IS_INTRESOURCE(name))
        return nullptr;
    return (HCURSOR)(uintptr_t)(0x40000 + (UINT_PTR)name);
}

ATOM WINAPI RegisterClassA(const WNDCLASSA *windowClass)
{
    WindowsState &s = TheState();
    std::string key = Lower(windowClass->lpszClassName);
    if (s.classes.count(key) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    WindowClass c;
    c.name = windowClass->lpszClassName;
    c.info = *windowClass;
    c.info.lpszClassName = nullptr;
    c.info.lpszMenuName = windowClass->lpszMenuName;
    s.classes[key] = c;
    return (ATOM)(0xC000 + s.classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE)
{
    WindowsState &s = TheState();
    std::string key = Lower(className);
    if (s.classes.count(key) == 0) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto &entry : s.windows) {
        if (!entry.second->destroying && Lower(entry.second->className) == key) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    s.classes.erase(key);
    return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    WindowsState &s = TheState();
    if (s.failNextCreate && !(style & WS_CHILD)) {
        s.failNextCreate = false;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto found = s.classes.find(Lower(className));
    WNDPROC proc = found != s.classes.end() ? found->second.info.lpfnWndProc : BuiltInProc(className);
    if (proc == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    auto window = std::make_unique<Window>();
    Window &w = *window;
    w.handle = NewHandle();
    w.className = found != s.classes.end() ? found->second.name : className;
    w.proc = proc;
    w.text = windowName != nullptr ? windowName : "";
    w.style = style & ~WS_VISIBLE;
    if (style & WS_CHILD) {
        w.parent = parent;
        w.id = (int)(UINT_PTR)menu;
    } else {
        w.owner = parent;
    }
    w.rect = RECT{ x, y, x + width, y + height };
    SetClientFromRect(w);
    HWND handle = w.handle;
    s.windows[(uintptr_t)handle] = std::move(window);
    if (Window *p = Find(parent); p != nullptr && (style & WS_CHILD))
        p->children.push_back(handle);

    CREATESTRUCTA create{ param, instance, menu, parent, height, width, y, x, (LONG)style, windowName, className, 0 };
    if (!Call(handle, WM_NCCREATE, 0, (LPARAM)&create) || Call(handle, WM_CREATE, 0, (LPARAM)&create) == -1) {
        DestroyWindow(handle);
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (Window *created = Find(handle)) {
        Call(handle, WM_SIZE, 0, MAKELPARAM(created->clientWidth, created->clientHeight));
        Call(handle, WM_MOVE, 0, MAKELPARAM(x, y));
        if (style & WS_VISIBLE)
            ShowWindow(handle, SW_SHOW);
    }
    return Find(handle) != nullptr ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    if (Find(window) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    DestroyTree(window);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window)
{
    return Find(window) != nullptr;
}

BOOL WINAPI ShowWindow(HWND window, int command)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    BOOL wasVisible = w->visible;
    bool show = command != SW_HIDE;
    if (show != w->visible) {
        Call(window, WM_SHOWWINDOW, show, 0);
        if ((w = Find(window)) == nullptr)
            return wasVisible;
        w->visible = show;
        if (show) {
            Invalidate(*w, true);
            for (HWND child : w->children) {
                if (Window *c = Find(child); c != nullptr && c->visible)
                    Invalidate(*c, true);
            }
        }
    }
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    if (w->invalid && w->visible)
        Call(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI EnableWindow(HWND window, BOOL enable)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    BOOL wasDisabled = !w->enabled;
    if (!enable && w->enabled) {
        Call(window, WM_CANCELMODE, 0, 0);
        if ((w = Find(window)) == nullptr)
            return wasDisabled;
        w->enabled = false;
        Call(window, WM_ENABLE, FALSE, 0);
    } else if (enable && !w->enabled) {
        w->enabled = true;
        Call(window, WM_ENABLE, TRUE, 0);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window)
{
    Window *w = Find(window);
    return w != nullptr && w->enabled;
}

BOOL WINAPI IsWindowVisible(HWND window)
{
    Window *w = Find(window);
    return w != nullptr && w->visible;
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text)
{
    if (Find(window) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return (BOOL)Call(window, WM_SETTEXT, 0, (LPARAM)text);
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int max)
{
    if (Find(window) == nullptr || max <= 0)
        return 0;
    return (int)Call(window, WM_GETTEXT, (WPARAM)max, (LPARAM)text);
}

HWND WINAPI GetParent(HWND window)
{
    Window *w = Find(window);
    if (w == nullptr)
        return nullptr;
    return (w->style & WS_CHILD) ? w->parent : (w->style & WS_POPUP) ? w->owner : nullptr;
}

HWND WINAPI GetWindow(HWND window, UINT command)
{
    Window *w = Find(window);
    if (w == nullptr || command != GW_OWNER)
        return nullptr;
    return w->owner;
}

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    Window *d = Find(dialog);
    if (d == nullptr)
        return nullptr;
    for (HWND child : d->children) {
        Window *c = Find(child);
        if (c != nullptr && c->id == id)
            return child;
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return nullptr;
}

int WINAPI GetDlgCtrlID(HWND window)
{
    Window *w = Find(window);
    return w == nullptr ? 0 : w->id;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    return SetWindowTextA(GetDlgItem(dialog, id), text);
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int max)
{
    HWND control = GetDlgItem(dialog, id);
    if (control == nullptr) {
        if (max > 0)
            text[0] = '\0';
        return 0;
    }
    return (UINT)GetWindowTextA(control, text, max);
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND control = GetDlgItem(dialog, id);
    return control == nullptr ? 0 : SendMessageA(control, message, wParam, lParam);
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    *rect = w->rect;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    *rect = RECT{ 0, 0, w->clientWidth, w->clientHeight };
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    int oldWidth = w->clientWidth, oldHeight = w->clientHeight;
    int dx = x - w->rect.left, dy = y - w->rect.top;
    w->rect = RECT{ x, y, x + width, y + height };
    SetClientFromRect(*w);
    // Children keep their place inside the window.
    for (HWND child : w->children) {
        if (Window *c = Find(child)) {
            c->rect.left += dx;
            c->rect.right += dx;
            c->rect.top += dy;
            c->rect.bottom += dy;
        }
    }
    if (w->clientWidth != oldWidth || w->clientHeight != oldHeight) {
        sim::detail::ResizeSurface(window, w->clientWidth, w->clientHeight);
        Call(window, WM_SIZE, 0, MAKELPARAM(w->clientWidth, w->clientHeight));
    }
    Call(window, WM_MOVE, 0, MAKELPARAM(x, y));
    if (repaint) {
        if (Window *moved = Find(window))
            Invalidate(*moved, true);
    }
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND window, const RECT *, BOOL erase)
{
    Window *w = Find(window);
    if (w == nullptr)
        return FALSE;
    Invalidate(*w, erase != FALSE);
    return TRUE;
}

int WINAPI GetSystemMetrics(int index)
{
    switch (index) {
    case SM_CXSCREEN: return sim::detail::ScreenWidth();
    case SM_CYSCREEN: return sim::detail::ScreenHeight();
    default: return 0;
    }
}

HWND WINAPI SetFocus(HWND window)
{
    WindowsState &s = TheState();
    HWND previous = s.focus;
    Window *w = Find(window);
    if (window != nullptr && w == nullptr)
        return nullptr;
    s.focus = window;
    if (w != nullptr && w->parent != nullptr) {
        if (Window *p = Find(w->parent))
            p->focus = window;
    }
    return previous;
}

HWND WINAPI GetFocus(void)
{
    return TheState().focus;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    sim::detail::AddTrace({ sim::TraceEntry::Send, window, message, wParam, lParam, "" });
    if (Find(window) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return Call(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    sim::detail::AddTrace({ sim::TraceEntry::Post, window, message, wParam, lParam, "" });
    if (window != nullptr && Find(window) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    MSG msg{ window, message, wParam, lParam, 0, { 0, 0 } };
    Stamp(msg);
    TheState().posted.push_back(msg);
    return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax)
{
    if (!TakeMessage(msg, window, filterMin, filterMax, true)) {
        const sim::User &user = sim::detail::CurrentUser();
        if (user.onIdle)
            user.onIdle();
        if (!TakeMessage(msg, window, filterMin, filterMax, true))
            Fail("the program waits in its message loop for input that nobody gives");
    }
    NotifyTaken(*msg);
    return msg->message != WM_QUIT;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove)
{
    if (window != nullptr && Find(window) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!TakeMessage(msg, window, filterMin, filterMax, (remove & PM_REMOVE) != 0, remove >> 16))
        return FALSE;
    if (remove & PM_REMOVE)
        NotifyTaken(*msg);
    return TRUE;
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value)
{
    Window *w = Find(window);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index != GWLP_WNDPROC)
        Fail("SetWindowLongPtrA: index " + std::to_string(index) + " is not simulated");
    WNDPROC former = w->proc;
    w->proc = (WNDPROC)value;
    return (LONG_PTR)former;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return proc == nullptr ? 0 : proc(window, message, wParam, lParam);
}

BOOL WINAPI TranslateMessage(const MSG *)
{
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *msg)
{
    if (msg->hwnd == nullptr || Find(msg->hwnd) == nullptr)
        return 0;
    Window *w = Find(msg->hwnd);
    // Input to a disabled window is lost, as a click on it would be.
    if (!w->enabled && (msg->message == WM_LBUTTONDOWN || msg->message == WM_LBUTTONUP ||
                        msg->message == WM_KEYDOWN || msg->message == WM_SYSCOMMAND))
        return 0;
    return Call(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg)
{
    Window *d = Find(dialog);
    if (d == nullptr || !IsSelfOrDescendant(dialog, msg->hwnd))
        return FALSE;
    if (msg->message == WM_KEYDOWN && d->enabled) {
        switch (msg->wParam) {
        case VK_RETURN: {
            // Enter presses the focused push button, otherwise the default button.
            Window *focused = Find(msg->hwnd);
            int id;
            if (focused != nullptr && focused->className == "BUTTON" && focused->parent == dialog)
                id = focused->id;
            else
                id = LOWORD(Call(dialog, DM_GETDEFID, 0, 0));
            HWND button = GetDlgItem(dialog, id);
            Window *b = Find(button);
            if (b == nullptr || b->enabled)
                Call(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
            return TRUE;
        }
        case VK_ESCAPE:
            Call(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDCANCEL));
            return TRUE;
        default:
            return TRUE;
        }
    }
    if (msg->message == WM_KEYUP)
        return TRUE;
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode)
{
    TheState().quit = true;
    TheState().quitCode = exitCode;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Window *w = Find(window);
    switch (message) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE)
            sim::detail::CallWindow(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CANCELMODE:
        if (TheState().capture == window)
            ReleaseCapture();
        return 0;
    case WM_SETTEXT:
        if (w != nullptr)
            w->text = lParam != 0 ? (const char *)lParam : "";
        return TRUE;
    case WM_GETTEXT: {
        if (w == nullptr || wParam == 0)
            return 0;
        size_t count = std::min(w->text.size(), (size_t)wParam - 1);
        memcpy((char *)lParam, w->text.data(), count);
        ((char *)lParam)[count] = '\0';
        return (LRESULT)count;
    }
    case WM_GETTEXTLENGTH:
        return w == nullptr ? 0 : (LRESULT)w->text.size();
    case WM_ERASEBKGND:
        sim::detail::EraseWithClassBrush(window, sim::detail::ClassBackgroundOf(window));
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    default:
        return 0;
    }
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC dialogProc, LPARAM param)
{
    HWND dialog = CreateFromTemplate(templateName, owner, dialogProc, param);
    if (dialog == nullptr)
        return -1;
    std::string name = Find(dialog)->templateName;
    bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    if (Window *d = Find(dialog); d != nullptr && !d->modalEnded)
        ShowWindow(dialog, SW_SHOW);

    for (;;) {
        Window *d = Find(dialog);
        if (d == nullptr || d->modalEnded)
            break;
        if (DispatchOne(dialog))
            continue;
        const sim::User &user = sim::detail::CurrentUser();
        if (!user.onDialog)
            Fail("unexpected dialog \"" + name + "\"");
        size_t before = Pending();
        user.onDialog(dialog, name);
        d = Find(dialog);
        if (d != nullptr && !d->modalEnded && Pending() == before)
            Fail("dialog \"" + name + "\" waits for input that nobody gives");
    }
    INT_PTR result = Find(dialog) != nullptr ? Find(dialog)->modalResult : 0;
    if (ownerWasEnabled)
        EnableWindow(owner, TRUE);
    if (Find(dialog) != nullptr)
        DestroyWindow(dialog);
    return result;
}

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC dialogProc, LPARAM param)
{
    return CreateFromTemplate(templateName, owner, dialogProc, param);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    Window *d = Find(dialog);
    if (d == nullptr || !d->isDialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    d->modalEnded = true;
    d->modalResult = result;
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    if (owner != nullptr && Find(owner) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    sim::MessageBoxRecord record{ owner, caption != nullptr ? caption : "Error", text != nullptr ? text : "", type, 0 };
    bool ownerWasEnabled = owner != nullptr && IsWindowEnabled(owner);
    if (ownerWasEnabled)
        EnableWindow(owner, FALSE);
    // The box's own loop serves whatever is already waiting while the user reads it.
    while (!TheState().posted.empty() && DispatchOne(nullptr)) {
    }
    int answer = sim::detail::AskMessageBox(record);
    if (ownerWasEnabled && Find(owner) != nullptr)
        EnableWindow(owner, TRUE);
    return answer;
}

HWND WINAPI SetCapture(HWND window)
{
    HWND previous = TheState().capture;
    if (Find(window) == nullptr)
        return previous;
    if (previous != nullptr && previous != window)
        Call(previous, WM_CAPTURECHANGED, 0, (LPARAM)window);
    TheState().capture = window;
    return previous;
}

BOOL WINAPI ReleaseCapture(void)
{
    HWND previous = TheState().capture;
    TheState().capture = nullptr;
    if (previous != nullptr)
        Call(previous, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND WINAPI GetCapture(void)
{
    return TheState().capture;
}

}  // extern "C"
