// Unquil.exe: takes away what the installation of Quillet made and gives back what it replaced,
// from the record the installer kept in the Windows directory. The uninstall entry starts it as
// "Unquil.exe /C:\Program Files\Quillet"; deployment tools add /S.
#include <windows.h>

#include <string.h>

#include "core/CommandLine.h"
#include "core/CopyEngine.h"
#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"
#include "system/Registry.h"
#include "ui/Messages.h"

static const char PATH_SEPARATOR = '\\';
static const char LIST_SEPARATOR[] = "\n";
static const char LIST_MORE[] = "\n...";
// The registry places an installation writes, and so the only ones the uninstaller touches: the
// editor's application path, its uninstall entry (a key of the list of entries), the text file type
// and the suffix keys.
static const char APP_PATH_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe";
static const char UNINSTALL_ENTRIES_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
static const char TEXT_FILE_KEY[] = "txtfile";

enum {
    ERROR_RESTART_COMPLETES = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED: removed, a restart completes it
    // The list of items in the report: what fits beside the text in a message box.
    LIST_CAPACITY = PATH_CAPACITY,
};

// What the removal came to, for the report and the exit code.
struct Removal {
    const char *Text;      // the record, whole
    HGLOBAL TextHandle;
    char Directory[VALUE_CAPACITY];
    char Group[RECORD_FIELD_CAPACITY];
    char Desktop[RECORD_FIELD_CAPACITY];
    char WindowsDirectory[PATH_CAPACITY];
    char Self[PATH_CAPACITY];      // the program's own file: it runs, and goes last
    char Kept[LIST_CAPACITY];     // files added or changed since, kept
    char Failed[LIST_CAPACITY];   // items that could not be taken away or given back
    int KeptCount, FailedCount;
    int RestartNeeded;
};
static Removal Work;

// Adds `item` to a report list; what does not fit is summed up as "...".
static void ListItem(char *list, int *count, const char *item)
{
    int length = (int)strlen(list);
    int needed = (length > 0 ? (int)sizeof LIST_SEPARATOR - 1 : 0) + (int)strlen(item);
    if (length + needed + (int)sizeof LIST_MORE < LIST_CAPACITY) {
        if (length > 0)
            length = AppendString(list, LIST_CAPACITY, length, LIST_SEPARATOR);
        AppendString(list, LIST_CAPACITY, length, item);
    } else if (strstr(list, LIST_MORE) == NULL) {
        AppendString(list, LIST_CAPACITY, length, LIST_MORE);
    }
    (*count)++;
}

static void Keep(const char *item, const char *why)
{
    LogLine("Kept: %s (%s)", item, why);
    ListItem(Work.Kept, &Work.KeptCount, item);
}

static void Fail(const char *item, const char *why, DWORD error)
{
    LogLine("Not removed: %s (%s, error %lu)", item, why, error);
    ListItem(Work.Failed, &Work.FailedCount, item);
}

// A path that names something by way of "." or ".." could lead anywhere: never one of ours.
static int HasDotComponent(const char *path)
{
    for (const char *at = path; *at != '\0'; at++) {
        if (*at == PATH_SEPARATOR && at[1] == '.' &&
            (at[2] == PATH_SEPARATOR || at[2] == '\0' || (at[2] == '.' && (at[3] == PATH_SEPARATOR || at[3] == '\0'))))
            return 1;
    }
    return 0;
}

// Whether `path` is directly in `directory`.
static int IsInDirectory(const char *path, const char *directory)
{
    return IsBelowDirectory(path, directory) && strchr(path + strlen(directory) + 1, PATH_SEPARATOR) == NULL;
}

// The places a record may name: below the installation's directory or its group, the desktop's
// link, and names in the Windows directory itself.
static int FileIsOurs(const char *path)
{
    return !HasDotComponent(path) &&
           (IsBelowDirectory(path, Work.Directory) || IsInDirectory(path, Work.WindowsDirectory));
}

