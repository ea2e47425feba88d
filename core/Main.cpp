// The entry point: start-up, the message loop and the clean-up at exit.
#include <string.h>

#include "core/CommandLine.h"
#include "core/CopyEngine.h"
#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "core/Sequencer.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "ui/Messages.h"

static const char SCRIPT_EXTENSION[] = ".inf";
// The program's one icon group; the French class name names no resource, so it is asked for by name.
static const char INSTALL_ICON[] = "INSTALL";
// The main window: WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, over the whole primary screen.
static const DWORD MAIN_WINDOW_STYLE = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
static const COLORREF FILL_COLOR = RGB(0, 0, 255);
static const COLORREF BAND_COLOR = RGB(192, 192, 192);
// The strings held from start-up, in the order they are loaded.
static void LoadStartupStrings(void)
{
    static const struct {
        UINT Id;
        char *Field;
        int Capacity;
    } strings[] = {
        { IDS_CLASS_NAME, State.ClassName, NAME_CAPACITY },
        { IDS_DIRECTORY_PROMPT, State.DirectoryPrompt, VALUE_CAPACITY },
        { IDS_SIZE_FORMAT_LD, State.SizeFormat, VALUE_CAPACITY },
        { IDS_FILES_SECTION, State.FilesSection, NAME_CAPACITY },
        { IDS_GROUP_SECTION, State.GroupSection, NAME_CAPACITY },
        { IDS_INSTALL_SECTION, State.InstallSection, NAME_CAPACITY },
        { IDS_REGISTRATION_SECTION, State.RegistrationSection, NAME_CAPACITY },
        { IDS_BITMAP_KEY, State.BitmapKey, NAME_CAPACITY },
        { IDS_APPLICATION_KEY, State.ApplicationKey, NAME_CAPACITY },
        { IDS_CAPTION_KEY, State.CaptionKey, NAME_CAPACITY },
        { IDS_DIRECTORY_KEY, State.DirectoryKey, NAME_CAPACITY },
        { IDS_SUFFIXES_KEY, State.SuffixesKey, NAME_CAPACITY },
    };
    for (const auto &string : strings)
        LoadStringA(State.Instance, string.Id, string.Field, string.Capacity);
}

static void RegisterMainClass(void)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = State.Instance;
    windowClass.hIcon = LoadIconA(State.Instance, State.ClassName);
    if (windowClass.hIcon == NULL)
        windowClass.hIcon = LoadIconA(State.Instance, INSTALL_ICON);
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_APPWORKSPACE + 1);
    windowClass.lpszClassName = State.ClassName;
    RegisterClassA(&windowClass);
}

// The script is the installer's own path with ".inf" in place of the file name's extension.
static void FormScriptPath(void)
{
    GetModuleFileNameA(NULL, State.SourcePath, PATH_CAPACITY);
    SplitPath(State.SourcePath, &State.DriveLength, &State.FileNameOffset, &State.DotOffset);
    // A file name without a dot keeps its name and gains the extension.
    int at = State.DotOffset != 0 ? State.DotOffset : CopyString(State.SourcePath, PATH_CAPACITY, State.SourcePath);
    AppendString(State.SourcePath, PATH_CAPACITY, at, SCRIPT_EXTENSION);
}

// [Install]: every line is tried against every key by its first bytes; the last one wins.
static void ReadInstallSection(void)
{
    const struct {
        const char *Key;
        char *Field;
    } keys[] = {
        { State.BitmapKey, State.BitmapName },
        { State.ApplicationKey, State.ApplicationName },
        { State.CaptionKey, State.CaptionText },
        { State.DirectoryKey, State.TargetDirectory },
    };
    for (;;) {
        const char *line = State.InstallScript + State.ScriptCursor;
        int length = ParseScriptLine(line, &State.Line);
        if (length == 0)
            break;
        for (const auto &key : keys) {
            if (KeyMatches(line, key.Key, (int)strlen(key.Key)) == 0)
                CopyChars(key.Field, VALUE_CAPACITY, State.Line.ValueStart, State.Line.ValueLength);
        }
        State.ScriptCursor += length;
    }
}

