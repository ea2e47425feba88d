// The installation record, written by the installer and read by the uninstaller. It is a text in
// the install script's own form, read by the same reader, so that a person can read it too:
//
//   ; Quillet installation record
//   [Record]
//   Directory=C:\Program Files\Quillet
//   Group=C:\Users\me\Start Menu\Programs\Quillet
//   Desktop=C:\Users\me\Desktop
//   [Files]
//   C:\Program Files\Quillet\Quillet.exe=new|30000|01DA2B3C4D5E6F70
//   C:\WINDOWS\Unquil.exe=old|8192|01DA2B3C4D5E6F70
//   [Directories]
//   C:\Program Files\Quillet=
//   [Links]
//   C:\Users\me\Start Menu\Programs\Quillet\Quillet.lnk=
//   [Registry]
//   HKCR\txtfile\shell\open\command|=1:"C:\WINDOWS\notepad.exe" "%251"%00|1:"C:\Program Files\Quillet\Quillet.exe" "%251"
//   HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Quillet.exe|=-|1:C:\Program Files\Quillet\Quillet.exe
//   [Keys]
//   HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\Quillet.exe=
//
// A registry line is the key and the value's name, then what was there before the first
// installation and what the installation wrote: "-" for nothing, or the type and the bytes. Every
// byte that the reader would take for something else (a line end, '%', '|', '=', ';', '[', a blank
// at either end of a field, anything outside printable ASCII) is written as %XX.
#include "system/InstallRecord.h"

#include <string.h>

#include "core/InstallLog.h"
#include "core/InstallState.h"
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"

const char RECORD_SECTION[] = "Record";
const char RECORD_FILES[] = "Files";
const char RECORD_DIRECTORIES[] = "Directories";
const char RECORD_LINKS[] = "Links";
const char RECORD_VALUES[] = "Registry";
const char RECORD_KEYS[] = "Keys";
const char RECORD_DIRECTORY_KEY[] = "Directory";
const char RECORD_GROUP_KEY[] = "Group";
const char RECORD_DESKTOP_KEY[] = "Desktop";
const char RECORD_NEW_FILE[] = "new";
const char RECORD_OLD_FILE[] = "old";
const char RECORD_ABSENT[] = "-";

static const char RECORD_NAME[] = "\\Quillet.rec";
static const char RECORD_TEMPORARY_SUFFIX[] = ".~qs";
static const char EMPTY_RECORD[] = "; Quillet installation record: what the installation made and what it replaced\r\n"
                                   "[Record]\r\n[Files]\r\n[Directories]\r\n[Links]\r\n[Registry]\r\n[Keys]\r\n";
static const char LINE_END[] = "\r\n";
static const char HEX_DIGITS[] = "0123456789ABCDEF";

static const struct {
    HKEY Root;
    const char *Name;
} ROOTS[] = {
    { HKEY_LOCAL_MACHINE, "HKLM\\" },
    { HKEY_CLASSES_ROOT, "HKCR\\" },
    { HKEY_CURRENT_USER, "HKCU\\" },
};

enum {
    RECORD_GROWTH = 4096,
    RECORD_SIZE_LIMIT = 0x1000000,
    // A line of the record: key and value, each at most a field, and the separators.
    RECORD_LINE_CAPACITY = 4 * RECORD_FIELD_CAPACITY,
    TIME_DIGITS = 16,
    // What the record keeps of an earlier line: all of it, or its first field ("before").
    KEEP_LINE = -1,
    KEEP_FIRST_FIELD = 1,
    KEEP_NOTHING = 0,
};

// The record being written: a growing text in a movable block, locked while it lives.
static HGLOBAL RecordHandle;
static char *Record;
static int RecordLength;
static int RecordCapacity;
static int RecordBroken;  // memory ran out: the record no longer holds every effect

int FormRecordPath(char *path, int capacity)
{
    UINT length = GetWindowsDirectoryA(path, (UINT)capacity);
    if (length == 0 || length >= (UINT)capacity)
        return -1;
    int needed = (int)length + (int)(sizeof RECORD_NAME - 1);
    return AppendString(path, capacity, (int)length, RECORD_NAME) == needed ? 0 : -1;
}

// One byte of a field written as %XX where the reader would misread it.
static int NeedsEscape(unsigned char c, int first, int last)
{
    return c < 0x20 || c >= 0x7F || c == '%' || c == '|' || c == '=' || c == ';' || c == '[' ||
           (c == ' ' && (first || last));
}

