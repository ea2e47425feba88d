// The log a deployment tool asks either program for (/LOG=FILE): one line for every message, every
// file, directory, shortcut and registry value, the report and the exit code, written as the run goes.
#pragma once

#include <windows.h>

// Opens Run.LogPath, emptied, into Run.LogHandle and writes its first lines: `program` with its
// version, and the command line. Returns 0 (also when no log was asked for), or the Win32 error
// when the file cannot be written. `logFailed` is called, with the log closed, when a later line
// cannot be written: the owner of the run's end decides what that means; it does not return.
DWORD OpenInstallLog(const char *program, const char *commandLine, void (*logFailed)(void));
// One line: the time of day, then `format` filled in the way of wsprintfA. Nothing without a log.
void LogLine(const char *format, ...);
// "Exit code: N" and the file closed.
void CloseInstallLog(int exitCode);
