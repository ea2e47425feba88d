// The installer's switches. Without any the run is the interactive one; with them a deployment
// tool can install without anybody at the machine:
//   /S  /NOASSOCIATE  /ALLUSERS  /LOG=FILE  /D=DIR  /?
// Names are matched without regard to case, in any order; a value may be quoted to hold blanks;
// /D= comes last and takes the rest of the line, blanks included.
#include "core/CommandLine.h"

#include <windows.h>

#include <string.h>

#include "core/InstallState.h"
#include "script/TextHelpers.h"

static const char SWITCH_MARK = '/';
static const char VALUE_MARK = '=';
static const char QUOTE = '"';
static const char SILENT_SWITCH[] = "S";
static const char NO_ASSOCIATE_SWITCH[] = "NOASSOCIATE";
static const char ALL_USERS_SWITCH[] = "ALLUSERS";
static const char HELP_SWITCH[] = "?";
static const char LOG_SWITCH[] = "LOG";
static const char DIRECTORY_SWITCH[] = "D";

static int IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static char UpperAscii(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether the `length` characters at `name` are `expected` (in capitals), letter case aside.
// Switch names are plain ASCII: no code page's letters come into it.
static int NameIs(const char *name, int length, const char *expected)
{
    if (length != (int)strlen(expected))
        return FALSE;
    for (int i = 0; i < length; i++) {
        if (UpperAscii(name[i]) != expected[i])
            return FALSE;
    }
    return TRUE;
}

// Copies a value of `length` characters into `field` of `capacity`, without the quotes around
// it; 0, or -1 when it is empty, holds a stray quote or does not fit (a cut path would name
// another place).
static int TakeValue(char *field, int capacity, const char *value, int length)
{
    if (length >= 2 && value[0] == QUOTE && value[length - 1] == QUOTE) {
        value++;
        length -= 2;
    }
    if (length == 0 || length > capacity - 1 || memchr(value, QUOTE, length) != NULL)
        return -1;
    CopyChars(field, capacity, value, length);
    return 0;
}

int ReadSwitches(const char *commandLine)
{
    int silent = FALSE, noAssociate = FALSE, allUsers = FALSE, help = FALSE, bad = FALSE;
    const char *at = commandLine != NULL ? commandLine : "";
    for (;;) {
        while (IsBlank(*at))
            at++;
        if (*at == '\0')
            break;
        // A word that is no switch is not taken; the rest is still read, so that a /S further on
        // keeps even the list of switches from being shown.
        if (*at != SWITCH_MARK) {
            bad = TRUE;
            while (*at != '\0' && !IsBlank(*at))
                at++;
            continue;
        }
        const char *name = ++at;
        while (*at != '\0' && !IsBlank(*at) && *at != VALUE_MARK)
            at++;
        int nameLength = (int)(at - name);
        if (*at == VALUE_MARK) {
            const char *value = ++at;
            if (NameIs(name, nameLength, DIRECTORY_SWITCH)) {
                // The rest of the line, as other installers take it; blanks at its end are the
                // command line's, not the directory's.
                int length = (int)strlen(value);
                while (length > 0 && IsBlank(value[length - 1]))
                    length--;
                bad = bad || TakeValue(State.RequestedDirectory, VALUE_CAPACITY, value, length) != 0;
                break;
            }
            if (*at == QUOTE && strchr(at + 1, QUOTE) != NULL)
                at = strchr(at + 1, QUOTE) + 1;
            while (*at != '\0' && !IsBlank(*at))
                at++;
            bad = bad || !NameIs(name, nameLength, LOG_SWITCH) ||
                  TakeValue(State.LogPath, PATH_CAPACITY, value, (int)(at - value)) != 0;
        } else if (NameIs(name, nameLength, SILENT_SWITCH)) {
            silent = TRUE;
        } else if (NameIs(name, nameLength, NO_ASSOCIATE_SWITCH)) {
            noAssociate = TRUE;
        } else if (NameIs(name, nameLength, ALL_USERS_SWITCH)) {
            allUsers = TRUE;
        } else if (NameIs(name, nameLength, HELP_SWITCH)) {
            help = TRUE;
        } else {
            bad = TRUE;
        }
    }
    State.Silent = silent;
    State.SilentQuestionAnswer = noAssociate ? IDNO : IDYES;
    // Nobody at the machine means nobody whose own Start menu it would be.
    State.AllUsers = allUsers || silent;
    return bad ? SWITCHES_BAD : help ? SWITCHES_HELP : SWITCHES_RUN;
}
