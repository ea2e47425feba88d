// The program group in the Start menu and its shortcut files.
#pragma once

#include <windows.h>

// The step after copying: group folder and one shortcut per [Group] entry; then registration.
void MakeShortcuts(HWND window);
// Writes one shortcut file through the shell link object; returns its COM result.
HRESULT CreateShortcut(const char *target, const char *linkFile, const char *description, const char *iconFile,
                       int iconIndex);
