// The names of the files left beside a file for a while: temporary copies and old files aside.
#include "system/Leftovers.h"

#include <string.h>

#include "script/TextHelpers.h"

const char TEMPORARY_SUFFIX[] = ".~qs";
const char ASIDE_SUFFIX[] = ".~old";

static const char PATH_SEPARATOR = '\\';

int FormLeftoverPath(char *leftover, const char *path, const char *suffix)
{
    const char *separator = strrchr(path, PATH_SEPARATOR);
    int nameOffset = separator == NULL ? 0 : (int)(separator - path) + 1;
    int room = PATH_CAPACITY - 1 - (int)strlen(suffix);
    int length = (int)strlen(path);
    int kept = length < room ? length : room;
    if (kept <= nameOffset) {
        leftover[0] = '\0';
        return -1;
    }
    int formed = CopyChars(leftover, PATH_CAPACITY, path, kept);
    AppendString(leftover, PATH_CAPACITY, formed, suffix);
    return 0;
}

const char *LeftoverSuffix(const char *name)
{
    const char *suffixes[] = { TEMPORARY_SUFFIX, ASIDE_SUFFIX };
    int length = (int)strlen(name);
    for (const char *suffix : suffixes) {
        int suffixLength = (int)strlen(suffix);
        if (length > suffixLength && memcmp(name + length - suffixLength, suffix, suffixLength) == 0)
            return suffix;
    }
    return NULL;
}
