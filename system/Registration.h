// The editor's registry entries: application path, uninstall entry, and on consent the text file type.
#pragma once

#include <windows.h>

// The registration step; it goes on at once into the final report.
void RegisterApplication(HWND window);
INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
