// The directories along a destination path, created from the outermost to the innermost.
#pragma once

#include <windows.h>

// Creates every directory of `path` (a writable buffer holding "X:\...\file") after its first
// three characters, the file name excepted. A failure other than "exists" or "access denied" is
// shown as message "Cannot create" naming the prefix, and ends the walk. `path` is unchanged
// on return.
void CreateDirectoryChain(HINSTANCE instance, const char *caption, HWND owner, char *path);