static int LinkIsOurs(const char *path)
{
    return !HasDotComponent(path) && ((Work.Group[0] != '\0' && IsBelowDirectory(path, Work.Group)) ||
                                      (Work.Desktop[0] != '\0' && IsInDirectory(path, Work.Desktop)));
}

static int DirectoryIsOurs(const char *path)
{
    return !HasDotComponent(path) &&
           (SamePathPrefix(path, Work.Directory, VALUE_CAPACITY) || IsBelowDirectory(path, Work.Directory) ||
            (Work.Group[0] != '\0' && SamePathPrefix(path, Work.Group, RECORD_FIELD_CAPACITY)));
}

static int RegistryKeyIsOurs(HKEY root, const char *path)
{
    if (root == HKEY_LOCAL_MACHINE) {
        return SamePathPrefix(path, APP_PATH_KEY, (int)sizeof APP_PATH_KEY) ||
               (IsBelowDirectory(path, UNINSTALL_ENTRIES_KEY) &&
                strchr(path + sizeof UNINSTALL_ENTRIES_KEY, PATH_SEPARATOR) == NULL);
    }
    // The text file type's keys, and one key for each suffix.
    return root == HKEY_CLASSES_ROOT &&
           (SamePathPrefix(path, TEXT_FILE_KEY, (int)sizeof TEXT_FILE_KEY) || IsBelowDirectory(path, TEXT_FILE_KEY) ||
            (path[0] == '.' && path[1] != '\0' && strchr(path, PATH_SEPARATOR) == NULL));
}

// Calls `visit` for every line of `section` with its key decoded and its value as the record holds
// it (to the line's end); in reverse order when `backwards` (the deepest directory and key come
// last in the record, made after their parents). Returns 0, or -1 when a line is not well formed.
typedef int (*RecordVisitor)(const char *key, const char *value);
static int VisitSection(const char *section, RecordVisitor visit, int backwards)
{
    int start;
    if (FindScriptSection(NULL, NULL, NULL, section, FALSE, Work.Text, &start) != 0)
        return 0;
    int count = 0;
    ScriptLine line;
    for (int at = start, length; (length = ParseScriptLine(Work.Text + at, &line)) != 0; at += length)
        count++;
    for (int n = 0; n < count; n++) {
        int wanted = backwards ? count - 1 - n : n, at = start, length = 0;
        for (int i = 0; (length = ParseScriptLine(Work.Text + at, &line)) != 0 && i < wanted; i++)
            at += length;
        if (line.KeyLength == 0 && line.ValueStart == NULL)
            continue;
        char key[RECORD_FIELD_CAPACITY];
        if (line.ValueStart == NULL ||
            DecodeRecordText(Work.Text + at, line.KeyLength, key, RECORD_FIELD_CAPACITY) < 0 ||
            visit(key, line.ValueStart) != 0)
            return -1;
    }
    return 0;
}

// ---- Checking the record before anything is touched ---------------------------------------------

// The end of the value that starts at `value`: the line's end.
static const char *ValueEnd(const char *value)
{
    while (*value != '\0' && *value != '\r' && *value != '\n')
        value++;
    return value;
}

static int CheckSetting(const char *key, const char *raw)
{
    char value[RECORD_FIELD_CAPACITY];
    if (DecodeRecordText(raw, (int)(ValueEnd(raw) - raw), value, RECORD_FIELD_CAPACITY) < 0)
        return -1;
    if (strcmp(key, RECORD_DIRECTORY_KEY) == 0)
        CopyString(Work.Directory, VALUE_CAPACITY, value);
    else if (strcmp(key, RECORD_GROUP_KEY) == 0)
        CopyString(Work.Group, RECORD_FIELD_CAPACITY, value);
    else if (strcmp(key, RECORD_DESKTOP_KEY) == 0)
        CopyString(Work.Desktop, RECORD_FIELD_CAPACITY, value);
    return 0;
}

static int CheckFile(const char *path, const char *)
{
    return FileIsOurs(path) ? 0 : -1;
}

static int CheckLink(const char *path, const char *)
{
    return LinkIsOurs(path) ? 0 : -1;
}

