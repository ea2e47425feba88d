// Test-side controls of win32sim: the sandbox, the scripted user, fault injection and the
// records that tests assert on. Only tests include this header; product code sees <windows.h>.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// Raised when the program under test does something the simulation refuses to guess about:
// an unexpected message box or dialog, a wait for input nobody gives, a bad handle.
struct SimFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// ---- The world -------------------------------------------------------------------------------

// Starts a fresh world: no handles, windows, classes, registry keys, faults, records or user.
// Windows paths "X:\..." map to <sandbox>/X/... on the Linux file system (the folder is emptied).
// Defaults: module C:\DIST\SETUP.EXE, command line "C:\DIST\SETUP.EXE" (the module path in quotes),
// Windows directory C:\WINDOWS, current directory C:\DIST, language 1033, screen 1024 x 768;
// C:\WINDOWS and C:\DIST exist.
void Reset(const std::string &sandboxDirectory);
std::string Sandbox();
std::string HostPath(const std::string &windowsPath);  // the Linux path a Windows path maps to
HINSTANCE Instance();                                   // the module handle to pass to WinMain
void SetModulePath(const std::string &path);
void SetWindowsDirectory(const std::string &path);
void SetCurrentDirectory(const std::string &path);     // also decides _getdrive (0 for \\server\share)
// What GetCommandLineA gives, raw: the program's name (quoted or not) and its arguments.
void SetCommandLine(const std::string &commandLine);
void SetLanguage(LANGID language);                      // 1033, 1036 or 1040
void SetScreenSize(int width, int height);
// The system's DLL search: kernel32 of a system before Windows 8 without its update offers no
// SetDefaultDllDirectories; the flags the program set with it (0: never called, or refused).
void SetKernelLacksDefaultDllDirectories();
DWORD DefaultDllDirectories();
// Makes a Windows folder or file ("D:\\", "D:\\SETUP.inf") show a host folder or file, read-only:
// opening for writing, creating a directory or deleting a file there fails with access denied.
// The longest mapping that covers a path wins; Reset forgets them all.
void MapPath(const std::string &windowsPath, const std::string &hostPath);

// Files for tests to prepare and inspect, by Windows path; directories are created as needed.
void PutFile(const std::string &windowsPath, const std::string &bytes);
std::optional<std::string> GetFile(const std::string &windowsPath);
bool DirectoryExists(const std::string &windowsPath);
void PutFileTimes(const std::string &windowsPath, const FILETIME &creation, const FILETIME &access, const FILETIME &write);
bool GetFileTimes(const std::string &windowsPath, FILETIME *creation, FILETIME *access, FILETIME *write);
// Reparse points, made as host symbolic links: a junction to a directory, a symbolic link to a file.
// The target need not exist; paths through a junction lead into its target, and removing the
// junction (RemoveDirectoryA) or the link (DeleteFileA) leaves the target as it is.
void MakeJunction(const std::string &windowsPath, const std::string &targetWindowsPath);
void MakeSymbolicLinkFile(const std::string &windowsPath, const std::string &targetWindowsPath);
// Someone else's move in the middle of a removal: when the program asks for `itemWindowsPath` to be
// deleted (DeleteFileA, RemoveDirectoryA, or through a handle), the directory `directoryWindowsPath`
// on its way is moved aside first (to its name with ".moved"; handles open in it follow it) and a
// junction to `targetWindowsPath` takes its place. Once.
void SwapAtDelete(const std::string &itemWindowsPath, const std::string &directoryWindowsPath,
                  const std::string &targetWindowsPath);

// ---- Time ---------------------------------------------------------------------------------------

// GetTickCount reads a simulated clock, so that a run takes the same steps on any machine: it starts
// at the count given, and time passes only when a test moves it on, or as the program reads and
// writes files once each ReadFile and WriteFile has a duration (a disk of that speed). Reset: a count
// of 0, file calls that take no time.
void SetTickCount(DWORD ticks);
void AdvanceClock(DWORD milliseconds);
void SetFileCallDuration(DWORD microseconds);

// ---- The process ------------------------------------------------------------------------------

// ExitProcess ends the program under test by throwing this; a test's run catches it.
struct ProcessExit {
    UINT code;
};
// The version information of a file, as version.dll's calls give it: string values by name
// ("FileVersion", "CompanyName") in one table, U.S. English in Unicode (040904b0). A file without
// it has no version information. Reset forgets them.
void PutFileVersionInfo(const std::string &windowsPath, const std::map<std::string, std::string> &strings);
// version.dll loads not matched by FreeLibrary.
int LoadedLibraries();
// (A test stands for another process holding a named mutex by calling CreateMutexA itself.)

// ---- Fault injection -------------------------------------------------------------------------
// A path filter matches when the Windows path contains the text, without regard to case; an empty
// filter matches every path. "times" counts matching calls that fail; -1 is every one from now on.

