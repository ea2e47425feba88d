// The copy engine: source paths beside the installer, destinations below TargetDirectory or in
// the Windows directory, and the byte counts that the copy dialog shows.
#include "core/CopyEngine.h"

#include <limits.h>
#include <string.h>

#include "core/InstallState.h"
#include "script/TextHelpers.h"

char *SplitEntryValue(char *value)
{
    char *semicolon = strrchr(value, ';');
    if (semicolon == NULL)
        return value;
    *semicolon = '\0';
    return semicolon + 1;
}

int FormSourcePath(const char *sourceName)
{
    int count = (int)strlen(sourceName);
    int length = AppendChars(State.SourcePath, PATH_CAPACITY, State.FileNameOffset, sourceName, count);
    // A cut path could name another file: it is never opened.
    return length == State.FileNameOffset + count ? 0 : -1;
}

void AddFileSize(int *total, int size)
{
    if (size <= 0)
        return;
    *total = (*total > INT_MAX - size) ? INT_MAX : *total + size;
}
