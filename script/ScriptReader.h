// The install script reader: loads the script whole, finds its sections and splits its lines.
#pragma once

#include <windows.h>

// What ParseScriptLine reports for one line.
struct ScriptLine {
    int KeyLength;           // bytes of the key from the line's first byte; 0 when none
    const char *ValueStart;  // first byte of the value; null when the line has no '='
    int ValueLength;         // bytes of the value; 0 when it is empty
};

// Loads the file into a zero-filled movable block one byte longer than the file, locked for the
// rest of the run. Returns 0, or -1 after showing the failure (caption and owner as given).
int LoadScriptFile(HINSTANCE instance, const char *caption, HWND owner, const char *path,
                   HGLOBAL *handle, char **text);
// Sets *cursor to the first line after the first header "[name..."; returns 0, or -1 when no header
// matches (shown as a message when `report` is non-zero), the cursor then at the end of the text.
int FindScriptSection(HINSTANCE instance, const char *caption, HWND owner, const char *name,
                      int report, const char *text, int *cursor);
// Splits the line at `line`; returns its length with its line end, or 0 when the line starts a
// section or the text has ended (and then leaves *result as it was).
int ParseScriptLine(const char *line, ScriptLine *result);
// Compares `count` bytes as signed chars: -1, 0 (equal) or 1.
int KeyMatches(const char *text, const char *name, int count);
