// What the modules of win32sim share among themselves; neither product code nor tests include it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "SimControl.h"

namespace sim::detail {

[[noreturn]] void Fail(const std::string &what);

// Case-insensitive "contains"; an empty filter matches everything.
bool FilterMatches(const std::string &filter, const std::string &text);
std::string Lower(const std::string &text);
// Windows-1252 text from UTF-8 (resources are kept in UTF-8), and back.
std::string Utf8ToAnsi(const std::string &utf8);
std::string AnsiToUtf8(const std::string &ansi);

LANGID Language();
int ScreenWidth();
int ScreenHeight();

// Each module clears its own part of the world; sim::Reset calls them all.
void ResetKernel();
void ResetResources();
void ResetUser();
void ResetWindows();
void ResetGdi();
void ResetRegistry();
void ResetCom();
void ResetProcess();

// ---- Process services (SimProcess.cpp) -----------------------------------------------------

// Closes a mutex handle; false when `handle` is none.
bool CloseMutexHandle(HANDLE handle);
// The calls of version.dll once it is loaded; null for any other module or name.
FARPROC VersionProcAddress(HMODULE module, LPCSTR name);

// ---- Resources (SimResources.cpp), parsed from the same .rc files windres compiles ----------

struct DialogItem {
    std::string text;   // ANSI
    int id = 0;
    std::string className;
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};
struct DialogTemplate {
    std::string name;
    LANGID language = 0;
    DWORD style = 0;
    std::string caption;  // ANSI
    int x = 0, y = 0, cx = 0, cy = 0;
    int pointSize = 0;
    std::string font;
    std::vector<DialogItem> items;
};
// Looked up by name without regard to case (or by integer id), in the current language.
const DialogTemplate *FindDialogTemplate(LPCSTR name);
bool FindString(UINT id, std::string *ansiText);
bool IconExists(const std::string &name);

// ---- Records and the scripted user (SimUser.cpp) -------------------------------------------

void AddTrace(const TraceEntry &entry);
void AddJournal(const JournalEntry &entry);
const User &CurrentUser();
// Asks the user for a message box's answer; fails loudly when no hook answers.
int AskMessageBox(MessageBoxRecord &record);

// ---- Window system facts that graphics need (SimWindows.cpp) --------------------------------

bool IsLiveWindow(HWND window);
// Size of the client area in pixels; false for an unknown window.
bool ClientSize(HWND window, int *width, int *height);
HBRUSH ClassBackgroundOf(HWND window);
// BeginPaint's part of the window system: clears the window's pending repaint and tells whether
// its background must be erased first.
void ValidateWindow(HWND window, bool *erase);
// Calls a window's procedure without recording it as the program's own SendMessageA.
LRESULT CallWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- Graphics facts that the window system needs (SimGdi.cpp) -------------------------------

// Fills a window's client pixels with a class background brush value (a brush or COLOR_x + 1).
void EraseWithClassBrush(HWND window, HBRUSH brush);
// A window was destroyed or resized: drop or resize its pixels.
void ForgetSurface(HWND window);
void ResizeSurface(HWND window, int width, int height);
COLORREF SystemColor(int index);

}  // namespace sim::detail
