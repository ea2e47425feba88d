/* A client of the Windows shell for the end-to-end checks:
     shellrun VERB FILE [DIRECTORY]   ShellExecuteEx with that verb ("-" for the default one), in
                                      DIRECTORY as the current one, and waits for what it started;
     shellrun find FILE               FindExecutable: the program the shell would open FILE with.
   Prints one line with the result; exits 0 when the shell did what was asked. */
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <stdio.h>
#include <string.h>

enum { WAIT_LIMIT_MS = 60000 };

/* Waits for every process this one has started. Wine's shell gives no process handle for what a
   shortcut starts (it starts it itself, from this process), so those are found as children. One
   child is not the shortcut's: Wine's desktop process (explorer.exe), started by the first process
   that needs the desktop when none runs, which lives on until the prefix shuts down. */
static DWORD WaitForChildren(char *late, size_t lateSize)
{
    DWORD result = WAIT_OBJECT_0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;
    BOOL more;
    if (snapshot == INVALID_HANDLE_VALUE)
        return result;
    entry.dwSize = sizeof entry;
    for (more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        HANDLE child;
        if (entry.th32ParentProcessID != GetCurrentProcessId() || entry.th32ProcessID == GetCurrentProcessId() ||
            lstrcmpiA(entry.szExeFile, "explorer.exe") == 0)
            continue;
        child = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (child == NULL)
            continue;
        if (WaitForSingleObject(child, WAIT_LIMIT_MS) != WAIT_OBJECT_0) {
            result = WAIT_TIMEOUT;
            lstrcpynA(late, entry.szExeFile, (int)lateSize);
        }
        CloseHandle(child);
    }
    CloseHandle(snapshot);
    return result;
}

int main(int argc, char **argv)
{
    if (argc == 3 && strcmp(argv[1], "find") == 0) {
        char program[MAX_PATH] = "";
        INT_PTR result = (INT_PTR)FindExecutableA(argv[2], NULL, program);
        printf("find %s: %ld %s\n", argv[2], (long)result, program);
        return result > 32 ? 0 : 1;
    }
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: shellrun VERB|- FILE [DIRECTORY] | shellrun find FILE\n");
        return 2;
    }
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = strcmp(argv[1], "-") == 0 ? NULL : argv[1];
    info.lpFile = argv[2];
    info.lpDirectory = argc == 4 ? argv[3] : NULL;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExA(&info)) {
        printf("%s %s: error %lu\n", argv[1], argv[2], GetLastError());
        return 1;
    }
    DWORD waited;
    char late[MAX_PATH] = "the program started";
    if (info.hProcess != NULL) {
        waited = WaitForSingleObject(info.hProcess, WAIT_LIMIT_MS);
        CloseHandle(info.hProcess);
    } else {
        waited = WaitForChildren(late, sizeof late);
    }
    if (waited == WAIT_OBJECT_0)
        printf("%s %s: started and ended\n", argv[1], argv[2]);
    else
        printf("%s %s: still running (%s)\n", argv[1], argv[2], late);
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}
