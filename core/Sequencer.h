// The installation sequencer: the main window's procedure, which runs the installation as a
// chain of private messages posted to itself.
#pragma once

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// The final report and the end of the run; entered directly by the registration step.
void FinishInstallation(HWND window);
// A log line that could not be written: the log would no longer tell what the run did, and a
// deployment tool reads it, so the run stops at once with ERROR_INSTALL_FAILURE, after telling the
// user (unless the run is silent) and giving up the copy in progress. Does not return.
void StopForFailedLog(void);
// Writes the installation record with what the run did so far; one that cannot be written is a
// failure of the run (FailureCount): no removal could take the installation away.
void KeepInstallRecord(void);