void FailOpen(const std::string &pathContains, DWORD error = ERROR_FILE_NOT_FOUND, int times = -1);
// Reads of a matching file: once `afterBytes` bytes have been delivered, the next read fails with
// `error` (0: it succeeds short instead, delivering what remains up to the limit and then 0 bytes).
void FailRead(const std::string &pathContains, uint64_t afterBytes, DWORD error = ERROR_CANTREAD);
// Writes to a matching file: once `afterBytes` bytes are written, a write fails with `error`.
void FailWrite(const std::string &pathContains, uint64_t afterBytes, DWORD error = ERROR_DISK_FULL);
void FailCreateDirectory(const std::string &pathContains, DWORD error, int times = -1);
void FailSeek(const std::string &pathContains);                 // _llseek on a matching file fails
// MoveFileExA with a matching existing or new name fails with `error`.
void FailMove(const std::string &pathContains, DWORD error = ERROR_ACCESS_DENIED, int times = -1);
void FailRemoveDirectory(const std::string &pathContains, DWORD error = ERROR_ACCESS_DENIED, int times = -1);
// A program started from `windowsPath`, until EndPrograms: its file cannot be opened for writing
// (sharing violation), deleted or replaced (access denied), but it can be renamed, as under Wine and
// Windows, and the program goes on from the new name.
void RunProgram(const std::string &windowsPath);
void EndPrograms();
// The files MoveFileExA was asked to delete at the next restart, in order.
std::vector<std::string> RestartDeletions();
// Every later MoveFileExA(..., NULL, MOVEFILE_DELAY_UNTIL_REBOOT) fails with `error`, as for a
// process that is not an administrator's.
void FailRestartDeletion(DWORD error = ERROR_ACCESS_DENIED);
void FailFlush(const std::string &pathContains, DWORD error = ERROR_DISK_FULL);  // FlushFileBuffers
void FailGlobalAlloc(int nth);                                   // the nth GlobalAlloc or GlobalReAlloc from now (1-based)
void FailGlobalLock(int nth);
void FailHeapAlloc(int nth);
void FailRegistryOpen(const std::string &keyPathContains, LONG error = ERROR_ACCESS_DENIED);
void FailRegistryQuery(const std::string &keyPathContains, LONG error = ERROR_ACCESS_DENIED);
void FailRegistryWrite(const std::string &keyPathContains, LONG error = ERROR_ACCESS_DENIED);
// RegDeleteKeyA of a matching key, RegDeleteValueA of a value under one.
void FailRegistryDelete(const std::string &keyPathContains, LONG error = ERROR_ACCESS_DENIED);
// Writes of one value (its name without regard to case; "" is the default value) under a matching key.
void FailRegistryValueWrite(const std::string &keyPathContains, const std::string &valueName,
                            LONG error = ERROR_ACCESS_DENIED);
void FailCoCreateInstance(HRESULT result, int times = -1);
// "SetPath", "SetDescription", "SetIconLocation", "SetShowCmd", "QueryInterface", "Save"
void FailComMethod(const std::string &method, HRESULT result, int times = -1);
void FailCreateWindow();                                         // the next top-level CreateWindowExA

// ---- Accounting: what is still held --------------------------------------------------------

int OpenFileHandles();        // files opened and searches begun, not yet closed
int LiveGlobalBlocks();
int LockedGlobalBlocks();
int LiveHeapBlocks();
int OpenRegistryKeys();       // opened or created keys not closed (the predefined roots are not counted)
int LiveGdiObjects();         // brushes and bitmaps created and not deleted
int LiveDeviceContexts();     // GetDC/BeginPaint/CreateCompatibleDC not released
int DeviceContextsTaken(HWND window);  // GetDC calls for the window since Reset: drawings outside its painting
int LiveComObjects();
int ComInitialisations();     // CoInitialize calls not matched by CoUninitialize
// Every COM call the program made, in order: "CoInitialize", "CoCreateInstance", "QueryInterface",
// "SetPath", ..., "Save", "Release", "CoUninitialize".
const std::vector<std::string> &ComCalls();
int RegisteredClasses();

// ---- Registry ---------------------------------------------------------------------------------

void RegPutString(HKEY root, const std::string &path, const std::string &name, const std::string &text,
                  bool withTerminator = true);
void RegPutValue(HKEY root, const std::string &path, const std::string &name, DWORD type, const std::string &bytes);
struct RegValue { DWORD type; std::string bytes; };
std::optional<RegValue> RegGet(HKEY root, const std::string &path, const std::string &name);
bool RegKeyExists(HKEY root, const std::string &path);
void RegDeleteValue(HKEY root, const std::string &path, const std::string &name);
int RegKeyOpenCount();        // RegOpenKeyExA/RegCreateKeyExA calls since Reset
int RegKeyCloseCount();       // RegCloseKey calls since Reset, roots included
// Sub-key names passed to RegOpenKeyExA and RegCreateKeyExA since Reset, in call order.
const std::vector<std::string> &RegKeyRequests();

// ---- Shell links written by the shell link object ----------------------------------------------

