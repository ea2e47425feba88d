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
#include "script/ScriptReader.h"
#include "script/TextHelpers.h"
#include "system/Leftovers.h"

// The sections by their RECORD_ values, and the keys of the record's own section by place.
static const char *const SECTIONS[] = { "Record", "Files", "Directories", "Links", "Registry", "Keys" };
static const char *const PLACE_KEYS[] = { "Directory", "Group", "Desktop" };
static const char NEW_FILE[] = "new";
static const char OLD_FILE[] = "old";
static const char ABSENT[] = "-";
static const char FIELD_SEPARATOR = '|';
static const char TYPE_SEPARATOR = ':';

static const char RECORD_NAME[] = "\\Quillet.rec";
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
    // A registry type's number and its separator.
    TYPE_CAPACITY = 16,
    // A file's write time: its two halves as eight hexadecimal digits each.
    TIME_DIGITS = 16,
    HALF_DIGITS = 8,
    // What the record keeps of an earlier line: all of it, or its first field ("before").
    KEEP_LINE = -1,
    KEEP_FIRST_FIELD = 1,
};

// The record being written: a growing text in a movable block, locked while it lives.
static HGLOBAL RecordHandle;
static char *Record;
static int RecordLength;
static int RecordCapacity;
static int RecordBroken;   // memory ran out: the record no longer holds every effect
static int RecordChanged;  // something was noted since the record was last written

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

// Decodes `count` bytes of encoded record text at `text` into `out` of `capacity`, terminated.
// Returns the length, or -1 when it does not fit or is not well formed.
static int DecodeField(const char *text, int count, char *out, int capacity)
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

// The root key named at the start of a record key ("HKLM\\...", "HKCR\\...", "HKCU\\..."), with the rest
// of the path in *path; null for anything else.
static HKEY RecordRoot(const char *key, const char **path)
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
                while (keptLength < line.ValueLength && kept[keptLength] != FIELD_SEPARATOR)
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
            while (*rest != '\0' && *rest != FIELD_SEPARATOR)
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
    RecordChanged = 1;
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

// Names `value` as the place `place` of the latest installation: its line goes first in the record's
// own section, and the same line standing further down goes (a place named by an earlier run, in
// another directory or for other users, stays after it).
static void PutPlace(int place, const char *value)
{
    char text[RECORD_LINE_CAPACITY];
    int length = CopyString(text, RECORD_LINE_CAPACITY, PLACE_KEYS[place]);
    length = AppendString(text, RECORD_LINE_CAPACITY, length, "=");
    length = EncodeField(text, RECORD_LINE_CAPACITY, length, (const BYTE *)value, (int)strlen(value));
    if (Record == NULL || RecordBroken || length < 0)
        return;
    length = AppendString(text, RECORD_LINE_CAPACITY, length, LINE_END);
    int first = FindSection(SECTIONS[RECORD_PLACES]);
    if (first < 0 || EnsureRoom(length) != 0)
        return;
    ScriptLine line;
    for (int at = first, lineLength; (lineLength = ParseScriptLine(Record + at, &line)) != 0; at += lineLength) {
        if (lineLength == length && memcmp(Record + at, text, (size_t)length) == 0) {
            memmove(Record + at, Record + at + length, (size_t)(RecordLength - at - length));
            RecordLength -= length;
            break;
        }
    }
    memmove(Record + first + length, Record + first, (size_t)(RecordLength - first));
    memcpy(Record + first, text, (size_t)length);
    RecordLength += length;
    Record[RecordLength] = '\0';
    RecordChanged = 1;
}

