/* Stand-in for the uninstaller in the demo distribution: removes nothing, says so. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    MessageBoxA(NULL, "This stand-in of the Quillet uninstaller removes nothing.", "Unquil",
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
