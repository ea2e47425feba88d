// The entry point: start-up, the message loop and the clean-up at exit.
#include <string.h>

#include "core/CommandLine.h"
#include "core/CopyEngine.h"
#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "core/Sequencer.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "ui/Messages.h"

static const char SCRIPT_EXTENSION[] = ".inf";
// What a payload's entries are named below in the messages and the log: the installer's own path.
static const char ENTRY_SEPARATOR[] = "\\";
static const char FILE_READ_CONTEXT[] = "FileRead";
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

// The payload the installer carries after its image, if any, into OwnPayload: checked whole before
// anything else happens. Returns 0 (a payload that checked out, or none: the folder beside the
// installer is read, as ever), or -1 after showing that it is damaged or that memory ran out.
static int OpenOwnPayload(void)
{
    char module[PATH_CAPACITY];
    DWORD length = GetModuleFileNameA(NULL, module, PATH_CAPACITY);
    // A cut path could name another file: the installer then reads the folder, as start-up always did.
    if (length == 0 || length >= PATH_CAPACITY)
        return 0;
    switch (OpenPayload(module, &State.OwnPayload)) {
    case PAYLOAD_OPENED:
        LogLine("Payload: %d entries in %s", State.OwnPayload.EntryCount, module);
        return 0;
    case PAYLOAD_NONE:
        return 0;
    case PAYLOAD_DAMAGED:
        LogLine("Payload damaged: %s is cut short or altered; nothing is installed", module);
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_INSTALLER_DAMAGED_S, module, MB_ICONERROR);
        return -1;
    default:
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_NO_MEMORY_S, FILE_READ_CONTEXT, MB_ICONERROR);
        return -1;
    }
}

// The script is the installer's own path with ".inf" in place of the file name's extension; with a
// payload it is the payload's script entry, named below the installer's own path, which stands
// where its folder would for every source.
static void FormScriptPath(void)
{
    GetModuleFileNameA(NULL, State.SourcePath, PATH_CAPACITY);
    SplitPath(State.SourcePath, &State.DriveLength, &State.FileNameOffset, &State.DotOffset);
    if (State.OwnPayload.File != NULL) {
        int length = CopyString(State.SourcePath, PATH_CAPACITY, State.SourcePath);
        State.FileNameOffset = AppendString(State.SourcePath, PATH_CAPACITY, length, ENTRY_SEPARATOR);
        FormSourcePath(PAYLOAD_SCRIPT_NAME);
        return;
    }
    // A file name without a dot keeps its name and gains the extension.
    int at = State.DotOffset != 0 ? State.DotOffset : CopyString(State.SourcePath, PATH_CAPACITY, State.SourcePath);
    AppendString(State.SourcePath, PATH_CAPACITY, at, SCRIPT_EXTENSION);
}

// The script from the payload's entry, read whole into a zero-filled block one byte longer than it,
// locked for the rest of the run, as LoadScriptFile reads a file. Returns 0, or -1 after showing why
// not: an entry whose bytes do not check out means the installer is damaged.
static int LoadScriptEntry(void)
{
    PayloadEntry entry;
    if (FindPayloadEntry(&State.OwnPayload, PAYLOAD_SCRIPT_NAME, &entry) != 0) {
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_CANNOT_OPEN_S, State.SourcePath, MB_ICONERROR);
        return -1;
    }
    State.ScriptHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (SIZE_T)entry.InstalledSize + 1);
    if (State.ScriptHandle == NULL) {
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_NO_MEMORY_S, FILE_READ_CONTEXT, MB_ICONERROR);
        return -1;
    }
    State.InstallScript = (char *)GlobalLock(State.ScriptHandle);
    if (State.InstallScript == NULL) {
        GlobalFree(State.ScriptHandle);
        State.ScriptHandle = NULL;
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_NO_LOCK_S, FILE_READ_CONTEXT, MB_ICONERROR);
        return -1;
    }
    // The copy engine's stream is free before the copy begins.
    BOOL ok = OpenPayloadEntry(&State.OwnPayload, &entry, &State.SourceStream) == PAYLOAD_OPENED;
    DWORD error = ok ? 0 : ERROR_NOT_ENOUGH_MEMORY;
    DWORD total = 0, read = 0;
    while (ok && (ok = ReadPayloadEntry(&State.SourceStream, State.InstallScript + total,
                                        entry.InstalledSize - total, &read)) && read > 0)
        total += read;
    if (!ok && error == 0)
        error = GetLastError();
    ClosePayloadEntry(&State.SourceStream);
    if (ok)
        return 0;
    if (error == ERROR_NOT_ENOUGH_MEMORY) {
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_NO_MEMORY_S, FILE_READ_CONTEXT, MB_ICONERROR);
    } else if (error == ERROR_CRC || error == ERROR_HANDLE_EOF) {
        char module[PATH_CAPACITY];
        GetModuleFileNameA(NULL, module, PATH_CAPACITY);
        LogLine("Payload damaged: its script does not check out (error %lu); nothing is installed", error);
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_INSTALLER_DAMAGED_S, module, MB_ICONERROR);
    } else {
        ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_CANNOT_READ_S, State.SourcePath, MB_ICONERROR);
    }
    // The caller stops at once; give the block back rather than leave it to the exit.
    GlobalUnlock(State.ScriptHandle);
    GlobalFree(State.ScriptHandle);
    State.ScriptHandle = NULL;
    State.InstallScript = NULL;
    return -1;
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
        if (OpenSource(SplitEntryValue(State.EntryValue)) != 0) {
            ShowMessageFormatted(State.Instance, State.ClassName, NULL, IDS_CANNOT_OPEN_S, State.SourcePath,
                                 MB_ICONINFORMATION);
            State.FailureCount++;
        } else {
            AddFileSize(&State.TotalBytes, MeasureSource());
            CloseSource();
        }
    }
}

// Gives back what start-up took: the script block, the window class and the payload.
static void ReleaseStartup(void)
{
    if (State.ScriptHandle != NULL) {
        GlobalUnlock(State.ScriptHandle);
        GlobalFree(State.ScriptHandle);
        State.ScriptHandle = NULL;
        State.InstallScript = NULL;
    }
    UnregisterClassA(State.ClassName, State.Instance);
    ClosePayload(&State.OwnPayload);
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
    LogLine("Mode: %s, shortcuts for %s", Run.Silent ? "silent" : "interactive",
            State.AllUsers ? "all users" : "the current user");
    // A damaged installer stops before anything else: no window, nothing written.
    if (OpenOwnPayload() != 0)
        return ERROR_INSTALL_FAILURE;
    RegisterMainClass();
    FormScriptPath();
    LogLine("Script: %s", State.SourcePath);

    int loaded = State.OwnPayload.File != NULL
                     ? LoadScriptEntry()
                     : LoadScriptFile(State.Instance, State.ClassName, NULL, State.SourcePath, &State.ScriptHandle,
                                      &State.InstallScript);
    if (loaded != 0 ||
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
        if (!Run.Silent)
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
    memset(&Run, 0, sizeof Run);
    State.Instance = instance;
    LoadStartupStrings();
    return RunForCaller(instance, ReadSwitches(commandLine), IDS_SWITCHES, State.ClassName, "Quillet setup",
                        commandLine, StopForFailedLog, RunInstallation);
}
