// The copy engine: source paths beside the installer, destinations below TargetDirectory or in
// the Windows directory, the two posted steps that copy a [Files] entry chunk by chunk, and the
// byte counts that the copy dialog shows.
#include "core/CopyEngine.h"

#include <limits.h>
#include <string.h>

#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "system/DirectoryChain.h"
#include "ui/Messages.h"

enum {
    // The copy dialog's controls double as the notifications that update them.
    NOTIFY_NEW_ENTRY = IDC_COPY_ENTRY,
    NOTIFY_PROGRESS = IDC_COPY_FILE_PERCENT,
    // A destination in the Windows directory is tried this often before the user is asked.
    WINDOWS_OPEN_ATTEMPTS = 2,
    DESTINATION_PROMPT = MB_OKCANCEL | MB_ICONERROR,
};

static const char WINDOWS_DESTINATION_MARK = '%';
static const char PATH_SEPARATOR = '\\';
static const char PATH_SEPARATOR_TEXT[] = "\\";

char *SplitEntryValue(char *value)
{
    char *semicolon = strrchr(value, ';');
    if (semicolon == NULL)
        return value;
    *semicolon = '\0';
    return semicolon + 1;
}

int FormSourcePath(const char *sourceName)
{
    int count = (int)strlen(sourceName);
    int length = AppendChars(State.SourcePath, PATH_CAPACITY, State.FileNameOffset, sourceName, count);
    // A cut path could name another file: it is never opened.
    return length == State.FileNameOffset + count ? 0 : -1;
}

void AddFileSize(int *total, int size)
{
    if (size <= 0)
        return;
    *total = (*total > INT_MAX - size) ? INT_MAX : *total + size;
}

// Tells the copy dialog what the fields now hold; a run without the dialog (a silent one) spends
// nothing on it.
static void NotifyCopyDialog(WPARAM notification)
{
    if (State.CopyDialog != NULL)
        SendMessageA(State.CopyDialog, WM_COMMAND, notification, 0);
}