// Appends `count` bytes of `bytes`, encoded, to `out` at `at`. Returns the new length, or -1 when
// they do not fit in `capacity`.
static int EncodeField(char *out, int capacity, int at, const BYTE *bytes, int count)
{
    for (int i = 0; i < count; i++) {
        unsigned char c = bytes[i];
        int escape = NeedsEscape(c, i == 0, i == count - 1);
        if (at + (escape ? 3 : 1) >= capacity)
            return -1;
        if (escape) {
            out[at++] = '%';
            out[at++] = HEX_DIGITS[c >> 4];
            out[at++] = HEX_DIGITS[c & 15];
        } else {
            out[at++] = (char)c;
        }
    }
    out[at] = '\0';
    return at;
}

int EncodeRecordText(char *out, int capacity, int at, const char *text)
{
    return EncodeField(out, capacity, at, (const BYTE *)text, (int)strlen(text));
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

int DecodeRecordText(const char *text, int count, char *out, int capacity)
{
    int length = 0;
    for (int i = 0; i < count; i++) {
        if (length + 1 >= capacity)
            return -1;
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= count)
                return -1;
            int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
            if (high < 0 || low < 0)
                return -1;
            c = (char)(high * 16 + low);
            i += 2;
        }
        out[length++] = c;
    }
    out[length] = '\0';
    return length;
}

int NextRecordField(const char **cursor, const char *end, char *out, int capacity)
{
    const char *start = *cursor;
    const char *stop = start;
    while (stop < end && *stop != RECORD_FIELD_SEPARATOR)
        stop++;
    *cursor = stop < end ? stop + 1 : stop;
    return DecodeRecordText(start, (int)(stop - start), out, capacity);
}

HKEY RecordRoot(const char *key, const char **path)
{
    for (const auto &root : ROOTS) {
        int length = (int)strlen(root.Name);
        if (strncmp(key, root.Name, length) == 0) {
            *path = key + length;
            return root.Root;
        }
    }
    return NULL;
}

static const char *RootPrefix(HKEY root)
{
    for (const auto &known : ROOTS) {
        if (known.Root == root)
            return known.Name;
    }
    return NULL;
}

// Makes room for `extra` more bytes and a terminator. Returns 0, or -1 with the record broken.
static int EnsureRoom(int extra)
{
    if (RecordLength + extra < RecordCapacity)
        return 0;
    int capacity = RecordLength + extra + RECORD_GROWTH;
    GlobalUnlock(RecordHandle);
    HGLOBAL grown = GlobalReAlloc(RecordHandle, (SIZE_T)capacity, GMEM_MOVEABLE | GMEM_ZEROINIT);
    if (grown != NULL) {
        RecordHandle = grown;
        RecordCapacity = capacity;
    }
    Record = (char *)GlobalLock(RecordHandle);
    if (grown == NULL || Record == NULL) {
        RecordBroken = 1;
        return -1;
    }
    return 0;
}

// Offset of the line after the header of `section`, or -1.
static int FindSection(const char *section)
{
    int cursor;
    if (FindScriptSection(NULL, NULL, NULL, section, FALSE, Record, &cursor) != 0)
        return -1;
    return cursor;
}

// Puts the line "key=value" in `section`. An earlier line of the same key keeps its first `keep`
// fields (all of it for KEEP_LINE) and takes the rest from `value`.
static void PutRecordLine(const char *section, const char *key, const char *value, int keep)
{
    if (Record == NULL || RecordBroken)
        return;
    int at = FindSection(section);
    if (at < 0)
        return;
    int keyLength = (int)strlen(key);
    const char *kept = NULL;
    int keptLength = 0, lineLength = 0;
    ScriptLine line;
    for (;;) {
        lineLength = ParseScriptLine(Record + at, &line);
        if (lineLength == 0)
            break;
        if (line.ValueStart != NULL && line.KeyLength == keyLength && memcmp(Record + at, key, keyLength) == 0) {
            if (keep == KEEP_LINE)
                return;
            kept = line.ValueStart;
            for (int field = 0; field < keep; field++) {
                while (keptLength < line.ValueLength && kept[keptLength] != RECORD_FIELD_SEPARATOR)
                    keptLength++;
            }
            break;
        }
        at += lineLength;
    }

    char text[RECORD_LINE_CAPACITY];
    int length = CopyString(text, RECORD_LINE_CAPACITY, key);
    length = AppendString(text, RECORD_LINE_CAPACITY, length, "=");
    const char *rest = value;
    if (kept != NULL && keep > 0) {
        length = AppendChars(text, RECORD_LINE_CAPACITY, length, kept, keptLength);
        for (int field = 0; field < keep; field++) {
            while (*rest != '\0' && *rest != RECORD_FIELD_SEPARATOR)
                rest++;
        }
    }
    length = AppendString(text, RECORD_LINE_CAPACITY, length, rest);
    length = AppendString(text, RECORD_LINE_CAPACITY, length, LINE_END);
    int replaced = kept != NULL ? lineLength : 0;
    if (EnsureRoom(length - replaced) != 0)
        return;
    memmove(Record + at + length, Record + at + replaced, (size_t)(RecordLength - at - replaced));
    memcpy(Record + at, text, (size_t)length);
    RecordLength += length - replaced;
    Record[RecordLength] = '\0';
}

