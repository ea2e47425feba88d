// Any file as the installation record, read by the whole uninstaller on the stand-in, silently, as
// a deployment tool runs it. Whatever the record says, the removal ends removed, to be completed
// at a restart, or failed; it gives back what it took; and it never touches a file outside the
// installation, even one whose size and time the record gives exactly.
#include <windows.h>

#include <stdint.h>

#include <string>

#include "FuzzWorld.h"

extern "C" int WINAPI UninstallerMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace {

const char OUTSIDE[] = "C:\\Users\\me\\letter.txt";
const char OUTSIDE_KEY[] = "Software\\Outside";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ResetSandbox("uninstall");
    // An installation's files, and a user's file and key that no record may make it touch.
    sim::PutFile("C:\\Quillet\\Quillet.exe", "editor");
    sim::PutFile("C:\\Quillet\\help\\Quillet.hlp", "help");
    sim::PutFile(OUTSIDE, "my letter");
    FILETIME time = { 0x01020304, 0x01D00000 };
    sim::PutFileTimes(OUTSIDE, time, time, time);
    sim::RegPutString(HKEY_LOCAL_MACHINE, OUTSIDE_KEY, "", "mine");
    sim::PutFile("C:\\WINDOWS\\Quillet.rec", std::string((const char *)data, size));
    sim::SetModulePath("C:\\WINDOWS\\Unquil.exe");
    sim::SetCommandLine("C:\\WINDOWS\\Unquil.exe /S /C:\\Quillet");
    sim::SetUser(sim::User());

    int exitCode;
    try {
        exitCode = UninstallerMain(sim::Instance(), nullptr, nullptr, SW_SHOWNORMAL);
    } catch (const sim::ProcessExit &exit) {
        exitCode = (int)exit.code;
    }
    Require(exitCode == ERROR_SUCCESS || exitCode == 3010 || exitCode == ERROR_INSTALL_FAILURE,
            "a silent removal ended with a code other than removed, restart or failed");
    Require(sim::GetFile(OUTSIDE) == std::string("my letter"), "a file outside the installation was touched");
    Require(sim::RegGet(HKEY_LOCAL_MACHINE, OUTSIDE_KEY, "").has_value(), "a key outside the installation was touched");
    Require(sim::OpenFileHandles() == 0, "a file left open");
    Require(sim::OpenRegistryKeys() == 0, "a registry key left open");
    Require(sim::LiveGlobalBlocks() == 0, "a memory block left allocated");
    Require(sim::LiveHeapBlocks() == 0, "a heap block left allocated");
    return 0;
}
