// The frame both programs run in for their callers: the switches read from a program's table,
// one installation or removal at a time, and the log around the run. Names are matched without
// regard to case, in any order; a value may be quoted to hold blanks; a switch that takes the rest
// of the line (the installer's /D=, the uninstaller's directory) comes last, blanks included.
#include "core/RunFrame.h"

#include <windows.h>

#include <string.h>

#include "core/InstallLog.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "ui/Messages.h"

static const char SWITCH_MARK = '/';
static const char VALUE_MARK = '=';
static const char QUOTE = '"';
static const char HELP_SWITCH[] = "?";

RunRequest Run;

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether the `length` characters at `name` are `expected` (in capitals), letter case aside.
// Switch names are plain ASCII: no code page's letters come into it.
static int NameIs(const char *name, int length, const char *expected)
{
    if (length != (int)strlen(expected))
        return FALSE;
    for (int i = 0; i < length; i++) {
        if (UpperAscii(name[i]) != expected[i])
            return FALSE;
    }
    return TRUE;
}

// Copies a value of `length` characters into `field` of `capacity`, without the quotes around
// it; 0, or -1 when it is empty, holds a stray quote or does not fit (a cut path would name
// another place).
static int TakeValue(char *field, int capacity, const char *value, int length)
{
    if (length >= 2 && value[0] == QUOTE && value[length - 1] == QUOTE) {
        value++;
        length -= 2;
    }
    if (length == 0 || length > capacity - 1 || memchr(value, QUOTE, length) != NULL)
        return -1;
    CopyChars(field, capacity, value, length);
    return 0;
}

static const char KERNEL_MODULE[] = "kernel32.dll";
static const char SET_DEFAULT_DLL_DIRECTORIES[] = "SetDefaultDllDirectories";
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD flags);

