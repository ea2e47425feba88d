// The files the two programs leave beside a file for a while, named after it: what each suffix
// means, how their names are formed, and how they are settled, for the installer and the
// uninstaller alike. Only the leftovers of a file a program is about to write or remove are its own
// to settle: a name with the same suffix beside another program's file is that program's.
#pragma once

#include <windows.h>

// A copy being written beside its destination, which takes the destination's place once complete.
// One that outlives its run was left by a run ended by force: it is nobody's file any more.
extern const char TEMPORARY_SUFFIX[];
// An old file moved aside by an upgrade because a running program holds it (the editor, open while
// it is upgraded), deleted once its program has ended: at the next restart, or by the next run.
// While the file's own name is free, a run ended by force between moving it aside and moving its
// new copy in left it there: the newest is the file to put back.
extern const char ASIDE_SUFFIX[];
// A file removed while a running program held it, moved aside to be deleted at the next restart:
// never put back.
extern const char DELETED_SUFFIX[];

// `leftover` (of PATH_CAPACITY) = `path` and `suffix`, in the file's own directory so that a move
// between the two is a rename on one volume. A path too long for the suffix (and a number after it)
// gives up the end of its file name, never a part of its directory. Returns 0, or -1 when no
// character of the name would remain (`leftover` holds nothing usable then).
int FormLeftoverPath(char *leftover, const char *path, const char *suffix);
// The same, under a name no file has yet: the suffix alone, or the suffix and a number one above
// the highest in use (2 to 99), so that the newest is the highest. Returns 0, or -1.
int FormFreeLeftoverPath(char *leftover, const char *path, const char *suffix);
// The suffix that makes the file name `name` a leftover, with or without its number, or null.
const char *LeftoverSuffix(const char *name);
// Before a run writes `path`: a temporary copy and a file waiting for the restart that earlier runs
// left beside it are deleted; of its old files aside, the newest goes back to `path` when that name
// is free, and the others are deleted. What a program still holds stays, for the restart or a
// later run.
void SettleLeftovers(const char *path);
// Before a removal deletes `path`: everything left beside it is deleted, or at the next restart
// what a program still holds. Links and directories under those names are nobody's leftovers and
// stay. Returns 1 when something waits for the restart, 0 otherwise.
int RemoveLeftovers(const char *path);