static HANDLE OpenDestinationFile(void)
{
    return CreateFileA(State.DestinationPath, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

// DestinationPath = the Windows directory, a backslash unless it ends with one, `destination`.
// Returns 0, or -1 when the directory cannot be had or the whole path would not fit: a cut path
// could name another file, so it is never opened.
static int FormWindowsDestination(const char *destination)
{
    UINT length = GetWindowsDirectoryA(State.DestinationPath, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) {
        // The buffer holds nothing usable then; the prompt names at least the file.
        CopyString(State.DestinationPath, PATH_CAPACITY, destination);
        return -1;
    }
    int separator = State.DestinationPath[length - 1] != PATH_SEPARATOR;
    int needed = (int)length + separator + (int)strlen(destination);
    int formed = (int)length;
    if (separator)
        formed = AppendString(State.DestinationPath, PATH_CAPACITY, formed, PATH_SEPARATOR_TEXT);
    formed = AppendString(State.DestinationPath, PATH_CAPACITY, formed, destination);
    return formed == needed ? 0 : -1;
}

// Forms DestinationPath for the destination part in EntryValue and opens it into
// DestinationHandle. Returns 0, or -1 with DestinationHandle null.
static int OpenDestination(HWND window, int windowsDestination)
{
    if (windowsDestination) {
        // The Windows directory is the system's own: no directory is created there.
        for (int attempt = 0; attempt < WINDOWS_OPEN_ATTEMPTS; attempt++) {
            if (FormWindowsDestination(State.EntryValue) != 0)
                continue;
            State.DestinationHandle = OpenDestinationFile();
            if (State.DestinationHandle != INVALID_HANDLE_VALUE)
                return 0;
        }
    } else {
        // At most 127 + 1 + 127 characters: always fits.
        int length = CopyString(State.DestinationPath, PATH_CAPACITY, State.TargetDirectory);
        length = AppendString(State.DestinationPath, PATH_CAPACITY, length, PATH_SEPARATOR_TEXT);
        AppendString(State.DestinationPath, PATH_CAPACITY, length, State.EntryValue);
        // A directory that cannot be made has been shown already; the open below then fails too.
        CreateDirectoryChain(State.Instance, State.ClassName, window, State.DestinationPath);
        State.DestinationHandle = OpenDestinationFile();
        if (State.DestinationHandle != INVALID_HANDLE_VALUE)
            return 0;
    }
    State.DestinationHandle = NULL;
    return -1;
}

static void CloseSource(void)
{
    if (State.SourceHandle != NULL && State.SourceHandle != INVALID_HANDLE_VALUE)
        CloseHandle(State.SourceHandle);
    State.SourceHandle = NULL;
}

// Closes the files of the current entry, whatever state they are in.
static void CloseEntryFiles(void)
{
    CloseSource();
    if (State.DestinationHandle != NULL && State.DestinationHandle != INVALID_HANDLE_VALUE)
        CloseHandle(State.DestinationHandle);
    State.DestinationHandle = NULL;
}

void AbandonCopy(void)
{
    CloseEntryFiles();
}

// For the log: an entry given up, and why.
static void LogNotCopied(const char *reason)
{
    LogLine("File not copied: %s (%s)", State.DestinationPath, reason);
}

// A read or write error: shown with `path`, the entry's files closed as they are, and counted.
static void AbandonEntry(HWND window, UINT id, const char *path, const char *reason)
{
    ShowMessageFormatted(State.Instance, State.ClassName, window, id, path, MB_ICONERROR);
    CloseEntryFiles();
    LogNotCopied(reason);
    State.FailureCount++;
}

void CopyNextFile(HWND window)
{
    State.ScriptCursor += State.LastLineLength;
    const char *line = State.InstallScript + State.ScriptCursor;
    State.LastLineLength = ParseScriptLine(line, &State.Line);
    if (State.LastLineLength == 0) {
        PostMessageA(window, WM_COPY_DONE, 0, 0);
        return;
    }
    // Blank lines and comments cost a step of their own.
    if (State.Line.KeyLength == 0 && State.Line.ValueLength == 0) {
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }

    int windowsDestination = State.Line.ValueLength > 0 && State.Line.ValueStart[0] == WINDOWS_DESTINATION_MARK;
    if (windowsDestination) {
        State.Line.ValueStart++;
        State.Line.ValueLength--;
    }
    CopyChars(State.EntryKey, VALUE_CAPACITY, line, State.Line.KeyLength);
    CopyChars(State.EntryValue, VALUE_CAPACITY, State.Line.ValueStart, State.Line.ValueLength);
    NotifyCopyDialog(NOTIFY_NEW_ENTRY);

    // From here EntryValue holds the destination part alone.
    const char *sourceName = SplitEntryValue(State.EntryValue);
    State.SourceHandle = INVALID_HANDLE_VALUE;
    if (FormSourcePath(sourceName) == 0)
        State.SourceHandle = CreateFileA(State.SourcePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (State.SourceHandle == INVALID_HANDLE_VALUE) {
        // Start-up has already shown this source as missing.
        State.SourceHandle = NULL;
        LogLine("File not copied: %s (its source %s cannot be opened)", State.EntryValue, State.SourcePath);
        State.FailureCount++;
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }

    if (OpenDestination(window, windowsDestination) != 0) {
        CloseSource();
        State.FailureCount++;
        int answer = ShowMessageFormatted(State.Instance, State.ClassName, window, IDS_CANNOT_OPEN_S,
                                          State.DestinationPath, DESTINATION_PROMPT);
        LogNotCopied("it cannot be opened");
        if (answer == IDCANCEL) {
            PostMessageA(window, WM_FINISH, 0, 0);
            return;
        }
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }

    State.FileBytesDone = 0;
    // A size that cannot be measured shows as an empty file rather than a negative one.
    int size = MeasureFileSize(State.SourceHandle);
    State.FileBytesTotal = size > 0 ? size : 0;
    NotifyCopyDialog(NOTIFY_PROGRESS);
    PostMessageA(window, WM_COPY_CHUNK, 0, 0);
}

// The copied file is complete: an older, longer destination is cut to the copied length, then it
// takes the source's times. Returns 0, or -1 when the destination could not be cut.
static int CompleteDestination(void)
{
    // Writing went sequentially from the start, so the file position is the copied length.
    if (!SetEndOfFile(State.DestinationHandle))
        return -1;
    FILETIME creation, lastAccess, lastWrite;
    // Times that cannot be carried over leave a complete file with times of its own.
    if (GetFileTime(State.SourceHandle, &creation, &lastAccess, &lastWrite))
        SetFileTime(State.DestinationHandle, &creation, &lastAccess, &lastWrite);
    return 0;
}

void CopyChunk(HWND window)
{
    if (State.CancelRequested) {
        // What was written so far stays.
        CloseEntryFiles();
        LogNotCopied("the copy was cancelled");
        State.FailureCount++;
        PostMessageA(window, WM_COPY_DONE, 0, 0);
        return;
    }

    if (!ReadFile(State.SourceHandle, State.CopyBuffer, COPY_CHUNK_SIZE, &State.ChunkBytes, NULL)) {
        AbandonEntry(window, IDS_CANNOT_READ_S, State.SourcePath, "its source cannot be read");
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }

    // A read of 0 bytes (the end of the file) writes nothing and tells nothing.
    if (State.ChunkBytes > 0) {
        DWORD read = State.ChunkBytes;
        // A short write would pass for the end of the file: it is a failure like any other.
        if (!WriteFile(State.DestinationHandle, State.CopyBuffer, read, &State.ChunkBytes, NULL) ||
            State.ChunkBytes != read) {
            AbandonEntry(window, IDS_CANNOT_WRITE_S, State.DestinationPath, "it cannot be written");
            PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
            return;
        }
        // The counts saturate: a total beyond 2 GiB must never show as negative.
        AddFileSize(&State.FileBytesDone, (int)State.ChunkBytes);
        AddFileSize(&State.CopiedBytes, (int)State.ChunkBytes);
        NotifyCopyDialog(NOTIFY_PROGRESS);
    }

    if (State.ChunkBytes == COPY_CHUNK_SIZE) {
        PostMessageA(window, WM_COPY_CHUNK, 0, 0);
        return;
    }

    if (CompleteDestination() != 0) {
        AbandonEntry(window, IDS_CANNOT_WRITE_S, State.DestinationPath, "it cannot be written");
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }
    CloseEntryFiles();
    LogLine("File copied: %s (%d bytes)", State.DestinationPath, State.FileBytesDone);
    PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
}
