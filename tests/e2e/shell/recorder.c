/* Stands in for a program that the shell starts (the editor, its uninstaller, a planted
   C:\Program.exe): appends to C:\recorded.txt one line with its own path and its arguments as the
   C runtime splits them, joined by '|', so that a check sees who was started and with what. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

static const char RECORD_FILE[] = "C:\\recorded.txt";

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    char self[MAX_PATH];
    FILE *record;
    int i;
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    GetModuleFileNameA(NULL, self, MAX_PATH);
    record = fopen(RECORD_FILE, "ab");
    if (record == NULL)
        return 1;
    fputs(self, record);
    for (i = 1; i < __argc; i++)
        fprintf(record, "|%s", __argv[i]);
    fputs("\r\n", record);
    fclose(record);
    return 0;
}
