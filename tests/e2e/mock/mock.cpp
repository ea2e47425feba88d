// A stand-in installer for the robot's own tests: it shows the windows its script asks for and
// writes what each answer was to result.txt in its folder, so a scenario can prove that the robot
// saw and did what it claims. The script is its own path with ".inf", one command a line:
//   main                      a full-screen main window (class MockMain); later boxes are owned by it
//   box TYPE ICON TEXT        TYPE ok|okcancel|yesno|yesnocancel, ICON error|information|question|warning|none
//   dialog                    the directory dialog (edit 257, buttons 259 and 260)
//   regsz NAME TEXT           HKCU\Software\Quillet Mock, stored with a byte count that omits the NUL
//   regdword NAME NUMBER
//   copy FROM TO              CopyFileA, which keeps the modification time
//   shortcut LINK|TARGET|DESCRIPTION   a .lnk made by the shell link object; LINK may name
//                             environment variables (%USERPROFILE%) and folders that do not exist yet
//   hang                      never returns
//   exit CODE                 the exit code once the script is done (default 0)
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "mock.h"

enum { LINE_CAPACITY = 1024, TEXT_CAPACITY = 512 };

static const char MAIN_CLASS[] = "MockMain";
static const char REGISTRY_KEY[] = "Software\\Quillet Mock";
static const COLORREF MAIN_COLOUR = RGB(0, 128, 128);

static FILE *Results;

static void Result(const char *format, const char *a, const char *b)
{
    fprintf(Results, format, a, b);
    fputs("\r\n", Results);
    fflush(Results);
}

static INT_PTR CALLBACK DirectoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    char text[TEXT_CAPACITY];
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_MOCK_EDIT, "C:\\Quillet");
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_MOCK_INSTALL:
            GetDlgItemTextA(dialog, IDC_MOCK_EDIT, text, TEXT_CAPACITY);
            Result("dialog 259 %s%s", text, "");
            EndDialog(dialog, IDC_MOCK_INSTALL);
            return TRUE;
        case IDC_MOCK_CANCEL:
        case IDCANCEL:
            snprintf(text, TEXT_CAPACITY, "%d", LOWORD(wParam));
            Result("dialog %s%s", text, "");
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// Every folder on the way to `path`, from the top down.
static void CreateFoldersTo(const char *path)
{
    char folder[MAX_PATH];
    lstrcpynA(folder, path, MAX_PATH);
    for (char *slash = strchr(folder + 3, '\\'); slash != NULL; slash = strchr(slash + 1, '\\')) {
        *slash = '\0';
        CreateDirectoryA(folder, NULL);
        *slash = '\\';
    }
}

static const char *MakeShortcut(const char *link, const char *target, const char *description)
{
    IShellLinkA *shellLink = NULL;
    IPersistFile *file = NULL;
    wchar_t wideLink[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, link, -1, wideLink, MAX_PATH);
    bool done = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                           (void **)&shellLink)) &&
                SUCCEEDED(shellLink->SetPath(target)) && SUCCEEDED(shellLink->SetDescription(description)) &&
                SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, (void **)&file)) &&
                SUCCEEDED(file->Save(wideLink, TRUE));
    if (file != NULL)
        file->Release();
    if (shellLink != NULL)
        shellLink->Release();
    return done ? "done" : "failed";
}

static void PumpMessages(void)
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

static HWND CreateMainWindow(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = CreateSolidBrush(MAIN_COLOUR);
    windowClass.lpszClassName = MAIN_CLASS;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA(MAIN_CLASS, "Mock main", WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                GetSystemMetrics(SM_CYSCREEN), NULL, NULL, instance, NULL);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

static UINT BoxType(const char *type, const char *icon)
{
    static const struct {
        const char *Name;
        UINT Flags;
    } names[] = {
        { "ok", MB_OK }, { "okcancel", MB_OKCANCEL }, { "yesno", MB_YESNO }, { "yesnocancel", MB_YESNOCANCEL },
        { "error", MB_ICONERROR }, { "information", MB_ICONINFORMATION }, { "question", MB_ICONQUESTION },
        { "warning", MB_ICONWARNING }, { "none", 0 },
    };
    UINT flags = 0;
    for (const auto &name : names)
        if (strcmp(type, name.Name) == 0 || strcmp(icon, name.Name) == 0)
            flags |= name.Flags;
    return flags;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    char *dot = strrchr(path, '.');
    if (dot != NULL)
        strcpy(dot, ".inf");
    FILE *script = fopen(path, "rb");
    Results = fopen("result.txt", "wb");
    if (script == NULL || Results == NULL)
        return 2;

    HWND main = NULL;
    int exitCode = 0;
    char line[LINE_CAPACITY];
    while (fgets(line, LINE_CAPACITY, script) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        char verb[32] = "", first[TEXT_CAPACITY] = "", second[TEXT_CAPACITY] = "";
        int rest = 0;
        sscanf(line, "%31s %511s %n", verb, first, &rest);
        const char *tail = rest > 0 ? line + rest : "";
        if (strcmp(verb, "main") == 0) {
            main = CreateMainWindow(instance);
        } else if (strcmp(verb, "box") == 0) {
            sscanf(tail, "%511s %n", second, &rest);
            char answer[16];
            snprintf(answer, sizeof answer, "%d", MessageBoxA(main, tail + rest, "Mock", BoxType(first, second)));
            Result("box %s%s", answer, "");
        } else if (strcmp(verb, "dialog") == 0) {
            DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MOCK_DIRECTORY), main, DirectoryProc, 0);
        } else if (strcmp(verb, "regsz") == 0 || strcmp(verb, "regdword") == 0) {
            HKEY key;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, REGISTRY_KEY, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == 0) {
                DWORD number = (DWORD)strtoul(tail, NULL, 0);
                if (verb[3] == 's')
                    RegSetValueExA(key, first, 0, REG_SZ, (const BYTE *)tail, (DWORD)strlen(tail));
                else
                    RegSetValueExA(key, first, 0, REG_DWORD, (const BYTE *)&number, sizeof number);
                RegCloseKey(key);
            }
        } else if (strcmp(verb, "copy") == 0) {
            CreateFoldersTo(tail);
            Result("copy %s", CopyFileA(first, tail, FALSE) ? "done" : "failed", "");
        } else if (strcmp(verb, "shortcut") == 0) {
            char fields[TEXT_CAPACITY], link[MAX_PATH];
            lstrcpynA(fields, line + strlen("shortcut "), TEXT_CAPACITY);
            char *target = strchr(fields, '|');
            char *description = target != NULL ? strchr(target + 1, '|') : NULL;
            if (description == NULL)
                return 2;
            *target++ = '\0';
            *description++ = '\0';
            ExpandEnvironmentStringsA(fields, link, MAX_PATH);
            CreateFoldersTo(link);
            CoInitialize(NULL);
            Result("shortcut %s", MakeShortcut(link, target, description), "");
            CoUninitialize();
        } else if (strcmp(verb, "hang") == 0) {
            for (;;)
                Sleep(1000);
        } else if (strcmp(verb, "exit") == 0) {
            exitCode = atoi(first);
        }
        PumpMessages();
    }
    fclose(script);
    fclose(Results);
    if (main != NULL)
        DestroyWindow(main);
    return exitCode;
}
