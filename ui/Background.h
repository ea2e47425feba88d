// The full-screen main window's backdrop: a bitmap file, or a payload's entry, tiled over the client area.
#pragma once

#include <windows.h>

// Reads a bitmap file into a device-dependent bitmap for `dc`; null after showing why not (or
// for an empty path, silently). Stores the file's width and height when asked.
HBITMAP LoadBitmapFile(HINSTANCE instance, const char *caption, HWND owner, const char *path, HDC dc,
                       LONG *width, LONG *height);
// The script's backdrop (BitmapName) for `dc`, read from the payload the installer carries, or else
// from the file of that name beside the installer; its path for the messages in BitmapPath. Null
// after showing why not (owned by `owner`), or, without a BitmapName, silently.
HBITMAP LoadBackgroundBitmap(HWND owner, HDC dc);
// The main window's messages that concern its backdrop.
LRESULT BackgroundCreate(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT BackgroundSize(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT BackgroundErase(HWND window, WPARAM wParam, LPARAM lParam);
LRESULT BackgroundPaint(HWND window, WPARAM wParam, LPARAM lParam);
// Deletes the backdrop's bitmap, if any; nothing paints with it afterwards.
void DeleteBackground(void);
