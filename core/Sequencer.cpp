// The installation sequencer. Each private message is one step; a step posts its successor as its
// last act, so at most one step is pending, and the message loop serves the dialogs in between.
#include "core/Sequencer.h"

#include "core/CopyEngine.h"
#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "core/RunFrame.h"
#include "resources/resource.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"
#include "system/Registration.h"
#include "system/Shortcuts.h"
#include "ui/Background.h"
#include "ui/CopyDialog.h"
#include "ui/DirectoryDialog.h"
#include "ui/Messages.h"

// The editor's settings, removed after a clean installation so that it starts afresh.
static const char CONFIGURATION_FILE[] = "Quillet.cfg";
static const char PATH_SEPARATOR[] = "\\";

// WM_INSTALL_START: the directory, then the copy dialog and the first entry.
static void StartInstallation(HWND window)
{
    if (RunDirectoryDialog(window) == IDC_DIRECTORY_CANCEL) {
        DestroyWindow(window);
        return;
    }
    if (FindScriptSection(State.Instance, State.ClassName, window, State.FilesSection, TRUE, State.InstallScript,
                          &State.ScriptCursor) != 0) {
        State.FailureCount++;
        PostMessageA(window, WM_FINISH, 0, 0);
        return;
    }
    // A record that cannot be kept in memory leaves the installation itself as it was.
    if (BeginInstallRecord(State.TargetDirectory) != 0)
        LogLine("Installation record not kept: out of memory");
    State.CopyDialog = CreateCopyDialog(window);
    State.CancelRequested = 0;
    State.CopiedBytes = 0;
    State.LastLineLength = 0;
    PostMessageA(window, WM_COPY_NEXT_FILE, 0, 0);
}

// WM_COPY_DONE: the copy dialog goes; a cancelled copy skips shortcuts and registration.
static void CloseCopyDialog(HWND window)
{
    // A silent run had none.
    if (State.CopyDialog != NULL)
        DestroyWindow(State.CopyDialog);
    State.CopyDialog = NULL;
    PostMessageA(window, State.CancelRequested ? WM_FINISH : WM_MAKE_SHORTCUTS, 0, 0);
}

// Deletes the editor's configuration file from the Windows directory; a missing file is no failure.
static void DeleteConfigurationFile(void)
{
    char path[PATH_CAPACITY];
    UINT length = GetWindowsDirectoryA(path, PATH_CAPACITY);
    if (length == 0 || length > PATH_CAPACITY)
        return;
    int directory = CopyString(path, PATH_CAPACITY, path);
    int at = AppendString(path, PATH_CAPACITY, directory, PATH_SEPARATOR);
    at = AppendString(path, PATH_CAPACITY, at, CONFIGURATION_FILE);
    // A cut path would name some other file: delete nothing then.
    if (at != directory + (int)(sizeof PATH_SEPARATOR - 1) + (int)(sizeof CONFIGURATION_FILE - 1))
        return;
    if (DeleteFileA(path))
        LogLine("File deleted: %s", path);
}

void StopForFailedLog(void)
{
    if (!Run.Silent)
        ShowMessageFormatted(State.Instance, State.ClassName, State.MainWindow, IDS_CANNOT_WRITE_S, Run.LogPath,
                             MB_ICONERROR);
    DiscardEntryCopy();
    ExitProcess(ERROR_INSTALL_FAILURE);
}

void KeepInstallRecord(void)
{
    // Tried again at each call, counted once.
    if (SaveInstallRecord() != ERROR_SUCCESS && !State.RecordNotWritten) {
        State.RecordNotWritten = 1;
        State.FailureCount++;
    }
}

// The work of WM_DESTROY: the main window may be closed while a file is being copied, and that
// copy is given up first, and what the run did so far is kept in the record. Then the backdrop goes
// and the message loop ends with the run's exit code.
static void EndInstallation(void)
{
    DiscardEntryCopy();
    KeepInstallRecord();
    EndInstallRecord();
    DeleteBackground();
    PostQuitMessage(State.ExitCode);
}

void FinishInstallation(HWND window)
{
    // Whatever the outcome: the files a cancelled or failed run replaced are the new ones now.
    KeepInstallRecord();
    UINT report = State.CancelRequested ? IDS_REPORT_ABANDONED_S
                  : State.FailureCount != 0 ? IDS_REPORT_FAILED_S
                                            : IDS_REPORT_DONE_S;
    // What the caller of the installer is told: the codes deployment tools already know.
    State.ExitCode = report == IDS_REPORT_DONE_S     ? ERROR_SUCCESS
                     : report == IDS_REPORT_FAILED_S ? ERROR_INSTALL_FAILURE
                                                     : ERROR_INSTALL_USEREXIT;
    ShowMessageFormatted(State.Instance, State.CaptionText, window, report, State.ApplicationName,
                         MB_OK | MB_ICONINFORMATION);
    if (report == IDS_REPORT_DONE_S)
        DeleteConfigurationFile();
    EndInstallation();
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return BackgroundCreate(window, wParam, lParam);
    case WM_SIZE:
        return BackgroundSize(window, wParam, lParam);
    case WM_ERASEBKGND:
        return BackgroundErase(window, wParam, lParam);
    case WM_PAINT:
        return BackgroundPaint(window, wParam, lParam);
    case WM_INSTALL_START:
        StartInstallation(window);
        return 0;
    case WM_COPY_NEXT_FILE:
        CopyNextFile(window);
        return 0;
    case WM_COPY_CHUNK:
        CopyChunk(window);
        return 0;
    case WM_COPY_DONE:
        CloseCopyDialog(window);
        return 0;
    case WM_MAKE_SHORTCUTS:
        MakeShortcuts(window);
        return 0;
    case WM_REGISTER_APP:
        RegisterApplication(window);
        return 0;
    case WM_FINISH:
        FinishInstallation(window);
        return 0;
    case WM_DESTROY:
        EndInstallation();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
