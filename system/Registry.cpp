// Registry values under key paths of any depth, walked one component at a time along the
// program-wide KeyChain so that every key opened on the way is closed again in one place.
#include "system/Registry.h"

#include <string.h>

#include "core/InstallLog.h"
#include "script/TextHelpers.h"
#include "system/InstallRecord.h"

// The result of a walk whose chain node could not be allocated.
static const LONG NO_NODE_MEMORY = -1;
static const char KEY_SEPARATOR = '\\';
KeyChainState KeyChain;

// Every created key gets the empty class.
static char EmptyKeyClass[] = "";

// A chain node holding `key`, or null when the heap is exhausted.
static KeyNode *NewKeyNode(HKEY key)
{
    KeyNode *node = (KeyNode *)HeapAlloc(GetProcessHeap(), 0, sizeof(KeyNode));
    if (node != NULL) {
        node->Key = key;
        node->Next = NULL;
    }
    return node;
}

// Opens (or with `create`, creates) each component of `path` below the key of the chain's tail.
static LONG WalkKeyPath(HKEY root, const char *path, REGSAM access, BOOL create, HKEY *outKey)
{
    KeyChainState *chain = &KeyChain;
    chain->Head = NewKeyNode(root);
    if (chain->Head == NULL)
        return NO_NODE_MEMORY;
    chain->Tail = chain->Head;

    const char *cursor = path;
    char component[PATH_CAPACITY];
    while (*cursor != '\0') {
        // A component longer than the buffer is cut, and the scan goes on after its backslash;
        // a trailing backslash leaves the cursor on the NUL, so it yields no empty last component.
        NextField(&cursor, component, PATH_CAPACITY, KEY_SEPARATOR);
        chain->Next = NewKeyNode(NULL);
        if (chain->Next == NULL) {
            CloseKeyChain();
            return NO_NODE_MEMORY;
        }
        chain->Tail->Next = chain->Next;
        LONG result;
        if (create) {
            DWORD disposition = REG_OPENED_EXISTING_KEY;
            result = RegCreateKeyExA(chain->Tail->Key, component, 0, EmptyKeyClass, 0, access, NULL,
                                     &chain->Next->Key, &disposition);
            // A key made here is the installation's, for the uninstaller to take away again.
            if (result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY) {
                int length = (int)(cursor - path);
                RecordRegistryKey(root, path, length > 0 && path[length - 1] == KEY_SEPARATOR ? length - 1 : length);
            }
        } else {
            result = RegOpenKeyExA(chain->Tail->Key, component, 0, access, &chain->Next->Key);
        }
        if (result != ERROR_SUCCESS) {
            // The failed call may have left anything in its output: the node holds no key.
            chain->Next->Key = NULL;
            CloseKeyChain();
            return result;
        }
        chain->Tail = chain->Next;
    }
    *outKey = chain->Tail->Key;
    return ERROR_SUCCESS;
}

LONG OpenKeyPath(HKEY root, const char *path, REGSAM access, HKEY *outKey)
{
    return WalkKeyPath(root, path, access, FALSE, outKey);
}

LONG CreateKeyPath(HKEY root, const char *path, REGSAM access, HKEY *outKey)
{
    return WalkKeyPath(root, path, access, TRUE, outKey);
}

void CloseKeyChain(void)
{
    KeyChainState *chain = &KeyChain;
    KeyNode *node = chain->Head;
    while (node != NULL) {
        chain->Next = node->Next;
        // The head holds the predefined root, which takes a close as well; a node whose open
        // failed holds nothing.
        if (node->Key != NULL)
            RegCloseKey(node->Key);
        HeapFree(GetProcessHeap(), 0, node);
        node = chain->Next;
    }
    chain->Head = NULL;
    chain->Tail = NULL;
    chain->Next = NULL;
}

LONG ReadRegistryValue(HKEY root, const char *path, const char *valueName, char *buffer, DWORD bufferSize)
{
    if (bufferSize == 0)
        return ERROR_INVALID_PARAMETER;
    HKEY key;
    LONG result = OpenKeyPath(root, path, REGISTRY_ACCESS, &key);
    if (result == ERROR_SUCCESS) {
        DWORD type;  // any type is read byte for byte
        DWORD size = bufferSize;
        result = RegQueryValueExA(key, valueName, NULL, &type, (LPBYTE)buffer, &size);
        if (result == ERROR_SUCCESS) {
            // Values written without a terminator come back without one: end the text after what
            // came back, and refuse a value that fills the whole buffer with no terminator in it.
            if (size < bufferSize) {
                buffer[size] = '\0';
            } else if (buffer[bufferSize - 1] != '\0') {
                buffer[bufferSize - 1] = '\0';
                result = ERROR_MORE_DATA;
            }
        }
        CloseKeyChain();
    }
    return result;
}

static const char *RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER";
    return "HKEY";
}