// Puts an item whose key is one path and whose value is `value`.
static void PutPathLine(const char *section, const char *path, const char *value, int keep)
{
    char key[RECORD_FIELD_CAPACITY];
    if (EncodeField(key, RECORD_FIELD_CAPACITY, 0, (const BYTE *)path, (int)strlen(path)) > 0)
        PutRecordLine(section, key, value, keep);
}

DWORD LoadInstallRecord(HGLOBAL *handle, char **text)
{
    *handle = NULL;
    *text = NULL;
    char path[PATH_CAPACITY];
    if (FormRecordPath(path, PATH_CAPACITY) != 0)
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    int size = MeasureFileSize(file);
    DWORD result = ERROR_SUCCESS, read = 0;
    HGLOBAL block = NULL;
    char *bytes = NULL;
    // A record takes some kilobytes; anything far larger is none of ours.
    if (size < 0 || size >= RECORD_SIZE_LIMIT)
        result = ERROR_FILE_INVALID;
    else if ((block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size + RECORD_GROWTH)) == NULL ||
             (bytes = (char *)GlobalLock(block)) == NULL)
        result = ERROR_NOT_ENOUGH_MEMORY;
    else if (!ReadFile(file, bytes, (DWORD)size, &read, NULL) || read != (DWORD)size)
        result = ERROR_CANTREAD;
    CloseHandle(file);
    // A NUL inside would end the text early: such a record is no record of ours.
    if (result == ERROR_SUCCESS && strlen(bytes) != (size_t)size)
        result = ERROR_FILE_INVALID;
    if (result != ERROR_SUCCESS) {
        if (block != NULL) {
            if (bytes != NULL)
                GlobalUnlock(block);
            GlobalFree(block);
        }
        return result;
    }
    *handle = block;
    *text = bytes;
    return ERROR_SUCCESS;
}

// The Directory line of a loaded record equals `directory`, letter case aside.
static int RecordIsOf(const char *text, const char *directory)
{
    int cursor;
    if (FindScriptSection(NULL, NULL, NULL, RECORD_SECTION, FALSE, text, &cursor) != 0)
        return 0;
    int keyLength = (int)sizeof RECORD_DIRECTORY_KEY - 1;
    ScriptLine line;
    int length;
    while ((length = ParseScriptLine(text + cursor, &line)) != 0) {
        char value[RECORD_FIELD_CAPACITY];
        if (line.ValueStart != NULL && line.KeyLength == keyLength &&
            memcmp(text + cursor, RECORD_DIRECTORY_KEY, keyLength) == 0)
            return DecodeRecordText(line.ValueStart, line.ValueLength, value, RECORD_FIELD_CAPACITY) >= 0 &&
                   SamePathPrefix(value, directory, (int)strlen(directory) + 1);
        cursor += length;
    }
    return 0;
}

int BeginInstallRecord(const char *directory)
{
    EndInstallRecord();
    HGLOBAL earlier;
    char *text;
    if (LoadInstallRecord(&earlier, &text) == ERROR_SUCCESS) {
        if (RecordIsOf(text, directory)) {
            RecordHandle = earlier;
            Record = text;
            RecordLength = (int)strlen(text);
            // LoadInstallRecord leaves that much room behind the text.
            RecordCapacity = RecordLength + RECORD_GROWTH;
            LogLine("Installation record: adding to the earlier one");
        } else {
            GlobalUnlock(earlier);
            GlobalFree(earlier);
        }
    }
    if (Record == NULL) {
        RecordHandle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, RECORD_GROWTH);
        if (RecordHandle == NULL)
            return -1;
        Record = (char *)GlobalLock(RecordHandle);
        if (Record == NULL) {
            GlobalFree(RecordHandle);
            RecordHandle = NULL;
            return -1;
        }
        RecordCapacity = RECORD_GROWTH;
        RecordLength = CopyString(Record, RecordCapacity, EMPTY_RECORD);
    }
    RecordSetting(RECORD_DIRECTORY_KEY, directory);
    return 0;
}

void RecordSetting(const char *key, const char *value)
{
    char encoded[RECORD_FIELD_CAPACITY];
    if (EncodeField(encoded, RECORD_FIELD_CAPACITY, 0, (const BYTE *)value, (int)strlen(value)) >= 0)
        PutRecordLine(RECORD_SECTION, key, encoded, KEEP_NOTHING);
}

