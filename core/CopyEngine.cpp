// The copy engine: sources beside the installer or in the payload it carries, destinations below
// TargetDirectory or in the Windows directory, the two posted steps that copy a [Files] entry chunk
// by chunk into a temporary file beside its destination and then put it in the destination's
// place, and the byte counts that the copy dialog shows, told to it whenever what it shows changes.
#include "core/CopyEngine.h"

#include <limits.h>
#include <string.h>

#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "script/TextHelpers.h"
#include "system/DirectoryChain.h"
#include "system/InstallRecord.h"
#include "system/Leftovers.h"
#include "ui/CopyDialog.h"
#include "ui/Messages.h"

enum {
    // The copy dialog's controls double as the notifications that update them.
    NOTIFY_NEW_ENTRY = IDC_COPY_ENTRY,
    NOTIFY_PROGRESS = IDC_COPY_FILE_PERCENT,
    // A destination in the Windows directory is tried this often before the user is asked.
    WINDOWS_OPEN_ATTEMPTS = 2,
    DESTINATION_PROMPT = MB_OKCANCEL | MB_ICONERROR,
    REPLACE_FLAGS = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH,
    // A copy step goes on from chunk to chunk for about this long. Each posted step costs the message
    // loop a round of calls into the window system, far more than a chunk of a file costs, yet the
    // copy dialog, its Cancel button and the main window's close box are served between two steps,
    // so this is also about the longest they wait.
    COPY_STEP_MILLISECONDS = 10,
};

static const char WINDOWS_DESTINATION_MARK = '%';
static const char PATH_SEPARATOR = '\\';
static const char PATH_SEPARATOR_TEXT[] = "\\";
static const char ANY_NAME[] = "*";
static const char THIS_DIRECTORY[] = ".";
static const char PARENT_DIRECTORY[] = "..";

enum {
    ANY_NAME_LENGTH = sizeof ANY_NAME - 1,
};

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

