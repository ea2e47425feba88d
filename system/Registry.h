// Registry values under key paths of any depth: each component opened (or created) in turn along
// the program-wide KeyChain, which is closed again before an operation returns.
#pragma once

#include <windows.h>

// Every open and create asks for read and write access, reads included.
enum { REGISTRY_ACCESS = KEY_READ | KEY_WRITE };

// One registry key opened along a key path.
struct KeyNode {
    HKEY Key;
    KeyNode *Next;
};

// The keys opened along the key path being walked; all null between two registry operations.
struct KeyChainState {
    KeyNode *Head;
    KeyNode *Tail;
    KeyNode *Next;
};
extern KeyChainState KeyChain;

// Reads value `valueName` (null or "" for the default) into `buffer`, always leaving a
// NUL-terminated text there on success. Returns 0, a Win32 error code, or -1 without memory.
LONG ReadRegistryValue(HKEY root, const char *path, const char *valueName, char *buffer, DWORD bufferSize);
// Creates the key path as needed and sets exactly `byteCount` bytes of `data`. Same results.
// The value is the installation's: the installation record notes it with what it replaces.
LONG WriteRegistryValue(HKEY root, const char *path, const char *valueName, DWORD type, const BYTE *data,
                        DWORD byteCount);
// The same for a value that stays another program's (made safe, not taken over): not recorded,
// so the uninstaller leaves it as it is.
LONG AmendRegistryValue(HKEY root, const char *path, const char *valueName, DWORD type, const BYTE *data,
                        DWORD byteCount);
// Reads value `valueName` with its type, at most *size bytes into `data`; *size gets the count.
LONG ReadRegistryData(HKEY root, const char *path, const char *valueName, DWORD *type, BYTE *data, DWORD *size);
// Deletes value `valueName` of the key `path`. Same results.
LONG DeleteRegistryValue(HKEY root, const char *path, const char *valueName);
// Deletes the key `path` when it holds no value and no key any more; ERROR_DIR_NOT_EMPTY otherwise.
LONG DeleteEmptyRegistryKey(HKEY root, const char *path);
// Opens every component of `path` below `root`; *outKey is the deepest key, in the KeyChain.
LONG OpenKeyPath(HKEY root, const char *path, REGSAM access, HKEY *outKey);
// The same walk, creating the components that do not exist.
LONG CreateKeyPath(HKEY root, const char *path, REGSAM access, HKEY *outKey);
// Closes every key of the KeyChain, the root included, and frees its nodes.
void CloseKeyChain(void);
