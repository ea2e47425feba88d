// The one path to the user: every message box of the installer is shown through these two.
#pragma once

#include <windows.h>

// Shows string `id` under `caption`, owned by `owner`; returns the button pressed.
int ShowMessage(HINSTANCE instance, const char *caption, HWND owner, UINT id, UINT type);
// Shows string `id` used as a format for the one text `argument`; returns the button pressed.
int ShowMessageFormatted(HINSTANCE instance, const char *caption, HWND owner, UINT id,
                         const char *argument, UINT type);
