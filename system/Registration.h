// The editor's registry entries: application path, uninstall entry, and on consent the text file type.
#pragma once

#include <windows.h>

// The registration step; it goes on at once into the final report.
void RegisterApplication(HWND window);
// The file-types dialog over `owner`: IDYES with SuffixList holding the confirmed suffixes, or
// IDNO. A silent run shows nothing and confirms the suffixes offered.
INT_PTR RunRegistrationDialog(HWND owner);
INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
