// The modeless copy progress dialog and its progress bars.
#pragma once

#include <windows.h>

enum { PERCENT_FULL = 100 };

// Creates the visible copy dialog over `owner`; null when it cannot be made, and in a silent run,
// where nobody would see it and the copy must not wait for it.
HWND CreateCopyDialog(HWND owner);
INT_PTR CALLBACK CopyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Paints the bordered static `id` of `dialog` as a bar filled to `percent`; the bar keeps that
// drawing when the control is painted anew.
void DrawProgressBar(HWND dialog, WORD id, WORD percent);
// `part` of `whole` as the dialog shows it: in percent, truncated, within 0 to PERCENT_FULL.
LONG ProgressPercentage(int part, int whole);
