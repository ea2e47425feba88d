// Any file as the background bitmap: the loader either makes a bitmap that paints and is deleted,
// or shows exactly one message; it never reads or writes outside what it was given, and every
// file, block and device context it took is given back.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "SimControl.h"
#include "core/InstallState.h"
#include "resources/resource.h"
#include "ui/Background.h"

namespace {

const char BITMAP_PATH[] = "C:\\DIST\\fuzz.bmp";
const char WINDOW_CLASS[] = "FuzzBackdrop";
// An odd client size, so that the last column and row of tiles are cut.
const int CLIENT_WIDTH = 97;
const int CLIENT_HEIGHT = 61;

HWND window;
std::string sandbox;

void Require(bool condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "FuzzBitmapLoader: %s\n", what);
        abort();
    }
}

LRESULT CALLBACK BackdropProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SIZE: return BackgroundSize(handle, wParam, lParam);
    case WM_ERASEBKGND: return BackgroundErase(handle, wParam, lParam);
    case WM_PAINT: return BackgroundPaint(handle, wParam, lParam);
    default: return DefWindowProcA(handle, message, wParam, lParam);
    }
}

void RemoveSandbox()
{
    sim::Reset(sandbox);
    for (const char *folder : { "/C/WINDOWS", "/C/DIST", "/C", "" })
        rmdir((sandbox + folder).c_str());
}

// One world for the whole run: the window and the user who answers every box stay.
void Prepare()
{
    if (window != NULL)
        return;
    const char *temp = getenv("TMPDIR");
    sandbox = std::string(temp != nullptr ? temp : "/tmp") + "/quillet-fuzz-bitmap-" + std::to_string(getpid());
    sim::Reset(sandbox);
    atexit(RemoveSandbox);

    State.Instance = sim::Instance();
    LoadStringA(State.Instance, IDS_CLASS_NAME, State.ClassName, NAME_CAPACITY);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = BackdropProc;
    windowClass.hInstance = State.Instance;
    windowClass.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_APPWORKSPACE + 1);
    windowClass.lpszClassName = WINDOW_CLASS;
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, WINDOW_CLASS, "", WS_POPUP, 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT, NULL, NULL,
                             State.Instance, NULL);
    Require(window != NULL, "the test window cannot be made");

    sim::User user;
    user.onMessageBox = [](const sim::MessageBoxRecord &) { return IDOK; };
    sim::SetUser(user);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Prepare();
    sim::PutFile(BITMAP_PATH, std::string((const char *)data, size));

    int objectsBefore = sim::LiveGdiObjects();
    HDC dc = GetDC(window);
    LONG width = 0, height = 0;
    HBITMAP bitmap = LoadBitmapFile(State.Instance, State.ClassName, window, BITMAP_PATH, dc, &width, &height);
    ReleaseDC(window, dc);

    Require(sim::OpenFileHandles() == 0, "the file was left open");
    Require(sim::LiveGlobalBlocks() == 0, "a memory block was left allocated");
    Require(sim::MessageBoxes().size() == (bitmap == NULL ? 1u : 0u), "not exactly one message for a failure");
    if (bitmap != NULL) {
        Require(width > 0 && height != 0, "a bitmap of no size");
        State.BackgroundBitmap = bitmap;
        Require(BackgroundPaint(window, 0, 0) == 0, "painting did not answer 0");
        Require(!sim::TakeBlits(window).empty(), "a bitmap that paints nothing");
        DeleteBackground();
    }
    Require(sim::LiveGdiObjects() == objectsBefore, "a bitmap was left undeleted");
    Require(sim::LiveDeviceContexts() == 0, "a device context was left");

    sim::ClearRecords();
    return 0;
}
