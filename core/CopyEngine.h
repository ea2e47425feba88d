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

// Cuts `value` at its last ';' and returns the source name after it, or the whole value.
char *SplitEntryValue(char *value);
// Puts `sourceName` behind the installer's own directory in SourcePath. Returns 0, or -1 when
// the path would not fit (SourcePath then holds no usable path and must not be opened).
int FormSourcePath(const char *sourceName);
// Opens the source named `sourceName`, and names it in SourcePath for the messages and the log: the
// entry of that name in the payload the installer carries (OwnPayload), or else the file of that
// name beside the installer. Returns 0, or -1 with nothing open.
int OpenSource(const char *sourceName);
// The open source's size: the installed size the payload's directory gives, or the file's size;
// -1 when a file's size cannot be measured.
int MeasureSource(void);
// Gives back the source, if one is open.
void CloseSource(void);
// Adds a file size to a byte total, saturating at the largest int and ignoring negative sizes.
void AddFileSize(int *total, int size);