struct LinkRecord {
    std::string file, target, description, iconFile;
    int iconIndex = 0;
    int showCommand = 0;
    bool iconSet = false;
    std::string workingDirectory, arguments;
};
const std::vector<LinkRecord> &Links();
std::optional<LinkRecord> ReadLink(const std::string &windowsPath);   // decodes a link file in the sandbox

// ---- Records ----------------------------------------------------------------------------------

struct MessageBoxRecord {
    HWND owner;
    std::string caption, text;
    UINT type;
    int answer;
};
const std::vector<MessageBoxRecord> &MessageBoxes();

// One entry per PostMessageA, per SendMessageA from the program, per message box and per dialog.
struct TraceEntry {
    enum Kind { Post, Send, MessageBox, DialogOpened, DialogClosed } kind;
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::string text;   // message box text or dialog template name
};
const std::vector<TraceEntry> &Trace();
// Forgets the message boxes and the trace recorded so far, for runs of many cases in one world.
void ClearRecords();
// The paths passed to CreateDirectoryA since Reset, in call order, failed calls included.
const std::vector<std::string> &CreateDirectoryCalls();

// What the program did to the machine and showed to its user, in the order it happened.
struct JournalEntry {
    enum Kind {
        FileOpened,            // path; type: the access asked for; error: 0 or why the open failed
        FileClosed,            // a file opened for writing: path; bytes: how many were written through it
        DirectoryCreated,      // path; error: 0 or why CreateDirectoryA failed
        DirectoryRemoved,      // path; error: 0 or why RemoveDirectoryA failed
        FileDeleted,           // path; error: 0 or why DeleteFileA failed
        FileMoved,             // path: the file moved; name: its new name; error: 0 or why MoveFileExA failed
        RegistryValueSet,      // path "HKEY_...\\key"; name; type; data; error
        RegistryValueDeleted,  // path "HKEY_...\\key"; name ("" the default value); error
        RegistryKeyDeleted,    // path "HKEY_...\\key\\sub-key", as asked for; error
        LinkSaved,             // path: the link file; the nth LinkSaved is Links()[n]
        MessageBoxShown,       // path: caption; data: text; type; answer
        DialogShown,           // path: template name
        DialogClosed,          // path: template name
    } kind;
    JournalEntry(Kind kind, std::string path, std::string name = "", std::string data = "", DWORD type = 0)
        : kind(kind), path(std::move(path)), name(std::move(name)), data(std::move(data)), type(type)
    {
    }
    std::string path;
    std::string name;
    std::string data;
    DWORD type;
    DWORD error = 0;
    uint64_t bytes = 0;
    int answer = 0;
};
const std::vector<JournalEntry> &Journal();
// Messages waiting in the queue for a window (null: any window) within [first, last].
int QueuedMessages(HWND window, UINT first, UINT last);

// ---- Windows, for inspection and for the scripted user ------------------------------------------

HWND FindWindowByTemplate(const std::string &templateName);    // a live dialog made from that template
HWND MainWindowOfClass(const std::string &className);
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
DWORD WindowStyle(HWND window);
HWND WindowOwner(HWND window);
std::string ClassOf(HWND window);
HICON ClassIcon(const std::string &className);
std::string IconName(HICON icon);                               // the resource name an icon came from
HBRUSH ClassBackground(const std::string &className);
int EditLimit(HWND dialog, int id);                             // EM_LIMITTEXT value of an edit control
RECT WindowRect(HWND window);

// Pixels of a window's client area as the program painted them (0x00BBGGRR per pixel).
struct Pixels {
    int width = 0, height = 0;
    std::vector<COLORREF> data;
    COLORREF at(int x, int y) const { return data[size_t(y) * width + x]; }
};
Pixels WindowPixels(HWND window);
// Block copies made onto a window since the last call: destination rectangle of each BitBlt.
std::vector<RECT> TakeBlits(HWND window);

// The user's actions: they queue input the way a person's would, to be handled by the running loop.
void TypeText(HWND dialog, int id, const std::string &text);   // replaces the edit control's text
void PressButton(HWND dialog, int id);                          // a click on the button
void PressKey(HWND window, UINT virtualKey);                    // to the focused control of the window
void ClickCloseBox(HWND window);                                // the title bar's close box
void ResizeClient(HWND window, int width, int height);          // WM_SIZE, then a repaint

// The scripted user. Each hook is optional; when the program waits for something the user has no
// hook for, SimFailure is raised naming what was waiting (an unexpected box or dialog fails loudly).
struct User {
    // A message box is shown: return the button pressed (IDOK, IDCANCEL, IDYES, IDNO, ...).
    std::function<int(const MessageBoxRecord &)> onMessageBox;
    // A modal dialog from `templateName` waits for input; act on it (type, press) at least once.
    std::function<void(HWND dialog, const std::string &templateName)> onDialog;
    // The main message loop finds nothing to do; act, or the run fails as hung.
    std::function<void()> onIdle;
    // Every message the program's loops take from the queue, before it is handled.
    std::function<void(const MSG &)> onMessage;
};
void SetUser(const User &user);

}  // namespace sim
