// Any file as the install script of a whole installation on the stand-in: start-up's [Install]
// and [Files] passes, the copy engine's walk, the [Group] walk with its fields and icon index,
// and the [Registration] suffixes, all in the product's own code. A user who accepts everything
// answers every dialog and box, so every walk runs to its end.
#include <windows.h>

#include <stdint.h>

#include <string>

#include "FuzzWorld.h"
#include "resources/resource.h"

namespace {

const char SHELL_FOLDERS[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The example distribution around the script under test.
void LayOut(const uint8_t *data, size_t size)
{
    ResetSandbox("installation");
    sim::PutFile("C:\\DIST\\SETUP.inf", std::string((const char *)data, size));
    sim::PutFile("C:\\DIST\\Quillet.exe", std::string(9000, 'Q'));
    sim::PutFile("C:\\DIST\\Quillet.hlp", "help");
    sim::PutFile("C:\\DIST\\readme.txt", "read me");
    sim::PutFile("C:\\DIST\\Unquil.exe", "unquil");
    sim::PutFile("C:\\Programs\\placeholder", "");
    sim::PutFile("C:\\Desktop\\placeholder", "");
    sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Programs", "C:\\Programs");
    sim::RegPutString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", "C:\\Desktop");
    sim::RegPutString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                      "C:\\Program Files");
}

sim::User AcceptingUser()
{
    sim::User user;
    user.onMessageBox = [](const sim::MessageBoxRecord &box) {
        return (box.type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    };
    user.onDialog = [](HWND dialog, const std::string &name) {
        sim::PressButton(dialog, name == "REGISTRATION" ? IDC_REGISTRATION_YES : IDC_DIRECTORY_INSTALL);
    };
    return user;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    LayOut(data, size);
    sim::SetUser(AcceptingUser());
    char commandLine[] = "";
    int exitCode = WinMain(sim::Instance(), nullptr, commandLine, SW_SHOWNORMAL);
    // A user who accepts everything never ends the run: it is installed, or it failed.
    Require(exitCode == ERROR_SUCCESS || exitCode == ERROR_INSTALL_FAILURE,
            "the installer ended with a code other than installed or failed");
    // Whatever the script, an installation gives back what it took.
    Require(sim::OpenFileHandles() == 0, "a file left open");
    Require(sim::OpenRegistryKeys() == 0, "a registry key left open");
    Require(sim::LiveGlobalBlocks() == 0, "a memory block left allocated");
    Require(sim::LiveHeapBlocks() == 0, "a key chain node left allocated");
    Require(sim::ComInitialisations() == 0 && sim::LiveComObjects() == 0, "COM left initialised");
    Require(sim::LiveGdiObjects() == 0, "a brush or bitmap left undeleted");
    return 0;
}
