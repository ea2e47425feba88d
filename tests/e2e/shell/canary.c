/* A DLL planted beside the installer under the name of one that the process loads: when the
   loader takes it, it says so in C:\planted.txt (its own path, a line each time). It exports
   nothing, so a planted copy that is loaded shows in that file whatever the process does next. */
#include <windows.h>
#include <stdio.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        char self[MAX_PATH];
        FILE *record;
        GetModuleFileNameA(instance, self, MAX_PATH);
        record = fopen("C:\\planted.txt", "ab");
        if (record != NULL) {
            fprintf(record, "%s\r\n", self);
            fclose(record);
        }
    }
    return TRUE;
}
