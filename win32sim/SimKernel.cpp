// win32sim kernel: Windows paths mapped into a sandbox folder, file handles over POSIX files,
// movable global memory, the heap, the last error, and the fault injection for all of them.
#include <windows.h>
#include <direct.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "SimInternal.h"

namespace {

struct FileTimes {
    FILETIME creation, access, write;
};

struct OpenFile {
    int fd = -1;
    std::string windowsPath;
    std::string hostPath;  // where the file it holds is now: it follows the file when the stand-in moves it
    DWORD access = 0;
    DWORD share = 0;
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;
};

// A directory listing of FindFirstFileA, taken whole when the search starts.
struct FindSearch {
    std::string directoryHost;
    std::vector<std::string> names;
    size_t next = 0;
};

struct GlobalBlock {
    void *memory = nullptr;
    size_t size = 0;
    int locks = 0;
    bool discarded = false;
};

struct PathFault {
    std::string filter;
    DWORD error = 0;
    int times = -1;
    uint64_t afterBytes = 0;
};

// A Windows folder or file shown from a host path, read-only: root ("C", "UNC") and components in
// lower case.
struct PathMapping {
    std::string root;
    std::vector<std::string> parts;
    std::string hostPath;
};

struct World {
    std::string sandbox;
    std::string modulePath = "C:\\DIST\\SETUP.EXE";
    std::string windowsDirectory = "C:\\WINDOWS";
    std::string currentDirectory = "C:\\DIST";
    std::optional<std::string> commandLine;  // none: the module path in quotes
    std::string commandLineBuffer;           // what GetCommandLineA hands out
    LANGID language = 1033;
    int screenWidth = 1024, screenHeight = 768;
    DWORD lastError = 0;

    std::map<uintptr_t, OpenFile> files;
    uintptr_t nextFile = 0x100;
    std::map<uintptr_t, FindSearch> searches;
    uintptr_t nextSearch = 0x8000;
    std::map<uintptr_t, GlobalBlock> blocks;
    uintptr_t nextBlock = 0x10000;
    std::map<void *, size_t> heapBlocks;
    std::map<std::string, FILETIME> creationTimes;  // by host path: Linux keeps none of its own
    std::set<std::string> runningPrograms;          // by host path: the files of programs that run
    std::vector<std::string> restartDeletions;      // MOVEFILE_DELAY_UNTIL_REBOOT, as asked
    DWORD restartDeletionRefusal = 0;
    // SwapAtDelete: at the first deletion asked for the item, the directory is swapped for a junction.
    std::string swapItem, swapDirectory, swapTarget;

    std::vector<PathFault> openFaults, readFaults, writeFaults, directoryFaults, seekFaults, moveFaults, flushFaults,
        removeDirectoryFaults;
    std::vector<std::string> directoryCalls;
    std::vector<PathMapping> mappings;
    int globalAllocCountdown = 0, globalLockCountdown = 0, heapAllocCountdown = 0;

    bool kernelHasDefaultDllDirectories = true;
    DWORD defaultDllDirectories = 0;

    // The simulated clock: GetTickCount's count at the start, the time passed since, and the time
    // each ReadFile and WriteFile takes.
    DWORD startTicks = 0;
    uint64_t elapsedMicroseconds = 0;
    DWORD fileCallMicroseconds = 0;
};

// The one system module the program looks into, at an address no other handle uses.
const uintptr_t KERNEL_MODULE = 0x7b400000;

World &TheWorld()
{
    static World world;
    return world;
}

// Fault countdown: 0 is off; otherwise the call that brings it to 0 fails.
bool CountdownFires(int &countdown)
{
    if (countdown <= 0)
        return false;
    return --countdown == 0;
}

PathFault *MatchFault(std::vector<PathFault> &faults, const std::string &windowsPath)
{
    for (auto &fault : faults) {
        if (fault.times != 0 && sim::detail::FilterMatches(fault.filter, windowsPath))
            return &fault;
    }
    return nullptr;
}

bool ConsumeFault(std::vector<PathFault> &faults, const std::string &windowsPath, DWORD *error)
{
    PathFault *fault = MatchFault(faults, windowsPath);
    if (fault == nullptr)
        return false;
    if (fault->times > 0)
        fault->times--;
    *error = fault->error;
    return true;
}

void RemoveTree(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (dir == nullptr) {
        unlink(path.c_str());
        return;
    }
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string child = path + "/" + name;
        struct stat info;
        if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            RemoveTree(child);
        else
            unlink(child.c_str());
    }
    closedir(dir);
    rmdir(path.c_str());
}

void MakeHostDirectories(const std::string &hostPath)
{
    for (size_t at = 1; at <= hostPath.size(); at++) {
        if (at == hostPath.size() || hostPath[at] == '/')
            mkdir(hostPath.substr(0, at).c_str(), 0777);
    }
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// The absolute form of a Windows path: "X:\a\b", or "\\server\share\a". Relative paths and
// drive-relative paths are resolved against the current directory.
std::string AbsoluteWindowsPath(const std::string &path)
{
    World &w = TheWorld();
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]))
        return path;
    if (path.size() >= 2 && path[1] == ':') {
        if (path.size() >= 3 && IsSeparator(path[2]))
            return path;
        std::string base = w.currentDirectory;
        if (!base.empty() && toupper((unsigned char)base[0]) == toupper((unsigned char)path[0]))
            return base + (base.back() == '\\' ? "" : "\\") + path.substr(2);
        return path.substr(0, 2) + "\\" + path.substr(2);
    }
    if (!path.empty() && IsSeparator(path[0]))
        return w.currentDirectory.substr(0, 2) + path;
    std::string base = w.currentDirectory;
    return base + (base.back() == '\\' ? "" : "\\") + path;
}

// Splits an absolute Windows path into its root folder in the sandbox and its components.
void SplitWindowsPath(const std::string &absolute, std::string *root, std::vector<std::string> *parts)
{
    size_t at;
    if (absolute.size() >= 2 && IsSeparator(absolute[0]) && IsSeparator(absolute[1])) {
        *root = "UNC";
        at = 2;
    } else {
        *root = std::string(1, (char)toupper((unsigned char)absolute[0]));
        at = 2;
    }
    std::string part;
    for (; at <= absolute.size(); at++) {
        if (at == absolute.size() || IsSeparator(absolute[at])) {
            if (!part.empty() && part != ".") {
                if (part == "..") {
                    if (!parts->empty())
                        parts->pop_back();
                } else {
                    parts->push_back(part);
                }
            }
            part.clear();
        } else {
            part += absolute[at];
        }
    }
}

// The mapping that covers a path split by SplitWindowsPath, the longest one; null when none does.
const PathMapping *MappingOf(const std::string &root, const std::vector<std::string> &parts)
{
    const PathMapping *best = nullptr;
    for (const PathMapping &mapping : TheWorld().mappings) {
        if (mapping.root != root || mapping.parts.size() > parts.size())
            continue;
        if (best != nullptr && best->parts.size() >= mapping.parts.size())
            continue;
        bool covers = true;
        for (size_t i = 0; i < mapping.parts.size() && covers; i++)
            covers = sim::detail::Lower(parts[i]) == mapping.parts[i];
        if (covers)
            best = &mapping;
    }
    return best;
}

