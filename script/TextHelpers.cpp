// Bounded text, path and file-size helpers shared by every part of the installer.
#include "script/TextHelpers.h"

int CopyChars(char *destination, int capacity, const char *source, int count)
{
    if (capacity < 1)
        return 0;
    int copied = 0;
    while (copied < count && copied < capacity - 1) {
        destination[copied] = source[copied];
        copied++;
    }
    destination[copied] = '\0';
    return copied;
}

int AppendChars(char *buffer, int capacity, int length, const char *source, int count)
{
    if (length >= capacity || length < 0)
        return length;
    int copied = 0;
    while (copied < count && length < capacity - 1) {
        buffer[length++] = source[copied++];
    }
    buffer[length] = '\0';
    return length;
}

int CopyString(char *destination, int capacity, const char *source)
{
    // Capacities below 2 leave the buffer alone: no caller passes one.
    if (capacity < 2)
        return 0;
    int copied = 0;
    while (copied < capacity - 1 && source[copied] != '\0') {
        destination[copied] = source[copied];
        copied++;
    }
    destination[copied] = '\0';
    return copied;
}

int AppendString(char *buffer, int capacity, int length, const char *source)
{
    if (capacity < 2)
        return 0;
    if (length >= capacity || length < 0)
        return length;
    while (length < capacity - 1 && *source != '\0')
        buffer[length++] = *source++;
    buffer[length] = '\0';
    return length;
}

void NextField(const char **cursor, char *destination, int capacity, char separator)
{
    const char *at = *cursor;
    int stored = 0;
    // The whole field is consumed, also what does not fit.
    while (*at != '\0' && *at != separator) {
        if (stored < capacity - 1)
            destination[stored++] = *at;
        at++;
    }
    if (*at == separator)
        at++;
    destination[stored] = '\0';
    *cursor = at;
}

void SplitPath(const char *path, int *driveLength, int *fileNameOffset, int *dotOffset)
{
    int drive = (path[0] != '\0' && path[1] == ':') ? 2 : 0;
    int fileName = drive;
    int dot = 0;
    for (int i = drive; path[i] != '\0'; i++) {
        if (path[i] == '\\') {
            fileName = i + 1;
            dot = 0;  // a dot in a directory name does not count
        } else if (path[i] == '.') {
            dot = i;
        }
    }
    *driveLength = drive;
    *fileNameOffset = fileName;
    *dotOffset = dot;
}

int MeasureFileSize(HANDLE file)
{
    HFILE handle = (HFILE)(INT_PTR)file;
    LONG position = _llseek(handle, 0, FILE_CURRENT);
    LONG size = _llseek(handle, 0, FILE_END);
    _llseek(handle, position, FILE_BEGIN);
    return size;
}

static char FoldCase(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

int SamePathPrefix(const char *a, const char *b, int count)
{
    for (int i = 0; i < count; i++) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return 0;
        if (a[i] == '\0')
            return 1;
    }
    return 1;
}

int IsBelowDirectory(const char *path, const char *directory)
{
    int length = 0;
    while (directory[length] != '\0')
        length++;
    // A directory given with its closing backslash ("C:\") has it already.
    int separated = length > 0 && directory[length - 1] == '\\';
    return length > 0 && SamePathPrefix(path, directory, length) &&
           (separated ? path[length] != '\0' : path[length] == '\\' && path[length + 1] != '\0');
}