void RecordFile(const char *path, int existedBefore, DWORD size, const FILETIME *lastWrite)
{
    char value[RECORD_FIELD_CAPACITY];
    wsprintfA(value, "%s|%lu|%08lX%08lX", existedBefore ? RECORD_OLD_FILE : RECORD_NEW_FILE, size,
              lastWrite->dwHighDateTime, lastWrite->dwLowDateTime);
    PutPathLine(RECORD_FILES, path, value, KEEP_FIRST_FIELD);
}

void RecordDirectory(const char *path)
{
    PutPathLine(RECORD_DIRECTORIES, path, "", KEEP_LINE);
}

void RecordLink(const char *path)
{
    PutPathLine(RECORD_LINKS, path, "", KEEP_LINE);
}

// Appends "-" or "type:bytes" to `out`; returns the new length or -1.
static int EncodeValue(char *out, int at, int present, DWORD type, const BYTE *bytes, DWORD count)
{
    if (!present)
        return AppendString(out, RECORD_LINE_CAPACITY, at, RECORD_ABSENT);
    char prefix[16];
    wsprintfA(prefix, "%lu:", type);
    at = AppendString(out, RECORD_LINE_CAPACITY, at, prefix);
    return EncodeField(out, RECORD_LINE_CAPACITY, at, bytes, (int)count);
}

// "HKLM\path" encoded into `out`, and `suffix` behind it. Returns the length or -1.
static int EncodeKey(char *out, int capacity, HKEY root, const char *path, int pathLength)
{
    const char *prefix = RootPrefix(root);
    if (prefix == NULL)
        return -1;
    int at = CopyString(out, capacity, prefix);
    return EncodeField(out, capacity, at, (const BYTE *)path, pathLength);
}

void RecordRegistryValue(HKEY root, const char *path, const char *name, LONG beforeResult, DWORD beforeType,
                         const BYTE *before, DWORD beforeCount, DWORD type, const BYTE *data, DWORD count)
{
    if (Record == NULL)
        return;
    char key[RECORD_FIELD_CAPACITY];
    int at = EncodeKey(key, RECORD_FIELD_CAPACITY, root, path, (int)strlen(path));
    if (at < 0 || at + 1 >= RECORD_FIELD_CAPACITY)
        return;
    key[at++] = RECORD_FIELD_SEPARATOR;
    key[at] = '\0';
    if (name != NULL && EncodeField(key, RECORD_FIELD_CAPACITY, at, (const BYTE *)name, (int)strlen(name)) < 0)
        return;
    char value[RECORD_LINE_CAPACITY];
    at = EncodeValue(value, 0, beforeResult == ERROR_SUCCESS, beforeType, before, beforeCount);
    if (at >= 0)
        at = AppendString(value, RECORD_LINE_CAPACITY, at, "|");
    if (at >= 0)
        at = EncodeValue(value, at, 1, type, data, count);
    if (at < 0) {
        // A value too large to keep would be given back wrong: better not at all.
        RecordBroken = 1;
        return;
    }
    PutRecordLine(RECORD_VALUES, key, value, KEEP_FIRST_FIELD);
}

void RecordRegistryKey(HKEY root, const char *path, int length)
{
    char key[RECORD_FIELD_CAPACITY];
    if (Record != NULL && EncodeKey(key, RECORD_FIELD_CAPACITY, root, path, length) > 0)
        PutRecordLine(RECORD_KEYS, key, "", KEEP_LINE);
}

DWORD SaveInstallRecord(void)
{
    if (Record == NULL)
        return ERROR_SUCCESS;
    if (RecordBroken)
        return ERROR_NOT_ENOUGH_MEMORY;
    char path[PATH_CAPACITY], temporary[PATH_CAPACITY];
    if (FormRecordPath(path, PATH_CAPACITY) != 0)
        return ERROR_FILENAME_EXCED_RANGE;
    int length = CopyString(temporary, PATH_CAPACITY, path);
    if (AppendString(temporary, PATH_CAPACITY, length, RECORD_TEMPORARY_SUFFIX) !=
        length + (int)(sizeof RECORD_TEMPORARY_SUFFIX - 1))
        return ERROR_FILENAME_EXCED_RANGE;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD written = 0;
    BOOL ok = WriteFile(file, Record, (DWORD)RecordLength, &written, NULL) && written == (DWORD)RecordLength &&
              FlushFileBuffers(file);
    DWORD result = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        result = GetLastError();
    if (result != ERROR_SUCCESS)
        DeleteFileA(temporary);
    return result;
}

void EndInstallRecord(void)
{
    if (RecordHandle != NULL) {
        GlobalUnlock(RecordHandle);
        GlobalFree(RecordHandle);
    }
    RecordHandle = NULL;
    Record = NULL;
    RecordLength = 0;
    RecordCapacity = 0;
    RecordBroken = 0;
}