// True when the Windows path lies in a mapped, read-only folder or is a mapped file.
bool IsMappedPath(const std::string &windowsPath)
{
    std::string root;
    std::vector<std::string> parts;
    SplitWindowsPath(AbsoluteWindowsPath(windowsPath), &root, &parts);
    return MappingOf(root, parts) != nullptr;
}

// The sandbox path for a Windows path. Components are matched without regard to case against
// what exists, as Windows does; missing ones keep the spelling given.
std::string HostPathOf(const std::string &windowsPath)
{
    std::string root;
    std::vector<std::string> parts;
    SplitWindowsPath(AbsoluteWindowsPath(windowsPath), &root, &parts);
    std::string host = TheWorld().sandbox + "/" + root;
    size_t first = 0;
    if (const PathMapping *mapping = MappingOf(root, parts)) {
        host = mapping->hostPath;
        first = mapping->parts.size();
    }
    for (size_t index = first; index < parts.size(); index++) {
        const std::string &part = parts[index];
        std::string candidate = host + "/" + part;
        struct stat info;
        if (lstat(candidate.c_str(), &info) != 0) {
            if (DIR *dir = opendir(host.c_str())) {
                std::string lower = sim::detail::Lower(part);
                while (dirent *entry = readdir(dir)) {
                    if (sim::detail::Lower(entry->d_name) == lower) {
                        candidate = host + "/" + entry->d_name;
                        break;
                    }
                }
                closedir(dir);
            }
        }
        host = candidate;
    }
    return host;
}

