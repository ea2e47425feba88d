// Unquil.exe: takes away what the installation of Quillet made and gives back what it replaced,
// from the record the installer kept in the Windows directory. The uninstall entry starts it as
// "Unquil.exe /C:\Program Files\Quillet"; deployment tools add /S.
#include <windows.h>

#include <string.h>

#include "uninstall/Uninstaller.h"

#include "core/InstallLog.h"
#include "core/RunFrame.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"
#include "system/Leftovers.h"
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
static const char ANY_ENTRY[] = "\\*";

enum {
    ERROR_RESTART_COMPLETES = 3010,  // ERROR_SUCCESS_REBOOT_REQUIRED: removed, a restart completes it
};

UninstallState Uninstaller;

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

static void Keep(UninstallState *work, const char *item, const char *why)
{
    LogLine("Kept: %s (%s)", item, why);
    ListItem(work->Kept, &work->KeptCount, item);
}

static void Fail(UninstallState *work, const char *item, const char *why, DWORD error)
{
    LogLine("Not removed: %s (%s, error %lu)", item, why, error);
    ListItem(work->Failed, &work->FailedCount, item);
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

// Whether `path` is `place` itself, letter case aside.
static int IsSamePath(const char *path, const char *place)
{
    return SamePathPrefix(path, place, (int)strlen(place) + 1);
}

static int IsSameOrBelow(const char *path, const char *place)
{
    return IsSamePath(path, place) || IsBelowDirectory(path, place);
}

// A question about `Path` put to each place of one kind that the record names (the latest
// installation's and those of earlier ones elsewhere), and the length of the first that holds it.
struct PlaceQuestion {
    const char *Path;
    int Place;
    int (*Holds)(const char *path, const char *place);
    int Length;
};

static int AskPlace(const RecordItem *item, LPARAM context)
{
    PlaceQuestion *question = (PlaceQuestion *)context;
    if (item->Place != question->Place || item->Name[0] == '\0' || !question->Holds(question->Path, item->Name))
        return 0;
    question->Length = (int)strlen(item->Name);
    return 1;
}

// Whether a place of kind `place` that the record names holds `path` as `holds` tells; the length of
// the first that does in *length, when asked for.
static int InRecordedPlace(const UninstallState *work, int place, const char *path,
                           int (*holds)(const char *path, const char *place), int *length = NULL)
{
    PlaceQuestion question = { path, place, holds, 0 };
    if (WalkRecordSection(work->Record, RECORD_PLACES, FALSE, AskPlace, (LPARAM)&question) != 1)
        return 0;
    if (length != NULL)
        *length = question.Length;
    return 1;
}

// The places a record may name: below an installation's directory or its group, the desktop's
// link, and names in the Windows directory itself.
static int FileIsOurs(const UninstallState *work, const char *path)
{
    return !HasDotComponent(path) && (InRecordedPlace(work, RECORD_DIRECTORY, path, IsBelowDirectory) ||
                                      IsInDirectory(path, work->WindowsDirectory));
}

static int LinkIsOurs(const UninstallState *work, const char *path)
{
    return !HasDotComponent(path) && (InRecordedPlace(work, RECORD_GROUP, path, IsBelowDirectory) ||
                                      InRecordedPlace(work, RECORD_DESKTOP, path, IsInDirectory));
}

static int DirectoryIsOurs(const UninstallState *work, const char *path)
{
    return !HasDotComponent(path) && (InRecordedPlace(work, RECORD_DIRECTORY, path, IsSameOrBelow) ||
                                      InRecordedPlace(work, RECORD_GROUP, path, IsSamePath));
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

// Walks `section` of the record with the run's state as the visitors' context.
static int VisitRecord(UninstallState *work, int section, int backwards, RecordVisitor visit)
{
    return WalkRecordSection(work->Record, section, backwards, visit, (LPARAM)work);
}

// ---- Checking the record before anything is touched ---------------------------------------------

static int CheckFile(const RecordItem *item, LPARAM context)
{
    return FileIsOurs((const UninstallState *)context, item->Name) ? 0 : -1;
}

static int CheckLink(const RecordItem *item, LPARAM context)
{
    return LinkIsOurs((const UninstallState *)context, item->Name) ? 0 : -1;
}

static int CheckRegistryValue(const RecordItem *item, LPARAM)
{
    return item->Root != NULL && RegistryKeyIsOurs(item->Root, item->KeyPath) ? 0 : -1;
}

// A directory or key made on the way to the installation's own is left where it is, not refused:
// this walk only reads every line, so that one not well formed stops the removal before it starts.
static int AcceptItem(const RecordItem *, LPARAM)
{
    return 0;
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

// Where the directories to look at for `path` begin: at an installation's own directory or group
// themselves (a user may have put a junction in their place), or below the desktop or the Windows
// directory, which are the system's and may be links of its own.
static int FirstOwnComponent(const UninstallState *work, const char *path)
{
    const struct {
        int Place;
        int Itself;
    } places[] = { { RECORD_DIRECTORY, TRUE }, { RECORD_GROUP, TRUE }, { RECORD_DESKTOP, FALSE } };
    int length;
    for (const auto &place : places) {
        if (InRecordedPlace(work, place.Place, path, IsSameOrBelow, &length))
            return place.Itself ? length : length + 1;
    }
    if (IsSameOrBelow(path, work->WindowsDirectory))
        return (int)strlen(work->WindowsDirectory) + 1;
    return (int)strlen(path);
}

// Whether a directory of the installation's on the way to `path` is a reparse point (a junction a
// user made to send the removal elsewhere).
static int PassesReparsePoint(const UninstallState *work, const char *path)
{
    char prefix[PATH_CAPACITY];
    int length = CopyString(prefix, PATH_CAPACITY, path);
    int first = FirstOwnComponent(work, path);
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

// A file that cannot be deleted now (a program holds it): moved aside, under a name no other file
// has, and deleted at the next restart. Returns 0, or the error.
static DWORD DeleteAtRestart(const char *path)
{
    char aside[PATH_CAPACITY];
    if (FormFreeLeftoverPath(aside, path, DELETED_SUFFIX) != 0)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!MoveFileExA(path, aside, 0))
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

// What is at `path` now, opened as itself for its removal (a link or junction in its place is opened,
// not followed), so that what is checked and what is deleted are one and the same: nothing swapped in
// between is ever touched. Returns 0 with *handle and *information, or the error
// (ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND when nothing is there).
static DWORD OpenItem(const char *path, HANDLE *handle, BY_HANDLE_FILE_INFORMATION *information)
{
    *handle = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (*handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    if (GetFileInformationByHandle(*handle, information))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
    return error;
}

// A file that a program holds without leave to open it for deletion is looked at by its name.
static DWORD LookAtHeld(const char *path, BY_HANDLE_FILE_INFORMATION *information)
{
    WIN32_FIND_DATAA found;
    DWORD error = LookAt(path, &found);
    memset(information, 0, sizeof *information);
    if (error == ERROR_SUCCESS) {
        information->dwFileAttributes = found.dwFileAttributes;
        information->ftLastWriteTime = found.ftLastWriteTime;
        information->nFileSizeHigh = found.nFileSizeHigh;
        information->nFileSizeLow = found.nFileSizeLow;
    }
    return error;
}

// Whether a link, a junction or a directory stands where a file was, or on its way.
static int IsRedirected(const UninstallState *work, const char *path, const BY_HANDLE_FILE_INFORMATION *information)
{
    return (information->dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
           PassesReparsePoint(work, path);
}

// Whether a file's size or write time is no longer what the installation left.
static int IsChanged(const BY_HANDLE_FILE_INFORMATION *information, const RecordItem *item)
{
    return information->nFileSizeLow != item->Size || information->nFileSizeHigh != 0 ||
           information->ftLastWriteTime.dwLowDateTime != item->LastWrite.dwLowDateTime ||
           information->ftLastWriteTime.dwHighDateTime != item->LastWrite.dwHighDateTime;
}

// Deletes the item `handle` holds; the system does so when the handle closes.
static BOOL DeleteItem(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = { TRUE };
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// Deletes a file of the installation through *handle, or by its name when a program holds it so that
// it could not be opened; one in use goes aside and at the next restart (its handle closed first).
// Returns 0 or the error.
static DWORD RemoveFile(UninstallState *work, const char *path, HANDLE *handle)
{
    if (*handle != INVALID_HANDLE_VALUE ? DeleteItem(*handle) : DeleteFileA(path)) {
        LogLine("File deleted: %s", path);
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
        return error;
    if (*handle != INVALID_HANDLE_VALUE)
        CloseHandle(*handle);
    *handle = INVALID_HANDLE_VALUE;
    error = DeleteAtRestart(path);
    if (error == ERROR_SUCCESS)
        work->RestartNeeded = 1;
    return error;
}

// A file or link of the installation, looked at and deleted through one handle. `item` is a file's
// line in the record, whose size and write time tell whether someone changed it since; null for a
// link.
static void RemoveItem(UninstallState *work, const char *path, const RecordItem *item)
{
    HANDLE handle;
    BY_HANDLE_FILE_INFORMATION information;
    DWORD error = OpenItem(path, &handle, &information);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED)
        error = LookAtHeld(path, &information);
    if (error != ERROR_SUCCESS)
        return;
    if (item != NULL && item->ExistedBefore && IsInDirectory(path, work->WindowsDirectory)) {
        // A file of the Windows directory that was there before belongs to someone else.
        LogLine("Kept: %s (it was there before the installation)", path);
    } else if (IsRedirected(work, path, &information)) {
        Keep(work, path, "a link or junction put in its place");
    } else if (item != NULL && IsChanged(&information, item)) {
        Keep(work, path, "changed since the installation");
    } else if ((error = RemoveFile(work, path, &handle)) != ERROR_SUCCESS) {
        Fail(work, path, "cannot be deleted", error);
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

static int RemoveRecordedFile(const RecordItem *item, LPARAM context)
{
    UninstallState *work = (UninstallState *)context;
    // What the installer and earlier upgrades or removals left beside it goes with it.
    if (RemoveLeftovers(item->Name))
        work->RestartNeeded = 1;
    if (!SamePathPrefix(item->Name, work->Self, PATH_CAPACITY))
        RemoveItem(work, item->Name, item);
    return 0;
}

static int RemoveRecordedLink(const RecordItem *item, LPARAM context)
{
    RemoveItem((UninstallState *)context, item->Name, NULL);
    return 0;
}

// What is left in a directory of the installation that cannot go: whatever the record does not
// name was added since, and is the user's; what the installer leaves beside a file is not. Returns
// how many such entries there are.
static int KeepAdded(UninstallState *work, const char *directory)
{
    int added = 0;
    char pattern[PATH_CAPACITY];
    int length = CopyString(pattern, PATH_CAPACITY, directory);
    if (AppendString(pattern, PATH_CAPACITY, length, ANY_ENTRY) != length + (int)sizeof ANY_ENTRY - 1)
        return added;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return added;
    do {
        char path[PATH_CAPACITY];
        int named = CopyChars(path, PATH_CAPACITY, pattern, length + 1);
        if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0 ||
            AppendString(path, PATH_CAPACITY, named, found.cFileName) != named + (int)strlen(found.cFileName))
            continue;
        if (RecordNamesPath(work->Record, path) || LeftoverSuffix(found.cFileName) != NULL)
            continue;
        Keep(work, path, "added since the installation");
        added++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return added;
}

// A directory that was there before an installation stays, and so does what the user put in it.
static int KeepAddedToDirectory(const RecordItem *item, LPARAM context)
{
    UninstallState *work = (UninstallState *)context;
    if (item->Place == RECORD_DIRECTORY && !RecordNamesPath(work->Record, item->Name) &&
        GetFileAttributesA(item->Name) != INVALID_FILE_ATTRIBUTES)
        KeepAdded(work, item->Name);
    return 0;
}

// A directory the installation made goes when nothing else is in it; one that still holds files in
// use goes at the restart, after them.
static int RemoveRecordedDirectory(const RecordItem *item, LPARAM context)
{
    UninstallState *work = (UninstallState *)context;
    const char *path = item->Name;
    // A directory the installation had to make on the way (a program-files folder) is the system's.
    if (!DirectoryIsOurs(work, path)) {
        LogLine("Directory left: %s (not the installation's own)", path);
        return 0;
    }
    HANDLE handle;
    BY_HANDLE_FILE_INFORMATION information;
    DWORD error = OpenItem(path, &handle, &information);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return 0;
    int junction = error == ERROR_SUCCESS && ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                                              PassesReparsePoint(work, path));
    if (error == ERROR_SUCCESS && !junction) {
        error = !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_DIRECTORY
                : DeleteItem(handle)                                      ? ERROR_SUCCESS
                                                                          : GetLastError();
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
    if (junction) {
        Keep(work, path, "a junction put in its place");
    } else if (error == ERROR_SUCCESS) {
        LogLine("Directory removed: %s", path);
    } else if (error == ERROR_DIR_NOT_EMPTY) {
        // Emptied by the restart when what is left in it is the files in use, moved aside.
        if (KeepAdded(work, path) == 0 && work->RestartNeeded && MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
            LogLine("Directory removed at the next restart: %s", path);
    } else {
        Fail(work, path, "cannot be removed", error);
    }
    return 0;
}

// Whether two values are the same, letting a text's terminator be there or not (Wine keeps one even
// when the writer gave none).
static int SameValue(DWORD typeA, const BYTE *a, int countA, const RecordedData *b)
{
    int countB = b->Count;
    if (typeA != b->Type)
        return 0;
    if (typeA == REG_SZ || typeA == REG_EXPAND_SZ) {
        if (countA > 0 && a[countA - 1] == '\0')
            countA--;
        if (countB > 0 && b->Bytes[countB - 1] == '\0')
            countB--;
    }
    return countA == countB && memcmp(a, b->Bytes, (size_t)countA) == 0;
}

static int RestoreRecordedValue(const RecordItem *item, LPARAM context)
{
    UninstallState *work = (UninstallState *)context;
    BYTE now[RECORD_FIELD_CAPACITY];
    DWORD nowType = REG_NONE, nowSize = RECORD_FIELD_CAPACITY;
    LONG result = ReadRegistryData(item->Root, item->KeyPath, item->ValueName, &nowType, now, &nowSize);
    if (result == ERROR_FILE_NOT_FOUND)
        return 0;
    if (result != ERROR_SUCCESS || !SameValue(nowType, now, (int)nowSize, &item->Written)) {
        LogLine("Registry value left as it is: %s|%s (changed since the installation)", item->Name, item->ValueName);
        return 0;
    }
    const RecordedData *before = &item->Before;
    result = before->Present
                 ? AmendRegistryValue(item->Root, item->KeyPath, item->ValueName, before->Type, before->Bytes,
                                      (DWORD)before->Count)
                 : DeleteRegistryValue(item->Root, item->KeyPath, item->ValueName);
    if (result != ERROR_SUCCESS) {
        // Shown as the registry editor names it: the key, and the value's name in brackets.
        char shown[RECORD_FIELD_CAPACITY];
        int length = CopyString(shown, RECORD_FIELD_CAPACITY, item->Name);
        if (item->ValueName[0] != '\0') {
            length = AppendString(shown, RECORD_FIELD_CAPACITY, length, " [");
            length = AppendString(shown, RECORD_FIELD_CAPACITY, length, item->ValueName);
            AppendString(shown, RECORD_FIELD_CAPACITY, length, "]");
        }
        Fail(work, shown, before->Present ? "cannot be given back" : "cannot be deleted", (DWORD)result);
    }
    return 0;
}

static int RemoveRecordedKey(const RecordItem *item, LPARAM context)
{
    UninstallState *work = (UninstallState *)context;
    // A key made on the way to ours (a program's App Paths) stays the system's.
    if (item->Root == NULL || !RegistryKeyIsOurs(item->Root, item->KeyPath)) {
        LogLine("Registry key left: %s (not the installation's own)", item->Name);
        return 0;
    }
    LONG result = DeleteEmptyRegistryKey(item->Root, item->KeyPath);
    if (result != ERROR_SUCCESS && result != ERROR_DIR_NOT_EMPTY && result != ERROR_FILE_NOT_FOUND)
        Fail(work, item->Name, "cannot be deleted", (DWORD)result);
    return 0;
}

// The program's own file: it runs, so it goes aside and at the next restart, without holding up the
// exit code (nothing of the installation is left under its name).
static void RemoveSelf(const UninstallState *work)
{
    if (!IsInDirectory(work->Self, work->WindowsDirectory) || DeleteFileA(work->Self))
        return;
    DeleteAtRestart(work->Self);
}

// ---- The run --------------------------------------------------------------------------------------

static DWORD LoadRecord(UninstallState *work)
{
    UINT length = GetWindowsDirectoryA(work->WindowsDirectory, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY)
        return ERROR_PATH_NOT_FOUND;
    DWORD self = GetModuleFileNameA(NULL, work->Self, PATH_CAPACITY);
    if (self == 0 || self >= PATH_CAPACITY)
        work->Self[0] = '\0';
    char *text;
    DWORD error = LoadInstallRecord(&work->RecordHandle, &text);
    if (error != ERROR_SUCCESS)
        return error;
    work->Record = text;
    return ReadRecordPlaces(text, &work->Places) == 0 ? ERROR_SUCCESS : ERROR_FILE_INVALID;
}

static void FreeRecord(UninstallState *work)
{
    if (work->RecordHandle != NULL) {
        GlobalUnlock(work->RecordHandle);
        GlobalFree(work->RecordHandle);
    }
    work->RecordHandle = NULL;
    work->Record = NULL;
}

static int ShowReport(const UninstallState *work, UINT id, const char *argument, UINT type)
{
    return ShowMessageFormatted(work->Instance, work->Caption, NULL, id, argument, type);
}

static int RemoveInstallation(UninstallState *work)
{
    DWORD error = LoadRecord(work);
    char record[PATH_CAPACITY];
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND && FormRecordPath(record, PATH_CAPACITY) == 0) {
        LogLine("Installation record not read (error %lu)", error);
        ShowReport(work, IDS_CANNOT_READ_S, record, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    // The uninstall entry names the latest installation's directory, or an earlier one's when the
    // latest run into another directory ended before it wrote the entry: either has the record.
    const char *directory = work->Places.Directory;
    if (error != ERROR_SUCCESS || directory[0] == '\0' ||
        !InRecordedPlace(work, RECORD_DIRECTORY, work->RequestedDirectory, IsSamePath)) {
        LogLine("No installation record of %s (error %lu)", work->RequestedDirectory, error);
        ShowReport(work, IDS_UNINSTALL_NOTHING_S, work->RequestedDirectory, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    // Every line of the record is read, and every place it names checked, before the first is touched.
    if (VisitRecord(work, RECORD_FILES, FALSE, CheckFile) != 0 ||
        VisitRecord(work, RECORD_LINKS, FALSE, CheckLink) != 0 ||
        VisitRecord(work, RECORD_VALUES, FALSE, CheckRegistryValue) != 0 ||
        VisitRecord(work, RECORD_DIRECTORIES, FALSE, AcceptItem) != 0 ||
        VisitRecord(work, RECORD_KEYS, FALSE, AcceptItem) != 0) {
        LogLine("Installation record refused: it names places outside the installation");
        ShowReport(work, IDS_UNINSTALL_REFUSED, "", MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    if (ShowReport(work, IDS_UNINSTALL_QUESTION_S, directory, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return ERROR_INSTALL_USEREXIT;

    VisitRecord(work, RECORD_LINKS, FALSE, RemoveRecordedLink);
    VisitRecord(work, RECORD_FILES, FALSE, RemoveRecordedFile);
    VisitRecord(work, RECORD_DIRECTORIES, TRUE, RemoveRecordedDirectory);
    VisitRecord(work, RECORD_PLACES, FALSE, KeepAddedToDirectory);
    VisitRecord(work, RECORD_VALUES, FALSE, RestoreRecordedValue);
    VisitRecord(work, RECORD_KEYS, TRUE, RemoveRecordedKey);
    RemoveSelf(work);

    // A record of what could not be done stays for another try; otherwise it goes with the rest.
    if (work->FailedCount == 0 && FormRecordPath(record, PATH_CAPACITY) == 0 && DeleteFileA(record))
        LogLine("Installation record deleted");
    if (work->FailedCount != 0) {
        ShowReport(work, IDS_UNINSTALL_FAILED_S, work->Failed, MB_OK | MB_ICONERROR);
        return ERROR_INSTALL_FAILURE;
    }
    if (work->RestartNeeded) {
        ShowReport(work, IDS_UNINSTALL_RESTART, "", MB_OK | MB_ICONINFORMATION);
        return ERROR_RESTART_COMPLETES;
    }
    if (work->KeptCount != 0)
        ShowReport(work, IDS_UNINSTALL_KEPT_S, work->Kept, MB_OK | MB_ICONINFORMATION);
    else
        ShowReport(work, IDS_UNINSTALL_DONE, "", MB_OK | MB_ICONINFORMATION);
    return ERROR_SUCCESS;
}

static int Uninstall(void)
{
    LogLine("Mode: %s", Run.Silent ? "silent" : "interactive");
    int exitCode = RemoveInstallation(&Uninstaller);
    FreeRecord(&Uninstaller);
    return exitCode;
}

static void StopForFailedUninstallLog(void)
{
    if (!Run.Silent)
        ShowMessageFormatted(Uninstaller.Instance, Uninstaller.Caption, NULL, IDS_CANNOT_WRITE_S, Run.LogPath,
                             MB_ICONERROR);
    ExitProcess(ERROR_INSTALL_FAILURE);
}

int ReadUninstallSwitches(const char *commandLine)
{
    const SwitchEntry switches[] = {
        { "S", SWITCH_FLAG, &Run.Silent, NULL, 0 },
        { "LOG", SWITCH_VALUE, NULL, Run.LogPath, PATH_CAPACITY },
        { NULL, SWITCH_DIRECTORY, NULL, Uninstaller.RequestedDirectory, VALUE_CAPACITY },
    };
    int result = ReadSwitchTable(commandLine, switches, (int)(sizeof switches / sizeof switches[0]));
    // The one question is whether to remove: a silent run was asked to.
    Run.SilentQuestionAnswer = IDYES;
    return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    memset(&Run, 0, sizeof Run);
    memset(&Uninstaller, 0, sizeof Uninstaller);
    Uninstaller.Instance = instance;
    LoadStringA(instance, IDS_UNINSTALL_CAPTION, Uninstaller.Caption, VALUE_CAPACITY);
    // The directory holds blanks and comes unquoted: the raw command line, not the C runtime's split.
    const char *commandLine = SkipProgramName(GetCommandLineA());
    return RunForCaller(instance, ReadUninstallSwitches(commandLine), IDS_UNINSTALL_SWITCHES, Uninstaller.Caption,
                        "Quillet uninstaller", commandLine, StopForFailedUninstallLog, Uninstall);
}
