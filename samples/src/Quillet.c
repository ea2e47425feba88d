/* Stand-in for the editor in the demo distribution: says which file it would open. */
#include <windows.h>

enum { MESSAGE_CAPACITY = 512 };

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    char message[MESSAGE_CAPACITY];
    (void)instance;
    (void)previous;
    (void)show;
    if (commandLine[0] != '\0')
        wsprintfA(message, "This stand-in of Quillet would open:\n%.400s", commandLine);
    else
        lstrcpynA(message, "This stand-in of Quillet would open an empty page.", MESSAGE_CAPACITY);
    MessageBoxA(NULL, message, "Quillet", MB_OK | MB_ICONINFORMATION);
    return 0;
}
