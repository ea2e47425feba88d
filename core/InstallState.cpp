// The installer's state record, zeroed at program start.
#include "core/InstallState.h"

InstallState State;