// A registry key of the record, "HKLM\path" or "HKLM\path|name": its root, path and name.
static HKEY SplitRegistryKey(char *key, const char **path, const char **name)
{
    char *bar = strchr(key, RECORD_FIELD_SEPARATOR);
    *name = "";
    if (bar != NULL) {
        *bar = '\0';
        *name = bar + 1;
    }
    return RecordRoot(key, path);
}

static int CheckRegistryValue(const char *key, const char *)
{
    char copy[RECORD_FIELD_CAPACITY];
    CopyString(copy, RECORD_FIELD_CAPACITY, key);
    const char *path, *name;
    HKEY root = SplitRegistryKey(copy, &path, &name);
    return root != NULL && RegistryKeyIsOurs(root, path) ? 0 : -1;
}


// ---- Taking away and giving back ----------------------------------------------------------------

// What is at `path` now, without following it if it is a link: 0 with *found filled, or the error.
static DWORD LookAt(const char *path, WIN32_FIND_DATAA *found)
{
    HANDLE search = FindFirstFileA(path, found);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError();
    FindClose(search);
    return ERROR_SUCCESS;
}

// Where the directories to look at for `path` begin: at the installation's own directory or group
// themselves (a user may have put a junction in their place), or below the desktop or the Windows
// directory, which are the system's and may be links of its own.
static int FirstOwnComponent(const char *path)
{
    const struct {
        const char *Place;
        int Itself;
    } places[] = { { Work.Directory, TRUE }, { Work.Group, TRUE }, { Work.Desktop, FALSE },
                   { Work.WindowsDirectory, FALSE } };
    for (const auto &place : places) {
        int length = (int)strlen(place.Place);
        if (length > 0 && (IsBelowDirectory(path, place.Place) || SamePathPrefix(path, place.Place, length + 1)))
            return place.Itself ? length : length + 1;
    }
    return (int)strlen(path);
}

// Whether a directory of the installation's on the way to `path` is a reparse point (a junction a
// user made to send the removal elsewhere).
static int PassesReparsePoint(const char *path)
{
    char prefix[PATH_CAPACITY];
    int length = CopyString(prefix, PATH_CAPACITY, path);
    int first = FirstOwnComponent(path);
    for (int i = length - 1; i >= first; i--) {
        if (prefix[i] != PATH_SEPARATOR)
            continue;
        prefix[i] = '\0';
        DWORD attributes = GetFileAttributesA(prefix);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return 1;
    }
    return 0;
}

// `path` with `suffix`, beside it. Returns 0, or -1 when it does not fit.
static int FormBeside(char *beside, const char *path, const char *suffix)
{
    int length = CopyString(beside, PATH_CAPACITY, path);
    return AppendString(beside, PATH_CAPACITY, length, suffix) == length + (int)strlen(suffix) ? 0 : -1;
}

