// The installation sequencer: the main window's procedure, which runs the installation as a
// chain of private messages posted to itself.
#pragma once

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The final report and the end of the run; entered directly by the registration step.
void FinishInstallation(HWND window);