int BeginInstallRecord(const char *directory)
{
    EndInstallRecord();
    HGLOBAL earlier;
    char *text;
    if (LoadInstallRecord(&earlier, &text) == ERROR_SUCCESS) {
        RecordPlaces places;
        if (ReadRecordPlaces(text, &places) == 0) {
            RecordHandle = earlier;
            Record = text;
            RecordLength = (int)strlen(text);
            // LoadInstallRecord leaves that much room behind the text.
            RecordCapacity = RecordLength + RECORD_GROWTH;
            LogLine("Installation record: adding to the earlier one, of %s", places.Directory);
        } else {
            LogLine("Installation record: the earlier one is not well formed, started afresh");
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
    PutPlace(RECORD_DIRECTORY, directory);
    return 0;
}

void RecordGroup(const char *folder)
{
    PutPlace(RECORD_GROUP, folder);
}

void RecordDesktop(const char *folder)
{
    PutPlace(RECORD_DESKTOP, folder);
}

void RecordFile(const char *path, int existedBefore, DWORD size, const FILETIME *lastWrite)
{
    char value[RECORD_FIELD_CAPACITY];
    wsprintfA(value, "%s|%lu|%08lX%08lX", existedBefore ? OLD_FILE : NEW_FILE, size,
              lastWrite->dwHighDateTime, lastWrite->dwLowDateTime);
    PutPathLine(SECTIONS[RECORD_FILES], path, value, KEEP_FIRST_FIELD);
}

void RecordDirectory(const char *path)
{
    PutPathLine(SECTIONS[RECORD_DIRECTORIES], path, "", KEEP_LINE);
}

void RecordLink(const char *path)
{
    PutPathLine(SECTIONS[RECORD_LINKS], path, "", KEEP_LINE);
}

// Appends "-" or "type:bytes" to `out`; returns the new length or -1.
static int EncodeValue(char *out, int at, int present, DWORD type, const BYTE *bytes, DWORD count)
{
    if (!present)
        return AppendString(out, RECORD_LINE_CAPACITY, at, ABSENT);
    char prefix[TYPE_CAPACITY];
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
    key[at++] = FIELD_SEPARATOR;
    key[at] = '\0';
    if (name != NULL && EncodeField(key, RECORD_FIELD_CAPACITY, at, (const BYTE *)name, (int)strlen(name)) < 0)
        return;
    char value[RECORD_LINE_CAPACITY];
    at = -1;
    // Each side is read back into a field: one that would not fit there is not written either.
    if ((beforeResult != ERROR_SUCCESS || beforeCount < RECORD_FIELD_CAPACITY) && count < RECORD_FIELD_CAPACITY)
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
    PutRecordLine(SECTIONS[RECORD_VALUES], key, value, KEEP_FIRST_FIELD);
}

void RecordRegistryKey(HKEY root, const char *path, int length)
{
    char key[RECORD_FIELD_CAPACITY];
    if (Record != NULL && EncodeKey(key, RECORD_FIELD_CAPACITY, root, path, length) > 0)
        PutRecordLine(SECTIONS[RECORD_KEYS], key, "", KEEP_LINE);
}

// Writes the record to its place. Returns 0 or the Win32 error.
static DWORD WriteInstallRecord(void)
{
    if (RecordBroken)
        return ERROR_NOT_ENOUGH_MEMORY;
    char path[PATH_CAPACITY], temporary[PATH_CAPACITY];
    if (FormRecordPath(path, PATH_CAPACITY) != 0)
        return ERROR_FILENAME_EXCED_RANGE;
    if (FormLeftoverPath(temporary, path, TEMPORARY_SUFFIX) != 0)
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

DWORD SaveInstallRecord(void)
{
    if (Record == NULL || (!RecordChanged && !RecordBroken))
        return ERROR_SUCCESS;
    DWORD result = WriteInstallRecord();
    if (result == ERROR_SUCCESS) {
        RecordChanged = 0;
        LogLine("Installation record written");
    } else {
        LogLine("Installation record not written (error %lu): no removal could take this installation away",
                result);
    }
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
    RecordChanged = 0;
}

// ---- Reading -------------------------------------------------------------------------------------

// The next field of a value, from *cursor up to the next separator or `end`: its start and length;
// *cursor moves past the separator.
static int NextField(const char **cursor, const char *end, const char **field)
{
    const char *stop = *field = *cursor;
    while (stop < end && *stop != FIELD_SEPARATOR)
        stop++;
    *cursor = stop < end ? stop + 1 : stop;
    return (int)(stop - *field);
}

// `count` decimal digits at `digits` into *number. Returns 0, or -1 for anything else.
static int ReadDecimal(const char *digits, int count, DWORD *number)
{
    DWORD value = 0;
    for (int i = 0; i < count; i++) {
        if (digits[i] < '0' || digits[i] > '9' || value > (MAXDWORD - 9) / 10)
            return -1;
        value = value * 10 + (DWORD)(digits[i] - '0');
    }
    *number = value;
    return count > 0 ? 0 : -1;
}

// "new|size|write time" of a file's line.
static int ReadFileValue(const char *value, int length, RecordItem *item)
{
    const char *cursor = value, *end = value + length, *state, *size, *time;
    int stateLength = NextField(&cursor, end, &state);
    int sizeLength = NextField(&cursor, end, &size);
    int timeLength = NextField(&cursor, end, &time);
    if (cursor != end || ReadDecimal(size, sizeLength, &item->Size) != 0 || timeLength != TIME_DIGITS)
        return -1;
    if (stateLength == (int)sizeof OLD_FILE - 1 && memcmp(state, OLD_FILE, stateLength) == 0)
        item->ExistedBefore = 1;
    else if (stateLength == (int)sizeof NEW_FILE - 1 && memcmp(state, NEW_FILE, stateLength) == 0)
        item->ExistedBefore = 0;
    else
        return -1;
    DWORD halves[2] = { 0, 0 };
    for (int i = 0; i < TIME_DIGITS; i++) {
        int nibble = HexValue(time[i]);
        if (nibble < 0)
            return -1;
        halves[i / HALF_DIGITS] = halves[i / HALF_DIGITS] * 16 + (DWORD)nibble;
    }
    item->LastWrite.dwHighDateTime = halves[0];
    item->LastWrite.dwLowDateTime = halves[1];
    return 0;
}

// "-" or "type:bytes" of a registry line, taken from *cursor.
static int ReadDataField(const char **cursor, const char *end, RecordedData *data)
{
    const char *field;
    int length = NextField(cursor, end, &field);
    data->Present = !(length == (int)sizeof ABSENT - 1 && memcmp(field, ABSENT, length) == 0);
    data->Type = REG_NONE;
    data->Count = 0;
    if (!data->Present)
        return 0;
    const char *colon = (const char *)memchr(field, TYPE_SEPARATOR, (size_t)length);
    if (colon == NULL || ReadDecimal(field, (int)(colon - field), &data->Type) != 0)
        return -1;
    data->Count = DecodeField(colon + 1, (int)(field + length - colon - 1), (char *)data->Bytes, RECORD_FIELD_CAPACITY);
    return data->Count < 0 ? -1 : 0;
}

// Decodes a key "HKLM\path" of `length` bytes into the item's Name, Root and KeyPath.
static int ReadKey(const char *key, int length, RecordItem *item)
{
    if (DecodeField(key, length, item->Name, RECORD_FIELD_CAPACITY) < 0)
        return -1;
    item->Root = RecordRoot(item->Name, &item->KeyPath);
    if (item->Root == NULL)
        item->KeyPath = item->Name;
    return 0;
}

// Decodes one line of `section` into `item`. Returns 0, or -1 when it is not well formed.
static int ReadItem(int section, const char *text, const ScriptLine *line, RecordItem *item)
{
    item->Place = RECORD_NO_PLACE;
    item->Root = NULL;
    item->KeyPath = item->Name;
    item->ValueName[0] = '\0';
    item->ExistedBefore = 0;
    item->Size = 0;
    item->LastWrite.dwLowDateTime = item->LastWrite.dwHighDateTime = 0;
    item->Before.Present = item->Written.Present = 0;
    if (line->ValueStart == NULL)
        return -1;
    switch (section) {
    case RECORD_PLACES:
        item->Place = RECORD_NO_PLACE;
        for (int place = RECORD_DIRECTORY; place <= RECORD_DESKTOP; place++) {
            if (line->KeyLength == (int)strlen(PLACE_KEYS[place]) &&
                memcmp(text, PLACE_KEYS[place], (size_t)line->KeyLength) == 0)
                item->Place = place;
        }
        // A directory cut to fit would name another place: such a record is none of the installer's.
        return DecodeField(line->ValueStart, line->ValueLength, item->Name,
                           item->Place == RECORD_DIRECTORY ? (int)VALUE_CAPACITY : (int)RECORD_FIELD_CAPACITY) < 0
                   ? -1
                   : 0;
    case RECORD_VALUES: {
        // The key's path and the value's name are encoded apart: the first bare separator splits them.
        const char *bar = (const char *)memchr(text, FIELD_SEPARATOR, (size_t)line->KeyLength);
        int keyLength = bar != NULL ? (int)(bar - text) : line->KeyLength;
        const char *cursor = line->ValueStart, *end = line->ValueStart + line->ValueLength;
        if (ReadKey(text, keyLength, item) != 0 ||
            (bar != NULL && DecodeField(bar + 1, line->KeyLength - keyLength - 1, item->ValueName,
                                        RECORD_FIELD_CAPACITY) < 0) ||
            ReadDataField(&cursor, end, &item->Before) != 0 || ReadDataField(&cursor, end, &item->Written) != 0 ||
            cursor != end || !item->Written.Present)
            return -1;
        return 0;
    }
    case RECORD_KEYS:
        return ReadKey(text, line->KeyLength, item);
    case RECORD_FILES:
        if (ReadFileValue(line->ValueStart, line->ValueLength, item) != 0)
            return -1;
        break;
    }
    return DecodeField(text, line->KeyLength, item->Name, RECORD_FIELD_CAPACITY) < 0 ? -1 : 0;
}

// Visits the line at `text`, parsed into `line`: blank lines and comments are passed over.
static int VisitLine(int section, const char *text, const ScriptLine *line, RecordItem *item, RecordVisitor visit,
                     LPARAM context)
{
    if (line->KeyLength == 0 && line->ValueStart == NULL)
        return 0;
    return ReadItem(section, text, line, item) != 0 ? -1 : visit(item, context);
}

// The start of the line before the one at `at`, in a section whose first line starts at `first`:
// every line but the text's last ends with a line feed.
static int PreviousLine(const char *text, int first, int at)
{
    int previous = at - 1;
    while (previous > first && text[previous - 1] != '\n')
        previous--;
    return previous;
}

int WalkRecordSection(const char *record, int section, int backwards, RecordVisitor visit, LPARAM context)
{
    int first;
    if (FindScriptSection(NULL, NULL, NULL, SECTIONS[section], FALSE, record, &first) != 0)
        return 0;
    RecordItem item;
    ScriptLine line;
    int at = first, length, result = 0;
    // Forwards, each line is visited as the walk reaches it; backwards, the walk finds the section's
    // end, and the lines are visited from there back to its start.
    while (result == 0 && (length = ParseScriptLine(record + at, &line)) != 0) {
        if (!backwards)
            result = VisitLine(section, record + at, &line, &item, visit, context);
        at += length;
    }
    while (backwards && result == 0 && at > first) {
        at = PreviousLine(record, first, at);
        ParseScriptLine(record + at, &line);
        result = VisitLine(section, record + at, &line, &item, visit, context);
    }
    return result;
}

// Takes the first of each place into the RecordPlaces at `context`.
static int TakeFirstPlace(const RecordItem *item, LPARAM context)
{
    RecordPlaces *places = (RecordPlaces *)context;
    char *fields[] = { places->Directory, places->Group, places->Desktop };
    const int capacities[] = { VALUE_CAPACITY, RECORD_FIELD_CAPACITY, RECORD_FIELD_CAPACITY };
    if (item->Place != RECORD_NO_PLACE && fields[item->Place][0] == '\0')
        CopyString(fields[item->Place], capacities[item->Place], item->Name);
    return 0;
}

int ReadRecordPlaces(const char *record, RecordPlaces *places)
{
    places->Directory[0] = places->Group[0] = places->Desktop[0] = '\0';
    return WalkRecordSection(record, RECORD_PLACES, FALSE, TakeFirstPlace, (LPARAM)places) == 0 ? 0 : -1;
}

int FindRecordedDirectory(char *directory)
{
    HGLOBAL handle;
    char *text;
    if (LoadInstallRecord(&handle, &text) != ERROR_SUCCESS)
        return -1;
    RecordPlaces places;
    int result = ReadRecordPlaces(text, &places) == 0 && places.Directory[0] != '\0' ? 0 : -1;
    if (result == 0)
        CopyString(directory, VALUE_CAPACITY, places.Directory);
    GlobalUnlock(handle);
    GlobalFree(handle);
    return result;
}

int RecordNamesPath(const char *record, const char *path)
{
    char needle[RECORD_FIELD_CAPACITY];
    needle[0] = '\n';
    int length = EncodeField(needle, RECORD_FIELD_CAPACITY, 1, (const BYTE *)path, (int)strlen(path));
    return length > 0 && AppendString(needle, RECORD_FIELD_CAPACITY, length, "=") == length + 1 &&
           strstr(record, needle) != NULL;
}
