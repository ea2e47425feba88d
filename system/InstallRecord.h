// The installation record: what the installer made and what it replaced, kept in the Windows
// directory, where only administrators write, so that the uninstaller removes that and nothing else.
#pragma once

#include <windows.h>

// The record's sections, in the order they stand in the file.
extern const char RECORD_SECTION[];      // Directory=, Group=, Desktop=
extern const char RECORD_FILES[];        // path=new|size|write time   (or old: the file was there before)
extern const char RECORD_DIRECTORIES[];  // path=                      (made by the installation)
extern const char RECORD_LINKS[];        // path=
extern const char RECORD_VALUES[];       // root\key|name=before|after (each "-" or type:data)
extern const char RECORD_KEYS[];         // root\key=                  (made by the installation)
extern const char RECORD_DIRECTORY_KEY[];
extern const char RECORD_GROUP_KEY[];
extern const char RECORD_DESKTOP_KEY[];
extern const char RECORD_NEW_FILE[];
extern const char RECORD_OLD_FILE[];
extern const char RECORD_ABSENT[];

enum {
    RECORD_FIELD_SEPARATOR = '|',
    // A registry value or path in the record, decoded, fits in this many bytes with its terminator.
    RECORD_FIELD_CAPACITY = 1024,
};

// The record's path: the Windows directory and its name. Returns 0, or -1 when it does not fit.
int FormRecordPath(char *path, int capacity);

// Starts the record of this run over the earlier one when that one is of `directory`, so that a
// second installation keeps the first one's "before"; otherwise over an empty record. Until then,
// and after EndInstallRecord, every Record call below does nothing. Returns 0, or -1 without memory.
int BeginInstallRecord(const char *directory);
// The effects, noted as the run makes them. An item already in the record keeps what it was before.
void RecordFile(const char *path, int existedBefore, DWORD size, const FILETIME *lastWrite);
void RecordDirectory(const char *path);
void RecordLink(const char *path);
void RecordSetting(const char *key, const char *value);  // a line of the record's own section
// A registry value about to be set: what is there now (`beforeResult` ERROR_SUCCESS with its type
// and bytes, or anything else for none) and what will be.
void RecordRegistryValue(HKEY root, const char *path, const char *name, LONG beforeResult, DWORD beforeType,
                         const BYTE *before, DWORD beforeCount, DWORD type, const BYTE *data, DWORD count);
// `length` bytes of `path` name a key that the installation has just created.
void RecordRegistryKey(HKEY root, const char *path, int length);
// Writes the record beside its place, then moves it in, so that a kill leaves the old one or the new
// one whole. Returns 0 or the Win32 error.
DWORD SaveInstallRecord(void);
void EndInstallRecord(void);

// Loads the record into a block that the caller frees with GlobalFree. Returns 0 with *text the
// NUL-terminated record, or the Win32 error (ERROR_FILE_NOT_FOUND when there is none).
DWORD LoadInstallRecord(HGLOBAL *handle, char **text);
// Takes the next field of a record value at *cursor (up to the next separator or the end), decoded
// into `out` of `capacity`; moves *cursor past it. Returns the field's length, or -1 when it did
// not fit or is not well formed.
int NextRecordField(const char **cursor, const char *end, char *out, int capacity);
// Appends `text` encoded as the record holds it to `out` of `capacity` at `at`; returns the new
// length, or -1 when it does not fit.
int EncodeRecordText(char *out, int capacity, int at, const char *text);
// Decodes `count` bytes of encoded record text at `text` into `out`; returns the length or -1.
int DecodeRecordText(const char *text, int count, char *out, int capacity);
// The root key named at the start of a record key ("HKLM\...", "HKCR\...", "HKCU\..."); the rest of
// the path in *path. Null for anything else.
HKEY RecordRoot(const char *key, const char **path);
