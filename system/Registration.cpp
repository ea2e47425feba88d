// The editor's registry entries: its application path and uninstall entry always, and with the
// user's consent the text file type's icon and commands and the file-name suffixes chosen.
#include "system/Registration.h"

#include <windows.h>

#include <string.h>

#include "core/InstallState.h"
#include "core/Sequencer.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "system/Registry.h"
#include "ui/DirectoryDialog.h"
#include "ui/Messages.h"

static const char APP_PATH_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Quillet.exe";
static const char UNINSTALL_KEY_FORMAT[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";
static const char DISPLAY_NAME_VALUE[] = "DisplayName";
static const char UNINSTALL_STRING_VALUE[] = "UninstallString";
static const char DEFAULT_VALUE[] = "";
static const char EDITOR_FILE[] = "\\Quillet.exe";
static const char UNINSTALLER_COMMAND[] = "\\Unquil.exe /";

static const char DEFAULT_ICON_KEY[] = "txtfile\\DefaultIcon";
static const char OPEN_COMMAND_KEY[] = "txtfile\\shell\\open\\command";
static const char PRINT_COMMAND_KEY[] = "txtfile\\shell\\print\\command";
static const char ICON_ENDING[] = ",0";
// The commands quote the editor's path: the default directory has a blank in it, and the shell
// would otherwise try "C:\Program.exe" first for "C:\Program Files\...".
static const char PATH_QUOTE[] = "\"";
static const char OPEN_ENDING[] = " \"%1\"";
static const char PRINT_ENDING[] = " /p \"%1\"";
static const char TEXT_FILE_TYPE[] = "txtfile";
static const char SUFFIX_DOT[] = ".";
static const char BARE_ARGUMENT[] = "%1";
static const char QUOTED_ARGUMENT[] = "\"%1\"";

static const char REGISTRATION_TEMPLATE[] = "Registration";

enum {
    UNINSTALL_KEY_CAPACITY = 256,
    BARE_ARGUMENT_LENGTH = 2,
    // A command read into a full path buffer still fits once its "%1" is quoted.
    QUOTED_COMMAND_CAPACITY = PATH_CAPACITY + 2,
    SUFFIX_LIST_LIMIT = VALUE_CAPACITY,  // typed characters; the list keeps one less
};

// Stores `length` bytes of `text` as text without its terminator. A write that the registry
// refuses is skipped silently: it is no failure of the installation.
static void WriteText(HKEY root, const char *path, const char *valueName, const char *text, int length)
{
    WriteRegistryValue(root, path, valueName, REG_SZ, (const BYTE *)text, (DWORD)length);
}

// Fills `editorPath` (PATH_CAPACITY) with the installed editor's path; returns its length.
static int BuildEditorPath(char *editorPath)
{
    int length = CopyString(editorPath, PATH_CAPACITY, State.TargetDirectory);
    return AppendString(editorPath, PATH_CAPACITY, length, EDITOR_FILE);
}

// Writes the editor's path followed by `ending` as the default value of `path`.
static void WriteEditorIcon(const char *path, const char *ending)
{
    char text[PATH_CAPACITY];
    int length = BuildEditorPath(text);
    length = AppendString(text, PATH_CAPACITY, length, ending);
    WriteText(HKEY_CLASSES_ROOT, path, DEFAULT_VALUE, text, length);
}

// Writes the editor's path in quotes followed by `ending` as the default value of `path`.
// TargetDirectory holds at most 127 characters, so the command never reaches the capacity.
static void WriteEditorCommand(const char *path, const char *ending)
{
    char editorPath[PATH_CAPACITY];
    char text[PATH_CAPACITY];
    BuildEditorPath(editorPath);
    int length = CopyString(text, PATH_CAPACITY, PATH_QUOTE);
    length = AppendString(text, PATH_CAPACITY, length, editorPath);
    length = AppendString(text, PATH_CAPACITY, length, PATH_QUOTE);
    length = AppendString(text, PATH_CAPACITY, length, ending);
    WriteText(HKEY_CLASSES_ROOT, path, DEFAULT_VALUE, text, length);
}

// Entries always written: application path, uninstall name and command.
static void RegisterEditor(void)
{
    char text[PATH_CAPACITY];
    char uninstallKey[UNINSTALL_KEY_CAPACITY];

    int length = BuildEditorPath(text);
    WriteText(HKEY_LOCAL_MACHINE, APP_PATH_KEY, NULL, text, length);

    // ApplicationName holds at most 127 characters, so the key path always fits.
    wsprintfA(uninstallKey, UNINSTALL_KEY_FORMAT, State.ApplicationName);
    WriteText(HKEY_LOCAL_MACHINE, uninstallKey, DISPLAY_NAME_VALUE, State.ApplicationName,
              (int)strlen(State.ApplicationName));

    // The Windows directory is taken as it comes; a call that fills nothing leaves it empty.
    text[0] = '\0';
    GetWindowsDirectoryA(text, PATH_CAPACITY);
    length = CopyString(text, PATH_CAPACITY, text);
    length = AppendString(text, PATH_CAPACITY, length, UNINSTALLER_COMMAND);
    length = AppendString(text, PATH_CAPACITY, length, State.TargetDirectory);
    WriteText(HKEY_LOCAL_MACHINE, uninstallKey, UNINSTALL_STRING_VALUE, text, length);
}

// The last Suffixes line of [Registration] into SuffixList; returns -1 when there is no such section.
static int ReadSuffixList(HWND window)
{
    if (FindScriptSection(State.Instance, State.ClassName, window, State.RegistrationSection, FALSE,
                          State.InstallScript, &State.ScriptCursor) != 0)
        return -1;
    int keyLength = (int)strlen(State.SuffixesKey);
    for (;;) {
        const char *line = State.InstallScript + State.ScriptCursor;
        int lineLength = ParseScriptLine(line, &State.Line);
        if (lineLength == 0)
            break;
        // Recognised by the line's first bytes, as in [Install]: "SuffixesOld" counts too.
        if (KeyMatches(line, State.SuffixesKey, keyLength) == 0)
            CopyChars(State.SuffixList, VALUE_CAPACITY, State.Line.ValueStart, State.Line.ValueLength);
        State.ScriptCursor += lineLength;
    }
    return 0;
}

// One key ".suffix" of the text file type for every suffix of SuffixList.
static void RegisterSuffixes(void)
{
    const char *at = State.SuffixList;
    for (;;) {
        while (*at == ' ' || *at == '\t')
            at++;
        if (*at == '\0')
            break;
        int suffixLength = 0;
        while (at[suffixLength] != '\0' && at[suffixLength] != ' ' && at[suffixLength] != '\t')
            suffixLength++;
        int length = CopyString(State.CopyBuffer, COPY_CHUNK_SIZE, SUFFIX_DOT);
        AppendChars(State.CopyBuffer, COPY_CHUNK_SIZE, length, at, suffixLength);
        WriteText(HKEY_CLASSES_ROOT, State.CopyBuffer, DEFAULT_VALUE, TEXT_FILE_TYPE, (int)strlen(TEXT_FILE_TYPE));
        at += suffixLength;
    }
}

// The user agreed: the editor opens and prints text files, and the suffixes confirmed in the
// file-types dialog become text files.
static void RegisterTextFileType(HWND window)
{
    WriteEditorIcon(DEFAULT_ICON_KEY, ICON_ENDING);
    WriteEditorCommand(OPEN_COMMAND_KEY, OPEN_ENDING);
    WriteEditorCommand(PRINT_COMMAND_KEY, PRINT_ENDING);

    if (ReadSuffixList(window) != 0)
        return;
    if (DialogBoxParamA(State.Instance, REGISTRATION_TEMPLATE, window, RegistrationDialogProc, 0) != IDYES)
        return;
    RegisterSuffixes();
}

// Encloses in quotes the "%1" that ends the command stored under `path`, so that the handler
// also gets file names with blanks whole. Other commands are left as they are, unwritten.
static void QuoteCommandArgument(const char *path)
{
    char command[QUOTED_COMMAND_CAPACITY];
    if (ReadRegistryValue(HKEY_CLASSES_ROOT, path, DEFAULT_VALUE, command, PATH_CAPACITY) != 0)
        return;
    int length = (int)strlen(command);
    if (length < BARE_ARGUMENT_LENGTH ||
        memcmp(command + length - BARE_ARGUMENT_LENGTH, BARE_ARGUMENT, BARE_ARGUMENT_LENGTH) != 0)
        return;
    // The command was read within PATH_CAPACITY, so the quoted one never needs cutting.
    length = AppendString(command, QUOTED_COMMAND_CAPACITY, length - BARE_ARGUMENT_LENGTH, QUOTED_ARGUMENT);
    WriteText(HKEY_CLASSES_ROOT, path, DEFAULT_VALUE, command, length);
}

void RegisterApplication(HWND window)
{
    RegisterEditor();

    if (ShowMessage(State.Instance, State.CaptionText, State.MainWindow, IDS_REGISTER_QUESTION,
                    MB_YESNO | MB_ICONQUESTION) == IDYES) {
        RegisterTextFileType(window);
    } else {
        QuoteCommandArgument(OPEN_COMMAND_KEY);
        QuoteCommandArgument(PRINT_COMMAND_KEY);
    }

    FinishInstallation(window);
}

INT_PTR CALLBACK RegistrationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(GetParent(dialog), dialog);
        SetWindowTextA(dialog, State.CaptionText);
        SendDlgItemMessageA(dialog, IDC_REGISTRATION_SUFFIXES, EM_LIMITTEXT, SUFFIX_LIST_LIMIT, 0);
        SetDlgItemTextA(dialog, IDC_REGISTRATION_SUFFIXES, State.SuffixList);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_REGISTRATION_YES:
            GetDlgItemTextA(dialog, IDC_REGISTRATION_SUFFIXES, State.SuffixList, VALUE_CAPACITY);
            EndDialog(dialog, IDYES);
            return TRUE;
        case IDC_REGISTRATION_NO:
        case IDCANCEL:
            EndDialog(dialog, IDNO);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
