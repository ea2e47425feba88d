// The modeless copy progress dialog and its progress bars.
#pragma once

#include <windows.h>

// Creates the visible copy dialog over `owner`; null when it cannot be made, and in a silent run,
// where nobody would see it and the copy must not wait for it.
HWND CreateCopyDialog(HWND owner);
INT_PTR CALLBACK CopyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Paints the bordered static `id` of `dialog` as a bar filled to `percent`.
void DrawProgressBar(HWND dialog, WORD id, WORD percent);
