// The names of the files left beside a file for a while, and how each kind is settled.
#include "system/Leftovers.h"

#include <string.h>

#include "core/InstallLog.h"
#include "script/TextHelpers.h"

const char TEMPORARY_SUFFIX[] = ".~qs";
const char ASIDE_SUFFIX[] = ".~old";
const char DELETED_SUFFIX[] = ".~del";

static const char PATH_SEPARATOR = '\\';
static const char ANY_ENDING[] = "*";
static const char *const SUFFIXES[] = { TEMPORARY_SUFFIX, ASIDE_SUFFIX, DELETED_SUFFIX };

enum {
    // A leftover's number: none for the first, then 2 to 99.
    NUMBER_DIGITS = 2,
    FIRST_NUMBER = 1,
    LAST_NUMBER = 99,
    NUMBER_CAPACITY = NUMBER_DIGITS + 1,
    NOT_A_LEFTOVER = 0,
};

int FormLeftoverPath(char *leftover, const char *path, const char *suffix)
{
    const char *separator = strrchr(path, PATH_SEPARATOR);
    int nameOffset = separator == NULL ? 0 : (int)(separator - path) + 1;
    int room = PATH_CAPACITY - 1 - (int)strlen(suffix) - NUMBER_DIGITS;
    int length = (int)strlen(path);
    int kept = length < room ? length : room;
    if (kept <= nameOffset) {
        leftover[0] = '\0';
        return -1;
    }
    int formed = CopyChars(leftover, PATH_CAPACITY, path, kept);
    AppendString(leftover, PATH_CAPACITY, formed, suffix);
    return 0;
}

// The number of a leftover whose name ends with `ending` after its suffix: 1 for nothing, 2 to 99
// for those digits, NOT_A_LEFTOVER for anything else.
static int LeftoverNumber(const char *ending)
{
    if (ending[0] == '\0')
        return FIRST_NUMBER;
    int number = 0;
    for (int i = 0; ending[i] != '\0'; i++) {
        if (i == NUMBER_DIGITS || ending[i] < '0' || ending[i] > '9' || (i == 0 && ending[i] == '0'))
            return NOT_A_LEFTOVER;
        number = number * 10 + (ending[i] - '0');
    }
    return number > FIRST_NUMBER ? number : NOT_A_LEFTOVER;
}

const char *LeftoverSuffix(const char *name)
{
    for (const char *suffix : SUFFIXES) {
        // The last occurrence of the suffix, followed by nothing or a number.
        const char *at = NULL;
        for (const char *found = strstr(name, suffix); found != NULL; found = strstr(found + 1, suffix))
            at = found;
        if (at != NULL && at > name && LeftoverNumber(at + strlen(suffix)) != NOT_A_LEFTOVER)
            return suffix;
    }
    return NULL;
}

// Called with a leftover's path and number, and the context VisitLeftovers was given.
typedef void (*LeftoverVisitor)(const char *leftover, int number, LPARAM context);

// Calls `visit` (unless null) for every leftover of `path` with `suffix` that is a plain file.
// Returns the highest number seen, 0 for none.
static int VisitLeftovers(const char *path, const char *suffix, LeftoverVisitor visit, LPARAM context)
{
    char pattern[PATH_CAPACITY];
    if (FormLeftoverPath(pattern, path, suffix) != 0)
        return 0;
    int length = (int)strlen(pattern);
    const char *separator = strrchr(pattern, PATH_SEPARATOR);
    int directory = separator != NULL ? (int)(separator - pattern) + 1 : 0;
    if (AppendString(pattern, PATH_CAPACITY, length, ANY_ENDING) != length + (int)sizeof ANY_ENDING - 1)
        return 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int highest = 0;
    do {
        // The search also matches longer names, and on some file systems short ones: the name must be
        // the leftover's own, and a plain file (a link or directory put there is nobody's leftover).
        int nameLength = length - directory;
        if (strncmp(found.cFileName, pattern + directory, (size_t)nameLength) != 0 ||
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        int number = LeftoverNumber(found.cFileName + nameLength);
        if (number == NOT_A_LEFTOVER)
            continue;
        if (number > highest)
            highest = number;
        if (visit != NULL) {
            char leftover[PATH_CAPACITY];
            int formed = CopyChars(leftover, PATH_CAPACITY, pattern, directory);
            if (AppendString(leftover, PATH_CAPACITY, formed, found.cFileName) == formed + (int)strlen(found.cFileName))
                visit(leftover, number, context);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return highest;
}

// `leftover` = the leftover of `path` with `suffix` and `number`. Returns 0 or -1.
static int FormNumberedPath(char *leftover, const char *path, const char *suffix, int number)
{
    if (FormLeftoverPath(leftover, path, suffix) != 0)
        return -1;
    if (number > FIRST_NUMBER) {
        char digits[NUMBER_CAPACITY];
        wsprintfA(digits, "%d", number);
        AppendString(leftover, PATH_CAPACITY, (int)strlen(leftover), digits);
    }
    return 0;
}

int FormFreeLeftoverPath(char *leftover, const char *path, const char *suffix)
{
    int highest = VisitLeftovers(path, suffix, NULL, 0);
    int number = highest == 0 ? FIRST_NUMBER : highest + 1;
    if (number > LAST_NUMBER) {
        leftover[0] = '\0';
        return -1;
    }
    return FormNumberedPath(leftover, path, suffix, number);
}

static void DeleteLeftover(const char *leftover, int, LPARAM)
{
    DeleteFileA(leftover);
}

// `context` points to the flag set when a leftover waits for the restart.
static void DeleteLeftoverNowOrAtRestart(const char *leftover, int, LPARAM context)
{
    if (!DeleteFileA(leftover) && MoveFileExA(leftover, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        *(int *)context = 1;
}

void SettleLeftovers(const char *path)
{
    VisitLeftovers(path, TEMPORARY_SUFFIX, DeleteLeftover, 0);
    VisitLeftovers(path, DELETED_SUFFIX, DeleteLeftover, 0);
    int newest = VisitLeftovers(path, ASIDE_SUFFIX, NULL, 0);
    char aside[PATH_CAPACITY];
    // Without MOVEFILE_REPLACE_EXISTING the move itself tells whether the name is free.
    if (newest != 0 && FormNumberedPath(aside, path, ASIDE_SUFFIX, newest) == 0 && MoveFileExA(aside, path, 0))
        LogLine("File put back: %s (moved aside by a run that did not end)", path);
    VisitLeftovers(path, ASIDE_SUFFIX, DeleteLeftover, 0);
}

int RemoveLeftovers(const char *path)
{
    int waitsForRestart = 0;
    for (const char *suffix : SUFFIXES)
        VisitLeftovers(path, suffix, DeleteLeftoverNowOrAtRestart, (LPARAM)&waitsForRestart);
    return waitsForRestart;
}
