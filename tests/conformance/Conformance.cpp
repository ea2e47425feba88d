// Behaviour of the Win32 subset that the installer relies on, checked the same way against the
// stand-in (host build) and against a real implementation (the mingw build, run under Wine), so
// that the stand-in cannot drift from what it stands in for.
#include "Conformance.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "resources/resource.h"

namespace {

int failures;

void Check(bool ok, const char *what, int line, long got = 0, long expected = 0)
{
    if (!ok) {
        failures++;
        printf("conformance failure (line %d): %s: got %ld, expected %ld\n", line, what, got, expected);
    }
}

#define CHECK(condition) Check((condition), #condition, __LINE__)
#define CHECK_EQ(got, expected)                                                                \
    do {                                                                                       \
        long value = (long)(got), wanted = (long)(expected);                                    \
        Check(value == wanted, #got " == " #expected, __LINE__, value, wanted);                \
    } while (0)
#define CHECK_STR(got, expected)                                                               \
    do {                                                                                       \
        bool same = strcmp((got), (expected)) == 0;                                            \
        if (!same)                                                                             \
            printf("  \"%s\" != \"%s\"\n", (got), (expected));                                  \
        Check(same, #got " equals " #expected, __LINE__);                                      \
    } while (0)

char scratch[MAX_PATH];

const char *In(const char *name)
{
    static char path[4][MAX_PATH];
    static int next;
    char *out = path[next++ % 4];
    wsprintfA(out, "%s\\%s", scratch, name);
    return out;
}

void Directories()
{
    SetLastError(0xDEAD);
    CHECK(CreateDirectoryA(In("a"), NULL));
    CHECK(!CreateDirectoryA(In("a"), NULL));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(!CreateDirectoryA(In("missing\\b"), NULL));
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    // A prefix ending in a backslash names the same directory.
    char trailing[MAX_PATH];
    wsprintfA(trailing, "%s\\", In("a"));
    CHECK(!CreateDirectoryA(trailing, NULL));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    // A file of that name blocks the directory.
    HANDLE file = CreateFileA(In("f"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    CHECK(file != INVALID_HANDLE_VALUE);
    CloseHandle(file);
    CHECK(!CreateDirectoryA(In("f"), NULL));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(!CreateDirectoryA(In("bad|name"), NULL));
    CHECK_EQ(GetLastError(), ERROR_INVALID_NAME);
}

void Files()
{
    HANDLE file = CreateFileA(In("none.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(file == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    file = CreateFileA(In("nodir\\none.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(file == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    file = CreateFileA(In("a"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(file == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // CREATE_ALWAYS empties an existing file and says it existed.
    HANDLE out = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(out != INVALID_HANDLE_VALUE);
    DWORD done = 0;
    CHECK(WriteFile(out, "0123456789", 10, &done, NULL));
    CHECK_EQ(done, 10);
    CloseHandle(out);
    SetLastError(0);
    out = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(out != INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(WriteFile(out, "ab", 2, &done, NULL));
    CHECK(FlushFileBuffers(out));
    CloseHandle(out);

    HANDLE in = CreateFileA(In("data.bin"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    CHECK(in != INVALID_HANDLE_VALUE);
    HFILE handle = (HFILE)(INT_PTR)in;
    CHECK_EQ(_llseek(handle, 0, FILE_END), 2);
    CHECK_EQ(_llseek(handle, 0, FILE_BEGIN), 0);
    char buffer[16];
    CHECK(ReadFile(in, buffer, sizeof buffer, &done, NULL));
    CHECK_EQ(done, 2);
    CHECK(ReadFile(in, buffer, sizeof buffer, &done, NULL));
    CHECK_EQ(done, 0);
    // The size with its high part, and a move given a high part (which makes the offset unsigned);
    // beyond the end a move succeeds and a read gives nothing.
    DWORD sizeHigh = 0xDEAD;
    CHECK_EQ(GetFileSize(in, &sizeHigh), 2);
    CHECK_EQ(sizeHigh, 0);
    LONG moveHigh = 0;
    CHECK_EQ(SetFilePointer(in, 1, &moveHigh, FILE_BEGIN), 1);
    CHECK_EQ(moveHigh, 0);
    CHECK(ReadFile(in, buffer, sizeof buffer, &done, NULL));
    CHECK_EQ(done, 1);
    CHECK_EQ(SetFilePointer(in, 100, &moveHigh, FILE_BEGIN), 100);
    CHECK(ReadFile(in, buffer, sizeof buffer, &done, NULL));
    CHECK_EQ(done, 0);

    // A writer that shares nothing cannot open a file that a reader holds, nor the other way round.
    HANDLE writer = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    CHECK(writer == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(in);

    // File times go from one file to another.
    FILETIME creation = { 0x12345678, 0x01D00000 }, access = { 0x22345678, 0x01D10000 }, write = { 0x32345670, 0x01D20000 };
    out = CreateFileA(In("data.bin"), GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL);
    CHECK(SetFileTime(out, &creation, &access, &write));
    CloseHandle(out);
    in = CreateFileA(In("data.bin"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME got[3];
    CHECK(GetFileTime(in, &got[0], &got[1], &got[2]));
    CHECK_EQ(got[2].dwHighDateTime, write.dwHighDateTime);
    CHECK_EQ(got[2].dwLowDateTime / 10, write.dwLowDateTime / 10);
    // A file system that keeps no creation time of its own (Wine on Linux) reports the write time.
    CHECK(got[0].dwHighDateTime == creation.dwHighDateTime || got[0].dwHighDateTime == write.dwHighDateTime);
    CloseHandle(in);

    CHECK(DeleteFileA(In("data.bin")));
    CHECK(!DeleteFileA(In("data.bin")));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

HANDLE OpenForWriting(const char *name, DWORD disposition)
{
    return CreateFileA(In(name), GENERIC_WRITE, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Puts `text` into a new file of the scratch folder with the given last-write time.
void MakeFile(const char *name, const char *text, DWORD writeTimeHigh)
{
    HANDLE file = OpenForWriting(name, CREATE_ALWAYS);
    DWORD done = 0;
    WriteFile(file, text, (DWORD)strlen(text), &done, NULL);
    FILETIME write = { 0x40000000, writeTimeHigh };
    CHECK(SetFileTime(file, NULL, NULL, &write));
    CloseHandle(file);
}

// What a file holds (up to 31 bytes) and its last-write time's high part; "" and 0 when it cannot
// be opened.
DWORD ReadBack(const char *name, char *text)
{
    text[0] = '\0';
    HANDLE file = CreateFileA(In(name), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD done = 0;
    ReadFile(file, text, 31, &done, NULL);
    text[done] = '\0';
    FILETIME write = { 0, 0 };
    GetFileTime(file, NULL, NULL, &write);
    CloseHandle(file);
    return write.dwHighDateTime;
}

// What writing beside a file and then putting the copy in its place relies on: the test open of an
// existing destination, the replace, and the search for what a run ended by force left behind.
void ReplacingFiles()
{
    const DWORD OLD_TIME = 0x01C00000, NEW_TIME = 0x01D00000;
    const DWORD REPLACE = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    char text[32];

    // The test open: a missing file, a directory, one in use. (A read-only file is refused too on
    // Windows, but not by Wine run as root, as the tests run it.)
    SetLastError(0xDEAD);
    CHECK(OpenForWriting("absent.txt", OPEN_EXISTING) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CHECK(OpenForWriting("a", OPEN_EXISTING) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    MakeFile("used.txt", "used", OLD_TIME);
    HANDLE user = CreateFileA(In("used.txt"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(OpenForWriting("used.txt", OPEN_EXISTING) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    // A flush needs a handle that may write.
    CHECK(!FlushFileBuffers(user));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // The replace: the new file takes the old one's name with its own bytes and times, and its
    // own name is gone.
    MakeFile("dest.txt", "old and longer", OLD_TIME);
    MakeFile("dest.txt.~qs", "new", NEW_TIME);
    CHECK(MoveFileExA(In("dest.txt.~qs"), In("dest.txt"), REPLACE));
    CHECK_EQ(ReadBack("dest.txt", text), NEW_TIME);
    CHECK_STR(text, "new");
    CHECK_EQ(ReadBack("dest.txt.~qs", text), 0);
    // Refused: nothing to move, a name taken without leave to replace, a directory or a file in use
    // in the way, the moved file still open; nothing changes then.
    SetLastError(0xDEAD);
    CHECK(!MoveFileExA(In("gone.~qs"), In("dest.txt"), REPLACE));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    MakeFile("next.~qs", "next", NEW_TIME);
    CHECK(!MoveFileExA(In("next.~qs"), In("dest.txt"), 0));
    CHECK_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CHECK(!MoveFileExA(In("next.~qs"), In("a"), REPLACE));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CHECK(!MoveFileExA(In("next.~qs"), In("used.txt"), REPLACE));
    CHECK_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    HANDLE moving = CreateFileA(In("next.~qs"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    CHECK(!MoveFileExA(In("next.~qs"), In("dest.txt"), REPLACE));
    CHECK_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(moving);
    CloseHandle(user);
    CHECK_EQ(ReadBack("used.txt", text), OLD_TIME);
    CHECK_STR(text, "used");
    CHECK_EQ(ReadBack("next.~qs", text), NEW_TIME);
    CHECK_STR(text, "next");

    // The search: the names that end so, a folder's as well; nothing found; no such folder.
    CHECK(CreateDirectoryA(In("sweep"), NULL));
    CHECK(CreateDirectoryA(In("sweep\\folder.~qs"), NULL));
    MakeFile("sweep\\one.exe.~qs", "1", NEW_TIME);
    MakeFile("sweep\\two.~QS", "2", NEW_TIME);
    MakeFile("sweep\\other.~qsx", "3", NEW_TIME);
    MakeFile("sweep\\keep.txt", "4", NEW_TIME);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(In("sweep\\*.~qs"), &found);
    CHECK(search != INVALID_HANDLE_VALUE);
    int files = 0, folders = 0, others = 0, more = 0;
    while (search != INVALID_HANDLE_VALUE && more++ < 10) {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            folders += strcmp(found.cFileName, "folder.~qs") == 0;
        else if (strcmp(found.cFileName, "one.exe.~qs") == 0 || strcmp(found.cFileName, "two.~QS") == 0)
            files++;
        else
            others++;
        if (!FindNextFileA(search, &found))
            break;
    }
    CHECK_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    CHECK(FindClose(search));
    CHECK_EQ(files, 2);
    CHECK_EQ(folders, 1);
    CHECK_EQ(others, 0);
    CHECK(FindFirstFileA(In("sweep\\*.none"), &found) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CHECK(FindFirstFileA(In("no folder\\*.~qs"), &found) == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// The attributes the stand-in models; Windows may add others (indexing, compression).
const DWORD KNOWN_ATTRIBUTES = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT;

// What the removal of an installation's folders relies on: only an empty directory goes, and each
// refusal says why.
void RemovingDirectories()
{
    CHECK(CreateDirectoryA(In("rd"), NULL));
    CHECK(CreateDirectoryA(In("rd\\sub"), NULL));
    MakeFile("rd\\file.txt", "x", 0x01D00000);
    SetLastError(0xDEAD);
    CHECK(!RemoveDirectoryA(In("rd")));
    CHECK_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    CHECK(DeleteFileA(In("rd\\file.txt")));
    SetLastError(0xDEAD);
    CHECK(!RemoveDirectoryA(In("rd")));
    CHECK_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    // A file is no directory to remove, and stays.
    MakeFile("plain.txt", "x", 0x01D00000);
    CHECK(!RemoveDirectoryA(In("plain.txt")));
    CHECK_EQ(GetLastError(), ERROR_DIRECTORY);
    CHECK_EQ(GetFileAttributesA(In("plain.txt")) & KNOWN_ATTRIBUTES, FILE_ATTRIBUTE_ARCHIVE);
    CHECK(RemoveDirectoryA(In("rd\\sub")));
    // A trailing backslash names the same directory.
    char trailing[MAX_PATH];
    wsprintfA(trailing, "%s\\", In("rd"));
    CHECK(RemoveDirectoryA(trailing));
    CHECK(!RemoveDirectoryA(In("rd")));
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    CHECK(!RemoveDirectoryA(In("rd\\sub")));
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// What removing an item through the handle it was checked by relies on: the item itself opened for
// deletion (a directory too), what the handle tells of it, and the deletion done through it.
HANDLE OpenItem(const char *name)
{
    return CreateFileA(In(name), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
}

BOOL DeleteThrough(HANDLE item)
{
    FILE_DISPOSITION_INFO disposition = { TRUE };
    return SetFileInformationByHandle(item, FileDispositionInfo, &disposition, sizeof disposition);
}

void RemovingThroughHandles()
{
    MakeFile("held.txt", "four", 0x01D00000);
    HANDLE item = OpenItem("held.txt");
    CHECK(item != INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information;
    CHECK(GetFileInformationByHandle(item, &information));
    CHECK_EQ(information.dwFileAttributes & KNOWN_ATTRIBUTES, FILE_ATTRIBUTE_ARCHIVE);
    CHECK_EQ(information.nFileSizeLow, 4);
    CHECK_EQ(information.nFileSizeHigh, 0);
    CHECK_EQ(information.ftLastWriteTime.dwHighDateTime, 0x01D00000);
    CHECK(DeleteThrough(item));
    CloseHandle(item);
    SetLastError(0xDEAD);
    CHECK_EQ(GetFileAttributesA(In("held.txt")), INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    CHECK(CreateDirectoryA(In("hd"), NULL));
    MakeFile("hd\\inside.txt", "x", 0x01D00000);
    item = OpenItem("hd");
    CHECK(item != INVALID_HANDLE_VALUE);
    CHECK(GetFileInformationByHandle(item, &information));
    CHECK_EQ(information.dwFileAttributes & KNOWN_ATTRIBUTES, FILE_ATTRIBUTE_DIRECTORY);
    SetLastError(0xDEAD);
    CHECK(!DeleteThrough(item));
    CHECK_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    CloseHandle(item);
    CHECK(DeleteFileA(In("hd\\inside.txt")));
    item = OpenItem("hd");
    CHECK(DeleteThrough(item));
    CloseHandle(item);
    CHECK_EQ(GetFileAttributesA(In("hd")), INVALID_FILE_ATTRIBUTES);

    SetLastError(0xDEAD);
    CHECK(OpenItem("absent") == INVALID_HANDLE_VALUE);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

void FileAttributes()
{
    CHECK_EQ(GetFileAttributesA(In("a")) & KNOWN_ATTRIBUTES, FILE_ATTRIBUTE_DIRECTORY);
    CHECK_EQ(GetFileAttributesA(In("f")) & KNOWN_ATTRIBUTES, FILE_ATTRIBUTE_ARCHIVE);
    SetLastError(0xDEAD);
    CHECK_EQ(GetFileAttributesA(In("absent")), INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0xDEAD);
    CHECK_EQ(GetFileAttributesA(In("absent\\f")), INVALID_FILE_ATTRIBUTES);
    CHECK_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// The command line starts with the program's name, quoted or not, and stays in one place.
void ProcessTexts()
{
    const char *line = GetCommandLineA();
    CHECK(line == GetCommandLineA());
    char module[MAX_PATH];
    CHECK(GetModuleFileNameA(NULL, module, MAX_PATH) > 0);
    const char *name = strrchr(module, '\\');
    name = name != NULL ? name + 1 : module;
    size_t start = line[0] == '"' ? 1 : 0;
    size_t end = start;
    while (line[end] != '\0' && line[end] != (start == 1 ? '"' : ' '))
        end++;
    size_t nameLength = strlen(name);
    bool named = end - start >= nameLength;
    for (size_t i = 0; named && i < nameLength; i++)
        named = tolower((unsigned char)line[end - nameLength + i]) == tolower((unsigned char)name[i]);
    if (!named)
        printf("  command line \"%s\", module \"%s\"\n", line, module);
    CHECK(named);
}

void Memory()
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 16);
    CHECK(block != NULL);
    unsigned char *bytes = (unsigned char *)GlobalLock(block);
    CHECK(bytes != NULL);
    if (bytes != NULL)
        CHECK_EQ(bytes[15], 0);
    if (bytes != NULL)
        bytes[0] = 'q';
    CHECK(!GlobalUnlock(block));
    // A movable block grows under its own handle, keeping its bytes, the growth zero-filled when asked.
    CHECK(GlobalReAlloc(block, 4096, GMEM_MOVEABLE | GMEM_ZEROINIT) == block);
    bytes = (unsigned char *)GlobalLock(block);
    CHECK(bytes != NULL);
    if (bytes != NULL) {
        CHECK_EQ(bytes[0], 'q');
        int nonZero = 0;
        for (int i = 16; i < 4096; i++)
            nonZero += bytes[i] != 0;
        CHECK_EQ(nonZero, 0);
    }
    CHECK(!GlobalUnlock(block));
    CHECK(GlobalFree(block) == NULL);
    // A movable block of no bytes exists but cannot be locked.
    HGLOBAL empty = GlobalAlloc(GMEM_MOVEABLE, 0);
    CHECK(empty != NULL);
    CHECK(GlobalLock(empty) == NULL);
    GlobalFree(empty);
}

void Strings(HINSTANCE instance)
{
    char text[64];
    memset(text, 'x', sizeof text);
    CHECK_EQ(LoadStringA(instance, IDS_FILES_SECTION, text, sizeof text), 5);
    CHECK_STR(text, "Files");
    // Cut to the buffer less one, and terminated.
    CHECK_EQ(LoadStringA(instance, IDS_SUFFIXES_KEY, text, 5), 4);
    CHECK_STR(text, "Suff");
    CHECK_EQ(LoadStringA(instance, 9999, text, sizeof text), 0);

    char out[64];
    CHECK_EQ(wsprintfA(out, "%ld %%", 42L), 4);
    CHECK_STR(out, "42 %");
    wsprintfA(out, "%s : %s", "help\\Quillet.hlp;Quillet.hlp", "Help");
    CHECK_STR(out, "help\\Quillet.hlp;Quillet.hlp : Help");
    wsprintfA(out, "This installation requires %ld Kb.", 2097152L);
    CHECK_STR(out, "This installation requires 2097152 Kb.");
    wsprintfA(out, "Section [%s] does not exist !", "Install");
    CHECK_STR(out, "Section [Install] does not exist !");

    WCHAR wide[8];
    CHECK_EQ(MultiByteToWideChar(CP_ACP, 0, "\xE9t\xE9", -1, wide, 8), 4);
    CHECK_EQ(wide[0], 0xE9);
    CHECK_EQ(wide[3], 0);
}

void Registry()
{
    const char *path = "Software\\QuilletConformance\\Deep";
    HKEY key;
    DWORD disposition = 0;
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, (LPSTR)"", 0, KEY_READ | KEY_WRITE, NULL, &key, &disposition), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "Text", 0, REG_SZ, (const BYTE *)"abcdef", 7), ERROR_SUCCESS);
    DWORD size = 3;
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    CHECK_EQ(RegQueryValueExA(key, "Text", NULL, NULL, (BYTE *)buffer, &size), ERROR_MORE_DATA);
    CHECK_EQ(size, 7);
    size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "Text", NULL, NULL, (BYTE *)buffer, &size), ERROR_SUCCESS);
    CHECK_EQ(size, 7);
    CHECK_STR(buffer, "abcdef");
    memset(buffer, '#', sizeof buffer);
    size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "Missing", NULL, NULL, (BYTE *)buffer, &size), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(buffer[0], '#');
    // The default value, by an empty name and by a null one.
    CHECK_EQ(RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE *)"dflt", 5), ERROR_SUCCESS);
    size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "", NULL, NULL, (BYTE *)buffer, &size), ERROR_SUCCESS);
    CHECK_STR(buffer, "dflt");
    // An empty sub-key name opens the same key again.
    HKEY again;
    CHECK_EQ(RegOpenKeyExA(key, "", 0, KEY_READ | KEY_WRITE, &again), ERROR_SUCCESS);
    CHECK_EQ(RegCloseKey(again), ERROR_SUCCESS);
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QuilletConformance\\Nothing", 0, KEY_READ | KEY_WRITE, &key),
             ERROR_FILE_NOT_FOUND);
    // The predefined roots may be closed; nothing happens to them.
    CHECK_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
}

// Terminators: a text set without its NUL is read back with one, and a shorter buffer is refused.
void RegistryTerminators()
{
    HKEY key;
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\QuilletConformance", 0, (LPSTR)"", 0, KEY_READ | KEY_WRITE,
                             NULL, &key, NULL), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "Bare", 0, REG_SZ, (const BYTE *)"abc", 3), ERROR_SUCCESS);
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    DWORD size = sizeof buffer;
    CHECK_EQ(RegQueryValueExA(key, "Bare", NULL, NULL, (BYTE *)buffer, &size), ERROR_SUCCESS);
    CHECK_EQ(buffer[0], 'a');
    CHECK_EQ(buffer[2], 'c');
    CHECK(size == 3 || size == 4);
    if (size == 4)
        CHECK_EQ(buffer[3], '\0');
    RegCloseKey(key);
}

// What the removal of an installation's keys and values relies on, and the counts of a key.
void RegistryRemoval()
{
    const char *path = "Software\\QuilletConformance\\Removal";
    HKEY key, child, reader;
    CHECK_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, (LPSTR)"", 0, KEY_READ | KEY_WRITE, NULL, &key, NULL), ERROR_SUCCESS);
    CHECK_EQ(RegCreateKeyExA(key, "Child", 0, (LPSTR)"", 0, KEY_READ | KEY_WRITE, NULL, &child, NULL), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "Named", 0, REG_SZ, (const BYTE *)"abcdefgh", 9), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(key, "Longer name", 0, REG_BINARY, (const BYTE *)"0123456789", 10), ERROR_SUCCESS);
    CHECK_EQ(RegSetValueExA(child, "Leaf", 0, REG_SZ, (const BYTE *)"x", 2), ERROR_SUCCESS);

    // Every out-parameter may be null; the default value counts once it is set; names are counted in
    // characters without their terminator, data in bytes, texts as Windows keeps them (UTF-16).
    CHECK_EQ(RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    DWORD subKeys = 99, longestKey = 99, values = 99, longestName = 99, longestValue = 99;
    CHECK_EQ(RegQueryInfoKeyA(key, NULL, NULL, NULL, &subKeys, &longestKey, NULL, &values, &longestName, &longestValue,
                              NULL, NULL), ERROR_SUCCESS);
    CHECK_EQ(subKeys, 1);
    CHECK_EQ(longestKey, 5);
    CHECK_EQ(values, 2);
    CHECK_EQ(longestName, 11);
    CHECK_EQ(longestValue, 18);
    CHECK_EQ(RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE *)"d", 2), ERROR_SUCCESS);
    CHECK_EQ(RegQueryInfoKeyA(key, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    CHECK_EQ(values, 3);

    // Values: the default one by a null name and then by an empty one, a name without regard to
    // case; none for a handle that may not set values.
    CHECK_EQ(RegDeleteValueA(key, NULL), ERROR_SUCCESS);
    CHECK_EQ(RegDeleteValueA(key, ""), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegDeleteValueA(key, "NAMED"), ERROR_SUCCESS);
    CHECK_EQ(RegQueryValueExA(key, "Named", NULL, NULL, NULL, NULL), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &reader), ERROR_SUCCESS);
    CHECK_EQ(RegDeleteValueA(reader, "Longer name"), ERROR_ACCESS_DENIED);
    CHECK_EQ(RegQueryValueExA(key, "Longer name", NULL, NULL, NULL, NULL), ERROR_SUCCESS);

    // Keys: not one that has a sub-key; a leaf, with its values, even while a handle on it is open;
    // that handle then fails every call but its close.
    CHECK_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, path), ERROR_ACCESS_DENIED);
    CHECK_EQ(RegDeleteKeyA(key, "Child"), ERROR_SUCCESS);
    CHECK_EQ(RegQueryValueExA(child, "Leaf", NULL, NULL, NULL, NULL), ERROR_KEY_DELETED);
    CHECK_EQ(RegSetValueExA(child, "Leaf", 0, REG_SZ, (const BYTE *)"y", 2), ERROR_KEY_DELETED);
    CHECK_EQ(RegCloseKey(child), ERROR_SUCCESS);
    CHECK_EQ(RegDeleteKeyA(key, "Child"), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegOpenKeyExA(key, "Child", 0, KEY_READ, &child), ERROR_FILE_NOT_FOUND);
    CHECK_EQ(RegQueryInfoKeyA(key, NULL, NULL, NULL, &subKeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL), ERROR_SUCCESS);
    CHECK_EQ(subKeys, 0);
    // An empty name is the handle's own key.
    CHECK_EQ(RegDeleteKeyA(key, ""), ERROR_SUCCESS);
    CHECK_EQ(RegQueryInfoKeyA(reader, NULL, NULL, NULL, &subKeys, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
             ERROR_KEY_DELETED);
    CHECK_EQ(RegCloseKey(reader), ERROR_SUCCESS);
    CHECK_EQ(RegCloseKey(key), ERROR_SUCCESS);
    CHECK_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// The shell link object: COM must be initialised first; a link to a file that does not exist is
// still made, and one saved into a folder that does not exist is refused.
void ShellLinks()
{
    IShellLinkA *link = NULL;
    CHECK_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link),
             CO_E_NOTINITIALIZED);
    CHECK(SUCCEEDED(CoInitialize(NULL)));
    CHECK_EQ(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA, (void **)&link), S_OK);
    if (link != NULL) {
        IPersistFile *file = NULL;
        CHECK_EQ(link->QueryInterface(IID_IPersistFile, (void **)&file), S_OK);
        CHECK(SUCCEEDED(link->SetPath(In("no such target.exe"))));
        CHECK(SUCCEEDED(link->SetDescription("Text editor")));
        CHECK(SUCCEEDED(link->SetIconLocation("", 0)));
        CHECK(SUCCEEDED(link->SetShowCmd(SW_SHOWNORMAL)));
        if (file != NULL) {
            WCHAR path[MAX_PATH];
            MultiByteToWideChar(CP_ACP, 0, In("made.lnk"), -1, path, MAX_PATH);
            CHECK_EQ(file->Save(path, TRUE), S_OK);
            HANDLE made = CreateFileA(In("made.lnk"), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
            CHECK(made != INVALID_HANDLE_VALUE);
            CloseHandle(made);
            MultiByteToWideChar(CP_ACP, 0, In("no folder\\lost.lnk"), -1, path, MAX_PATH);
            CHECK(FAILED(file->Save(path, TRUE)));
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
}

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

int dialogSteps[8];
int dialogStepCount;

INT_PTR CALLBACK ProbeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        dialogSteps[dialogStepCount++] = 1;
        SendDlgItemMessageA(dialog, IDC_DIRECTORY_EDIT, EM_LIMITTEXT, 5, 0);
        SetDlgItemTextA(dialog, IDC_DIRECTORY_EDIT, "0123456789");
        PostMessageA(dialog, WM_COMMAND, IDC_DIRECTORY_INSTALL, 0);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DIRECTORY_INSTALL) {
            char text[8];
            // The limit is for typing; text set by the program is kept whole, and read cut.
            CHECK_EQ(GetDlgItemTextA(dialog, IDC_DIRECTORY_EDIT, text, sizeof text), 7);
            CHECK_STR(text, "0123456");
            dialogSteps[dialogStepCount++] = 2;
            EndDialog(dialog, 259);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void Windows(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "QuilletProbe";
    CHECK(RegisterClassA(&windowClass) != 0);
    HWND window = CreateWindowExA(0, "QuilletProbe", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL, instance, NULL);
    CHECK(window != NULL);

    // Disabling a window cancels its mouse capture: the default procedure ends it on WM_CANCELMODE.
    SetCapture(window);
    CHECK(GetCapture() == window);
    EnableWindow(window, FALSE);
    CHECK(GetCapture() == NULL);
    EnableWindow(window, TRUE);

    // A modal dialog from the templates: initialisation first, then the posted command ends it.
    dialogStepCount = 0;
    CHECK_EQ(DialogBoxParamA(instance, "Directory", window, ProbeDialogProc, 0), 259);
    CHECK_EQ(dialogStepCount, 2);
    CHECK_EQ(dialogSteps[0], 1);
    CHECK(IsWindowEnabled(window));

    // The quit message reaches a peek that is filtered to one window, once nothing else is posted.
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    PostMessageA(window, WM_USER + 5, 0, 0);
    PostQuitMessage(7);
    CHECK(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    CHECK_EQ(msg.message, WM_USER + 5);
    CHECK(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    CHECK_EQ(msg.message, WM_QUIT);
    CHECK_EQ(msg.wParam, 7);

    // A peek for input and repaints alone passes over posted messages, keys posted as messages
    // included, and leaves them queued in their order.
    PostMessageA(window, WM_USER + 6, 0, 0);
    PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
    CHECK(!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE | PM_QS_INPUT | PM_QS_PAINT));
    CHECK(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    CHECK_EQ(msg.message, WM_USER + 6);
    CHECK(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    CHECK_EQ(msg.message, WM_KEYDOWN);

    // A class cannot go while one of its windows exists.
    CHECK(!UnregisterClassA("QuilletProbe", instance));
    CHECK_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    DestroyWindow(window);
    CHECK(UnregisterClassA("QuilletProbe", instance));

    CHECK(LoadIconA(instance, "install") != NULL);
    CHECK(LoadIconA(instance, "Installer") == NULL);
}

// ---- The copy dialog's bars ---------------------------------------------------------------------

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

WNDPROC staticProcedure;
int staticPaints;

LRESULT CALLBACK CountingStaticProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        staticPaints++;
    return CallWindowProcA(staticProcedure, window, message, wParam, lParam);
}

// A bar is drawn straight onto a static control of the copy dialog. Painted anew, the control covers
// the drawing with the colour its dialog gives statics; a procedure put over the control's own gets
// its messages and can hand them on.
void StaticControls(HINSTANCE instance)
{
    HWND dialog = CreateDialogParamA(instance, "Copy", NULL, PassiveDialogProc, 0);
    CHECK(dialog != NULL);
    if (dialog == NULL)
        return;
    HWND bar = GetDlgItem(dialog, IDC_COPY_FILE_BAR);
    UpdateWindow(bar);
    HDC dc = GetDC(bar);
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    HGDIOBJ former = SelectObject(dc, blue);
    PatBlt(dc, 0, 0, 10, 10, PATCOPY);
    CHECK_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 255));
    InvalidateRect(bar, NULL, TRUE);
    UpdateWindow(bar);
    CHECK_EQ(GetPixel(dc, 2, 2), GetSysColor(COLOR_BTNFACE));

    staticProcedure = (WNDPROC)SetWindowLongPtrA(bar, GWLP_WNDPROC, (LONG_PTR)CountingStaticProc);
    CHECK(staticProcedure != NULL);
    PatBlt(dc, 0, 0, 10, 10, PATCOPY);
    staticPaints = 0;
    InvalidateRect(bar, NULL, TRUE);
    UpdateWindow(bar);
    CHECK_EQ(staticPaints, 1);
    CHECK_EQ(GetPixel(dc, 2, 2), GetSysColor(COLOR_BTNFACE));
    CallWindowProcA(staticProcedure, bar, WM_SETTEXT, 0, (LPARAM)"42 %");
    char text[8];
    CHECK_EQ(GetWindowTextA(bar, text, sizeof text), 4);
    CHECK_STR(text, "42 %");

    SelectObject(dc, former);
    DeleteObject(blue);
    ReleaseDC(bar, dc);
    DestroyWindow(dialog);
}

// ---- Device-independent bitmaps -------------------------------------------------------------

// CreateDIBitmap with header and colour table in one block, as a bitmap file's loader hands them.
HBITMAP MakeDib(HDC dc, DWORD size, LONG width, LONG height, WORD planes, WORD bitCount, DWORD compression,
                DWORD sizeImage, DWORD colorsUsed, const void *table, int tableBytes, const void *bits)
{
    static BYTE info[512];
    memset(info, 0, sizeof info);
    if (size == sizeof(BITMAPCOREHEADER)) {
        BITMAPCOREHEADER core = { size, (WORD)width, (WORD)height, planes, bitCount };
        memcpy(info, &core, sizeof core);
    } else {
        BITMAPINFOHEADER header;
        memset(&header, 0, sizeof header);
        header.biSize = size;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = planes;
        header.biBitCount = bitCount;
        header.biCompression = compression;
        header.biSizeImage = sizeImage;
        header.biClrUsed = colorsUsed;
        memcpy(info, &header, sizeof header);
    }
    // Colour tables follow the header; bitfield masks lie at offset 40 whatever its size.
    if (tableBytes > 0)
        memcpy(info + (compression == BI_BITFIELDS ? sizeof(BITMAPINFOHEADER) : size), table, tableBytes);
    return CreateDIBitmap(dc, (const BITMAPINFOHEADER *)info, CBM_INIT, bits, (const BITMAPINFO *)info, DIB_RGB_COLORS);
}

COLORREF PixelOf(HDC dc, HBITMAP bitmap, int x, int y)
{
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ former = SelectObject(memory, bitmap);
    COLORREF color = GetPixel(memory, x, y);
    SelectObject(memory, former);
    DeleteDC(memory);
    return color;
}

// Checks the four pixels of a 2 x 2 bitmap, top row first, and deletes it.
void CheckPixels(HDC dc, HBITMAP bitmap, COLORREF topLeft, COLORREF topRight, COLORREF bottomLeft,
                 COLORREF bottomRight, int line)
{
    Check(bitmap != NULL, "bitmap made", line);
    if (bitmap == NULL)
        return;
    const COLORREF expected[] = { topLeft, topRight, bottomLeft, bottomRight };
    for (int i = 0; i < 4; i++) {
        COLORREF got = PixelOf(dc, bitmap, i % 2, i / 2);
        Check(got == expected[i], "pixel of the bitmap", line, (long)got, (long)expected[i]);
    }
    DeleteObject(bitmap);
}

#define CHECK_PIXELS(bitmap, topLeft, topRight, bottomLeft, bottomRight) \
    CheckPixels(dc, (bitmap), (topLeft), (topRight), (bottomLeft), (bottomRight), __LINE__)

void Bitmaps(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "QuilletBitmapProbe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "QuilletBitmapProbe", "", WS_POPUP, 0, 0, 20, 20, NULL, NULL, instance, NULL);
    HDC dc = GetDC(window);
    CHECK(dc != NULL);
    const COLORREF red = RGB(255, 0, 0), green = RGB(0, 255, 0), blue = RGB(0, 0, 255), white = RGB(255, 255, 255);

    // Rows go bottom-up, each padded to 4 bytes, unless the height is negative.
    static const BYTE rgb[] = { 0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0 };
    CHECK_PIXELS(MakeDib(dc, 40, 2, 2, 1, 24, BI_RGB, 0, 0, NULL, 0, rgb), blue, white, red, green);
    CHECK_PIXELS(MakeDib(dc, 40, 2, -2, 1, 24, BI_RGB, 0, 0, NULL, 0, rgb), red, green, blue, white);
    // A longer header, more planes than one, and a true-colour bitmap naming colours used are all taken.
    CHECK_PIXELS(MakeDib(dc, 124, 2, 2, 2, 24, BI_RGB, 0, 256, NULL, 0, rgb), blue, white, red, green);
    // A colour table of the colours used (red, blue, green, white), and a core header's table of
    // RGB triples (white, red).
    static const BYTE quads[] = { 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0 };
    static const BYTE indexes[] = { 0, 1, 0, 0, 2, 3, 0, 0 };
    CHECK_PIXELS(MakeDib(dc, 40, 2, 2, 1, 8, BI_RGB, 0, 4, quads, 16, indexes), green, white, red, blue);
    static const BYTE triples[] = { 255, 255, 255, 0, 0, 255 };
    static const BYTE bits[] = { 0x40, 0, 0, 0, 0x80, 0, 0, 0 };
    CHECK_PIXELS(MakeDib(dc, 12, 2, 2, 1, 1, BI_RGB, 0, 0, triples, 6, bits), red, white, white, red);
    // Bitfield masks after a 40-byte header and inside a 108-byte one.
    static const DWORD masks[] = { 0xF800, 0x07E0, 0x001F };
    static const WORD fields[] = { 0xF800, 0x07E0, 0x001F, 0xFFFF };
    CHECK_PIXELS(MakeDib(dc, 40, 2, 2, 1, 16, BI_BITFIELDS, 0, 0, masks, 12, fields), blue, white, red, green);
    CHECK_PIXELS(MakeDib(dc, 108, 2, 2, 1, 16, BI_BITFIELDS, 0, 0, masks, 12, fields), blue, white, red, green);
    // Any three masks but a zero one are taken, each field widened to 8 bits by repeating its top
    // bits: 5 bits 11100 give 0xE7, 00100 give 0x21, 6 bits 100000 give 0x82, a mask of one bit 0xC0.
    static const WORD halves[] = { 0x8410, 0x0000, 0xE000, 0x2000 };
    CHECK_PIXELS(MakeDib(dc, 40, 2, 2, 1, 16, BI_BITFIELDS, 0, 0, masks, 12, halves), RGB(0xE7, 0, 0),
                 RGB(0x21, 0, 0), RGB(0x84, 0x82, 0x84), RGB(0, 0, 0));
    static const DWORD singleBits[] = { 0x8000, 0x4000, 0x2000 };
    CHECK_PIXELS(MakeDib(dc, 40, 2, 2, 1, 16, BI_BITFIELDS, 0, 0, singleBits, 12, halves), RGB(0xC0, 0xC0, 0xC0),
                 RGB(0, 0, 0xC0), RGB(0xC0, 0, 0), RGB(0, 0, 0));
    static const DWORD zeroMasks[][3] = { { 0xF800, 0x07E0, 0 }, { 0xF800, 0, 0x001F }, { 0, 0x07E0, 0x001F } };
    for (const DWORD *zero : zeroMasks) {
        SetLastError(0xDEAD);
        CHECK(MakeDib(dc, 40, 2, 2, 1, 16, BI_BITFIELDS, 0, 0, zero, 12, fields) == NULL);
        CHECK_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    static const DWORD zeroBlue32[] = { 0xFF0000, 0xFF00, 0 };
    CHECK(MakeDib(dc, 40, 2, 2, 1, 32, BI_BITFIELDS, 0, 0, zeroBlue32, 12, rgb) == NULL);
    // Run-length bits: bottom row 2 x index 1, then the top row 2 x index 3, then the end.
    static const BYTE runs[] = { 2, 1, 0, 0, 2, 3, 0, 1 };
    CHECK_PIXELS(MakeDib(dc, 40, 2, 2, 1, 8, BI_RLE8, sizeof runs, 4, quads, 16, runs), white, white, blue, blue);

    // A bitmap without width or height is the default 1 x 1 one, whatever else its header says.
    static const struct {
        LONG width, height;
        WORD bitCount;
        DWORD compression;
    } empty[] = { { 0, 2, 24, BI_RGB }, { 2, 0, 24, BI_RGB }, { 0, 2, 2, BI_RGB }, { 0, 2, 24, 7 } };
    for (const auto &row : empty) {
        HBITMAP bitmap = MakeDib(dc, 40, row.width, row.height, 1, row.bitCount, row.compression, 0, 0, NULL, 0, rgb);
        BITMAP size;
        memset(&size, 0, sizeof size);
        CHECK(bitmap != NULL);
        CHECK_EQ(GetObjectA(bitmap, sizeof size, &size), sizeof size);
        CHECK_EQ(size.bmWidth, 1);
        CHECK_EQ(size.bmHeight, 1);
        CHECK_EQ(size.bmBitsPixel, 1);
        DeleteObject(bitmap);
    }

    // What Windows refuses.
    CHECK(MakeDib(dc, 39, 2, 2, 1, 24, BI_RGB, 0, 0, NULL, 0, rgb) == NULL);
    CHECK(MakeDib(dc, 40, -2, 2, 1, 24, BI_RGB, 0, 0, NULL, 0, rgb) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 0, 24, BI_RGB, 0, 0, NULL, 0, rgb) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 1, 2, BI_RGB, 0, 0, quads, 16, rgb) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 1, 24, BI_BITFIELDS, 0, 0, masks, 12, rgb) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 1, 24, BI_JPEG, sizeof rgb, 0, NULL, 0, rgb) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 1, 24, 7, sizeof rgb, 0, NULL, 0, rgb) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 1, 8, BI_RLE8, 0, 4, quads, 16, runs) == NULL);
    CHECK(MakeDib(dc, 40, 2, -2, 1, 8, BI_RLE8, sizeof runs, 4, quads, 16, runs) == NULL);
    CHECK(MakeDib(dc, 40, 2, 2, 1, 24, BI_RLE8, sizeof runs, 4, quads, 16, runs) == NULL);

    ReleaseDC(window, dc);
    DestroyWindow(window);
    UnregisterClassA("QuilletBitmapProbe", instance);
}

}  // namespace

int RunConformance(HINSTANCE instance, const char *scratchDirectory)
{
    failures = 0;
    snprintf(scratch, sizeof scratch, "%s", scratchDirectory);
    CreateDirectoryA(scratch, NULL);
    Directories();
    Files();
    ReplacingFiles();
    RemovingDirectories();
    RemovingThroughHandles();
    FileAttributes();
    ProcessTexts();
    Memory();
    Strings(instance);
    Registry();
    RegistryTerminators();
    RegistryRemoval();
    ShellLinks();
    Windows(instance);
    StaticControls(instance);
    Bitmaps(instance);
    return failures;
}
