// The copy engine: the [Files] entries copied chunk by chunk, one posted step at a time.
#pragma once

#include <windows.h>

// The step of WM_COPY_NEXT_FILE: takes the next [Files] line and opens its source and destination.
void CopyNextFile(HWND window);
// The step of WM_COPY_CHUNK: copies chunks of at most COPY_CHUNK_SIZE bytes, one after the other,
// until the file ends or about ten milliseconds have passed, and posts the next step.
void CopyChunk(HWND window);
// Gives up the entry being copied, if any: its files closed and its temporary file deleted, so that
// its destination stays as it was. For every way a copy ends unfinished, the program's end included.
void DiscardEntryCopy(void);

// A file is copied into its destination's name with this suffix, beside it, so that a person who
// finds one left by a run that was ended by force knows what it is, and the next run removes it.
extern const char TEMPORARY_SUFFIX[];
// A file in use (the editor, running while it is upgraded) is renamed with this suffix, beside its
// new copy, and deleted once its program has ended: at the next restart, or by the next run.
extern const char ASIDE_SUFFIX[];

// Cuts `value` at its last ';' and returns the source name after it, or the whole value.
char *SplitEntryValue(char *value);
// Puts `sourceName` behind the installer's own directory in SourcePath. Returns 0, or -1 when
// the path would not fit (SourcePath then holds no usable path and must not be opened).
int FormSourcePath(const char *sourceName);
// Adds a file size to a byte total, saturating at the largest int and ignoring negative sizes.
void AddFileSize(int *total, int size);
