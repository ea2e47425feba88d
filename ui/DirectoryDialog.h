// The directory dialog: proposes the target directory, shows the size, and normalises the choice.
#pragma once

#include <windows.h>

// Runs the dialog modally over `owner`: IDC_DIRECTORY_INSTALL with TargetDirectory holding the
// normalised choice, or IDC_DIRECTORY_CANCEL. A silent run shows nothing and takes the proposal.
INT_PTR RunDirectoryDialog(HWND owner);
INT_PTR CALLBACK DirectoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Moves `window` so that it is centred over `reference`, kept on the screen where it fits.
void CenterWindow(HWND reference, HWND window);
