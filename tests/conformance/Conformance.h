// Checks of the Win32 behaviour the installer relies on; returns the number of failures, each printed.
#pragma once

#include <windows.h>

int RunConformance(HINSTANCE instance, const char *scratchDirectory);
