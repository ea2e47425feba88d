// The directory dialog: proposes the target directory, shows the kilobytes needed, and turns the
// text the user confirms into an absolute path in TargetDirectory. Also CenterWindow, which every
// dialog of the installer uses to place itself.
#include "ui/DirectoryDialog.h"

#include <direct.h>
#include <string.h>

#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"
#include "system/Registry.h"

static const char DIRECTORY_TEMPLATE[] = "Directory";
static const char VERSION_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion";
static const char PROGRAM_FILES_VALUE[] = "ProgramFilesDir";
static const char BACKSLASH[] = "\\";
static const int BACKSLASH_LENGTH = 1;
// "X:" in front of a drive path.
static const int DRIVE_LENGTH = 2;
// Drive numbers count from 1 for A.
static const char DRIVE_LETTER_BEFORE_A = 'A' - 1;
static const int KILOBYTE = 1024;

// TargetDirectory becomes the program-files directory, '\' and the application's name; without
// that registry value it keeps what start-up read from the script. The directory of an earlier
// installation is proposed instead, so that an upgrade replaces it where it is, and a directory the
// command line names (/D=) instead of any.
static void ProposeDirectory(void)
{
    if (State.RequestedDirectory[0] != '\0') {
        CopyString(State.TargetDirectory, VALUE_CAPACITY, State.RequestedDirectory);
        return;
    }
    if (FindRecordedDirectory(State.TargetDirectory) == 0)
        return;
    // Read aside: a query that fails may leave anything in its buffer, and the script's value
    // must survive it.
    char programFiles[VALUE_CAPACITY];
    if (ReadRegistryValue(HKEY_LOCAL_MACHINE, VERSION_KEY, PROGRAM_FILES_VALUE, programFiles, VALUE_CAPACITY) !=
        ERROR_SUCCESS)
        return;
    int length = CopyChars(State.TargetDirectory, VALUE_CAPACITY, programFiles, (int)strlen(programFiles));
    length = AppendChars(State.TargetDirectory, VALUE_CAPACITY, length, BACKSLASH, BACKSLASH_LENGTH);
    AppendChars(State.TargetDirectory, VALUE_CAPACITY, length, State.ApplicationName,
                (int)strlen(State.ApplicationName));
}

// The size line: SizeFormat with the kilobytes needed, rounded up.
static void ShowRequiredSize(HWND dialog)
{
    // The sum of the sizes never goes below 0 (it saturates), so it is read unsigned; the
    // rounding is done in 64 bits so that a total near 2 GB does not overflow into a negative.
    ULONGLONG totalBytes = (DWORD)State.TotalBytes;
    LONG kilobytes = (LONG)((totalBytes + KILOBYTE - 1) / KILOBYTE);
    wsprintfA(State.CopyBuffer, State.SizeFormat, kilobytes);
    SetDlgItemTextA(dialog, IDC_DIRECTORY_SIZE, State.CopyBuffer);
}

// Reads the whole current directory into a PATH_CAPACITY buffer; 0 and an empty text when it
// cannot be read there.
static int ReadCurrentDirectory(char *buffer)
{
    DWORD length = GetCurrentDirectoryA(PATH_CAPACITY, buffer);
    // A result at or beyond the capacity is the size the path would need: nothing was read.
    if (length == 0 || length >= PATH_CAPACITY) {
        buffer[0] = '\0';
        return 0;
    }
    return (int)length;
}

// Length of the "\\server\share" that begins a network path; 0 for any other path.
static int NetworkRootLength(const char *path, int length)
{
    if (length < 2 || path[0] != '\\' || path[1] != '\\')
        return 0;
    int i = 2;
    while (i < length && path[i] != '\\')
        i++;
    if (i < length)
        i++;
    while (i < length && path[i] != '\\')
        i++;
    return i;
}

// The root in front of a text that begins with one backslash: the current drive's "X:", or on a
// share, which has no drive letter, the current directory's own "\\server\share".
static int CopyCurrentRoot(char *target)
{
    int drive = _getdrive();
    if (drive != 0) {
        char root[DRIVE_LENGTH] = { (char)(DRIVE_LETTER_BEFORE_A + drive), ':' };
        return CopyChars(target, VALUE_CAPACITY, root, DRIVE_LENGTH);
    }
    char current[PATH_CAPACITY];
    int currentLength = ReadCurrentDirectory(current);
    return CopyChars(target, VALUE_CAPACITY, current, NetworkRootLength(current, currentLength));
}

// The current directory with a trailing backslash, cut to TargetDirectory's capacity.
static int CopyCurrentDirectory(char *target)
{
    char current[PATH_CAPACITY];
    int currentLength = ReadCurrentDirectory(current);
    int length = CopyChars(target, VALUE_CAPACITY, current, currentLength);
    // An unreadable directory leaves the text relative, which Windows resolves against that
    // same current directory when the files are created.
    if (currentLength > 0 && current[currentLength - 1] != '\\')
        length = AppendChars(target, VALUE_CAPACITY, length, BACKSLASH, BACKSLASH_LENGTH);
    return length;
}