// [Files], first walk: totals the sizes of the sources and warns about each one that is missing.
static void SumSourceSizes(void)
{
    for (;;) {
        int length = ParseScriptLine(State.InstallScript + State.ScriptCursor, &State.Line);
        if (length == 0)
            break;
        State.ScriptCursor += length;
        if (State.Line.KeyLength == 0 && State.Line.ValueLength == 0)
            continue;

        const char *value = State.Line.ValueStart;
        int count = State.Line.ValueLength;
        if (count > 0 && value[0] == '%') {
            value++;
            count--;
        }
        CopyChars(State.EntryValue, VALUE_CAPACITY, value, count);
        HANDLE source = INVALID_HANDLE_VALUE;
        if (FormSourcePath(SplitEntryValue(State.EntryValue)) == 0)
            source = CreateFileA(State.SourcePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        State.SourceHandle = source;
        if (source == INVALID_HANDLE_VALUE) {
            ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_CANNOT_OPEN_S, State.SourcePath,
                                 MB_ICONINFORMATION);
            State.FailureCount++;
        } else {
            AddFileSize(&State.TotalBytes, MeasureFileSize(source));
            CloseHandle(source);
        }
    }
    State.SourceHandle = NULL;
}

// Gives back what start-up took: the script block and the window class.
static void ReleaseStartup(void)
{
    if (State.ScriptHandle != NULL) {
        GlobalUnlock(State.ScriptHandle);
        GlobalFree(State.ScriptHandle);
        State.ScriptHandle = NULL;
        State.InstallScript = NULL;
    }
    UnregisterClassA(State.ClassName, State.Instance);
}

// The program's only message loop. A step of the installation is a posted message, and posted
// messages come before input and repaints, so while the copy engine keeps a step posted the loop
// would serve nothing else: input and repaints of every window are taken first, one peek a round.
// The copy dialog's messages go through IsDialogMessageA, which gives it its keys.
static int RunMessageLoop(void)
{
    MSG msg;
    for (;;) {
        // GetMessageA's result only repeats whether the message is the quit message, which a peek
        // could also hand over.
        if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT))
            (void)GetMessageA(&msg, NULL, 0, 0);
        if (msg.message == WM_QUIT)
            return (int)msg.wParam;
        if (State.CopyDialog != NULL && IsDialogMessageA(State.CopyDialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Start-up, the run and the clean-up; returns the exit code.
static int RunInstallation(void)
{
    RegisterMainClass();
    FormScriptPath();
    LogLine("Script: %s", State.SourcePath);

    if (LoadScriptFile(State.Instance, State.ClassName, NULL, State.SourcePath, &State.ScriptHandle,
                       &State.InstallScript) != 0 ||
        FindScriptSection(State.Instance, State.ClassName, NULL, State.InstallSection, TRUE, State.InstallScript,
                          &State.ScriptCursor) != 0) {
        ReleaseStartup();
        return ERROR_INSTALL_FAILURE;
    }
    ReadInstallSection();
    if (FindScriptSection(State.Instance, State.ClassName, NULL, State.FilesSection, TRUE, State.InstallScript,
                          &State.ScriptCursor) != 0) {
        ReleaseStartup();
        return ERROR_INSTALL_FAILURE;
    }
    State.FailureCount = 0;
    State.TotalBytes = 0;
    SumSourceSizes();

    State.FillBrush = CreateSolidBrush(FILL_COLOR);
    State.BandBrush = CreateSolidBrush(BAND_COLOR);
    State.MainWindow = CreateWindowExA(0, State.ClassName, State.ClassName, MAIN_WINDOW_STYLE, 0, 0,
                                       GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), NULL, NULL,
                                       State.Instance, NULL);
    int exitCode = ERROR_INSTALL_FAILURE;
    if (State.MainWindow != NULL) {
        SetWindowTextA(State.MainWindow, State.CaptionText);
        // A silent run keeps its window, whose procedure runs the installation, out of sight.
        if (!State.Silent)
            ShowWindow(State.MainWindow, SW_SHOW);
        // A run that ends before its report was ended by the user.
        State.ExitCode = ERROR_INSTALL_USEREXIT;
        PostMessageA(State.MainWindow, WM_INSTALL_START, 0, 0);
        exitCode = RunMessageLoop();
    }

    DeleteObject(State.FillBrush);
    DeleteObject(State.BandBrush);
    ReleaseStartup();
    return exitCode;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    RestrictDllSearch();
    memset(&State, 0, sizeof State);
    State.Instance = instance;
    LoadStartupStrings();
    return RunForCaller(ReadSwitches(commandLine), IDS_SWITCHES, State.ClassName, "Quillet setup", commandLine,
                        StopForFailedLog, RunInstallation);
}
