// The directories along a destination path, created from the outermost to the innermost before
// the copy engine creates the file itself.
#include "system/DirectoryChain.h"

#include <string.h>

#include "core/InstallLog.h"
#include "resources/resource.h"
#include "system/InstallRecord.h"
#include "ui/Messages.h"

// "X:\" is never created: the walk starts after it.
static const int DRIVE_PREFIX_LENGTH = 3;
static const char PATH_SEPARATOR = '\\';

void CreateDirectoryChain(HINSTANCE instance, const char *caption, HWND owner, char *path)
{
    int length = (int)strlen(path);
    for (int i = DRIVE_PREFIX_LENGTH; i < length; i++) {
        while (i < length && path[i] != PATH_SEPARATOR)
            i++;
        // What follows the last backslash is the file name.
        if (i >= length)
            return;
        path[i] = '\0';
        if (CreateDirectoryA(path, NULL)) {
            LogLine("Directory created: %s", path);
            RecordDirectory(path);
        } else {
            DWORD error = GetLastError();
            // An existing directory is what the walk wants; a denied one may still hold the
            // deeper ones (a protected drive root, a share), so the walk goes on.
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) {
                ShowMessageFormatted(instance, caption, owner, IDS_CANNOT_CREATE_S, path, MB_ICONERROR);
                path[i] = PATH_SEPARATOR;
                return;
            }
        }
        path[i] = PATH_SEPARATOR;
    }
}
