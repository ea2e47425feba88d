// Bounded text, path and file-size helpers. Every filling operation cuts silently at
// capacity - 1 bytes, writes the NUL and returns the resulting length, so paths are built by
// nesting calls.
#pragma once

#include <windows.h>

// The text buffers every module fills through these helpers; a capacity counts the NUL.
enum {
    NAME_CAPACITY = 32,    // names loaded at start-up
    VALUE_CAPACITY = 128,  // script values, folders, the target directory
    PATH_CAPACITY = 260,   // paths
};

// Copies `count` bytes of counted text (NULs included) into `destination`; returns the bytes copied.
int CopyChars(char *destination, int capacity, const char *source, int count);
// Appends `count` bytes at `length`; returns the new length.
int AppendChars(char *buffer, int capacity, int length, const char *source, int count);
// Copies NUL-terminated text; `source` may be `destination` itself, which measures and cuts it.
int CopyString(char *destination, int capacity, const char *source);
// Appends NUL-terminated text at `length`; returns the new length.
int AppendString(char *buffer, int capacity, int length, const char *source);
// Takes the text up to `separator` or the end into `destination` (capacity at least 1) and leaves
// `*cursor` on the next field's first byte, or on the closing NUL.
void NextField(const char **cursor, char *destination, int capacity, char separator);
// Whether the first `count` bytes of two paths are the same, letter case aside (as the file system
// takes them); both may end before, at the same place.
int SamePathPrefix(const char *a, const char *b, int count);
// Whether `path` lies below `directory` (a path that begins with it and a backslash).
int IsBelowDirectory(const char *path, const char *directory);
// Offsets of the drive prefix's end, of the file name and of its last dot (0 when it has none).
void SplitPath(const char *path, int *driveLength, int *fileNameOffset, int *dotOffset);
// Size of an open file; its position is kept. A failed seek gives -1.
int MeasureFileSize(HANDLE file);
