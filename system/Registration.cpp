// The editor's registry entries: its application path and uninstall entry always, and with the
// user's consent the text file type's icon and commands and the file-name suffixes chosen.
#include "system/Registration.h"

#include <windows.h>

#include <string.h>

#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "core/Sequencer.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"
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
static const char UNINSTALLER_FILE[] = "\\Unquil.exe";
static const char QUIET_SWITCH[] = " /S /";
static const char QUIET_UNINSTALL_STRING_VALUE[] = "QuietUninstallString";
// What inventory tools and package managers read from the uninstall entry besides its name.
static const char DISPLAY_VERSION_VALUE[] = "DisplayVersion";
static const char PUBLISHER_VALUE[] = "Publisher";
static const char INSTALL_LOCATION_VALUE[] = "InstallLocation";
static const char DISPLAY_ICON_VALUE[] = "DisplayIcon";
static const char ESTIMATED_SIZE_VALUE[] = "EstimatedSize";
static const char NO_MODIFY_VALUE[] = "NoModify";
static const char NO_REPAIR_VALUE[] = "NoRepair";
static const char FILE_VERSION_STRING[] = "FileVersion";
static const char COMPANY_NAME_STRING[] = "CompanyName";

// The editor's version information is read through version.dll, which is not among the DLLs the
// system always takes from itself: it is loaded by its full path in the system directory, never
// found beside the installer.
static const char VERSION_LIBRARY[] = "\\version.dll";
static const char VERSION_INFO_SIZE_CALL[] = "GetFileVersionInfoSizeA";
static const char VERSION_INFO_CALL[] = "GetFileVersionInfoA";
static const char VERSION_QUERY_CALL[] = "VerQueryValueA";
static const char VERSION_TRANSLATION[] = "\\VarFileInfo\\Translation";
static const char VERSION_STRING_FORMAT[] = "\\StringFileInfo\\%04x%04x\\%s";
typedef DWORD(WINAPI *VersionInfoSizeFunction)(LPCSTR fileName, LPDWORD handle);
typedef BOOL(WINAPI *VersionInfoFunction)(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
typedef BOOL(WINAPI *VersionQueryFunction)(LPCVOID block, LPCSTR subBlock, LPVOID *value, PUINT length);

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
    KILOBYTE = 1024,
    UNINSTALL_FLAG = 1,
    // Without a translation table the strings are looked for as U.S. English in Unicode.
    DEFAULT_VERSION_LANGUAGE = 0x0409,
    DEFAULT_VERSION_CODE_PAGE = 0x04B0,
    VERSION_KEY_CAPACITY = 64,
    // A version resource takes a few kilobytes at most; a larger claim is no version information.
    VERSION_INFO_LIMIT = 0x10000,
};

// Stores `length` bytes of `text` as text without its terminator. A write that the registry
// refuses is skipped silently: it is no failure of the installation.
static void WriteText(HKEY root, const char *path, const char *valueName, const char *text, int length)
{
    WriteRegistryValue(root, path, valueName, REG_SZ, (const BYTE *)text, (DWORD)length);
}

static void WriteNumber(const char *path, const char *valueName, DWORD number)
{
    WriteRegistryValue(HKEY_LOCAL_MACHINE, path, valueName, REG_DWORD, (const BYTE *)&number, sizeof number);
}

// Writes string `name` of the version information `block` as `valueName` of the key `path`;
// nothing when the block lacks it or holds it empty.
static void WriteVersionString(VersionQueryFunction query, const void *block, const char *name, const char *path,
                               const char *valueName)
{
    WORD language = DEFAULT_VERSION_LANGUAGE, codePage = DEFAULT_VERSION_CODE_PAGE;
    WORD *translation = NULL;
    UINT size = 0;
    if (query(block, VERSION_TRANSLATION, (LPVOID *)&translation, &size) && translation != NULL &&
        size >= 2 * sizeof(WORD)) {
        language = translation[0];
        codePage = translation[1];
    }
    char subBlock[VERSION_KEY_CAPACITY];
    // The name is one of this file's own, so the key always fits.
    wsprintfA(subBlock, VERSION_STRING_FORMAT, language, codePage, name);
    const char *text = NULL;
    UINT textLength = 0;
    if (!query(block, subBlock, (LPVOID *)&text, &textLength) || text == NULL)
        return;
    // The length given may or may not count the terminator.
    int length = 0;
    while (length < (int)textLength && text[length] != '\0')
        length++;
    char value[VALUE_CAPACITY];
    length = CopyChars(value, VALUE_CAPACITY, text, length);
    if (length > 0)
        WriteText(HKEY_LOCAL_MACHINE, path, valueName, value, length);
}

