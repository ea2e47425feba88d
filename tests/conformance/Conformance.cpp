// Behaviour of the Win32 subset that the installer relies on, checked the same way against the
// stand-in (host build) and against a real implementation (the mingw build, run under Wine), so
// that the stand-in cannot drift from what it stands in for.
#include "Conformance.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "resources/resource.h"

namespace {

int failures;

void Check(bool ok, const char *what, int line, long got = 0, long expected = 0)
{
    if (!ok) {
        failures++;
        printf("conformance failure (line %d): %s: got %ld, expected %ld\n", line, what, got, expected);
    }
}

#define CHECK(condition) Check((condition), #condition, __LINE__)
#define CHECK_EQ(got, expected)                                                                \
    do {                                                                                       \
        long value = (long)(got), wanted = (long)(expected);                                    \
        Check(value == wanted, #got " == " #expected, __LINE__, value, wanted);                \
    } while (0)
#define CHECK_STR(got, expected)                                                               \
    do {                                                                                       \
        bool same = strcmp((got), (expected)) == 0;                                            \
        if (!same)                                                                             \
            printf("  \"%s\" != \"%s\"\n", (got), (expected));                                  \
        Check(same, #got " equals " #expected, __LINE__);                                      \
    } while (0)

char scratch[MAX_PATH];

const char *In(const char *name)
{
    static char path[4][MAX_PATH];
    static int next;
    char *out = path[next++ % 4];
    wsprintfA(out, "%s\\%s", scratch, name);
    return out;
}

void Directories()
{
    SetLastError(0xDEAD);
    CHECK(CreateDirectoryA(In("a"), NULL));
    CHECK(!CreateDirectoryA(In("a"), NULL));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(!CreateDirectoryA(In("missing\\b"), NULL));
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // A prefix ending in a backslash names the same directory.
    char trailing[MAX_PATH];
    wsprintfA(trailing, "%s\\", In("a"));
    CHECK(!CreateDirectoryA(trailing, NULL));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // A file of that name blocks the directory.
    HANDLE file = CreateFileA(In("f"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CHECK(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
    CHECK(!CreateDirectoryA(In("f"), NULL));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(!CreateDirectoryA(In("bad|name"), NULL));
    CHECK_EQ(GetLastError(), ERROR_INVALID_NAME);
}

void Files()
{
    HANDLE file = CreateFileA(In("none.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(file == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    file = CreateFileA(In("nodir\\none.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(file == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    file = CreateFileA(In("a"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(file == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // OPEN_ALWAYS keeps an existing file's bytes and says it existed.
    HANDLE out = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(out != INVALID_HANDLE_VALUE);
    DWORD done = 0;
    CHECK(WriteFile(out, "0123456789", 10, &done, NULL));
    CHECK_EQ(done, 10);
    CloseHandle(out);
    SetLastError(0);
    out = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(out != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(WriteFile(out, "ab", 2, &done, NULL));
    // Cutting at the position leaves what was written so far.
    CHECK(SetEndOfFile(out));
    CloseHandle(out);

    HANDLE in = CreateFileA(In("data.bin"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(in != INVALID_HANDLE_VALUE);
    HFILE handle = (HFILE)(INT_PTR)in;
    CHECK_EQ(_llseek(handle, 0, FILE_END), 2);
    CHECK_EQ(_llseek(handle, 0, FILE_BEGIN), 0);
    char buffer[16];
    CHECK(ReadFile(in, buffer, sizeof buffer, &done, NULL));
    CHECK_EQ(done, 2);
    CHECK(ReadFile(in, buffer, sizeof buffer, &done, NULL));
    CHECK_EQ(done, 0);

    // A writer that shares nothing cannot open a file that a reader holds, nor the other way round.
    HANDLE writer = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    CHECK(writer == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(in);

    // File times go from one file to another.
    FILETIME creation = { 0x12345678, 0x01D00000 }, access = { 0x22345678, 0x01D10000 }, write = { 0x32345670, 0x01D20000 };
    out = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    CHECK(SetFileTime(out, &creation, &access, &write));
    CloseHandle(out);
    in = CreateFileA(In("data.bin"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME got[3];
    CHECK(GetFileTime(in, &got[0], &got[1], &got[2]));
    CHECK_EQ(got[2].dwHighDateTime, write.dwHighDateTime);
    CHECK_EQ(got[2].dwLowDateTime / 10, write.dwLowDateTime / 10);
    // A file system that keeps no creation time of its own (Wine on Linux) reports the write time.
    CHECK(got[0].dwHighDateTime == creation.dwHighDateTime || got[0].dwHighDateTime == write.dwHighDateTime);
    CloseHandle(in);

    CHECK(DeleteFileA(In("data.bin")));
    CHECK(!DeleteFileA(In("data.bin")));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

void Memory()
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
    CHECK(block != NULL);
    unsigned char *bytes = (unsigned char *)GlobalLock(block);
    CHECK(bytes != NULL);
    if (bytes != NULL)
        CHECK_EQ(bytes[15], 0);
    CHECK(!GlobalUnlock(block));
    CHECK(GlobalFree(block) == NULL);
    // A movable block of no bytes exists but cannot be locked.
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    CHECK(empty != NULL);
    CHECK(GlobalLock(empty) == NULL);
    GlobalFree(empty);
}

void Strings(HINSTANCE instance)
{
    char text[64];
    memset(text, 'x', sizeof text);
    CHECK_EQ(LoadStringA(instance, IDS_FILES_SECTION, text, sizeof text), 5);
    CHECK_STR(text, "Files");
    // Cut to the buffer less one, and terminated.
    CHECK_EQ(LoadStringA(instance, IDS_SUFFIXES_KEY, text, 5), 4);
    CHECK_STR(text, "Suff");
    CHECK_EQ(LoadStringA(instance, 9999, text, sizeof text), 0);

    char out[64];
    CHECK_EQ(wsprintfA(out, "%ld %%", 42L), 4);
    CHECK_STR(out, "42 %");
    wsprintfA(out, "%s : %s", "help\\Quillet.hlp;Quillet.hlp", "Help");
    CHECK_STR(out, "help\\Quillet.hlp;Quillet.hlp : Help");
    wsprintfA(out, "This installation requires %ld Kb.", 2097152L);
    CHECK_STR(out, "This installation requires 2097152 Kb.");
    wsprintfA(out, "Section [%s] does not exist !", "Install");
    CHECK_STR(out, "Section [Install] does not exist !");

    WCHAR wide[8];
    CHECK_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE9t\xE9", -1, wide, 8), 4);
    CHECK_EQ(wide[0], 0xE9);
    CHECK_EQ(wide[3], 0);
}

void Registry()
{
    const char *path = "Software\\QuilletConformance\\Deep";
    HKEY key;
    DWORD disposition = 0;
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, (LPSTR)"", 0, KEY_READ | KEY_WRITE, NULL, &key, &disposition), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, (const BYTE *)"abcdef", 7), ERROR_SUCCESS);
    DWORD size = 3;
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    CHECK_EQ(RegQueryValueExA(key, "Text", NULL, NULL, (BYTE *)buffer, &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 7);
    size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "Text", NULL, NULL, (BYTE *)buffer, &size), ERROR_SUCCESS);
    CHECK_EQ(size, 7);
    CHECK_STR(buffer, "abcdef");
    memset(buffer, '#', sizeof buffer);
    size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "Missing", NULL, NULL, (BYTE *)buffer, &size), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(buffer[0], '#');
    // The default value, by an empty name and by a null one.
    CHECK_EQ(RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE *)"dflt", 5), ERROR_SUCCESS);
    size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "", NULL, NULL, (BYTE *)buffer, &size), ERROR_SUCCESS);
    CHECK_STR(buffer, "dflt");
    // An empty sub-key name opens the same key again.
    HKEY again;
    CHECK_EQ(RegOpenKeyExA(key, "", 0, KEY_READ | KEY_WRITE, &again), ERROR_SUCCESS);
    CHECK_EQ(RegCloseKey(again), ERROR_SUCCESS);
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QuilletConformance\\Nothing", 0, KEY_READ | KEY_WRITE, &key),
             ERROR_FILE_NOT_FOUND);
    // The predefined roots may be closed; nothing happens to them.
    CHECK_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

int dialogSteps[8];
int dialogStepCount;

INT_PTR CALLBACK ProbeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        dialogSteps[dialogStepCount++] = 1;
        SendDlgItemMessageA(dialog, IDC_DIRECTORY_EDIT, EM_LIMITTEXT, 5, 0);
        SetDlgItemTextA(dialog, IDC_DIRECTORY_EDIT, "0123456789");
        PostMessageA(dialog, WM_COMMAND, IDC_DIRECTORY_INSTALL, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DIRECTORY_INSTALL) {
            char text[8];
            // The limit is for typing; text set by the program is kept whole, and read cut.
            CHECK_EQ(GetDlgItemTextA(dialog, IDC_DIRECTORY_EDIT, text, sizeof text), 7);
            CHECK_STR(text, "0123456");
            dialogSteps[dialogStepCount++] = 2;
            EndDialog(dialog, 259);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void Windows(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "QuilletProbe";
    CHECK(RegisterClassA(&windowClass) != 0);
    HWND window = CreateWindowExA(0, "QuilletProbe", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL, instance, NULL);
    CHECK(window != NULL);

    // Disabling a window cancels its mouse capture: the default procedure ends it on WM_CANCELMODE.
    SetCapture(window);
    CHECK(GetCapture() == window);
    EnableWindow(window, FALSE);
    CHECK(GetCapture() == NULL);
    EnableWindow(window, TRUE);

    // A modal dialog from the templates: initialisation first, then the posted command ends it.
    dialogStepCount = 0;
    CHECK_EQ(DialogBoxParamA(instance, "Directory", window, ProbeDialogProc, 0), 259);
    CHECK_EQ(dialogStepCount, 2);
    CHECK_EQ(dialogSteps[0], 1);
    CHECK(IsWindowEnabled(window));

    // The quit message reaches a peek that is filtered to one window, once nothing else is posted.
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    PostMessageA(window, WM_USER + 5, 0, 0);
    PostQuitMessage(7);
    CHECK(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    CHECK_EQ(msg.message, WM_USER + 5);
    CHECK(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    CHECK_EQ(msg.message, WM_QUIT);
    CHECK_EQ(msg.wParam, 7);

    // A class cannot go while one of its windows exists.
    CHECK(!UnregisterClassA("QuilletProbe", instance));
    CHECK_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    DestroyWindow(window);
    CHECK(UnregisterClassA("QuilletProbe", instance));

    CHECK(LoadIconA(instance, "install") != NULL);
    CHECK(LoadIconA(instance, "Installer") == NULL);
}

}  // namespace

int RunConformance(HINSTANCE instance, const char *scratchDirectory)
{
    failures = 0;
    snprintf(scratch, sizeof scratch, "%s", scratchDirectory);
    CreateDirectoryA(scratch, NULL);
    Directories();
    Files();
    Memory();
    Strings(instance);
    Registry();
    Windows(instance);
    return failures;
}
