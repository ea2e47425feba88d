// The installer's switches, which a deployment tool passes (without any the run is the
// interactive one): /S  /NOASSOCIATE  /ALLUSERS  /LOG=FILE  /D=DIR  /?
#pragma once

// Reads `commandLine` (the arguments after the program's name) into Run (Silent,
// SilentQuestionAnswer, LogPath) and State (AllUsers, RequestedDirectory). Returns a SWITCHES_ value.
int ReadSwitches(const char *commandLine);
