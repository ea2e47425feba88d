// The installation record: what the installer made and what it replaced, kept in the Windows
// directory, where only administrators write, so that the uninstaller removes that and nothing else.
#pragma once

#include <windows.h>

#include "script/TextHelpers.h"

// The record's sections, in the order they stand in the file.
enum {
    RECORD_PLACES,       // Directory=path, Group=path, Desktop=path: the first of each the latest run's
    RECORD_FILES,        // path=new|size|write time   (or old: the file was there before)
    RECORD_DIRECTORIES,  // path=                      (made by the installation)
    RECORD_LINKS,        // path=
    RECORD_VALUES,       // root\key|name=before|after (each "-" or type:data)
    RECORD_KEYS,         // root\key=                  (made by the installation)
};

// The places the record's own section names.
enum {
    RECORD_NO_PLACE = -1,  // a line of a key no installer writes
    RECORD_DIRECTORY,      // the installation's directory
    RECORD_GROUP,          // its program group's folder
    RECORD_DESKTOP,        // the desktop folder that holds its link
};

enum {
    // A registry value or path in the record, decoded, fits in this many bytes with its terminator.
    RECORD_FIELD_CAPACITY = 1024,
};

// The record's path: the Windows directory and its name. Returns 0, or -1 when it does not fit.
int FormRecordPath(char *path, int capacity);

// Starts the record of this run over the earlier one, so that a second installation keeps the first
// one's "before" and, in another directory, the first one's files, which a removal then takes away
// with its own; over an empty record when there is none (or none well formed). `directory` becomes
// the record's first: the installation's own. Until then, and after EndInstallRecord, every Record
// call below does nothing. Returns 0, or -1 without memory.
int BeginInstallRecord(const char *directory);
// The effects, noted as the run makes them. An item already in the record keeps what it was before.
void RecordFile(const char *path, int existedBefore, DWORD size, const FILETIME *lastWrite);
void RecordDirectory(const char *path);
void RecordLink(const char *path);
void RecordGroup(const char *folder);    // the program group's folder
void RecordDesktop(const char *folder);  // the desktop folder that holds the installation's link
// A registry value about to be set: what is there now (`beforeResult` ERROR_SUCCESS with its type
// and bytes, or anything else for none) and what will be.
void RecordRegistryValue(HKEY root, const char *path, const char *name, LONG beforeResult, DWORD beforeType,
                         const BYTE *before, DWORD beforeCount, DWORD type, const BYTE *data, DWORD count);
// `length` bytes of `path` name a key that the installation has just created.
void RecordRegistryKey(HKEY root, const char *path, int length);
// Writes the record beside its place, then moves it in, so that a kill leaves the old one or the new
// one whole; nothing when nothing was noted since it was last written. Logs what became of it.
// Returns 0 or the Win32 error.
DWORD SaveInstallRecord(void);
void EndInstallRecord(void);

// Loads the record into a block that the caller frees with GlobalFree. Returns 0 with *text the
// NUL-terminated record, or the Win32 error (ERROR_FILE_NOT_FOUND when there is none).
DWORD LoadInstallRecord(HGLOBAL *handle, char **text);

// The places the record's own section names first: the latest installation's.
struct RecordPlaces {
    char Directory[VALUE_CAPACITY];
    char Group[RECORD_FIELD_CAPACITY];
    char Desktop[RECORD_FIELD_CAPACITY];
};
// Reads them from a loaded record (each empty when not named). Returns 0, or -1 when a line is not
// well formed or a directory is longer than an installation's ever is.
int ReadRecordPlaces(const char *record, RecordPlaces *places);
// The directory of the installation the record on this machine is of, into `directory` of
// VALUE_CAPACITY. Returns 0, or -1 when there is no such record (or none well formed).
int FindRecordedDirectory(char *directory);

// Registry data as the record holds it: what a value was before the installation, or what it wrote.
struct RecordedData {
    int Present;  // 0 for "-": no value
    DWORD Type;
    int Count;
    BYTE Bytes[RECORD_FIELD_CAPACITY];
};

// One line of a section, decoded.
struct RecordItem {
    char Name[RECORD_FIELD_CAPACITY];  // a file's, directory's or link's path; a key as "HKLM\path";
                                       // a place's path
    int Place;                         // of a place: a RECORD_ place value
    HKEY Root;                         // of a key or value: its root (null for one the record cannot
    const char *KeyPath;               // name), and its path below it, within Name
    char ValueName[RECORD_FIELD_CAPACITY];  // of a value: its name, "" for the key's default
    int ExistedBefore;                 // of a file: its size and write time after the installation
    DWORD Size;
    FILETIME LastWrite;
    RecordedData Before;               // of a value: before the first installation, and written
    RecordedData Written;
};

// Called for each item; `context` as WalkRecordSection was given it. A result other than 0 ends
// the walk with that result.
typedef int (*RecordVisitor)(const RecordItem *item, LPARAM context);
// Calls `visit` for every line of `section` (a RECORD_ value) of a loaded record, from the first
// to the last, or with `backwards` from the last to the first (a deeper directory or key stands
// after the one it is in). Returns 0, what a visit returned, or -1 at a line that is not well
// formed (the lines before it visited).
int WalkRecordSection(const char *record, int section, int backwards, RecordVisitor visit, LPARAM context);
// Whether a loaded record names `path` as one of its items.
int RecordNamesPath(const char *record, const char *path);
