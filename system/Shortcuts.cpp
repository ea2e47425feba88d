// The program group: a folder named after the application in the user's Start menu Programs
// folder, holding one shortcut file per [Group] entry, the first one also on the desktop.
#include "system/Shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <limits.h>

#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"
#include "system/Registration.h"
#include "system/Registry.h"
#include "ui/Messages.h"

static const char SHELL_FOLDERS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char PROGRAMS_VALUE[] = "Programs";
static const char DESKTOP_VALUE[] = "Desktop";
static const char COMMON_PROGRAMS_VALUE[] = "Common Programs";
static const char COMMON_DESKTOP_VALUE[] = "Common Desktop";
static const char PATH_SEPARATOR[] = "\\";

enum {
    FIELD_SEPARATOR = ',',
    INSTALL_DIRECTORY_MARK = '%',  // an icon file relative to TargetDirectory
    DECIMAL_BASE = 10,
};

// Reads a shell folder into `folder` (VALUE_CAPACITY): the user's own, or in a run for all users
// the machine's common one, which every user's Start menu and desktop show. Returns 0 or why not.
static LONG ReadShellFolder(const char *userValue, const char *commonValue, char *folder)
{
    if (State.AllUsers)
        return ReadRegistryValue(HKEY_LOCAL_MACHINE, SHELL_FOLDERS_KEY, commonValue, folder, VALUE_CAPACITY);
    return ReadRegistryValue(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, userValue, folder, VALUE_CAPACITY);
}

// Fills `path` with `folder`, a backslash and `name`; returns the length.
static int JoinPath(char *path, const char *folder, const char *name)
{
    int length = CopyString(path, PATH_CAPACITY, folder);
    length = AppendString(path, PATH_CAPACITY, length, PATH_SEPARATOR);
    return AppendString(path, PATH_CAPACITY, length, name);
}

static int IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The decimal number at `text`: white space skipped, an optional sign, then digits; 0 without any.
// A number beyond the range of an int stops at its nearest end instead of wrapping around.
static int ParseIconIndex(const char *text)
{
    while (IsWhiteSpace(*text))
        text++;
    int negative = 0;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        text++;
    }
    // Accumulated as a negative number, whose range reaches INT_MIN.
    int value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        int digit = *text - '0';
        if (value < (INT_MIN + digit) / DECIMAL_BASE)
            value = INT_MIN;
        else
            value = value * DECIMAL_BASE - digit;
    }
    if (negative)
        return value;
    return value == INT_MIN ? INT_MAX : -value;
}

// Makes the shortcuts of the current [Group] line: the field cursor walks EntryValue.
static void MakeGroupEntry(int *firstEntry)
{
    char target[PATH_CAPACITY];
    char linkFile[PATH_CAPACITY];
    char description[PATH_CAPACITY];
    char iconFile[PATH_CAPACITY];

    CopyChars(State.EntryKey, VALUE_CAPACITY, State.InstallScript + State.ScriptCursor, State.Line.KeyLength);
    CopyChars(State.EntryValue, VALUE_CAPACITY, State.Line.ValueStart, State.Line.ValueLength);
    const char *field = State.EntryValue;

    int length = CopyString(target, PATH_CAPACITY, State.TargetDirectory);
    length = AppendString(target, PATH_CAPACITY, length, PATH_SEPARATOR);
    NextField(&field, target + length, PATH_CAPACITY - length, FIELD_SEPARATOR);

    JoinPath(linkFile, State.GroupFolder, State.EntryKey);

    NextField(&field, description, PATH_CAPACITY, FIELD_SEPARATOR);

    length = 0;
    if (*field == INSTALL_DIRECTORY_MARK) {
        length = CopyString(iconFile, PATH_CAPACITY, State.TargetDirectory);
        length = AppendString(iconFile, PATH_CAPACITY, length, PATH_SEPARATOR);
        field++;
    }
    NextField(&field, iconFile + length, PATH_CAPACITY - length, FIELD_SEPARATOR);

    int iconIndex = ParseIconIndex(field);

    // A shortcut that cannot be made is skipped silently; it is no failure of the installation.
    CreateShortcut(target, linkFile, description, iconFile, iconIndex);

    if (*firstEntry) {
        *firstEntry = FALSE;
        if (ReadShellFolder(DESKTOP_VALUE, COMMON_DESKTOP_VALUE, State.DesktopFolder) == 0) {
            RecordDesktop(State.DesktopFolder);
            JoinPath(linkFile, State.DesktopFolder, State.EntryKey);
            CreateShortcut(target, linkFile, description, iconFile, iconIndex);
        }
    }
}