// The Windows error for a path that cannot be used at all, or 0.
DWORD CheckWindowsPath(const std::string &path)
{
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    if (path.size() >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    std::string absolute = AbsoluteWindowsPath(path);
    for (size_t i = 0; i < absolute.size(); i++) {
        unsigned char c = (unsigned char)absolute[i];
        bool driveColon = (i == 1 && c == ':');
        if (c < 32 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*' || (c == ':' && !driveColon))
            return ERROR_INVALID_NAME;
    }
    return 0;
}

bool HostIsDirectory(const std::string &hostPath)
{
    struct stat info;
    return stat(hostPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether a name is taken: a link whose target is gone takes its name as well.
bool HostExists(const std::string &hostPath)
{
    struct stat info;
    return lstat(hostPath.c_str(), &info) == 0;
}

// Reparse points are host symbolic links. A junction's link is made with a trailing slash in its
// target, so that it still tells a directory when the target is gone, as a junction does.
bool IsDirectoryLink(const std::string &hostPath)
{
    char target[PATH_MAX];
    ssize_t length = readlink(hostPath.c_str(), target, sizeof target);
    if (length > 0 && target[length - 1] == '/')
        return true;
    return HostIsDirectory(hostPath);  // a link made otherwise, in a folder MapPath shows
}

// The attributes of what lies at a host path itself (a reparse point, not what it leads to), as
// Windows reports them; INVALID_FILE_ATTRIBUTES when nothing does.
DWORD HostAttributes(const std::string &hostPath)
{
    struct stat info;
    if (lstat(hostPath.c_str(), &info) != 0)
        return INVALID_FILE_ATTRIBUTES;
    if (S_ISLNK(info.st_mode))
        return FILE_ATTRIBUTE_REPARSE_POINT | (IsDirectoryLink(hostPath) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE);
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
}

bool IsDirectoryEntry(const std::string &hostPath)
{
    DWORD attributes = HostAttributes(hostPath);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool HostIsOpen(const std::string &hostPath)
{
    for (auto &entry : TheWorld().files) {
        if (entry.second.hostPath == hostPath)
            return true;
    }
    return false;
}

// Windows' wildcards over a name, without regard to case: '*' any run of characters, '?' one.
bool WildcardMatches(const char *pattern, const char *name)
{
    if (*pattern == '\0')
        return *name == '\0';
    if (*pattern == '*')
        return WildcardMatches(pattern + 1, name) || (*name != '\0' && WildcardMatches(pattern, name + 1));
    if (*name == '\0')
        return false;
    if (*pattern != '?' && tolower((unsigned char)*pattern) != tolower((unsigned char)*name))
        return false;
    return WildcardMatches(pattern + 1, name + 1);
}

std::string ParentOf(const std::string &hostPath)
{
    size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? hostPath : hostPath.substr(0, slash);
}

bool EndsWithSeparator(const std::string &path)
{
    return !path.empty() && IsSeparator(path.back());
}

// 100-nanosecond intervals since 1601 <-> timespec
const uint64_t EPOCH_DIFFERENCE = 116444736000000000ULL;

FILETIME ToFileTime(const timespec &time)
{
    uint64_t ticks = (uint64_t)time.tv_sec * 10000000ULL + (uint64_t)time.tv_nsec / 100 + EPOCH_DIFFERENCE;
    return FILETIME{ (DWORD)ticks, (DWORD)(ticks >> 32) };
}

timespec ToTimespec(const FILETIME &time)
{
    uint64_t ticks = ((uint64_t)time.dwHighDateTime << 32) | time.dwLowDateTime;
    uint64_t unixTicks = ticks > EPOCH_DIFFERENCE ? ticks - EPOCH_DIFFERENCE : 0;
    timespec result;
    result.tv_sec = (time_t)(unixTicks / 10000000ULL);
    result.tv_nsec = (long)(unixTicks % 10000000ULL) * 100;
    return result;
}

OpenFile *FileOf(HANDLE handle)
{
    auto found = TheWorld().files.find((uintptr_t)handle);
    return found == TheWorld().files.end() ? nullptr : &found->second;
}

DWORD ErrnoToWin32(int error)
{
    switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EISDIR: case EROFS: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENOSPC: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    default: return ERROR_ACCESS_DENIED;
    }
}

bool Fails(DWORD error)
{
    TheWorld().lastError = error;
    return false;
}

}  // namespace

namespace sim::detail {

void Fail(const std::string &what)
{
    throw SimFailure("win32sim: " + what);
}

std::string Lower(const std::string &text)
{
    std::string lower = text;
    for (char &c : lower)
        c = (char)tolower((unsigned char)c);
    return lower;
}

bool FilterMatches(const std::string &filter, const std::string &text)
{
    return filter.empty() || Lower(text).find(Lower(filter)) != std::string::npos;
}

LANGID Language()
{
    return TheWorld().language;
}

int ScreenWidth()
{
    return TheWorld().screenWidth;
}

int ScreenHeight()
{
    return TheWorld().screenHeight;
}

void ResetKernel()
{
    World &w = TheWorld();
    for (auto &entry : w.files)
        close(entry.second.fd);
    for (auto &entry : w.blocks)
        free(entry.second.memory);
    for (auto &entry : w.heapBlocks)
        free(entry.first);
    std::string sandbox = w.sandbox;
    w = World();
    w.sandbox = sandbox;
}

}  // namespace sim::detail

namespace sim {

void Reset(const std::string &sandboxDirectory)
{
    detail::ResetCom();
    detail::ResetRegistry();
    detail::ResetGdi();
    detail::ResetWindows();
    detail::ResetUser();
    detail::ResetResources();
    detail::ResetProcess();
    TheWorld().sandbox = sandboxDirectory;
    detail::ResetKernel();
    RemoveTree(sandboxDirectory);
    MakeHostDirectories(sandboxDirectory + "/C/WINDOWS");
    MakeHostDirectories(sandboxDirectory + "/C/DIST");
}

std::string Sandbox()
{
    return TheWorld().sandbox;
}

std::string HostPath(const std::string &windowsPath)
{
    return HostPathOf(windowsPath);
}

HINSTANCE Instance()
{
    return (HINSTANCE)(uintptr_t)0x400000;
}

void SetModulePath(const std::string &path)
{
    TheWorld().modulePath = path;
}

void MapPath(const std::string &windowsPath, const std::string &hostPath)
{
    PathMapping mapping;
    SplitWindowsPath(AbsoluteWindowsPath(windowsPath), &mapping.root, &mapping.parts);
    for (std::string &part : mapping.parts)
        part = detail::Lower(part);
    mapping.hostPath = hostPath;
    TheWorld().mappings.push_back(mapping);
}

void SetWindowsDirectory(const std::string &path)
{
    TheWorld().windowsDirectory = path;
}

void SetCurrentDirectory(const std::string &path)
{
    TheWorld().currentDirectory = path;
}

void SetCommandLine(const std::string &commandLine)
{
    TheWorld().commandLine = commandLine;
}

void SetLanguage(LANGID language)
{
    TheWorld().language = language;
}

void SetKernelLacksDefaultDllDirectories()
{
    TheWorld().kernelHasDefaultDllDirectories = false;
}

DWORD DefaultDllDirectories()
{
    return TheWorld().defaultDllDirectories;
}

void SetScreenSize(int width, int height)
{
    TheWorld().screenWidth = width;
    TheWorld().screenHeight = height;
}

void SetTickCount(DWORD ticks)
{
    TheWorld().startTicks = ticks;
    TheWorld().elapsedMicroseconds = 0;
}

void AdvanceClock(DWORD milliseconds)
{
    TheWorld().elapsedMicroseconds += (uint64_t)milliseconds * 1000;
}

void SetFileCallDuration(DWORD microseconds)
{
    TheWorld().fileCallMicroseconds = microseconds;
}

void PutFile(const std::string &windowsPath, const std::string &bytes)
{
    std::string host = HostPathOf(windowsPath);
    MakeHostDirectories(ParentOf(host));
    FILE *file = fopen(host.c_str(), "wb");
    if (file == nullptr)
        detail::Fail("cannot write test file " + host);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

std::optional<std::string> GetFile(const std::string &windowsPath)
{
    std::string host = HostPathOf(windowsPath);
    if (HostIsDirectory(host))
        return std::nullopt;
    FILE *file = fopen(host.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string bytes;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

bool DirectoryExists(const std::string &windowsPath)
{
    return HostIsDirectory(HostPathOf(windowsPath));
}

void PutFileTimes(const std::string &windowsPath, const FILETIME &creation, const FILETIME &access, const FILETIME &write)
{
    std::string host = HostPathOf(windowsPath);
    timespec times[2] = { ToTimespec(access), ToTimespec(write) };
    utimensat(AT_FDCWD, host.c_str(), times, 0);
    TheWorld().creationTimes[host] = creation;
}

bool GetFileTimes(const std::string &windowsPath, FILETIME *creation, FILETIME *access, FILETIME *write)
{
    std::string host = HostPathOf(windowsPath);
    struct stat info;
    if (stat(host.c_str(), &info) != 0)
        return false;
    auto known = TheWorld().creationTimes.find(host);
    *creation = known != TheWorld().creationTimes.end() ? known->second : ToFileTime(info.st_mtim);
    *access = ToFileTime(info.st_atim);
    *write = ToFileTime(info.st_mtim);
    return true;
}

static void MakeLink(const std::string &windowsPath, const std::string &target)
{
    std::string host = HostPathOf(windowsPath);
    MakeHostDirectories(ParentOf(host));
    if (symlink(target.c_str(), host.c_str()) != 0)
        detail::Fail("cannot make link " + host + " to " + target);
}

void MakeJunction(const std::string &windowsPath, const std::string &targetWindowsPath)
{
    MakeLink(windowsPath, HostPathOf(targetWindowsPath) + "/");
}

void MakeSymbolicLinkFile(const std::string &windowsPath, const std::string &targetWindowsPath)
{
    MakeLink(windowsPath, HostPathOf(targetWindowsPath));
}

void SwapAtDelete(const std::string &itemWindowsPath, const std::string &directoryWindowsPath,
                  const std::string &targetWindowsPath)
{
    World &w = TheWorld();
    w.swapItem = HostPathOf(itemWindowsPath);
    w.swapDirectory = directoryWindowsPath;
    w.swapTarget = targetWindowsPath;
}

void FailOpen(const std::string &pathContains, DWORD error, int times)
{
    TheWorld().openFaults.push_back({ pathContains, error, times, 0 });
}

void FailRead(const std::string &pathContains, uint64_t afterBytes, DWORD error)
{
    TheWorld().readFaults.push_back({ pathContains, error, -1, afterBytes });
}

void FailWrite(const std::string &pathContains, uint64_t afterBytes, DWORD error)
{
    TheWorld().writeFaults.push_back({ pathContains, error, -1, afterBytes });
}

void FailCreateDirectory(const std::string &pathContains, DWORD error, int times)
{
    TheWorld().directoryFaults.push_back({ pathContains, error, times, 0 });
}

void FailSeek(const std::string &pathContains)
{
    TheWorld().seekFaults.push_back({ pathContains, ERROR_INVALID_PARAMETER, -1, 0 });
}

void FailMove(const std::string &pathContains, DWORD error, int times)
{
    TheWorld().moveFaults.push_back({ pathContains, error, times, 0 });
}

void FailRemoveDirectory(const std::string &pathContains, DWORD error, int times)
{
    TheWorld().removeDirectoryFaults.push_back({ pathContains, error, times, 0 });
}

void RunProgram(const std::string &windowsPath)
{
    TheWorld().runningPrograms.insert(HostPathOf(windowsPath));
}

void EndPrograms()
{
    TheWorld().runningPrograms.clear();
}

std::vector<std::string> RestartDeletions()
{
    return TheWorld().restartDeletions;
}

void FailRestartDeletion(DWORD error)
{
    TheWorld().restartDeletionRefusal = error;
}

void FailFlush(const std::string &pathContains, DWORD error)
{
    TheWorld().flushFaults.push_back({ pathContains, error, -1, 0 });
}

void FailGlobalAlloc(int nth)
{
    TheWorld().globalAllocCountdown = nth;
}

void FailGlobalLock(int nth)
{
    TheWorld().globalLockCountdown = nth;
}

void FailHeapAlloc(int nth)
{
    TheWorld().heapAllocCountdown = nth;
}

int OpenFileHandles()
{
    return (int)(TheWorld().files.size() + TheWorld().searches.size());
}

int LiveGlobalBlocks()
{
    return (int)TheWorld().blocks.size();
}

int LockedGlobalBlocks()
{
    int locked = 0;
    for (auto &entry : TheWorld().blocks)
        locked += entry.second.locks > 0;
    return locked;
}

int LiveHeapBlocks()
{
    return (int)TheWorld().heapBlocks.size();
}

const std::vector<std::string> &CreateDirectoryCalls()
{
    return TheWorld().directoryCalls;
}

}  // namespace sim

// ---- The Win32 calls ----------------------------------------------------------------------------

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return TheWorld().lastError;
}

DWORD WINAPI GetTickCount(void)
{
    // Milliseconds, wrapping at 2^32 as the system's count does after 49.7 days.
    return TheWorld().startTicks + (DWORD)(TheWorld().elapsedMicroseconds / 1000);
}

void WINAPI SetLastError(DWORD error)
{
    TheWorld().lastError = error;
}

LANGID WINAPI GetUserDefaultUILanguage(void)
{
    return TheWorld().language;
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR fileName, DWORD size)
{
    const std::string &path = TheWorld().modulePath;
    if (size == 0)
        return 0;
    if (path.size() >= size) {
        // Cut and terminated, as Windows does since Vista.
        memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        TheWorld().lastError = ERROR_INSUFFICIENT_BUFFER;
        return size;
    }
    memcpy(fileName, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

// One buffer for the process, as Windows keeps one: it moves only when a test changes the line.
// By default the line follows the module path.
LPSTR WINAPI GetCommandLineA(void)
{
    World &w = TheWorld();
    std::string line = w.commandLine ? *w.commandLine : "\"" + w.modulePath + "\"";
    if (line != w.commandLineBuffer)
        w.commandLineBuffer = line;
    return &w.commandLineBuffer[0];
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    if (moduleName != NULL && sim::detail::Lower(moduleName) == "kernel32.dll")
        return (HMODULE)KERNEL_MODULE;
    TheWorld().lastError = ERROR_MOD_NOT_FOUND;
    return NULL;
}

static BOOL WINAPI SimSetDefaultDllDirectories(DWORD flags)
{
    // Windows refuses flags outside the search directories' bits.
    const DWORD known = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                        LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    if (flags == 0 || (flags & ~known) != 0) {
        TheWorld().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    TheWorld().defaultDllDirectories = flags;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName)
{
    if ((uintptr_t)module == KERNEL_MODULE && procName != NULL && TheWorld().kernelHasDefaultDllDirectories &&
        strcmp(procName, "SetDefaultDllDirectories") == 0)
        return (FARPROC)(void (*)(void))SimSetDefaultDllDirectories;
    if (FARPROC version = sim::detail::VersionProcAddress(module, procName))
        return version;
    TheWorld().lastError = module == NULL ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND;
    return NULL;
}

// Sharing: every open handle on the file must allow this access, and this open must allow theirs.
static bool SharingBlocks(const std::string &host, DWORD access, DWORD shareMode)
{
    for (auto &entry : TheWorld().files) {
        const OpenFile &other = entry.second;
        if (other.hostPath != host)
            continue;
        if (((access & GENERIC_READ) && !(other.share & FILE_SHARE_READ)) ||
            ((access & GENERIC_WRITE) && !(other.share & FILE_SHARE_WRITE)) ||
            ((access & DELETE) && !(other.share & FILE_SHARE_DELETE)) ||
            ((other.access & GENERIC_READ) && !(shareMode & FILE_SHARE_READ)) ||
            ((other.access & GENERIC_WRITE) && !(shareMode & FILE_SHARE_WRITE)) ||
            ((other.access & DELETE) && !(shareMode & FILE_SHARE_DELETE)))
            return true;
    }
    return false;
}

// A new handle for the descriptor `fd` opened on `host`.
static HANDLE AddOpenFile(int fd, const std::string &windowsPath, const std::string &host, DWORD access,
                          DWORD shareMode)
{
    World &w = TheWorld();
    uintptr_t handle = w.nextFile;
    w.nextFile += 4;
    OpenFile file;
    file.fd = fd;
    file.windowsPath = windowsPath;
    file.hostPath = host;
    file.access = access;
    file.share = shareMode;
    w.files[handle] = file;
    return (HANDLE)handle;
}

static HANDLE OpenHostFile(const std::string &windowsPath, DWORD access, DWORD shareMode, DWORD disposition)
{
    World &w = TheWorld();
    DWORD error;
    if (ConsumeFault(w.openFaults, windowsPath, &error)) {
        w.lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    if ((error = CheckWindowsPath(windowsPath)) != 0) {
        w.lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    if ((access & GENERIC_WRITE) && IsMappedPath(windowsPath)) {
        w.lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    std::string host = HostPathOf(windowsPath);
    if (!HostIsDirectory(ParentOf(host))) {
        w.lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (HostIsDirectory(host) || EndsWithSeparator(windowsPath)) {
        w.lastError = HostIsDirectory(host) ? ERROR_ACCESS_DENIED : ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    bool exists = HostExists(host);
    // A name that is taken is refused before any sharing is looked at.
    if (disposition == CREATE_NEW && exists) {
        w.lastError = ERROR_FILE_EXISTS;
        return INVALID_HANDLE_VALUE;
    }
    // The system holds a running program's file open without write sharing.
    if ((access & GENERIC_WRITE) && w.runningPrograms.count(host)) {
        w.lastError = ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }

    if (SharingBlocks(host, access, shareMode)) {
        w.lastError = ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }

    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (disposition) {
    case OPEN_EXISTING:
        if (!exists) {
            w.lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case CREATE_NEW: flags |= O_CREAT; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case TRUNCATE_EXISTING:
        if (!exists) {
            w.lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default: w.lastError = ERROR_INVALID_PARAMETER; return INVALID_HANDLE_VALUE;
    }
    int fd = open(host.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        w.lastError = ErrnoToWin32(errno);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = AddOpenFile(fd, windowsPath, host, access, shareMode);
    w.lastError = (exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS)) ? ERROR_ALREADY_EXISTS : 0;
    return handle;
}

// An item opened for its attributes or its deletion alone (no read or write access), a directory too
// with FILE_FLAG_BACKUP_SEMANTICS, a reparse point itself with FILE_FLAG_OPEN_REPARSE_POINT.
static HANDLE OpenHostItem(const std::string &windowsPath, DWORD access, DWORD shareMode, DWORD disposition,
                           DWORD flags)
{
    World &w = TheWorld();
    DWORD error;
    if (ConsumeFault(w.openFaults, windowsPath, &error) || (error = CheckWindowsPath(windowsPath)) != 0) {
        w.lastError = error;
        return INVALID_HANDLE_VALUE;
    }
    std::string host = HostPathOf(windowsPath);
    if (!HostIsDirectory(ParentOf(host))) {
        w.lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    // Without FILE_FLAG_OPEN_REPARSE_POINT a link is followed to what it leads to.
    bool itself = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    DWORD attributes = itself               ? HostAttributes(host)
                       : !HostExists(host)  ? INVALID_FILE_ATTRIBUTES
                       : HostIsDirectory(host) ? FILE_ATTRIBUTE_DIRECTORY
                                               : FILE_ATTRIBUTE_ARCHIVE;
    if (disposition != OPEN_EXISTING || attributes == INVALID_FILE_ATTRIBUTES) {
        w.lastError = disposition != OPEN_EXISTING ? ERROR_INVALID_PARAMETER : ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) {
        w.lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (SharingBlocks(host, access, shareMode)) {
        w.lastError = ERROR_SHARING_VIOLATION;
        return INVALID_HANDLE_VALUE;
    }
    // A descriptor of the entry itself, which reads and writes refuse as the access does.
    int fd = open(host.c_str(), O_PATH | O_CLOEXEC | (itself ? O_NOFOLLOW : 0));
    if (fd < 0) {
        w.lastError = ErrnoToWin32(errno);
        return INVALID_HANDLE_VALUE;
    }
    w.lastError = 0;
    return AddOpenFile(fd, windowsPath, host, access, shareMode);
}

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE)
{
    std::string windowsPath = fileName;
    bool item = !(access & (GENERIC_READ | GENERIC_WRITE)) &&
                (flags & (FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    HANDLE handle = item ? OpenHostItem(windowsPath, access, shareMode, disposition, flags)
                         : OpenHostFile(windowsPath, access, shareMode, disposition);
    sim::JournalEntry opened{ sim::JournalEntry::FileOpened, windowsPath, "", "", access };
    opened.error = handle == INVALID_HANDLE_VALUE ? TheWorld().lastError : 0;
    sim::detail::AddJournal(opened);
    return handle;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED)
{
    World &w = TheWorld();
    if (read != nullptr)
        *read = 0;
    OpenFile *file = FileOf(handle);
    if (file == nullptr)
        return Fails(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_READ))
        return Fails(ERROR_ACCESS_DENIED);
    w.elapsedMicroseconds += w.fileCallMicroseconds;
    size_t limit = toRead;
    if (PathFault *fault = MatchFault(w.readFaults, file->windowsPath)) {
        if (file->bytesRead >= fault->afterBytes && fault->error != 0)
            return Fails(fault->error);
        limit = (size_t)std::min<uint64_t>(limit, fault->afterBytes - std::min(fault->afterBytes, file->bytesRead));
    }
    size_t done = 0;
    while (done < limit) {
        ssize_t got = ::read(file->fd, (char *)buffer + done, limit - done);
        if (got < 0)
            return Fails(ErrnoToWin32(errno));
        if (got == 0)
            break;
        done += (size_t)got;
    }
    file->bytesRead += done;
    if (read != nullptr)
        *read = (DWORD)done;
    w.lastError = 0;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED)
{
    World &w = TheWorld();
    if (written != nullptr)
        *written = 0;
    OpenFile *file = FileOf(handle);
    if (file == nullptr)
        return Fails(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE))
        return Fails(ERROR_ACCESS_DENIED);
    w.elapsedMicroseconds += w.fileCallMicroseconds;
    size_t limit = toWrite;
    DWORD faultError = 0;
    if (PathFault *fault = MatchFault(w.writeFaults, file->windowsPath)) {
        uint64_t room = fault->afterBytes - std::min(fault->afterBytes, file->bytesWritten);
        if (room < limit) {
            limit = (size_t)room;
            faultError = fault->error;
        }
    }
    size_t done = 0;
    while (done < limit) {
        ssize_t put = ::write(file->fd, (const char *)buffer + done, limit - done);
        if (put < 0)
            return Fails(ErrnoToWin32(errno));
        done += (size_t)put;
    }
    file->bytesWritten += done;
    if (written != nullptr)
        *written = (DWORD)done;
    if (faultError != 0)
        return Fails(faultError);
    w.lastError = 0;
    return TRUE;
}

LONG WINAPI _llseek(HFILE hfile, LONG offset, int origin)
{
    OpenFile *file = FileOf((HANDLE)(intptr_t)hfile);
    if (file == nullptr) {
        TheWorld().lastError = ERROR_INVALID_HANDLE;
        return HFILE_ERROR;
    }
    if (MatchFault(TheWorld().seekFaults, file->windowsPath) != nullptr) {
        TheWorld().lastError = ERROR_INVALID_PARAMETER;
        return HFILE_ERROR;
    }
    int whence = origin == FILE_BEGIN ? SEEK_SET : origin == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t position = lseek(file->fd, offset, whence);
    if (position < 0) {
        TheWorld().lastError = ERROR_NEGATIVE_SEEK;
        return HFILE_ERROR;
    }
    // The position is reported in 32 bits, as the real call does.
    return (LONG)(uint32_t)position;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method)
{
    OpenFile *file = FileOf(handle);
    if (file == nullptr) {
        TheWorld().lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    int64_t move = distanceHigh != nullptr ? (((int64_t)*distanceHigh << 32) | (uint32_t)distance) : distance;
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
    off_t position = lseek(file->fd, (off_t)move, whence);
    if (position < 0) {
        TheWorld().lastError = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr)
        *distanceHigh = (LONG)((uint64_t)position >> 32);
    TheWorld().lastError = 0;
    return (DWORD)position;
}

DWORD WINAPI GetFileSize(HANDLE handle, LPDWORD sizeHigh)
{
    OpenFile *file = FileOf(handle);
    struct stat info;
    if (file == nullptr || fstat(file->fd, &info) != 0) {
        TheWorld().lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    if (sizeHigh != nullptr)
        *sizeHigh = (DWORD)((uint64_t)info.st_size >> 32);
    return (DWORD)info.st_size;
}

BOOL WINAPI GetFileTime(HANDLE handle, LPFILETIME creation, LPFILETIME lastAccess, LPFILETIME lastWrite)
{
    OpenFile *file = FileOf(handle);
    struct stat info;
    if (file == nullptr || fstat(file->fd, &info) != 0)
        return Fails(ERROR_INVALID_HANDLE);
    if (creation != nullptr) {
        auto known = TheWorld().creationTimes.find(file->hostPath);
        *creation = known != TheWorld().creationTimes.end() ? known->second : ToFileTime(info.st_mtim);
    }
    if (lastAccess != nullptr)
        *lastAccess = ToFileTime(info.st_atim);
    if (lastWrite != nullptr)
        *lastWrite = ToFileTime(info.st_mtim);
    return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME *creation, const FILETIME *lastAccess, const FILETIME *lastWrite)
{
    OpenFile *file = FileOf(handle);
    if (file == nullptr)
        return Fails(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE))
        return Fails(ERROR_ACCESS_DENIED);
    timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (lastAccess != nullptr)
        times[0] = ToTimespec(*lastAccess);
    if (lastWrite != nullptr)
        times[1] = ToTimespec(*lastWrite);
    if (futimens(file->fd, times) != 0)
        return Fails(ErrnoToWin32(errno));
    if (creation != nullptr)
        TheWorld().creationTimes[file->hostPath] = *creation;
    return TRUE;
}

// Nothing is held back on the host's side; what is checked is what Windows refuses.
BOOL WINAPI FlushFileBuffers(HANDLE handle)
{
    OpenFile *file = FileOf(handle);
    if (file == nullptr)
        return Fails(ERROR_INVALID_HANDLE);
    if (!(file->access & GENERIC_WRITE))
        return Fails(ERROR_ACCESS_DENIED);
    DWORD error;
    if (ConsumeFault(TheWorld().flushFaults, file->windowsPath, &error))
        return Fails(error);
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    World &w = TheWorld();
    auto found = w.files.find((uintptr_t)handle);
    if (found == w.files.end())
        return sim::detail::CloseMutexHandle(handle) ? TRUE : Fails(ERROR_INVALID_HANDLE);
    close(found->second.fd);
    if (found->second.access & GENERIC_WRITE) {
        sim::JournalEntry closed{ sim::JournalEntry::FileClosed, found->second.windowsPath };
        closed.bytes = found->second.bytesWritten;
        sim::detail::AddJournal(closed);
    }
    w.files.erase(found);
    return TRUE;
}

// Someone else's move, made at the moment the program asks for the item at `host` to be deleted:
// the directory (on the item's way) goes elsewhere, handles open in it follow it, and a junction
// takes its place.
static void SwapIfDue(const std::string &host)
{
    World &w = TheWorld();
    if (w.swapItem.empty() || w.swapItem != host)
        return;
    std::string directory = HostPathOf(w.swapDirectory), moved = directory + ".moved";
    if (rename(directory.c_str(), moved.c_str()) != 0)
        sim::detail::Fail("cannot move " + directory + " aside");
    for (auto &entry : w.files) {
        std::string &path = entry.second.hostPath;
        if (path == directory || path.compare(0, directory.size() + 1, directory + "/") == 0)
            path = moved + path.substr(directory.size());
    }
    sim::MakeJunction(w.swapDirectory, w.swapTarget);
    w.swapItem.clear();
}

BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information)
{
    World &w = TheWorld();
    OpenFile *file = FileOf(handle);
    struct stat info;
    if (file == nullptr || fstat(file->fd, &info) != 0)
        return Fails(ERROR_INVALID_HANDLE);
    memset(information, 0, sizeof *information);
    information->dwFileAttributes = S_ISLNK(info.st_mode) ? HostAttributes(file->hostPath)
                                    : S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                            : FILE_ATTRIBUTE_ARCHIVE;
    auto known = w.creationTimes.find(file->hostPath);
    information->ftCreationTime = known != w.creationTimes.end() ? known->second : ToFileTime(info.st_mtim);
    information->ftLastAccessTime = ToFileTime(info.st_atim);
    information->ftLastWriteTime = ToFileTime(info.st_mtim);
    if (S_ISREG(info.st_mode)) {
        information->nFileSizeHigh = (DWORD)((uint64_t)info.st_size >> 32);
        information->nFileSizeLow = (DWORD)info.st_size;
    }
    information->nNumberOfLinks = (DWORD)info.st_nlink;
    information->nFileIndexHigh = (DWORD)((uint64_t)info.st_ino >> 32);
    information->nFileIndexLow = (DWORD)info.st_ino;
    w.lastError = 0;
    return TRUE;
}

// The deletion asked for through a handle: of the item the handle holds, wherever it is now (the
// file system deletes it when the last handle closes; here at once). A running program's file
// cannot be deleted; a directory must be empty.
static BOOL DeleteHeldItem(OpenFile *file)
{
    World &w = TheWorld();
    SwapIfDue(file->hostPath);
    struct stat info;
    if (fstat(file->fd, &info) != 0)
        return Fails(ERROR_INVALID_HANDLE);
    if (w.runningPrograms.count(file->hostPath))
        return Fails(ERROR_ACCESS_DENIED);
    int removed = S_ISDIR(info.st_mode) ? rmdir(file->hostPath.c_str()) : unlink(file->hostPath.c_str());
    if (removed != 0)
        return Fails(errno == ENOTEMPTY ? ERROR_DIR_NOT_EMPTY : ErrnoToWin32(errno));
    w.creationTimes.erase(file->hostPath);
    w.lastError = 0;
    return TRUE;
}

BOOL WINAPI SetFileInformationByHandle(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS informationClass, LPVOID information,
                                       DWORD size)
{
    OpenFile *file = FileOf(handle);
    if (file == nullptr)
        return Fails(ERROR_INVALID_HANDLE);
    if (informationClass != FileDispositionInfo || size < sizeof(FILE_DISPOSITION_INFO))
        return Fails(ERROR_INVALID_PARAMETER);
    if (!(file->access & DELETE))
        return Fails(ERROR_ACCESS_DENIED);
    if (!((FILE_DISPOSITION_INFO *)information)->DeleteFile) {
        TheWorld().lastError = 0;
        return TRUE;
    }
    std::string windowsPath = file->windowsPath;
    BOOL deleted = DeleteHeldItem(file);
    sim::JournalEntry entry{ sim::JournalEntry::FileDeleted, windowsPath };
    entry.error = deleted ? 0 : TheWorld().lastError;
    sim::detail::AddJournal(entry);
    return deleted;
}

// What making and removing a directory check first: an injected fault, a well-formed path, and a
// path below a volume's or a share's root (the root itself is no directory of the caller's).
static DWORD DirectoryPathError(std::vector<PathFault> &faults, const std::string &windowsPath)
{
    DWORD error;
    if (ConsumeFault(faults, windowsPath, &error))
        return error;
    if ((error = CheckWindowsPath(windowsPath)) != 0)
        return error;
    std::string root;
    std::vector<std::string> parts;
    SplitWindowsPath(AbsoluteWindowsPath(windowsPath), &root, &parts);
    if (parts.empty() || (root == "UNC" && parts.size() <= 2))
        return HostIsDirectory(HostPathOf(windowsPath)) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    return 0;
}

static BOOL CreateHostDirectory(const std::string &windowsPath)
{
    World &w = TheWorld();
    DWORD error = DirectoryPathError(w.directoryFaults, windowsPath);
    if (error != 0)
        return Fails(error);
    std::string host = HostPathOf(windowsPath);
    if (HostExists(host))
        return Fails(ERROR_ALREADY_EXISTS);
    if (!HostIsDirectory(ParentOf(host)))
        return Fails(ERROR_PATH_NOT_FOUND);
    if (IsMappedPath(windowsPath))
        return Fails(ERROR_ACCESS_DENIED);
    if (mkdir(host.c_str(), 0777) != 0)
        return Fails(ErrnoToWin32(errno));
    w.lastError = 0;
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES)
{
    std::string windowsPath = path;
    TheWorld().directoryCalls.push_back(windowsPath);
    BOOL created = CreateHostDirectory(windowsPath);
    sim::JournalEntry entry{ sim::JournalEntry::DirectoryCreated, windowsPath };
    entry.error = created ? 0 : TheWorld().lastError;
    sim::detail::AddJournal(entry);
    return created;
}

static BOOL RemoveHostDirectory(const std::string &windowsPath)
{
    World &w = TheWorld();
    DWORD error = DirectoryPathError(w.removeDirectoryFaults, windowsPath);
    if (error != 0)
        return Fails(error);
    std::string host = HostPathOf(windowsPath);
    SwapIfDue(host);
    DWORD attributes = HostAttributes(host);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Fails(HostIsDirectory(ParentOf(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Fails(ERROR_DIRECTORY);
    if (IsMappedPath(windowsPath))
        return Fails(ERROR_ACCESS_DENIED);
    // The process holds its current directory open without leave to delete it.
    if (host == HostPathOf(w.currentDirectory))
        return Fails(ERROR_SHARING_VIOLATION);
    // A junction goes as a link, whatever its target holds; the target stays.
    int removed = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? unlink(host.c_str()) : rmdir(host.c_str());
    if (removed != 0)
        return Fails(ErrnoToWin32(errno));
    w.creationTimes.erase(host);
    w.lastError = 0;
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR path)
{
    std::string windowsPath = path;
    BOOL removed = RemoveHostDirectory(windowsPath);
    sim::JournalEntry entry{ sim::JournalEntry::DirectoryRemoved, windowsPath };
    entry.error = removed ? 0 : TheWorld().lastError;
    sim::detail::AddJournal(entry);
    return removed;
}

// A directory or a junction is no file to delete; a symbolic link to a file goes as a link.
static BOOL DeleteHostFile(LPCSTR fileName)
{
    DWORD error = CheckWindowsPath(fileName);
    if (error != 0)
        return Fails(error);
    std::string host = HostPathOf(fileName);
    SwapIfDue(host);
    if (IsDirectoryEntry(host) || IsMappedPath(fileName) || TheWorld().runningPrograms.count(host))
        return Fails(ERROR_ACCESS_DENIED);
    if (!HostIsDirectory(ParentOf(host)))
        return Fails(ERROR_PATH_NOT_FOUND);
    for (auto &entry : TheWorld().files) {
        if (entry.second.hostPath == host)
            return Fails(ERROR_SHARING_VIOLATION);
    }
    if (unlink(host.c_str()) != 0)
        return Fails(ErrnoToWin32(errno));
    TheWorld().creationTimes.erase(host);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR fileName)
{
    BOOL deleted = DeleteHostFile(fileName);
    sim::JournalEntry entry{ sim::JournalEntry::FileDeleted, fileName };
    entry.error = deleted ? 0 : TheWorld().lastError;
    sim::detail::AddJournal(entry);
    return deleted;
}

// A rename within the sandbox, as Wine makes it: the moved file keeps its bytes and times, must not
// be open, and a file it replaces must be neither a directory nor open. (Wine run as root, as the
// tests run it, lets a read-only file be replaced like any other; FailMove gives Windows' refusal.)
static BOOL MoveHostFile(const std::string &existingName, const std::string &newName, DWORD flags)
{
    World &w = TheWorld();
    DWORD error;
    if (ConsumeFault(w.moveFaults, existingName, &error) || ConsumeFault(w.moveFaults, newName, &error))
        return Fails(error);
    if ((error = CheckWindowsPath(existingName)) != 0 || (error = CheckWindowsPath(newName)) != 0)
        return Fails(error);
    std::string from = HostPathOf(existingName), to = HostPathOf(newName);
    if (!HostExists(from))
        return Fails(HostIsDirectory(ParentOf(from)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    if (!HostIsDirectory(ParentOf(to)))
        return Fails(ERROR_PATH_NOT_FOUND);
    if (IsMappedPath(existingName) || IsMappedPath(newName))
        return Fails(ERROR_ACCESS_DENIED);
    if (HostIsOpen(from))
        return Fails(ERROR_SHARING_VIOLATION);
    if (HostExists(to) && to != from) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING))
            return Fails(ERROR_ALREADY_EXISTS);
        if (HostIsDirectory(to) || HostIsOpen(to) || w.runningPrograms.count(to))
            return Fails(ERROR_ACCESS_DENIED);
    }
    if (rename(from.c_str(), to.c_str()) != 0)
        return Fails(ErrnoToWin32(errno));
    // A running program goes on from its file's new name.
    if (w.runningPrograms.erase(from))
        w.runningPrograms.insert(to);
    auto known = w.creationTimes.find(from);
    w.creationTimes.erase(to);
    if (known != w.creationTimes.end()) {
        FILETIME creation = known->second;
        w.creationTimes.erase(known);
        w.creationTimes[to] = creation;
    }
    w.lastError = 0;
    return TRUE;
}

// A deletion at the next restart only needs a name (the system checks nothing more now); the
// right to ask for it is an administrator's, which FailRestartDeletion takes away.
static BOOL DeleteAtRestart(const std::string &existingName)
{
    World &w = TheWorld();
    DWORD error;
    if (w.restartDeletionRefusal != 0)
        return Fails(w.restartDeletionRefusal);
    if ((error = CheckWindowsPath(existingName)) != 0)
        return Fails(error);
    w.restartDeletions.push_back(existingName);
    w.lastError = 0;
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR existingName, LPCSTR newName, DWORD flags)
{
    BOOL moved = newName == NULL && (flags & MOVEFILE_DELAY_UNTIL_REBOOT) ? DeleteAtRestart(existingName)
                                                                          : MoveHostFile(existingName, newName, flags);
    sim::JournalEntry entry{ sim::JournalEntry::FileMoved, existingName, newName != NULL ? newName : "" };
    entry.error = moved ? 0 : TheWorld().lastError;
    sim::detail::AddJournal(entry);
    return moved;
}

DWORD WINAPI GetFileAttributesA(LPCSTR fileName)
{
    World &w = TheWorld();
    DWORD error = CheckWindowsPath(fileName);
    if (error != 0) {
        w.lastError = error;
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string host = HostPathOf(fileName);
    DWORD attributes = HostAttributes(host);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        w.lastError = HostIsDirectory(ParentOf(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    // A name ending in a backslash names a directory, as for CreateFileA.
    if (EndsWithSeparator(fileName) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        w.lastError = ERROR_INVALID_NAME;
        return INVALID_FILE_ATTRIBUTES;
    }
    return attributes;
}

// Windows lists a reparse point itself, with its own times and no size, not what it leads to.
static void FillFindData(const FindSearch &search, const std::string &name, LPWIN32_FIND_DATAA found)
{
    memset(found, 0, sizeof *found);
    std::string host = search.directoryHost + "/" + name;
    struct stat info;
    if (lstat(host.c_str(), &info) == 0) {
        found->dwFileAttributes = HostAttributes(host);
        auto known = TheWorld().creationTimes.find(host);
        found->ftCreationTime = known != TheWorld().creationTimes.end() ? known->second : ToFileTime(info.st_mtim);
        found->ftLastAccessTime = ToFileTime(info.st_atim);
        found->ftLastWriteTime = ToFileTime(info.st_mtim);
        if (S_ISREG(info.st_mode)) {
            found->nFileSizeHigh = (DWORD)((uint64_t)info.st_size >> 32);
            found->nFileSizeLow = (DWORD)info.st_size;
        }
    }
    snprintf(found->cFileName, MAX_PATH, "%s", name.c_str());
}

// The listing is taken whole at the start, so that files deleted during the search do not disturb it.
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    World &w = TheWorld();
    std::string path = pattern;
    DWORD error = CheckWindowsPath(path);
    size_t cut = path.find_last_of("\\/");
    // Wildcards are no error here: CheckWindowsPath refuses them in names of files to open.
    if (error == ERROR_INVALID_NAME && cut != std::string::npos && CheckWindowsPath(path.substr(0, cut + 1) + "x") == 0)
        error = 0;
    if (error != 0 || cut == std::string::npos || cut + 1 == path.size()) {
        w.lastError = error != 0 ? error : ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::string directory = path.substr(0, cut + 1), namePattern = path.substr(cut + 1);
    FindSearch search;
    search.directoryHost = HostPathOf(directory);
    DIR *dir = opendir(search.directoryHost.c_str());
    if (dir == nullptr) {
        w.lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::string root;
    std::vector<std::string> parts;
    SplitWindowsPath(AbsoluteWindowsPath(directory), &root, &parts);
    while (dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        // A drive's root has no "." or ".." entries; every other directory has both.
        if ((name == "." || name == "..") && parts.empty())
            continue;
        if (WildcardMatches(namePattern.c_str(), name.c_str()))
            search.names.push_back(name);
    }
    closedir(dir);
    std::sort(search.names.begin(), search.names.end());
    if (search.names.empty()) {
        w.lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    FillFindData(search, search.names[0], found);
    search.next = 1;
    uintptr_t handle = w.nextSearch;
    w.nextSearch += 4;
    w.searches[handle] = search;
    w.lastError = 0;
    return (HANDLE)handle;
}

BOOL WINAPI FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA found)
{
    auto at = TheWorld().searches.find((uintptr_t)find);
    if (at == TheWorld().searches.end())
        return Fails(ERROR_INVALID_HANDLE);
    FindSearch &search = at->second;
    if (search.next >= search.names.size())
        return Fails(ERROR_NO_MORE_FILES);
    FillFindData(search, search.names[search.next++], found);
    TheWorld().lastError = 0;
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE find)
{
    if (TheWorld().searches.erase((uintptr_t)find) == 0)
        return Fails(ERROR_INVALID_HANDLE);
    return TRUE;
}

DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer)
{
    const std::string &path = TheWorld().currentDirectory;
    if (buffer == nullptr || size <= path.size())
        return (DWORD)path.size() + 1;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (DWORD)path.size();
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    const std::string &path = TheWorld().windowsDirectory;
    if (buffer == nullptr || size <= path.size())
        return (UINT)path.size() + 1;
    memcpy(buffer, path.c_str(), path.size() + 1);
    return (UINT)path.size();
}

int _getdrive(void)
{
    const std::string &path = TheWorld().currentDirectory;
    if (path.size() >= 2 && path[1] == ':' && isalpha((unsigned char)path[0]))
        return toupper((unsigned char)path[0]) - 'A' + 1;
    return 0;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes)
{
    World &w = TheWorld();
    if (CountdownFires(w.globalAllocCountdown)) {
        w.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    GlobalBlock block;
    if (bytes == 0 && (flags & GMEM_MOVEABLE)) {
        block.discarded = true;  // a zero-byte movable block exists but cannot be locked
    } else {
        // Zero-filled blocks come as untouched zero pages, as Windows commits them, so a large
        // block costs nothing until it is written.
        block.memory = (flags & GMEM_ZEROINIT) ? calloc(bytes == 0 ? 1 : bytes, 1) : malloc(bytes == 0 ? 1 : bytes);
        if (block.memory == nullptr) {
            w.lastError = ERROR_NOT_ENOUGH_MEMORY;
            return NULL;
        }
        // Without GMEM_ZEROINIT the content is garbage; make reliance on zeroes visible.
        if (!(flags & GMEM_ZEROINIT))
            memset(block.memory, 0xCD, bytes);
        block.size = bytes;
    }
    uintptr_t handle = w.nextBlock;
    w.nextBlock += 8;
    w.blocks[handle] = block;
    return (HGLOBAL)handle;
}

// A movable block grown or shrunk under the same handle, locked or not; its memory always moves,
// so that a pointer kept from before the call is caught. Counts as an allocation for FailGlobalAlloc.
HGLOBAL WINAPI GlobalReAlloc(HGLOBAL memory, SIZE_T bytes, UINT flags)
{
    World &w = TheWorld();
    auto found = w.blocks.find((uintptr_t)memory);
    if (found == w.blocks.end()) {
        w.lastError = ERROR_INVALID_HANDLE;
        return NULL;
    }
    if (CountdownFires(w.globalAllocCountdown)) {
        w.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    GlobalBlock &block = found->second;
    void *moved = malloc(bytes == 0 ? 1 : bytes);
    if (moved == nullptr) {
        w.lastError = ERROR_NOT_ENOUGH_MEMORY;
        return NULL;
    }
    size_t kept = block.size < bytes ? block.size : bytes;
    if (kept != 0)
        memcpy(moved, block.memory, kept);
    // The growth is zero-filled only when asked; otherwise garbage, as in GlobalAlloc.
    memset((char *)moved + kept, (flags & GMEM_ZEROINIT) ? 0 : 0xCD, (bytes == 0 ? 1 : bytes) - kept);
    free(block.memory);
    block.memory = moved;
    block.size = bytes;
    block.discarded = false;
    return memory;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory)
{
    World &w = TheWorld();
    auto found = w.blocks.find((uintptr_t)memory);
    if (found == w.blocks.end()) {
        w.lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (CountdownFires(w.globalLockCountdown) || found->second.discarded) {
        w.lastError = ERROR_DISCARDED;
        return nullptr;
    }
    found->second.locks++;
    return found->second.memory;
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory)
{
    World &w = TheWorld();
    auto found = w.blocks.find((uintptr_t)memory);
    if (found == w.blocks.end() || found->second.locks == 0) {
        w.lastError = found == w.blocks.end() ? ERROR_INVALID_HANDLE : ERROR_NOT_LOCKED;
        return FALSE;
    }
    found->second.locks--;
    w.lastError = 0;
    return found->second.locks > 0;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory)
{
    World &w = TheWorld();
    auto found = w.blocks.find((uintptr_t)memory);
    if (found == w.blocks.end()) {
        w.lastError = ERROR_INVALID_HANDLE;
        return memory;
    }
    free(found->second.memory);
    w.blocks.erase(found);
    return NULL;
}

HANDLE WINAPI GetProcessHeap(void)
{
    return (HANDLE)(uintptr_t)0x150000;
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T bytes)
{
    World &w = TheWorld();
    if (CountdownFires(w.heapAllocCountdown))
        return nullptr;
    void *memory = malloc(bytes == 0 ? 1 : bytes);
    if (memory != nullptr) {
        memset(memory, 0xCD, bytes);
        w.heapBlocks[memory] = bytes;
    }
    return memory;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID memory)
{
    World &w = TheWorld();
    if (memory == nullptr)
        return TRUE;
    auto found = w.heapBlocks.find(memory);
    if (found == w.heapBlocks.end())
        sim::detail::Fail("HeapFree of a block the heap never gave");
    free(memory);
    w.heapBlocks.erase(found);
    return TRUE;
}

int WINAPI MultiByteToWideChar(UINT, DWORD, LPCSTR multiByte, int multiByteCount, LPWSTR wide, int wideCount)
{
    // Windows-1252, the ANSI code page of the three interface languages.
    static const WCHAR high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    int count = multiByteCount < 0 ? (int)strlen(multiByte) + 1 : multiByteCount;
    if (wideCount == 0)
        return count;
    if (wideCount < count) {
        TheWorld().lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (int i = 0; i < count; i++) {
        unsigned char c = (unsigned char)multiByte[i];
        wide[i] = (c >= 0x80 && c < 0xA0) ? high[c - 0x80] : c;
    }
    return count;
}

}  // extern "C"
