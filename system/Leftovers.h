// The files the two programs leave beside a file for a while, named after it: what each suffix
// means, and how its name is formed, for the installer and the uninstaller alike.
#pragma once

#include <windows.h>

// A copy being written beside its destination, which takes the destination's place once complete.
// One that outlives its run was left by a run ended by force: it is never anybody's file, and the
// next run deletes it.
extern const char TEMPORARY_SUFFIX[];
// An old file moved aside because a running program holds it (the editor, open while it is
// upgraded or removed), deleted once its program has ended: at the next restart, or by the next
// run. While the file's own name is free, a run ended by force between moving it aside and moving
// its new copy in left it there: it is the file to put back.
extern const char ASIDE_SUFFIX[];

// `leftover` (of PATH_CAPACITY) = `path` and `suffix`, in the file's own directory so that a move
// between the two is a rename on one volume. A path too long for the suffix gives up the end of its
// file name, never a part of its directory. Returns 0, or -1 when no character of the name would
// remain (`leftover` holds nothing usable then).
int FormLeftoverPath(char *leftover, const char *path, const char *suffix);
// The suffix that makes `name` a leftover (TEMPORARY_SUFFIX or ASIDE_SUFFIX), or null.
const char *LeftoverSuffix(const char *name);