// A file that cannot be deleted now (a program holds it): moved aside and deleted at the next
// restart. Returns 0, or the error.
static DWORD DeleteAtRestart(const char *path)
{
    char aside[PATH_CAPACITY];
    if (FormBeside(aside, path, ASIDE_SUFFIX) != 0)
        return ERROR_FILENAME_EXCED_RANGE;
    DeleteFileA(aside);
    if (!MoveFileExA(path, aside, MOVEFILE_REPLACE_EXISTING))
        return GetLastError();
    if (!MoveFileExA(aside, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        DWORD error = GetLastError();
        // The file stays what it was: its name given back, so nothing half-removed remains.
        MoveFileExA(aside, path, 0);
        return error;
    }
    LogLine("File in use: %s, deleted at the next restart", path);
    return ERROR_SUCCESS;
}

// Deletes a file of the installation; one in use goes at the next restart. Returns 0 or the error.
static DWORD RemoveFile(const char *path)
{
    if (DeleteFileA(path)) {
        LogLine("File deleted: %s", path);
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
        return error;
    error = DeleteAtRestart(path);
    if (error == ERROR_SUCCESS)
        Work.RestartNeeded = 1;
    return error;
}

// What the installer and earlier upgrades left beside a file: temporary copies, old files aside.
static void RemoveLeftovers(const char *path)
{
    const char *suffixes[] = { TEMPORARY_SUFFIX, ASIDE_SUFFIX };
    for (const char *suffix : suffixes) {
        char leftover[PATH_CAPACITY];
        WIN32_FIND_DATAA found;
        if (FormBeside(leftover, path, suffix) == 0 && LookAt(leftover, &found) == ERROR_SUCCESS &&
            !(found.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
            !DeleteFileA(leftover) && MoveFileExA(leftover, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
            Work.RestartNeeded = 1;
    }
}

// Reads "new|size|time" of a record's file line.
static int ReadFileLine(const char *raw, int *existedBefore, DWORD *size, FILETIME *written)
{
    const char *end = ValueEnd(raw);
    char state[16], number[16], time[24];
    const char *cursor = raw;
    if (NextRecordField(&cursor, end, state, sizeof state) < 0 ||
        NextRecordField(&cursor, end, number, sizeof number) < 0 ||
        NextRecordField(&cursor, end, time, sizeof time) != 16)
        return -1;
    *existedBefore = strcmp(state, RECORD_OLD_FILE) == 0;
    DWORD value = 0;
    for (const char *digit = number; *digit != '\0'; digit++) {
        if (*digit < '0' || *digit > '9')
            return -1;
        value = value * 10 + (DWORD)(*digit - '0');
    }
    *size = value;
    DWORD parts[2] = { 0, 0 };
    for (int i = 0; i < 16; i++) {
        char c = time[i];
        int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (nibble < 0)
            return -1;
        parts[i / 8] = parts[i / 8] * 16 + (DWORD)nibble;
    }
    written->dwHighDateTime = parts[0];
    written->dwLowDateTime = parts[1];
    return 0;
}

static int RemoveRecordedFile(const char *path, const char *raw)
{
    int existedBefore;
    DWORD size;
    FILETIME written;
    if (ReadFileLine(raw, &existedBefore, &size, &written) != 0)
        return -1;
    RemoveLeftovers(path);
    WIN32_FIND_DATAA found;
    if (SamePathPrefix(path, Work.Self, PATH_CAPACITY) || LookAt(path, &found) != ERROR_SUCCESS)
        return 0;
    // A file of the Windows directory that was there before belongs to someone else.
    if (existedBefore && IsInDirectory(path, Work.WindowsDirectory)) {
        LogLine("Kept: %s (it was there before the installation)", path);
        return 0;
    }
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        PassesReparsePoint(path)) {
        Keep(path, "a link or junction put in its place");
        return 0;
    }
    if (found.nFileSizeLow != size || found.nFileSizeHigh != 0 ||
        found.ftLastWriteTime.dwLowDateTime != written.dwLowDateTime ||
        found.ftLastWriteTime.dwHighDateTime != written.dwHighDateTime) {
        Keep(path, "changed since the installation");
        return 0;
    }
    DWORD error = RemoveFile(path);
    if (error != ERROR_SUCCESS)
        Fail(path, "cannot be deleted", error);
    return 0;
}

static int RemoveRecordedLink(const char *path, const char *)
{
    WIN32_FIND_DATAA found;
    if (LookAt(path, &found) != ERROR_SUCCESS)
        return 0;
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        PassesReparsePoint(path)) {
        Keep(path, "a link or junction put in its place");
        return 0;
    }
    DWORD error = RemoveFile(path);
    if (error != ERROR_SUCCESS)
        Fail(path, "cannot be deleted", error);
    return 0;
}

// Whether the record names `path` as a file or directory of the installation.
static int IsInRecord(const char *path)
{
    char needle[RECORD_FIELD_CAPACITY];
    needle[0] = '\n';
    int length = EncodeRecordText(needle, RECORD_FIELD_CAPACITY, 1, path);
    return length > 0 && AppendString(needle, RECORD_FIELD_CAPACITY, length, "=") == length + 1 &&
           strstr(Work.Text, needle) != NULL;
}

// Whether `name` ends with `suffix`.
static int EndsWith(const char *name, const char *suffix)
{
    int length = (int)strlen(name), suffixLength = (int)strlen(suffix);
    return length > suffixLength && strcmp(name + length - suffixLength, suffix) == 0;
}

// What is left in a directory of the installation that cannot go: whatever the record does not
// name was added since, and is the user's; what the installer leaves beside a file is not. Returns
// how many such entries there are.
static int KeepAdded(const char *directory)
{
    int added = 0;
    char pattern[PATH_CAPACITY];
    if (FormBeside(pattern, directory, "\\*") != 0)
        return added;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return added;
    do {
        char path[PATH_CAPACITY];
        int length = CopyString(path, PATH_CAPACITY, directory);
        length = AppendString(path, PATH_CAPACITY, length, "\\");
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0 ||
            AppendString(path, PATH_CAPACITY, length, found.cFileName) != length + (int)strlen(found.cFileName))
            continue;
        if (IsInRecord(path) || EndsWith(path, ASIDE_SUFFIX) || EndsWith(path, TEMPORARY_SUFFIX))
            continue;
        Keep(path, "added since the installation");
        added++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return added;
}

// A directory the installation made goes when nothing else is in it; one that still holds files in
// use goes at the restart, after them.
static int RemoveRecordedDirectory(const char *path, const char *)
{
    // A directory the installation had to make on the way (a program-files folder) is the system's.
    if (!DirectoryIsOurs(path)) {
        LogLine("Directory left: %s (not the installation's own)", path);
        return 0;
    }
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || PassesReparsePoint(path)) {
        Keep(path, "a junction put in its place");
        return 0;
    }
    if (RemoveDirectoryA(path)) {
        LogLine("Directory removed: %s", path);
        return 0;
    }
    DWORD error = GetLastError();
    // Emptied by the restart when what is left in it is the files in use, moved aside.
    if (error == ERROR_DIR_NOT_EMPTY) {
        if (KeepAdded(path) == 0 && Work.RestartNeeded && MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
            LogLine("Directory removed at the next restart: %s", path);
    } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        Fail(path, "cannot be removed", error);
    return 0;
}

// Reads "-" or "type:bytes" into *present, *type and `data` of `capacity`; returns the byte count.
static int ReadValueField(const char **cursor, const char *end, int *present, DWORD *type, char *data, int capacity)
{
    const char *start = *cursor;
    const char *stop = start;
    while (stop < end && *stop != RECORD_FIELD_SEPARATOR)
        stop++;
    *cursor = stop < end ? stop + 1 : stop;
    *present = !(stop - start == 1 && start[0] == RECORD_ABSENT[0]);
    if (!*present)
        return 0;
    DWORD number = 0;
    const char *at = start;
    for (; at < stop && *at >= '0' && *at <= '9'; at++)
        number = number * 10 + (DWORD)(*at - '0');
    if (at == start || at >= stop || *at != ':')
        return -1;
    *type = number;
    return DecodeRecordText(at + 1, (int)(stop - at - 1), data, capacity);
}

// Whether two values are the same, letting a text's terminator be there or not (Wine keeps one even
// when the writer gave none).
static int SameValue(DWORD typeA, const char *a, int countA, DWORD typeB, const char *b, int countB)
{
    if (typeA != typeB)
        return 0;
    if (typeA == REG_SZ || typeA == REG_EXPAND_SZ) {
        if (countA > 0 && a[countA - 1] == '\0')
            countA--;
        if (countB > 0 && b[countB - 1] == '\0')
            countB--;
    }
    return countA == countB && memcmp(a, b, (size_t)countA) == 0;
}

static int RestoreRecordedValue(const char *key, const char *raw)
{
    char copy[RECORD_FIELD_CAPACITY];
    CopyString(copy, RECORD_FIELD_CAPACITY, key);
    const char *path, *name;
    HKEY root = SplitRegistryKey(copy, &path, &name);
    const char *end = ValueEnd(raw);
    char before[RECORD_FIELD_CAPACITY], written[RECORD_FIELD_CAPACITY];
    int hadBefore, wasWritten;
    DWORD beforeType = REG_NONE, writtenType = REG_NONE;
    const char *cursor = raw;
    int beforeCount = ReadValueField(&cursor, end, &hadBefore, &beforeType, before, RECORD_FIELD_CAPACITY);
    int writtenCount = ReadValueField(&cursor, end, &wasWritten, &writtenType, written, RECORD_FIELD_CAPACITY);
    if (beforeCount < 0 || writtenCount < 0 || !wasWritten)
        return -1;

    char now[RECORD_FIELD_CAPACITY];
    DWORD nowType = REG_NONE, nowSize = RECORD_FIELD_CAPACITY;
    LONG result = ReadRegistryData(root, path, name, &nowType, (BYTE *)now, &nowSize);
    if (result == ERROR_FILE_NOT_FOUND)
        return 0;
    if (result != ERROR_SUCCESS || !SameValue(nowType, now, (int)nowSize, writtenType, written, writtenCount)) {
        LogLine("Registry value left as it is: %s (changed since the installation)", key);
        return 0;
    }
    result = hadBefore ? AmendRegistryValue(root, path, name, beforeType, (const BYTE *)before, (DWORD)beforeCount)
                       : DeleteRegistryValue(root, path, name);
    if (result != ERROR_SUCCESS) {
        // Shown as the registry editor names it: the key, and the value's name in brackets.
        char item[RECORD_FIELD_CAPACITY];
        int length = CopyString(item, RECORD_FIELD_CAPACITY, copy);
        if (name[0] != '\0') {
            length = AppendString(item, RECORD_FIELD_CAPACITY, length, " [");
            length = AppendString(item, RECORD_FIELD_CAPACITY, length, name);
            AppendString(item, RECORD_FIELD_CAPACITY, length, "]");
        }
        Fail(item, hadBefore ? "cannot be given back" : "cannot be deleted", (DWORD)result);
    }
    return 0;
}

static int RemoveRecordedKey(const char *key, const char *)
{
    const char *path;
    HKEY root = RecordRoot(key, &path);
    // A key made on the way to ours (a program's App Paths) stays the system's.
    if (root == NULL || !RegistryKeyIsOurs(root, path)) {
        LogLine("Registry key left: %s (not the installation's own)", key);
        return 0;
    }
    LONG result = DeleteEmptyRegistryKey(root, path);
    if (result != ERROR_SUCCESS && result != ERROR_DIR_NOT_EMPTY && result != ERROR_FILE_NOT_FOUND)
        Fail(key, "cannot be deleted", (DWORD)result);
    return 0;
}

// The program's own file: it runs, so it goes aside and at the next restart, without holding up the
// exit code (nothing of the installation is left under its name).
static void RemoveSelf(void)
{
    if (!IsInDirectory(Work.Self, Work.WindowsDirectory) || DeleteFileA(Work.Self))
        return;
    DeleteAtRestart(Work.Self);
}

// ---- The run --------------------------------------------------------------------------------------

static DWORD LoadWork(void)
{
    UINT length = GetWindowsDirectoryA(Work.WindowsDirectory, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY)
        return ERROR_PATH_NOT_FOUND;
    DWORD self = GetModuleFileNameA(NULL, Work.Self, PATH_CAPACITY);
    if (self == 0 || self >= PATH_CAPACITY)
        Work.Self[0] = '\0';
    char *text;
    DWORD error = LoadInstallRecord(&Work.TextHandle, &text);
    if (error != ERROR_SUCCESS)
        return error;
    Work.Text = text;
    if (VisitSection(RECORD_SECTION, CheckSetting, FALSE) != 0)
        return ERROR_FILE_INVALID;
    return ERROR_SUCCESS;
}

static void FreeWork(void)
{
    if (Work.TextHandle != NULL) {
        GlobalUnlock(Work.TextHandle);
        GlobalFree(Work.TextHandle);
    }
    memset(&Work, 0, sizeof Work);
}

static int ShowReport(UINT id, const char *argument, UINT type)
{
    return ShowMessageFormatted(State.Instance, State.CaptionText, NULL, id, argument, type);
}

static int RemoveInstallation(void)
{
    DWORD error = LoadWork();
    char record[PATH_CAPACITY];
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && FormRecordPath(record, PATH_CAPACITY) == 0) {
        LogLine("Installation record not read (error %lu)", error);
        ShowReport(IDS_CANNOT_READ_S, record, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    if (error != ERROR_SUCCESS || Work.Directory[0] == '\0' ||
        !SamePathPrefix(Work.Directory, State.RequestedDirectory, VALUE_CAPACITY)) {
        LogLine("No installation record of %s (error %lu)", State.RequestedDirectory, error);
        ShowReport(IDS_UNINSTALL_NOTHING_S, State.RequestedDirectory, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    // Every place the record names is checked before the first is touched.
    if (VisitSection(RECORD_FILES, CheckFile, FALSE) != 0 || VisitSection(RECORD_LINKS, CheckLink, FALSE) != 0 ||
        VisitSection(RECORD_VALUES, CheckRegistryValue, FALSE) != 0) {
        LogLine("Installation record refused: it names places outside the installation");
        ShowReport(IDS_UNINSTALL_REFUSED, "", MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    if (ShowReport(IDS_UNINSTALL_QUESTION_S, Work.Directory, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return ERROR_INSTALL_USEREXIT;

    VisitSection(RECORD_LINKS, RemoveRecordedLink, FALSE);
    VisitSection(RECORD_FILES, RemoveRecordedFile, FALSE);
    VisitSection(RECORD_DIRECTORIES, RemoveRecordedDirectory, TRUE);
    // A directory that was there before the installation stays, and so does what the user put in it.
    if (!IsInRecord(Work.Directory) && GetFileAttributesA(Work.Directory) != INVALID_FILE_ATTRIBUTES)
        KeepAdded(Work.Directory);
    VisitSection(RECORD_VALUES, RestoreRecordedValue, FALSE);
    VisitSection(RECORD_KEYS, RemoveRecordedKey, TRUE);
    RemoveSelf();

    // A record of what could not be done stays for another try; otherwise it goes with the rest.
    if (Work.FailedCount == 0 && FormRecordPath(record, PATH_CAPACITY) == 0 && DeleteFileA(record))
        LogLine("Installation record deleted");
    if (Work.FailedCount != 0) {
        ShowReport(IDS_UNINSTALL_FAILED_S, Work.Failed, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    if (Work.RestartNeeded) {
        ShowReport(IDS_UNINSTALL_RESTART, "", MB_OK | MB_ICONINFORMATION);
        return ERROR_RESTART_COMPLETES;
    }
    if (Work.KeptCount != 0)
        ShowReport(IDS_UNINSTALL_KEPT_S, Work.Kept, MB_OK | MB_ICONINFORMATION);
    else
        ShowReport(IDS_UNINSTALL_DONE, "", MB_OK | MB_ICONINFORMATION);
    return ERROR_SUCCESS;
}

static int Uninstall(void)
{
    int exitCode = RemoveInstallation();
    FreeWork();
    return exitCode;
}

static void StopForFailedUninstallLog(void)
{
    if (!State.Silent)
        ShowMessageFormatted(State.Instance, State.CaptionText, NULL, IDS_CANNOT_WRITE_S, State.LogPath, MB_ICONERROR);
    ExitProcess(ERROR_INSTALL_FAILURE);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    memset(&State, 0, sizeof State);
    memset(&Work, 0, sizeof Work);
    State.Instance = instance;
    LoadStringA(instance, IDS_UNINSTALL_CAPTION, State.CaptionText, VALUE_CAPACITY);
    // The directory holds blanks and comes unquoted: the raw command line, not the C runtime's split.
    const char *commandLine = SkipProgramName(GetCommandLineA());
    return RunForCaller(ReadUninstallSwitches(commandLine), IDS_UNINSTALL_SWITCHES, State.CaptionText,
                        "Quillet uninstaller", commandLine, StopForFailedUninstallLog, Uninstall);
}
