// The switches a deployment tool passes: a silent run, a log, the target directory, all users.
#pragma once

enum {
    SWITCHES_RUN = 0,   // install, as the switches say
    SWITCHES_HELP = 1,  // /?: the list of switches, nothing else
    SWITCHES_BAD = -1,  // a switch that is none of them, or a value that does not fit
};

// Reads `commandLine` (the arguments after the program's name) into State: Silent,
// SilentQuestionAnswer, AllUsers, RequestedDirectory and LogPath. Returns a SWITCHES_ value.
int ReadSwitches(const char *commandLine);