// The value in the log: text as it was stored (its bytes, terminator or not), a number in decimal.
static void LogRegistryValue(HKEY root, const char *path, const char *valueName, DWORD type, const BYTE *data,
                             DWORD byteCount, LONG result)
{
    char text[PATH_CAPACITY];
    if (type == REG_DWORD && byteCount == sizeof(DWORD)) {
        DWORD number;
        memcpy(&number, data, sizeof number);
        wsprintfA(text, "%lu", number);
    } else {
        // Every text the installer stores is shorter than a path buffer; a longer one is cut here.
        CopyChars(text, PATH_CAPACITY, (const char *)data, (int)byteCount);
    }
    const char *name = valueName != NULL && valueName[0] != '\0' ? valueName : "(default)";
    if (result == ERROR_SUCCESS)
        LogLine("Registry value written: %s\\%s [%s] = %s", RootName(root), path, name, text);
    else
        LogLine("Registry value not written (error %ld): %s\\%s [%s] = %s", result, RootName(root), path, name,
                text);
}

// Notes in the installation record what `key` holds as `valueName` now, before it is set.
static void RecordValueBefore(HKEY root, const char *path, HKEY key, const char *valueName, DWORD type,
                              const BYTE *data, DWORD byteCount)
{
    DWORD beforeType = REG_NONE, size = 0;
    LONG result = RegQueryValueExA(key, valueName, NULL, &beforeType, NULL, &size);
    BYTE *before = NULL;
    if (result == ERROR_SUCCESS && size > 0) {
        before = (BYTE *)HeapAlloc(GetProcessHeap(), 0, size);
        result = before == NULL ? ERROR_NOT_ENOUGH_MEMORY
                                : RegQueryValueExA(key, valueName, NULL, &beforeType, before, &size);
    }
    RecordRegistryValue(root, path, valueName, result, beforeType, before, size, type, data, byteCount);
    if (before != NULL)
        HeapFree(GetProcessHeap(), 0, before);
}

static LONG SetRegistryValue(HKEY root, const char *path, const char *valueName, DWORD type, const BYTE *data,
                             DWORD byteCount, int recorded)
{
    HKEY key;
    LONG result = CreateKeyPath(root, path, REGISTRY_ACCESS, &key);
    if (result == ERROR_SUCCESS) {
        if (recorded)
            RecordValueBefore(root, path, key, valueName, type, data, byteCount);
        result = RegSetValueExA(key, valueName, 0, type, data, byteCount);
        CloseKeyChain();
    }
    LogRegistryValue(root, path, valueName, type, data, byteCount, result);
    return result;
}

LONG WriteRegistryValue(HKEY root, const char *path, const char *valueName, DWORD type, const BYTE *data,
                        DWORD byteCount)
{
    return SetRegistryValue(root, path, valueName, type, data, byteCount, TRUE);
}

LONG AmendRegistryValue(HKEY root, const char *path, const char *valueName, DWORD type, const BYTE *data,
                        DWORD byteCount)
{
    return SetRegistryValue(root, path, valueName, type, data, byteCount, FALSE);
}

LONG ReadRegistryData(HKEY root, const char *path, const char *valueName, DWORD *type, BYTE *data, DWORD *size)
{
    HKEY key;
    LONG result = OpenKeyPath(root, path, KEY_READ, &key);
    if (result == ERROR_SUCCESS) {
        result = RegQueryValueExA(key, valueName, NULL, type, data, size);
        CloseKeyChain();
    }
    return result;
}

LONG DeleteRegistryValue(HKEY root, const char *path, const char *valueName)
{
    HKEY key;
    LONG result = OpenKeyPath(root, path, REGISTRY_ACCESS, &key);
    if (result == ERROR_SUCCESS) {
        result = RegDeleteValueA(key, valueName);
        CloseKeyChain();
    }
    const char *name = valueName != NULL && valueName[0] != '\0' ? valueName : "(default)";
    LogLine("Registry value deleted (result %ld): %s\\%s [%s]", result, RootName(root), path, name);
    return result;
}

LONG DeleteEmptyRegistryKey(HKEY root, const char *path)
{
    HKEY key;
    LONG result = OpenKeyPath(root, path, REGISTRY_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD keys = 0, values = 0;
    result = RegQueryInfoKeyA(key, NULL, NULL, NULL, &keys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    CloseKeyChain();
    if (result == ERROR_SUCCESS && (keys != 0 || values != 0))
        result = ERROR_DIR_NOT_EMPTY;
    // Deleted through its parent, which the walk opens; a key of the root itself has the root.
    if (result == ERROR_SUCCESS) {
        char parent[PATH_CAPACITY];
        int length = CopyString(parent, PATH_CAPACITY, path);
        while (length > 0 && parent[length - 1] != KEY_SEPARATOR)
            length--;
        const char *name = path + length;
        parent[length > 0 ? length - 1 : 0] = '\0';
        HKEY parentKey = root;
        if (length > 0)
            result = OpenKeyPath(root, parent, REGISTRY_ACCESS, &parentKey);
        if (result == ERROR_SUCCESS) {
            result = RegDeleteKeyA(parentKey, name);
            if (length > 0)
                CloseKeyChain();
        }
    }
    LogLine("Registry key deleted (result %ld): %s\\%s", result, RootName(root), path);
    return result;
}
