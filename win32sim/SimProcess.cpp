// win32sim process services: named mutexes, the end of the process, the local time, the system
// directory and the one system DLL the program loads by path (version.dll) with its calls.
#include <windows.h>

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <map>

#include "SimInternal.h"

namespace {

// Handles of this module lie in a range of their own, far from files and memory blocks.
const uintptr_t FIRST_MUTEX = 0x70000000;
const uintptr_t VERSION_MODULE = 0x7c800000;
const char VERSION_DLL[] = "\\version.dll";
const char SYSTEM_FOLDER[] = "\\system32";
// The one string table the stand-in's version information has: U.S. English, Unicode.
const WORD VERSION_LANGUAGE = 0x0409;
const WORD VERSION_CODE_PAGE = 0x04B0;
const char VERSION_MAGIC[] = "win32sim version information";
// The translation follows the magic at a DWORD boundary, as the real block keeps its values aligned.
const size_t VERSION_HEADER_SIZE = 32;

struct Process {
    std::map<uintptr_t, std::string> mutexHandles;  // handle: name, in lower case
    uintptr_t nextMutex = FIRST_MUTEX;
    std::map<std::string, std::map<std::string, std::string>> versionInfo;  // by path in lower case
    int versionModuleLoads = 0;
};

Process &TheProcess()
{
    static Process process;
    return process;
}

// The block GetFileVersionInfoA hands out: the magic, the translation, then name NUL value NUL pairs.
std::string VersionBlock(const std::map<std::string, std::string> &strings)
{
    std::string block(VERSION_MAGIC, sizeof VERSION_MAGIC);
    block.resize(VERSION_HEADER_SIZE, '\0');
    WORD translation[2] = { VERSION_LANGUAGE, VERSION_CODE_PAGE };
    block.append((const char *)translation, sizeof translation);
    for (const auto &entry : strings)
        block += sim::detail::Lower(entry.first) + '\0' + entry.second + '\0';
    block += '\0';
    return block;
}

const std::map<std::string, std::string> *VersionOf(LPCSTR fileName)
{
    if (fileName == nullptr)
        return nullptr;
    auto found = TheProcess().versionInfo.find(sim::detail::Lower(fileName));
    return found == TheProcess().versionInfo.end() ? nullptr : &found->second;
}

DWORD WINAPI SimGetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle)
{
    if (handle != nullptr)
        *handle = 0;
    struct stat info;
    if (fileName == nullptr || stat(sim::HostPath(fileName).c_str(), &info) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    const auto *strings = VersionOf(fileName);
    if (strings == nullptr) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return 0;
    }
    return (DWORD)VersionBlock(*strings).size();
}

BOOL WINAPI SimGetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD size, LPVOID data)
{
    const auto *strings = VersionOf(fileName);
    if (strings == nullptr || data == nullptr) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    std::string block = VersionBlock(*strings);
    if (size < block.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(data, block.data(), block.size());
    return TRUE;
}

// "\VarFileInfo\Translation" and "\StringFileInfo\040904b0\NAME", the names without regard to case.
BOOL WINAPI SimVerQueryValueA(LPCVOID data, LPCSTR subBlock, LPVOID *value, PUINT length)
{
    const char *block = (const char *)data;
    if (block == nullptr || subBlock == nullptr || memcmp(block, VERSION_MAGIC, sizeof VERSION_MAGIC) != 0)
        return FALSE;
    const char *translation = block + VERSION_HEADER_SIZE;
    std::string wanted = sim::detail::Lower(subBlock);
    if (wanted == "\\varfileinfo\\translation") {
        *value = (LPVOID)translation;
        *length = 2 * sizeof(WORD);
        return TRUE;
    }
    const std::string table = "\\stringfileinfo\\040904b0\\";
    if (wanted.compare(0, table.size(), table) != 0)
        return FALSE;
    std::string name = wanted.substr(table.size());
    for (const char *at = translation + 2 * sizeof(WORD); *at != '\0';) {
        const char *text = at + strlen(at) + 1;
        if (name == at) {
            *value = (LPVOID)text;
            *length = (UINT)strlen(text) + 1;
            return TRUE;
        }
        at = text + strlen(text) + 1;
    }
    return FALSE;
}

std::string SystemDirectory()
{
    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows, length < MAX_PATH ? length : 0) + SYSTEM_FOLDER;
}

}  // namespace

namespace sim::detail {

void ResetProcess()
{
    TheProcess() = Process();
}

bool CloseMutexHandle(HANDLE handle)
{
    return TheProcess().mutexHandles.erase((uintptr_t)handle) != 0;
}

FARPROC VersionProcAddress(HMODULE module, LPCSTR name)
{
    if ((uintptr_t)module != VERSION_MODULE || TheProcess().versionModuleLoads == 0 || name == nullptr)
        return nullptr;
    if (strcmp(name, "GetFileVersionInfoSizeA") == 0)
        return (FARPROC)(void (*)(void))SimGetFileVersionInfoSizeA;
    if (strcmp(name, "GetFileVersionInfoA") == 0)
        return (FARPROC)(void (*)(void))SimGetFileVersionInfoA;
    if (strcmp(name, "VerQueryValueA") == 0)
        return (FARPROC)(void (*)(void))SimVerQueryValueA;
    return nullptr;
}

}  // namespace sim::detail

namespace sim {

void PutFileVersionInfo(const std::string &windowsPath, const std::map<std::string, std::string> &strings)
{
    TheProcess().versionInfo[detail::Lower(windowsPath)] = strings;
}

int LoadedLibraries()
{
    return TheProcess().versionModuleLoads;
}

}  // namespace sim

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name)
{
    Process &process = TheProcess();
    bool exists = false;
    std::string key = name != nullptr ? sim::detail::Lower(name) : std::string();
    for (const auto &entry : process.mutexHandles)
        exists = exists || (!key.empty() && entry.second == key);
    uintptr_t handle = process.nextMutex;
    process.nextMutex += 4;
    process.mutexHandles[handle] = key;
    SetLastError(exists ? ERROR_ALREADY_EXISTS : 0);
    return (HANDLE)handle;
}

void WINAPI ExitProcess(UINT exitCode)
{
    throw sim::ProcessExit{ exitCode };
}

void WINAPI GetLocalTime(LPSYSTEMTIME time)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    time->wYear = (WORD)(local.tm_year + 1900);
    time->wMonth = (WORD)(local.tm_mon + 1);
    time->wDayOfWeek = (WORD)local.tm_wday;
    time->wDay = (WORD)local.tm_mday;
    time->wHour = (WORD)local.tm_hour;
    time->wMinute = (WORD)local.tm_min;
    time->wSecond = (WORD)local.tm_sec;
    time->wMilliseconds = (WORD)(now.tv_nsec / 1000000);
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    std::string path = SystemDirectory();
    if (buffer == nullptr || size <= path.size())
        return (UINT)path.size() + 1;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (UINT)path.size();
}

// Only version.dll of the system directory exists; anything else is not found.
HMODULE WINAPI LoadLibraryA(LPCSTR fileName)
{
    if (fileName != nullptr && sim::detail::Lower(fileName) == sim::detail::Lower(SystemDirectory() + VERSION_DLL)) {
        TheProcess().versionModuleLoads++;
        SetLastError(0);
        return (HMODULE)VERSION_MODULE;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    if ((uintptr_t)module != VERSION_MODULE || TheProcess().versionModuleLoads == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    TheProcess().versionModuleLoads--;
    return TRUE;
}

}  // extern "C"
