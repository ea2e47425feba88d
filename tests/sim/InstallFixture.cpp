#include "InstallFixture.h"

#include <cstring>

#include "resources/resource.h"

const char EXAMPLE_SCRIPT[] =
    "; Install script of the editor\r\n"
    "[Install]\r\n"
    "Application=Quillet\r\n"
    "Caption=Quillet installation\r\n"
    "Directory=C:\\Quillet\r\n"
    "Bitmap=setup.bmp\r\n"
    "\r\n"
    "[Files]\r\n"
    "; label=destination;source\r\n"
    "Editor=Quillet.exe\r\n"
    "Help=help\\Quillet.hlp;Quillet.hlp\r\n"
    "Read me=readme.txt\r\n"
    "Uninstaller=%Unquil.exe\r\n"
    "\r\n"
    "[Group]\r\n"
    "Quillet.lnk=Quillet.exe,Text editor,%Quillet.exe,0\r\n"
    "Read me.lnk=readme.txt,Read me first,,0\r\n"
    "\r\n"
    "[Registration]\r\n"
    "Suffixes=txt log ini\r\n";

namespace {

const DWORD ONE_CHUNK_A_STEP_MICROSECONDS = 10000;

const char *StepName(UINT message)
{
    switch (message) {
    case WM_INSTALL_START: return "INSTALL_START";
    case WM_COPY_NEXT_FILE: return "COPY_NEXT_FILE";
    case WM_COPY_CHUNK: return "COPY_CHUNK";
    case WM_COPY_DONE: return "COPY_DONE";
    case WM_MAKE_SHORTCUTS: return "MAKE_SHORTCUTS";
    case WM_REGISTER_APP: return "REGISTER_APP";
    case WM_FINISH: return "FINISH";
    default: return nullptr;
    }
}

}  // namespace

std::string MakeBitmapFile(int width, int height, COLORREF color)
{
    int stride = ((width * 24 + 31) / 32) * 4;
    std::string pixels;
    for (int y = 0; y < height; y++) {
        std::string row;
        for (int x = 0; x < width; x++) {
            row += (char)GetBValue(color);
            row += (char)GetGValue(color);
            row += (char)GetRValue(color);
        }
        row.resize(stride, '\0');
        pixels += row;
    }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + (DWORD)pixels.size();
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = (DWORD)pixels.size();
    return std::string((const char *)&file, sizeof file) + std::string((const char *)&info, sizeof info) + pixels;
}

void InstallTest::SetUp()
{
    SimTest::SetUp();
    ResetRun();
}

void InstallTest::ResetRun()
{
    onDirectory = [](HWND dialog) { sim::PressButton(dialog, IDC_DIRECTORY_INSTALL); };
    onRegistration = [](HWND dialog) { sim::PressButton(dialog, IDC_REGISTRATION_YES); };
    onBox = [](const sim::MessageBoxRecord &box) {
        return (box.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    };
    onMessage = nullptr;
    onIdle = nullptr;
    mainWindow = nullptr;
    twoStepsPending = false;
    badParameters = false;
}

void InstallTest::LayOutExample(const std::string &script)
{
    sim::PutFile("C:\\DIST\\SETUP.inf", script);
    sim::PutFile("C:\\DIST\\Quillet.exe", std::string(20000, 'Q'));
    sim::PutFile("C:\\DIST\\Quillet.hlp", "help text");
    sim::PutFile("C:\\DIST\\readme.txt", "Read me first.\r\n");
    sim::PutFile("C:\\DIST\\Unquil.exe", std::string(8192, 'U'));
    sim::PutFile("C:\\DIST\\setup.bmp", MakeBitmapFile(64, 48, RGB(10, 120, 200)));
    sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                      "C:\\Program Files");
    sim::RegPutString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                      "Programs", "C:\\Users\\me\\Start Menu\\Programs");
    sim::RegPutString(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                      "Desktop", "C:\\Users\\me\\Desktop");
    sim::PutFile("C:\\Users\\me\\Start Menu\\Programs\\placeholder", "");
    sim::PutFile("C:\\Users\\me\\Desktop\\placeholder", "");
    sim::PutFile("C:\\WINDOWS\\Quillet.cfg", "settings");
}

int InstallTest::Run(const std::string &arguments)
{
    sim::User user;
    user.onMessageBox = [this](const sim::MessageBoxRecord &box) { return onBox(box); };
    user.onDialog = [this](HWND dialog, const std::string &name) {
        if (name == "DIRECTORY")
            onDirectory(dialog);
        else if (name == "REGISTRATION")
            onRegistration(dialog);
        else
            ADD_FAILURE() << "unexpected modal dialog " << name;
    };
    user.onMessage = [this](const MSG &msg) {
        if (msg.message >= WM_INSTALL_START && msg.message <= WM_FINISH) {
            mainWindow = msg.hwnd;
            if (msg.wParam != 0 || msg.lParam != 0)
                badParameters = true;
            if (sim::QueuedMessages(nullptr, WM_INSTALL_START, WM_FINISH) != 0)
                twoStepsPending = true;
        }
        if (onMessage)
            onMessage(msg);
    };
    if (onIdle)
        user.onIdle = onIdle;
    sim::SetUser(user);
    // A disk on which every read and write takes a copy step's whole time, so that each step copies
    // one chunk and a run passes through every chunk's state, as an installation from a slow medium
    // does; the copy engine's own tests show steps of many chunks.
    sim::SetFileCallDuration(ONE_CHUNK_A_STEP_MICROSECONDS);
    std::string commandLine = arguments;
    try {
        return WinMain(sim::Instance(), nullptr, &commandLine[0], SW_SHOWNORMAL);
    } catch (const sim::ProcessExit &exit) {
        return (int)exit.code;
    }
}

std::vector<std::string> InstallTest::PostedSteps() const
{
    std::vector<std::string> steps;
    for (const sim::TraceEntry &entry : sim::Trace()) {
        if (entry.kind == sim::TraceEntry::Post) {
            if (const char *name = StepName(entry.message))
                steps.push_back(name);
        }
    }
    return steps;
}