int OpenSource(const char *sourceName)
{
    State.SourceHandle = NULL;
    State.SourceEntry.Name[0] = '\0';
    int formed = FormSourcePath(sourceName);
    // An entry is found by its name; the path only shows it, so a cut one names no other entry.
    if (State.OwnPayload.File != NULL)
        return FindPayloadEntry(&State.OwnPayload, sourceName, &State.SourceEntry);
    if (formed != 0)
        return -1;
    HANDLE file = CreateFileA(State.SourcePath, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    State.SourceHandle = file;
    return 0;
}

int MeasureSource(void)
{
    // The directory's sizes were checked to fit an int when the payload was opened.
    if (State.OwnPayload.File != NULL)
        return (int)State.SourceEntry.InstalledSize;
    return MeasureFileSize(State.SourceHandle);
}

// Reads the source as ReadFile reads a file: an entry gives at most PAYLOAD_READ_LIMIT bytes a call,
// fewer only at its end, and its last read fails with ERROR_CRC when its checksum is wrong.
static BOOL ReadSource(void *buffer, DWORD capacity, DWORD *read)
{
    if (State.OwnPayload.File == NULL)
        return ReadFile(State.SourceHandle, buffer, capacity, read, NULL);
    // The inflater's memory is taken when the first chunk is due, not when start-up measures.
    if (State.SourceStream.File == NULL &&
        OpenPayloadEntry(&State.OwnPayload, &State.SourceEntry, &State.SourceStream) != PAYLOAD_OPENED) {
        *read = 0;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return ReadPayloadEntry(&State.SourceStream, buffer, capacity, read);
}

// The complete copy takes its source's times: a file's three, or the last write time the payload
// recorded for an entry (which has no others: the copy keeps its own creation and access times).
// Times that cannot be carried over leave a complete file with times of its own.
static void CarrySourceTimes(void)
{
    if (State.OwnPayload.File != NULL) {
        SetFileTime(State.DestinationHandle, NULL, NULL, &State.SourceEntry.WriteTime);
        return;
    }
    FILETIME creation, lastAccess, lastWrite;
    if (GetFileTime(State.SourceHandle, &creation, &lastAccess, &lastWrite))
        SetFileTime(State.DestinationHandle, &creation, &lastAccess, &lastWrite);
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

// Tells the copy dialog the byte counts as they are now, and notes what it shows from them: the
// file's percentage and, once that is 100, the overall one.
static void NotifyProgress(void)
{
    State.ToldFilePercent = ProgressPercentage(State.FileBytesDone, State.FileBytesTotal);
    if (State.ToldFilePercent == PERCENT_FULL)
        State.ToldOverallPercent = ProgressPercentage(State.CopiedBytes, State.TotalBytes);
    State.ProgressUntold = 0;
    NotifyCopyDialog(NOTIFY_PROGRESS);
}

// After a chunk: the dialog is told only when what it shows changes, so that every percentage it
// ever showed is still shown, in order, without a call into the window system for every chunk.
static void NotifyChangedProgress(void)
{
    if (State.CopyDialog == NULL)
        return;
    LONG file = ProgressPercentage(State.FileBytesDone, State.FileBytesTotal);
    if (file != State.ToldFilePercent ||
        (file == PERCENT_FULL && ProgressPercentage(State.CopiedBytes, State.TotalBytes) != State.ToldOverallPercent))
        NotifyProgress();
    else
        State.ProgressUntold = 1;
}

// Offset of the file name in `path`: just past its last backslash.
static int NameOffset(const char *path)
{
    const char *separator = strrchr(path, PATH_SEPARATOR);
    return separator == NULL ? 0 : (int)(separator - path) + 1;
}

// Moves the old file back from AsidePath to the destination's name, if it is aside. Returns 0, or
// -1 with AsidePath kept: the next run that writes in that directory puts it back.
static int PutBackAside(void)
{
    if (State.AsidePath[0] == '\0')
        return 0;
    if (!MoveFileExA(State.AsidePath, State.DestinationPath, 0))
        return -1;
    State.AsidePath[0] = '\0';
    return 0;
}

// Moves the destination aside, out of the way of its new copy, under a name no other file has: an
// older one moved aside may still be held by the program that runs from it. Returns 0 with
// AsidePath set, or -1.
static int MoveAside(void)
{
    char aside[PATH_CAPACITY];
    if (FormFreeLeftoverPath(aside, State.DestinationPath, ASIDE_SUFFIX) != 0 ||
        !MoveFileExA(State.DestinationPath, aside, 0))
        return -1;
    CopyString(State.AsidePath, PATH_CAPACITY, aside);
    return 0;
}

// An existing destination must be one that can be replaced. It is opened for writing as a test and
// closed again untouched, and noted as being replaced. A file that a running program holds (the
// editor, open while it is upgraded) cannot be opened so, but it can be renamed: it is tried by
// moving it aside and back, and noted as in use, so that its copy moves it aside before taking its
// place. Returns 0, or -1 for a file that can be neither (read-only, locked, a directory).
static int ProbeDestination(void)
{
    HANDLE existing = CreateFileA(State.DestinationPath, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  NULL);
    if (existing != INVALID_HANDLE_VALUE) {
        CloseHandle(existing);
        State.ReplacingDestination = 1;
        return 0;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return 0;
    if (error != ERROR_SHARING_VIOLATION || MoveAside() != 0)
        return -1;
    // Should the way back fail, the file stays aside and its copy takes its place all the same.
    PutBackAside();
    State.ReplacingDestination = 1;
    State.DestinationInUse = 1;
    return 0;
}

// Looks through the directory of DestinationPath once for a row of entries that share it, and
// notes whether it holds anything at all: in a new installation's directories nothing can be in a
// destination's way, and no earlier run can have left anything beside one.
static void LookAtDestinationDirectory(void)
{
    char path[PATH_CAPACITY];
    int directory = CopyChars(path, PATH_CAPACITY, State.DestinationPath, NameOffset(State.DestinationPath));
    if (strcmp(path, State.SeenDirectory) == 0)
        return;
    CopyString(State.SeenDirectory, PATH_CAPACITY, path);
    State.SeenDirectoryEmpty = 0;
    // A cut pattern could name something else: the directory counts as holding something then.
    if (AppendString(path, PATH_CAPACITY, directory, ANY_NAME) != directory + ANY_NAME_LENGTH)
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) {
        // Nothing at all is found only in a drive's root, which has no "." or "..".
        State.SeenDirectoryEmpty = GetLastError() == ERROR_FILE_NOT_FOUND;
        return;
    }
    int empty = 1;
    do {
        if (strcmp(found.cFileName, THIS_DIRECTORY) != 0 && strcmp(found.cFileName, PARENT_DIRECTORY) != 0)
            empty = 0;
    } while (empty && FindNextFileA(search, &found));
    FindClose(search);
    State.SeenDirectoryEmpty = empty;
}

// Checks that the destination in DestinationPath can be replaced, then opens its temporary file,
// empty, into DestinationHandle. Returns 0, or -1 with DestinationHandle null and TemporaryPath empty.
static int OpenTemporaryFile(void)
{
    State.DestinationHandle = NULL;
    State.ReplacingDestination = 0;
    State.DestinationInUse = 0;
    LookAtDestinationDirectory();
    // What earlier runs ended by force left beside this destination is settled first; what lies
    // beside other files is not this run's to touch.
    if (!State.SeenDirectoryEmpty)
        SettleLeftovers(State.DestinationPath);
    // In a directory that held nothing, a destination with a name cannot be in the way.
    int tested = !State.SeenDirectoryEmpty || State.DestinationPath[NameOffset(State.DestinationPath)] == '\0';
    if ((tested && ProbeDestination() != 0) ||
        FormLeftoverPath(State.TemporaryPath, State.DestinationPath, TEMPORARY_SUFFIX) != 0)
        return -1;
    HANDLE file = CreateFileA(State.TemporaryPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN,
                              NULL);
    if (file == INVALID_HANDLE_VALUE) {
        State.TemporaryPath[0] = '\0';
        return -1;
    }
    State.DestinationHandle = file;
    return 0;
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

// Forms DestinationPath for the destination part in EntryValue and opens the temporary file that
// will take its place into DestinationHandle. Returns 0, or -1 with DestinationHandle null.
static int OpenDestination(HWND window, int windowsDestination)
{
    if (windowsDestination) {
        // The Windows directory is the system's own: no directory is created there.
        for (int attempt = 0; attempt < WINDOWS_OPEN_ATTEMPTS; attempt++) {
            if (FormWindowsDestination(State.EntryValue) == 0 && OpenTemporaryFile() == 0)
                return 0;
        }
    } else {
        // At most 127 + 1 + 127 characters: always fits.
        int length = CopyString(State.DestinationPath, PATH_CAPACITY, State.TargetDirectory);
        length = AppendString(State.DestinationPath, PATH_CAPACITY, length, PATH_SEPARATOR_TEXT);
        AppendString(State.DestinationPath, PATH_CAPACITY, length, State.EntryValue);
        // A directory that cannot be made has been shown already; the open below then fails too.
        CreateDirectoryChain(State.Instance, State.ClassName, window, State.DestinationPath);
        if (OpenTemporaryFile() == 0)
            return 0;
    }
    State.DestinationHandle = NULL;
    return -1;
}

void CloseSource(void)
{
    if (State.SourceHandle != NULL && State.SourceHandle != INVALID_HANDLE_VALUE)
        CloseHandle(State.SourceHandle);
    State.SourceHandle = NULL;
    // A stream never opened, or closed already, is left as it is.
    ClosePayloadEntry(&State.SourceStream);
    State.SourceEntry.Name[0] = '\0';
}

// Closes the files of the current entry, whatever state they are in.
static void CloseEntryFiles(void)
{
    CloseSource();
    if (State.DestinationHandle != NULL && State.DestinationHandle != INVALID_HANDLE_VALUE)
        CloseHandle(State.DestinationHandle);
    State.DestinationHandle = NULL;
}

void DiscardEntryCopy(void)
{
    CloseEntryFiles();
    // One that cannot be put back now is put back by the next run that writes in its directory.
    PutBackAside();
    if (State.TemporaryPath[0] != '\0') {
        // One that cannot be deleted now is a leftover that the next run removes.
        DeleteFileA(State.TemporaryPath);
        State.TemporaryPath[0] = '\0';
    }
}

// For the log: an entry given up, and why.
static void LogNotCopied(const char *reason)
{
    LogLine("File not copied: %s (%s)", State.DestinationPath, reason);
}

// A read, write or replace error: the entry given up, then shown with `path` and counted.
static void AbandonEntry(HWND window, UINT id, const char *path, const char *reason)
{
    DiscardEntryCopy();
    ShowMessageFormatted(State.Instance, State.ClassName, window, id, path, MB_ICONERROR);
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
    if (OpenSource(SplitEntryValue(State.EntryValue)) != 0) {
        // Start-up has already shown this source as missing.
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
    int size = MeasureSource();
    State.FileBytesTotal = size > 0 ? size : 0;
    NotifyProgress();
    PostMessageA(window, WM_COPY_CHUNK, 0, 0);
}

// The old file, moved aside for good: deleted now if its program has ended, otherwise at the next
// restart where the system lets this process ask for it; the next run that writes in its directory
// deletes it too. Neither is a failure.
static void DisposeOfAside(void)
{
    if (DeleteFileA(State.AsidePath))
        LogLine("File in use moved aside and deleted: %s", State.AsidePath);
    else if (MoveFileExA(State.AsidePath, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
        LogLine("File in use moved aside: %s (deleted at the next restart)", State.AsidePath);
    else
        LogLine("File in use moved aside: %s (its deletion at the next restart could not be arranged, error %lu; "
                "the next run removes it)",
                State.AsidePath, GetLastError());
    State.AsidePath[0] = '\0';
}

// The copy is complete: it takes the source's times and the destination's place in one step, so that
// the destination is at every moment the old file or the whole new one. When it replaces a file it
// goes to the disk first, so that a power cut never trades the old file for bytes still in memory;
// a new file is left to the system, as any program's (flushing each of many small files would
// double the time a new installation takes). A file in use is moved aside just before. Returns 0,
// or -1 with the temporary file closed but still there, and the old file perhaps still aside: the
// entry is given up then (DiscardEntryCopy), which puts it back.
static int ReplaceDestination(void)
{
    CarrySourceTimes();
    BOOL flushed = !State.ReplacingDestination || FlushFileBuffers(State.DestinationHandle);
    CloseHandle(State.DestinationHandle);
    State.DestinationHandle = NULL;
    if (!flushed)
        return -1;
    // The probe may have left it aside already.
    if (State.DestinationInUse && State.AsidePath[0] == '\0' && MoveAside() != 0)
        return -1;
    if (!MoveFileExA(State.TemporaryPath, State.DestinationPath, REPLACE_FLAGS))
        return -1;
    State.TemporaryPath[0] = '\0';
    if (State.AsidePath[0] != '\0')
        DisposeOfAside();
    return 0;
}

// The file now in DestinationPath, for the installation record, as the uninstaller will find it
// unless somebody changes it: its size and last write time.
static void RecordCopiedFile(void)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(State.DestinationPath, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    FindClose(search);
    RecordFile(State.DestinationPath, State.ReplacingDestination, found.nFileSizeLow, &found.ftLastWriteTime);
}

// One chunk of at most COPY_CHUNK_SIZE bytes from the source to the temporary file. Returns 1 after
// a full chunk (more may follow), 0 when the chunk completed the file, -1 when the entry was given up
// for a read or write error (shown and counted).
static int CopyOneChunk(HWND window)
{
    if (!ReadSource(State.CopyBuffer, COPY_CHUNK_SIZE, &State.ChunkBytes)) {
        AbandonEntry(window, IDS_CANNOT_READ_S, State.SourcePath, "its source cannot be read");
        return -1;
    }
    // A read of 0 bytes (the end of the file) writes nothing and tells nothing.
    if (State.ChunkBytes > 0) {
        DWORD read = State.ChunkBytes;
        // A short write would pass for the end of the file: it is a failure like any other.
        if (!WriteFile(State.DestinationHandle, State.CopyBuffer, read, &State.ChunkBytes, NULL) ||
            State.ChunkBytes != read) {
            AbandonEntry(window, IDS_CANNOT_WRITE_S, State.DestinationPath, "it cannot be written");
            return -1;
        }
        // The counts saturate: a total beyond 2 GiB must never show as negative.
        AddFileSize(&State.FileBytesDone, (int)State.ChunkBytes);
        AddFileSize(&State.CopiedBytes, (int)State.ChunkBytes);
        NotifyChangedProgress();
    }
    return State.ChunkBytes == COPY_CHUNK_SIZE ? 1 : 0;
}

void CopyChunk(HWND window)
{
    if (State.CancelRequested) {
        DiscardEntryCopy();
        LogNotCopied("the copy was cancelled");
        State.FailureCount++;
        PostMessageA(window, WM_COPY_DONE, 0, 0);
        return;
    }

    // Chunk after chunk until the file ends or the step has had its time; the difference of two
    // tick counts is right across the counter's wrap.
    DWORD started = GetTickCount();
    int more;
    do {
        more = CopyOneChunk(window);
    } while (more > 0 && GetTickCount() - started < COPY_STEP_MILLISECONDS);
    if (more < 0) {
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }
    if (more > 0) {
        PostMessageA(window, WM_COPY_CHUNK, 0, 0);
        return;
    }

    // The dialog ends the file with the counts as they are.
    if (State.ProgressUntold)
        NotifyProgress();
    if (ReplaceDestination() != 0) {
        AbandonEntry(window, IDS_CANNOT_WRITE_S, State.DestinationPath, "the copy cannot take its place");
        PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
        return;
    }
    CloseSource();
    LogLine("File copied: %s (%d bytes)", State.DestinationPath, State.FileBytesDone);
    RecordCopiedFile();
    PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
}
