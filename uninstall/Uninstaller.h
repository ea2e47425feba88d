// Unquil.exe's own record of its run: what the caller asked for, what the installation record
// says, and what the removal came to, for the report and the exit code.
#pragma once

#include <windows.h>

#include "script/TextHelpers.h"
#include "system/InstallRecord.h"

enum {
    // The list of items in the report: what fits beside the text in a message box.
    LIST_CAPACITY = PATH_CAPACITY,
};

struct UninstallState {
    HINSTANCE Instance;
    char Caption[VALUE_CAPACITY];
    char RequestedDirectory[VALUE_CAPACITY];  // the installation's directory, as the command line names it

    // The installation record, whole, and the places its own section names
    HGLOBAL RecordHandle;
    const char *Record;
    RecordPlaces Places;
    char WindowsDirectory[PATH_CAPACITY];
    char Self[PATH_CAPACITY];  // the program's own file: it runs, and goes last

    // What the removal came to
    char Kept[LIST_CAPACITY];    // files added or changed since, kept
    char Failed[LIST_CAPACITY];  // items that could not be taken away or given back
    int KeptCount;
    int FailedCount;
    int RestartNeeded;
};

extern UninstallState Uninstaller;

// Reads the uninstaller's switches, /S, /LOG=FILE and /? first, then the installation's directory
// after a '/' as the uninstall entry writes it ("/C:\Program Files\Quillet", blanks and all), into
// Run and Uninstaller.RequestedDirectory. Returns a SWITCHES_ value.
int ReadUninstallSwitches(const char *commandLine);