// DisplayVersion and Publisher of the uninstall entry `path` from the installed editor's version
// information (its FileVersion and CompanyName); nothing the editor does not carry.
static void WriteEditorVersion(const char *path, const char *editorPath)
{
    char library[PATH_CAPACITY];
    UINT directory = GetSystemDirectoryA(library, PATH_CAPACITY);
    if (directory == 0 || directory >= PATH_CAPACITY ||
        AppendString(library, PATH_CAPACITY, (int)directory, VERSION_LIBRARY) !=
            (int)directory + (int)(sizeof VERSION_LIBRARY - 1))
        return;
    HMODULE version = LoadLibraryA(library);
    if (version == NULL)
        return;
    VersionInfoSizeFunction infoSize =
        (VersionInfoSizeFunction)(void (*)(void))GetProcAddress(version, VERSION_INFO_SIZE_CALL);
    VersionInfoFunction info = (VersionInfoFunction)(void (*)(void))GetProcAddress(version, VERSION_INFO_CALL);
    VersionQueryFunction query = (VersionQueryFunction)(void (*)(void))GetProcAddress(version, VERSION_QUERY_CALL);
    void *block = NULL;
    if (infoSize != NULL && info != NULL && query != NULL) {
        DWORD handle;
        DWORD size = infoSize(editorPath, &handle);
        if (size > 0 && size <= VERSION_INFO_LIMIT)
            block = HeapAlloc(GetProcessHeap(), 0, size);
        if (block != NULL && info(editorPath, 0, size, block)) {
            WriteVersionString(query, block, FILE_VERSION_STRING, path, DISPLAY_VERSION_VALUE);
            WriteVersionString(query, block, COMPANY_NAME_STRING, path, PUBLISHER_VALUE);
        }
    }
    if (block != NULL)
        HeapFree(GetProcessHeap(), 0, block);
    FreeLibrary(version);
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
    int directory = length;
    length = AppendString(text, PATH_CAPACITY, length, UNINSTALLER_COMMAND);
    length = AppendString(text, PATH_CAPACITY, length, State.TargetDirectory);
    WriteText(HKEY_LOCAL_MACHINE, uninstallKey, UNINSTALL_STRING_VALUE, text, length);
    // The same for deployment tools, silent, with the program's path quoted:
    // "C:\WINDOWS\Unquil.exe" /S /C:\Program Files\Quillet
    char quiet[PATH_CAPACITY];
    length = CopyString(quiet, PATH_CAPACITY, PATH_QUOTE);
    length = AppendChars(quiet, PATH_CAPACITY, length, text, directory);
    length = AppendString(quiet, PATH_CAPACITY, length, UNINSTALLER_FILE);
    length = AppendString(quiet, PATH_CAPACITY, length, PATH_QUOTE);
    length = AppendString(quiet, PATH_CAPACITY, length, QUIET_SWITCH);
    length = AppendString(quiet, PATH_CAPACITY, length, State.TargetDirectory);
    WriteText(HKEY_LOCAL_MACHINE, uninstallKey, QUIET_UNINSTALL_STRING_VALUE, quiet, length);

    // What inventory tools match an installation by: its version and publisher, where it is, its
    // icon and size, and that it offers no change or repair of its own.
    length = BuildEditorPath(text);
    WriteEditorVersion(uninstallKey, text);
    WriteText(HKEY_LOCAL_MACHINE, uninstallKey, INSTALL_LOCATION_VALUE, State.TargetDirectory,
              (int)strlen(State.TargetDirectory));
    WriteText(HKEY_LOCAL_MACHINE, uninstallKey, DISPLAY_ICON_VALUE, text, length);
    // The sum of the sizes saturates and never goes below 0; rounded up as the directory dialog does.
    WriteNumber(uninstallKey, ESTIMATED_SIZE_VALUE, (DWORD)(((ULONGLONG)(DWORD)State.TotalBytes + KILOBYTE - 1) / KILOBYTE));
    WriteNumber(uninstallKey, NO_MODIFY_VALUE, UNINSTALL_FLAG);
    WriteNumber(uninstallKey, NO_REPAIR_VALUE, UNINSTALL_FLAG);
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
    if (RunRegistrationDialog(window) != IDYES)
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
    AmendRegistryValue(HKEY_CLASSES_ROOT, path, DEFAULT_VALUE, REG_SZ, (const BYTE *)command, (DWORD)length);
}

void RegisterApplication(HWND window)
{
    RegisterEditor();
    // Once the uninstall entry that uses it exists, and again when the registration is complete.
    KeepInstallRecord();

    if (ShowMessage(State.Instance, State.CaptionText, State.MainWindow, IDS_REGISTER_QUESTION,
                    MB_YESNO | MB_ICONQUESTION) == IDYES) {
        RegisterTextFileType(window);
    } else {
        QuoteCommandArgument(OPEN_COMMAND_KEY);
        QuoteCommandArgument(PRINT_COMMAND_KEY);
    }
    KeepInstallRecord();

    FinishInstallation(window);
}

INT_PTR RunRegistrationDialog(HWND owner)
{
    // A silent run confirms the suffixes the script offers, as they stand.
    INT_PTR answer = Run.Silent ? IDYES
                                  : DialogBoxParamA(State.Instance, REGISTRATION_TEMPLATE, owner,
                                                    RegistrationDialogProc, 0);
    LogLine("File types: \"%s\" -> %s", State.SuffixList, answer == IDYES ? "Yes" : "No");
    return answer;
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
