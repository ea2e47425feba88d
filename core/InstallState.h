// The installer's one program-wide record: everything the steps of an installation share.
#pragma once

#include <windows.h>

#include "core/Payload.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"

enum {
    COPY_CHUNK_SIZE = 8192,
};

// The private messages of the installation, posted to the main window in chain order.
enum {
    WM_INSTALL_START = WM_USER,      // directory dialog, then WM_COPY_NEXT_FILE
    WM_COPY_NEXT_FILE = WM_USER + 1, // one [Files] line opened, then WM_COPY_CHUNK
    WM_COPY_CHUNK = WM_USER + 2,     // chunks copied for a while, then WM_COPY_CHUNK or WM_COPY_NEXT_FILE
    WM_COPY_DONE = WM_USER + 3,      // copy dialog closed, then WM_MAKE_SHORTCUTS
    WM_MAKE_SHORTCUTS = WM_USER + 4, // program group, then WM_REGISTER_APP
    WM_REGISTER_APP = WM_USER + 5,   // registry entries, then the work of WM_FINISH
    WM_FINISH = WM_USER + 6,         // final report, then the end
};

struct InstallState {
    HINSTANCE Instance;
    HWND MainWindow;
    HWND CopyDialog;

    // Strings loaded at start-up
    char ClassName[NAME_CAPACITY];
    char DirectoryPrompt[VALUE_CAPACITY];
    char SizeFormat[VALUE_CAPACITY];
    char FilesSection[NAME_CAPACITY];
    char GroupSection[NAME_CAPACITY];
    char InstallSection[NAME_CAPACITY];
    char RegistrationSection[NAME_CAPACITY];
    char ApplicationKey[NAME_CAPACITY];
    char BitmapKey[NAME_CAPACITY];
    char CaptionKey[NAME_CAPACITY];
    char DirectoryKey[NAME_CAPACITY];
    char SuffixesKey[NAME_CAPACITY];

    // [Install] values
    char BitmapName[VALUE_CAPACITY];
    char ApplicationName[VALUE_CAPACITY];
    char CaptionText[VALUE_CAPACITY];
    char TargetDirectory[VALUE_CAPACITY];

    // The module path, then the script path, then the current source path; its first
    // FileNameOffset characters are the installer's own directory, or, for an installer that
    // carries a payload, its own path and a backslash: then SourcePath only names an entry for the
    // messages and the log, and is never opened.
    char SourcePath[PATH_CAPACITY];
    int DriveLength;
    int FileNameOffset;
    int DotOffset;

    // The payload the installer carries after its image, checked at start-up; its File is null
    // when there is none, and then every source is a file beside the installer.
    Payload OwnPayload;

    // Background window
    char BitmapPath[VALUE_CAPACITY];
    HBITMAP BackgroundBitmap;
    int ClientWidth;
    int ClientHeight;
    HBRUSH FillBrush;
    HBRUSH BandBrush;

    // The script and the walk through it
    HGLOBAL ScriptHandle;
    char *InstallScript;
    int ScriptCursor;
    ScriptLine Line;
    int LastLineLength;
    char EntryKey[VALUE_CAPACITY];
    char EntryValue[VALUE_CAPACITY];

    // Copying. Each file is written beside its destination, into the temporary file that
    // DestinationHandle holds, and takes the destination's place once complete.
    char CopyBuffer[COPY_CHUNK_SIZE];
    HANDLE SourceHandle;
    PayloadEntry SourceEntry;      // with a payload: the source's entry, found (Name not empty) ...
    PayloadStream SourceStream;    // ... and read through this once its first chunk is due
    HANDLE DestinationHandle;
    char DestinationPath[PATH_CAPACITY];
    char TemporaryPath[PATH_CAPACITY];   // empty while no temporary file of this run exists
    char SeenDirectory[PATH_CAPACITY];   // the last directory of a destination looked through
    int SeenDirectoryEmpty;              // it held nothing: no destination there needs a test open
    int ReplacingDestination;            // the entry's destination exists: its copy goes to the disk first
    int DestinationInUse;                // ... and a running program holds it: it is moved aside first
    char AsidePath[PATH_CAPACITY];       // the old file, moved aside, while its new one is not yet in place
    DWORD ChunkBytes;
    // What the copy dialog was last told it shows: the file's percentage, the overall one (shown
    // once a file is at 100 %), and whether bytes were written since without changing either.
    LONG ToldFilePercent;
    LONG ToldOverallPercent;
    int ProgressUntold;

    // Program group and registration
    char ProgramsFolder[VALUE_CAPACITY];
    char DesktopFolder[VALUE_CAPACITY];
    char GroupFolder[VALUE_CAPACITY];
    char SuffixList[VALUE_CAPACITY];

    // What the installer's own switches ask for (all zero without them; the switches both
    // programs share are in Run), and the run's outcome for the caller
    int AllUsers;             // the program group and the desktop shortcut for every user
    char RequestedDirectory[VALUE_CAPACITY];  // proposed instead of the program-files directory
    int ExitCode;

    // Counters and flags
    int FailureCount;
    int RecordNotWritten;     // the installation record could not be written: one failure
    int CancelRequested;
    int TotalBytes;
    int CopiedBytes;
    int FileBytesDone;
    int FileBytesTotal;
};

extern InstallState State;
