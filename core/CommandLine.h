// What both programs do the same way for the callers that start them: the switches a deployment
// tool passes, one installation or removal at a time, and the DLL search that stays in System32.
#pragma once

#include <windows.h>

enum {
    SWITCHES_RUN = 0,   // install, as the switches say
    SWITCHES_HELP = 1,  // /?: the list of switches, nothing else
    SWITCHES_BAD = -1,  // a switch that is none of them, or a value that does not fit
};

// Reads `commandLine` (the arguments after the program's name) into State: Silent,
// SilentQuestionAnswer, AllUsers, RequestedDirectory and LogPath. Returns a SWITCHES_ value.
int ReadSwitches(const char *commandLine);
// The uninstaller's: /S, /LOG=FILE and /? first, then the installation's directory after a '/',
// as the uninstall entry writes it ("/C:\Program Files\Quillet", blanks and all), into
// RequestedDirectory. Returns a SWITCHES_ value.
int ReadUninstallSwitches(const char *commandLine);
// The arguments of a whole command line (GetCommandLineA): what follows the program's name.
const char *SkipProgramName(const char *commandLine);
// Makes every DLL loaded from now on come from System32 alone, never from the program's folder.
void RestrictDllSearch(void);
// The frame both programs run in, for `switches` as read: the list of switches (string
// `switchesText`) when asked for or when one is bad; otherwise one installation or removal at a
// time, the log (naming `program`; `logFailed` as OpenInstallLog takes it), `run`, and the log's
// last line. Boxes carry `caption`. Returns the exit code.
int RunForCaller(int switches, UINT switchesText, const char *caption, const char *program, const char *commandLine,
                 void (*logFailed)(void), int (*run)(void));