void MakeShortcuts(HWND window)
{
    if (FindScriptSection(State.Instance, State.ClassName, window, State.GroupSection, FALSE, State.InstallScript,
                          &State.ScriptCursor) != 0) {
        PostMessageA(window, WM_REGISTER_APP, 0, 0);
        return;
    }

    // Kept on success: the registration question that follows cancels it through WM_CANCELMODE.
    SetCapture(window);

    if (ReadShellFolder(PROGRAMS_VALUE, COMMON_PROGRAMS_VALUE, State.ProgramsFolder) != 0) {
        LogLine("No program group: the Programs folder cannot be read");
        // No Programs folder, no group: the registration follows at once, within this message.
        RegisterApplication(window);
        return;
    }

    int length = CopyString(State.GroupFolder, VALUE_CAPACITY, State.ProgramsFolder);
    length = AppendString(State.GroupFolder, VALUE_CAPACITY, length, PATH_SEPARATOR);
    AppendString(State.GroupFolder, VALUE_CAPACITY, length, State.ApplicationName);

    // Only the group folder itself is made; unlike the copy engine's directories, access denied
    // is a failure here, since the shortcuts could not go into the folder anyway.
    BOOL created = CreateDirectoryA(State.GroupFolder, NULL);
    if (created) {
        LogLine("Directory created: %s", State.GroupFolder);
        RecordDirectory(State.GroupFolder);
    }
    RecordGroup(State.GroupFolder);
    if (!created && GetLastError() != ERROR_ALREADY_EXISTS) {
        State.FailureCount++;
        ReleaseCapture();
        ShowMessageFormatted(State.Instance, State.ApplicationName, window, IDS_CANNOT_CREATE_S, State.GroupFolder,
                             MB_ICONERROR);
        PostMessageA(window, WM_REGISTER_APP, 0, 0);
        return;
    }

    // The section was found above; this only puts the cursor back on its first line.
    FindScriptSection(State.Instance, State.ClassName, window, State.GroupSection, TRUE, State.InstallScript,
                      &State.ScriptCursor);
    int firstEntry = TRUE;
    for (;;) {
        State.LastLineLength = ParseScriptLine(State.InstallScript + State.ScriptCursor, &State.Line);
        // Unlike [Files], an empty or comment line ends the list of shortcuts.
        if (State.LastLineLength == 0 || (State.Line.KeyLength == 0 && State.Line.ValueLength == 0))
            break;
        MakeGroupEntry(&firstEntry);
        State.ScriptCursor += State.LastLineLength;
    }

    PostMessageA(window, WM_REGISTER_APP, 0, 0);
}

HRESULT CreateShortcut(const char *target, const char *linkFile, const char *description, const char *iconFile,
                       int iconIndex)
{
    IShellLinkA *link = NULL;
    IPersistFile *file = NULL;
    WCHAR widePath[PATH_CAPACITY];

    // Already initialised on this thread gives S_FALSE; every call is matched below all the same.
    CoInitialize(NULL);
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link);
    if (SUCCEEDED(result))
        result = link->QueryInterface(IID_IPersistFile, (void **)&file);
    if (SUCCEEDED(result))
        result = link->SetPath(target);
    if (SUCCEEDED(result))
        result = link->SetDescription(description);
    if (SUCCEEDED(result) && iconFile != NULL)
        result = link->SetIconLocation(iconFile, iconIndex);
    if (SUCCEEDED(result))
        result = link->SetShowCmd(SW_SHOWNORMAL);
    if (SUCCEEDED(result)) {
        // A link path longer than the wide buffer leaves it unfilled: never save under such a name.
        if (MultiByteToWideChar(CP_ACP, 0, linkFile, -1, widePath, PATH_CAPACITY) == 0)
            result = HRESULT_FROM_WIN32(GetLastError());
        else
            result = file->Save(widePath, TRUE);
    }

    if (file != NULL)
        file->Release();
    if (link != NULL)
        link->Release();
    CoUninitialize();
    if (FAILED(result)) {
        LogLine("Shortcut not created: %s (error 0x%08lx)", linkFile, (DWORD)result);
        return result;
    }
    LogLine("Shortcut created: %s -> %s", linkFile, target);
    RecordLink(linkFile);
    return S_OK;
}