// Every DLL loaded from now on comes from System32 alone, never from the folder the installer was
// started from: that is often a download folder, where anybody may have left a DLL under a
// system name, and the installer runs with the rights to write the system's settings. The call
// is looked up, as systems before Windows 8 without its update lack it.
void RestrictDllSearch(void)
{
    HMODULE kernel = GetModuleHandleA(KERNEL_MODULE);
    if (kernel == NULL)
        return;
    SetDefaultDllDirectoriesFunction setDefaultDllDirectories =
        (SetDefaultDllDirectoriesFunction)(void (*)(void))GetProcAddress(kernel, SET_DEFAULT_DLL_DIRECTORIES);
    if (setDefaultDllDirectories != NULL)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// One installation or removal at a time, whichever user or session starts it.
static const char INSTALLATION_MUTEX[] = "Global\\QuilletSetup";

// A word /X:... or /\\... names a directory rather than a switch; so does one whose directory is in
// quotes after the '/'.
static int IsDirectoryWord(const char *name)
{
    if (name[0] == QUOTE)
        name++;
    return (name[0] != '\0' && name[1] == ':') || (name[0] == '\\' && name[1] == '\\');
}

// The row of `table` named by the `length` characters at `name`, or for a directory word the
// table's directory row; null when there is none.
static const SwitchEntry *FindSwitch(const SwitchEntry *table, int count, const char *name, int length)
{
    for (int i = 0; i < count; i++) {
        if (table[i].Kind == SWITCH_DIRECTORY ? IsDirectoryWord(name) : NameIs(name, length, table[i].Name))
            return &table[i];
    }
    return NULL;
}

// Takes the rest of the line from `value` into the row's field: blanks at its end are the command
// line's, not the value's. Returns 0 or -1 as TakeValue does.
static int TakeRest(const SwitchEntry *row, const char *value)
{
    int length = (int)strlen(value);
    while (length > 0 && IsBlank(value[length - 1]))
        length--;
    return TakeValue(row->Field, row->Capacity, value, length);
}

int ReadSwitchTable(const char *commandLine, const SwitchEntry *table, int count)
{
    int help = FALSE, bad = FALSE;
    const char *at = commandLine != NULL ? commandLine : "";
    for (;;) {
        while (IsBlank(*at))
            at++;
        if (*at == '\0')
            break;
        // A caller that quotes every argument with blanks in it quotes a directory's whole word, as in
        // "/C:\Program Files\Quillet" with the quotes: the rest of the line, to its closing quote.
        const SwitchEntry *directory =
            at[0] == QUOTE && at[1] == SWITCH_MARK ? FindSwitch(table, count, at + 2, 0) : NULL;
        if (directory != NULL && directory->Kind == SWITCH_DIRECTORY) {
            const char *value = at + 2;
            int length = (int)strlen(value);
            while (length > 0 && IsBlank(value[length - 1]))
                length--;
            bad = bad || length == 0 || value[length - 1] != QUOTE ||
                  TakeValue(directory->Field, directory->Capacity, value, length - 1) != 0;
            break;
        }
        // A word that is no switch is not taken; the rest is still read, so that a /S further on
        // keeps even the list of switches from being shown.
        if (*at != SWITCH_MARK) {
            bad = TRUE;
            while (*at != '\0' && !IsBlank(*at))
                at++;
            continue;
        }
        const char *name = ++at;
        while (*at != '\0' && !IsBlank(*at) && *at != VALUE_MARK)
            at++;
        int nameLength = (int)(at - name);
        const SwitchEntry *row = FindSwitch(table, count, name, nameLength);
        if (row != NULL && row->Kind == SWITCH_DIRECTORY) {
            bad = bad || TakeRest(row, name) != 0;
            break;
        }
        if (*at == VALUE_MARK) {
            const char *value = ++at;
            if (row != NULL && row->Kind == SWITCH_REST) {
                bad = bad || TakeRest(row, value) != 0;
                break;
            }
            if (*at == QUOTE && strchr(at + 1, QUOTE) != NULL)
                at = strchr(at + 1, QUOTE) + 1;
            while (*at != '\0' && !IsBlank(*at))
                at++;
            bad = bad || row == NULL || row->Kind != SWITCH_VALUE ||
                  TakeValue(row->Field, row->Capacity, value, (int)(at - value)) != 0;
        } else if (row != NULL && row->Kind == SWITCH_FLAG) {
            *row->Flag = TRUE;
        } else if (NameIs(name, nameLength, HELP_SWITCH)) {
            help = TRUE;
        } else {
            bad = TRUE;
        }
    }
    return bad ? SWITCHES_BAD : help ? SWITCHES_HELP : SWITCHES_RUN;
}

const char *SkipProgramName(const char *commandLine)
{
    const char *at = commandLine != NULL ? commandLine : "";
    while (IsBlank(*at))
        at++;
    if (*at == QUOTE) {
        const char *end = strchr(at + 1, QUOTE);
        at = end != NULL ? end + 1 : at + strlen(at);
    } else {
        while (*at != '\0' && !IsBlank(*at))
            at++;
    }
    return at;
}

int RunForCaller(HINSTANCE instance, int switches, UINT switchesText, const char *caption, const char *program,
                 const char *commandLine, void (*logFailed)(void), int (*run)(void))
{
    if (switches != SWITCHES_RUN) {
        ShowMessage(instance, caption, NULL, switchesText,
                    switches == SWITCHES_HELP ? MB_ICONINFORMATION : MB_ICONERROR);
        return switches == SWITCHES_HELP ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }

    // Taken before anything is shown or touched, so that a second run started meanwhile leaves
    // everything to the first. A mutex made by another user's run may be refused to this one with
    // access denied: it exists all the same.
    HANDLE running = CreateMutexA(NULL, FALSE, INSTALLATION_MUTEX);
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || (running == NULL && error == ERROR_ACCESS_DENIED)) {
        if (running != NULL)
            CloseHandle(running);
        ShowMessage(instance, caption, NULL, IDS_ALREADY_RUNNING, MB_ICONINFORMATION);
        return ERROR_INSTALL_ALREADY_RUNNING;
    }

    int exitCode = ERROR_INSTALL_FAILURE;
    if (OpenInstallLog(program, commandLine, logFailed) != 0)
        ShowMessageFormatted(instance, caption, NULL, IDS_CANNOT_WRITE_S, Run.LogPath, MB_ICONERROR);
    else
        exitCode = run();
    CloseInstallLog(exitCode);
    if (running != NULL)
        CloseHandle(running);
    return exitCode;
}