// TargetDirectory from the text the user confirms: the drive form, the network form, the root
// form or the relative form, each cut at TargetDirectory's capacity.
static void NormaliseDirectory(const char *typed)
{
    int typedLength = (int)strlen(typed);
    char *target = State.TargetDirectory;
    int length;
    if (typedLength >= DRIVE_LENGTH && typed[1] == ':') {
        length = CopyChars(target, VALUE_CAPACITY, typed, DRIVE_LENGTH);
        // typed[2] is the NUL when the text is the drive alone.
        if (typed[DRIVE_LENGTH] != '\\')
            length = AppendChars(target, VALUE_CAPACITY, length, BACKSLASH, BACKSLASH_LENGTH);
        AppendChars(target, VALUE_CAPACITY, length, typed + DRIVE_LENGTH, typedLength - DRIVE_LENGTH);
    } else if (NetworkRootLength(typed, typedLength) != 0) {
        // "\\server\share\..." is absolute already; a drive letter in front would turn it into a
        // folder of the local drive.
        CopyChars(target, VALUE_CAPACITY, typed, typedLength);
    } else if (typed[0] == '\\') {
        length = CopyCurrentRoot(target);
        AppendChars(target, VALUE_CAPACITY, length, typed, typedLength);
    } else {
        length = CopyCurrentDirectory(target);
        AppendChars(target, VALUE_CAPACITY, length, typed, typedLength);
    }
}

// Fills the controls from the state record, in the order the user sees them built.
static void InitDirectoryDialog(HWND dialog)
{
    CenterWindow(GetWindow(dialog, GW_OWNER), dialog);
    SetWindowTextA(dialog, State.CaptionText);
    SendDlgItemMessageA(dialog, IDC_DIRECTORY_EDIT, EM_LIMITTEXT, PATH_CAPACITY, 0);
    SetDlgItemTextA(dialog, IDC_DIRECTORY_PROMPT, State.DirectoryPrompt);
    ProposeDirectory();
    SetDlgItemTextA(dialog, IDC_DIRECTORY_EDIT, State.TargetDirectory);
    ShowRequiredSize(dialog);
}

INT_PTR RunDirectoryDialog(HWND owner)
{
    INT_PTR result;
    if (Run.Silent) {
        // The answer of a user who confirms the proposal as it stands.
        char proposal[PATH_CAPACITY];
        ProposeDirectory();
        CopyString(proposal, PATH_CAPACITY, State.TargetDirectory);
        NormaliseDirectory(proposal);
        result = IDC_DIRECTORY_INSTALL;
    } else {
        result = DialogBoxParamA(State.Instance, DIRECTORY_TEMPLATE, owner, DirectoryDialogProc, 0);
    }
    if (result == IDC_DIRECTORY_INSTALL)
        LogLine("Target directory: %s", State.TargetDirectory);
    else
        LogLine("Directory dialog cancelled");
    return result;
}

// Install ends the dialog with IDC_DIRECTORY_INSTALL after normalising the typed directory; Cancel,
// Escape and the close box end it with IDC_DIRECTORY_CANCEL.
INT_PTR CALLBACK DirectoryDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDirectoryDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_DIRECTORY_INSTALL: {
            char typed[PATH_CAPACITY];
            typed[0] = '\0';
            GetDlgItemTextA(dialog, IDC_DIRECTORY_EDIT, typed, PATH_CAPACITY);
            NormaliseDirectory(typed);
            EndDialog(dialog, IDC_DIRECTORY_INSTALL);
            return TRUE;
        }
        case IDC_DIRECTORY_CANCEL:
        case IDCANCEL:
            EndDialog(dialog, IDC_DIRECTORY_CANCEL);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void CenterWindow(HWND reference, HWND window)
{
    RECT outer, inner;
    if (!GetWindowRect(window, &inner))
        return;
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    // Without a reference window the screen itself is the reference.
    if (reference == NULL || !GetWindowRect(reference, &outer)) {
        outer.left = 0;
        outer.top = 0;
        outer.right = screenWidth;
        outer.bottom = screenHeight;
    }
    int width = inner.right - inner.left;
    int height = inner.bottom - inner.top;
    int x = outer.left + ((outer.right - outer.left) - width) / 2;
    int y = outer.top + ((outer.bottom - outer.top) - height) / 2;
    // Left and top first, so that a window larger than the screen keeps its right and bottom
    // edges, where a dialog's buttons are, on the screen.
    if (x < 0)
        x = 0;
    if (x + width > screenWidth)
        x = screenWidth - width;
    if (y < 0)
        y = 0;
    if (y + height > screenHeight)
        y = screenHeight - height;
    MoveWindow(window, x, y, width, height, TRUE);
}
