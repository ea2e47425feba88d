// The frame both programs run in for the callers that start them: the switches, read from a table
// of each program's own; the list of switches; one installation or removal at a time; the log
// around the run; and the DLL search that stays in System32.
#pragma once

#include <windows.h>

#include "script/TextHelpers.h"

// How the caller asked for the run, as every module below the programs' own sequences sees it
// (the message boxes, the log). All zero without switches.
struct RunRequest {
    int Silent;               // nobody is asked: every box and dialog takes its default answer
    int SilentQuestionAnswer; // the silent answer to the run's one yes-or-no question (IDYES, IDNO)
    char LogPath[PATH_CAPACITY];
    HANDLE LogHandle;         // null when no log is written
};
extern RunRequest Run;

enum {
    SWITCHES_RUN = 0,   // run, as the switches say
    SWITCHES_HELP = 1,  // /?: the list of switches, nothing else
    SWITCHES_BAD = -1,  // a switch that is none of the table's, or a value that does not fit
};

// The kinds of switch a program's table holds. /? is every program's and needs no row.
enum {
    SWITCH_FLAG,       // "/NAME": *Flag set to TRUE
    SWITCH_VALUE,      // "/NAME=VALUE", the value in quotes when it holds blanks
    SWITCH_REST,       // "/NAME=" and the rest of the line, blanks included
    SWITCH_DIRECTORY,  // "/C:\..." or "/\\server\...": a directory, the rest of the line (no name),
                       // bare or in quotes, the word whole or the directory after its slash
};

// One row of a program's table of switches.
struct SwitchEntry {
    const char *Name;  // in capitals, matched without regard to case; null for SWITCH_DIRECTORY
    int Kind;
    int *Flag;         // SWITCH_FLAG
    char *Field;       // the others: the value, without its quotes
    int Capacity;
};

// Reads `commandLine` (the arguments after the program's name) against the `count` rows of
// `table`: names in any order, a switch that takes the rest of the line last. Every word is read,
// so that a /S further on than a bad word still keeps the refusal silent. Returns a SWITCHES_ value.
int ReadSwitchTable(const char *commandLine, const SwitchEntry *table, int count);
// The arguments of a whole command line (GetCommandLineA): what follows the program's name.
const char *SkipProgramName(const char *commandLine);
// Makes every DLL loaded from now on come from System32 alone, never from the program's folder.
void RestrictDllSearch(void);
// The frame around a run, for `switches` as read: the list of switches (string `switchesText`) when
// asked for or when one is bad; otherwise one installation or removal at a time, the log (naming
// `program`; `logFailed` as OpenInstallLog takes it), `run`, and the log's last line. Boxes carry
// `caption`. Returns the exit code.
int RunForCaller(HINSTANCE instance, int switches, UINT switchesText, const char *caption, const char *program,
                 const char *commandLine, void (*logFailed)(void), int (*run)(void));
