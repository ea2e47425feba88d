// win32sim registry: an in-memory tree under the predefined roots with the real error codes,
// handles that must be closed, and counts that let a test prove every key was closed.
#include <windows.h>

#include <time.h>

#include <algorithm>
#include <map>
#include <memory>

#include "SimInternal.h"

namespace {

// Now, in 100-nanosecond intervals since 1601, for the last-write times of keys.
FILETIME Now()
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t ticks = (uint64_t)now.tv_sec * 10000000ULL + (uint64_t)now.tv_nsec / 100 + 116444736000000000ULL;
    return FILETIME{ (DWORD)ticks, (DWORD)(ticks >> 32) };
}

struct Key {
    std::map<std::string, std::shared_ptr<Key>> children;  // by lower-case name
    std::map<std::string, sim::RegValue> values;           // by lower-case name; "" is the default
    FILETIME written = Now();                              // a value or sub-key set or deleted
    // Handles still open on a deleted key stay open, but every call on them fails with
    // ERROR_KEY_DELETED, as on Windows.
    bool deleted = false;
};

struct OpenKey {
    std::shared_ptr<Key> key;
    std::string path;  // "HKEY_LOCAL_MACHINE\Software\..."
    REGSAM access;
};

struct RegistryState {
    std::map<uintptr_t, std::shared_ptr<Key>> roots;
    std::map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = 0x7000;
    int opens = 0, closes = 0;
    std::vector<std::string> requests;  // sub-key names asked for, in order
    std::vector<std::pair<std::string, LONG>> openFaults, queryFaults, writeFaults, deleteFaults;
    struct ValueFault {
        std::string keyFilter, valueName;  // the value name in lower case; "" is the default value
        LONG error;
    };
    std::vector<ValueFault> valueWriteFaults;
};

RegistryState &TheRegistry()
{
    static RegistryState state;
    return state;
}

const char *RootName(HKEY root)
{
    if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_USERS) return "HKEY_USERS";
    return nullptr;
}

bool IsRoot(HKEY key)
{
    return RootName(key) != nullptr;
}

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the types whose A calls add or append a terminator.
bool IsStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The key a handle stands for, with its path; false for a handle that is not open.
bool Resolve(HKEY handle, std::shared_ptr<Key> *key, std::string *path, REGSAM *access)
{
    RegistryState &r = TheRegistry();
    if (IsRoot(handle)) {
        auto &root = r.roots[(uintptr_t)handle];
        if (!root)
            root = std::make_shared<Key>();
        *key = root;
        *path = RootName(handle);
        *access = KEY_READ | KEY_WRITE;
        return true;
    }
    auto found = r.handles.find((uintptr_t)handle);
    if (found == r.handles.end())
        return false;
    *key = found->second.key;
    *path = found->second.path;
    *access = found->second.access;
    return true;
}

std::vector<std::string> Components(const std::string &path)
{
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty() || parts.empty())
        parts.push_back(part);
    return parts;
}

LONG MatchingFault(const std::vector<std::pair<std::string, LONG>> &faults, const std::string &path)
{
    for (const auto &fault : faults) {
        if (sim::detail::FilterMatches(fault.first, path))
            return fault.second;
    }
    return ERROR_SUCCESS;
}

HKEY NewHandle(const std::shared_ptr<Key> &key, const std::string &path, REGSAM access)
{
    RegistryState &r = TheRegistry();
    uintptr_t handle = r.nextHandle;
    r.nextHandle += 4;
    r.handles[handle] = OpenKey{ key, path, access };
    r.opens++;
    return (HKEY)handle;
}

// Walks (and with `create`, makes) the keys of `subKey` below `base`.
LONG Walk(HKEY base, LPCSTR subKey, bool create, REGSAM access, PHKEY result, LPDWORD disposition)
{
    std::shared_ptr<Key> key;
    std::string path;
    REGSAM baseAccess;
    if (result == nullptr)
        return create ? ERROR_BADKEY : ERROR_INVALID_PARAMETER;
    if (!Resolve(base, &key, &path, &baseAccess))
        return ERROR_INVALID_HANDLE;
    *result = nullptr;  // what a failed call leaves in the output
    if (key->deleted)
        return ERROR_KEY_DELETED;
    std::string sub = subKey != nullptr ? subKey : "";
    TheRegistry().requests.push_back(sub);
    if (!sub.empty() && sub[0] == '\\')
        return ERROR_BAD_PATHNAME;
    // Opening nothing below a predefined key hands back that key itself, not a new handle.
    if (!create && sub.empty() && IsRoot(base)) {
        TheRegistry().opens++;
        *result = base;
        return ERROR_SUCCESS;
    }
    bool created = false;
    if (!sub.empty()) {
        for (const std::string &part : Components(sub)) {
            if (part.size() > 255)
                return ERROR_INVALID_PARAMETER;
            if (part.empty())
                continue;
            std::string lower = sim::detail::Lower(part);
            auto found = key->children.find(lower);
            path += "\\" + part;
            if (found == key->children.end()) {
                // Windows does not look at the parent handle's access when it creates a key.
                if (!create)
                    return ERROR_FILE_NOT_FOUND;
                auto child = std::make_shared<Key>();
                key->children[lower] = child;
                key->written = Now();
                key = child;
                created = true;
            } else {
                key = found->second;
            }
        }
    }
    LONG fault = MatchingFault(TheRegistry().openFaults, path);
    if (fault != ERROR_SUCCESS)
        return fault;
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(key, path, access);
    return ERROR_SUCCESS;
}

// The key that holds `child` as a sub-key, below `key`, with the child's name there; false when
// none does (a predefined root, or a key already deleted).
bool FindParent(const std::shared_ptr<Key> &key, const Key *child, std::shared_ptr<Key> *parent, std::string *name)
{
    for (const auto &entry : key->children) {
        if (entry.second.get() == child) {
            *parent = key;
            *name = entry.first;
            return true;
        }
        if (FindParent(entry.second, child, parent, name))
            return true;
    }
    return false;
}

std::shared_ptr<Key> KeyAt(HKEY root, const std::string &path, bool create)
{
    std::shared_ptr<Key> key;
    std::string name;
    REGSAM access;
    if (!Resolve(root, &key, &name, &access))
        sim::detail::Fail("not a registry root");
    if (path.empty())
        return key;
    for (const std::string &part : Components(path)) {
        if (part.empty())
            continue;
        std::string lower = sim::detail::Lower(part);
        auto found = key->children.find(lower);
        if (found == key->children.end()) {
            if (!create)
                return nullptr;
            found = key->children.emplace(lower, std::make_shared<Key>()).first;
            key->written = Now();
        }
        key = found->second;
    }
    return key;
}

}  // namespace

namespace sim::detail {

void ResetRegistry()
{
    TheRegistry() = RegistryState();
}

}  // namespace sim::detail

namespace sim {

void FailRegistryOpen(const std::string &keyPathContains, LONG error)
{
    TheRegistry().openFaults.push_back({ keyPathContains, error });
}

void FailRegistryQuery(const std::string &keyPathContains, LONG error)
{
    TheRegistry().queryFaults.push_back({ keyPathContains, error });
}

void FailRegistryWrite(const std::string &keyPathContains, LONG error)
{
    TheRegistry().writeFaults.push_back({ keyPathContains, error });
}

void FailRegistryDelete(const std::string &keyPathContains, LONG error)
{
    TheRegistry().deleteFaults.push_back({ keyPathContains, error });
}

void FailRegistryValueWrite(const std::string &keyPathContains, const std::string &valueName, LONG error)
{
    TheRegistry().valueWriteFaults.push_back({ keyPathContains, detail::Lower(valueName), error });
}

int OpenRegistryKeys()
{
    return (int)TheRegistry().handles.size();
}

int RegKeyOpenCount()
{
    return TheRegistry().opens;
}

int RegKeyCloseCount()
{
    return TheRegistry().closes;
}

const std::vector<std::string> &RegKeyRequests()
{
    return TheRegistry().requests;
}

void RegPutString(HKEY root, const std::string &path, const std::string &name, const std::string &text, bool withTerminator)
{
    RegPutValue(root, path, name, REG_SZ, withTerminator ? text + std::string(1, '\0') : text);
}

void RegPutValue(HKEY root, const std::string &path, const std::string &name, DWORD type, const std::string &bytes)
{
    std::shared_ptr<Key> key = KeyAt(root, path, true);
    key->values[detail::Lower(name)] = RegValue{ type, bytes };
    key->written = Now();
}

std::optional<RegValue> RegGet(HKEY root, const std::string &path, const std::string &name)
{
    std::shared_ptr<Key> key = KeyAt(root, path, false);
    if (!key)
        return std::nullopt;
    auto found = key->values.find(detail::Lower(name));
    if (found == key->values.end())
        return std::nullopt;
    return found->second;
}

bool RegKeyExists(HKEY root, const std::string &path)
{
    return KeyAt(root, path, false) != nullptr;
}

void RegDeleteValue(HKEY root, const std::string &path, const std::string &name)
{
    if (std::shared_ptr<Key> key = KeyAt(root, path, false))
        key->values.erase(detail::Lower(name));
}

}  // namespace sim

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return Walk(key, subKey, false, access, result, nullptr);
}

LONG WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                            PHKEY result, LPDWORD disposition)
{
    return Walk(key, subKey, true, access, result, disposition);
}

// What a call on a key's values checks first: a live handle opened with the access it needs, a key
// not deleted since, and no injected fault on the key's path.
static LONG UsableKey(HKEY handle, REGSAM needed, const std::vector<std::pair<std::string, LONG>> &faults,
                      std::shared_ptr<Key> *key, std::string *path)
{
    REGSAM access;
    if (!Resolve(handle, key, path, &access))
        return ERROR_INVALID_HANDLE;
    if (!(access & needed))
        return ERROR_ACCESS_DENIED;
    if ((*key)->deleted)
        return ERROR_KEY_DELETED;
    return MatchingFault(faults, *path);
}

LONG WINAPI RegQueryValueExA(HKEY handle, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    std::shared_ptr<Key> key;
    std::string path;
    LONG error = UsableKey(handle, KEY_QUERY_VALUE, TheRegistry().queryFaults, &key, &path);
    if (error != ERROR_SUCCESS)
        return error;
    auto found = key->values.find(sim::detail::Lower(valueName != nullptr ? valueName : ""));
    if (found == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    const sim::RegValue &value = found->second;
    if (type != nullptr)
        *type = value.type;
    if (dataSize == nullptr)
        return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    DWORD room = *dataSize;
    *dataSize = (DWORD)value.bytes.size();
    if (data == nullptr)
        return ERROR_SUCCESS;
    if (room < value.bytes.size())
        return ERROR_MORE_DATA;
    memcpy(data, value.bytes.data(), value.bytes.size());
    // A text stored without its terminator gets one when there is room; the size stays the stored one.
    size_t length = value.bytes.size();
    if (IsStringType(value.type) && length > 0 && length < room && value.bytes[length - 1] != '\0')
        data[length] = '\0';
    return ERROR_SUCCESS;
}

static LONG SetValue(const std::shared_ptr<Key> &key, const std::string &path, REGSAM access, LPCSTR valueName,
                     DWORD type, const BYTE *data, DWORD dataSize)
{
    if (!(access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (key->deleted)
        return ERROR_KEY_DELETED;
    LONG fault = MatchingFault(TheRegistry().writeFaults, path);
    if (fault != ERROR_SUCCESS)
        return fault;
    std::string name = sim::detail::Lower(valueName != nullptr ? valueName : "");
    for (const auto &valueFault : TheRegistry().valueWriteFaults) {
        if (valueFault.valueName == name && sim::detail::FilterMatches(valueFault.keyFilter, path))
            return valueFault.error;
    }
    // A text whose count leaves out the terminator that follows it is stored with the terminator.
    if (dataSize > 0 && IsStringType(type) && data[dataSize - 1] != 0 && data[dataSize] == 0)
        dataSize++;
    key->values[sim::detail::Lower(valueName != nullptr ? valueName : "")] =
        sim::RegValue{ type, std::string((const char *)data, dataSize) };
    key->written = Now();
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY handle, LPCSTR valueName, DWORD, DWORD type, const BYTE *data, DWORD dataSize)
{
    std::shared_ptr<Key> key;
    std::string path;
    REGSAM access;
    if (!Resolve(handle, &key, &path, &access))
        return ERROR_INVALID_HANDLE;
    LONG result = SetValue(key, path, access, valueName, type, data, dataSize);
    sim::JournalEntry entry{ sim::JournalEntry::RegistryValueSet, path, valueName != nullptr ? valueName : "",
                             data != nullptr ? std::string((const char *)data, dataSize) : std::string(), type };
    entry.error = (DWORD)result;
    sim::detail::AddJournal(entry);
    return result;
}

static LONG DeleteValue(HKEY handle, LPCSTR valueName, std::string *path)
{
    std::shared_ptr<Key> key;
    LONG error = UsableKey(handle, KEY_SET_VALUE, TheRegistry().deleteFaults, &key, path);
    if (error != ERROR_SUCCESS)
        return error;
    if (key->values.erase(sim::detail::Lower(valueName != nullptr ? valueName : "")) == 0)
        return ERROR_FILE_NOT_FOUND;
    key->written = Now();
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteValueA(HKEY handle, LPCSTR valueName)
{
    std::string path;
    LONG result = DeleteValue(handle, valueName, &path);
    sim::JournalEntry entry{ sim::JournalEntry::RegistryValueDeleted, path, valueName != nullptr ? valueName : "" };
    entry.error = (DWORD)result;
    sim::detail::AddJournal(entry);
    return result;
}

// NT's deletion: one key, and only one without sub-keys (ERROR_ACCESS_DENIED otherwise), its values
// with it; an empty name is the key of the handle itself. The handle's own access does not matter:
// the key to delete is opened anew for deletion.
static LONG DeleteKey(HKEY handle, LPCSTR subKey, std::string *path)
{
    std::shared_ptr<Key> key;
    REGSAM access;
    if (!Resolve(handle, &key, path, &access))
        return ERROR_INVALID_HANDLE;
    if (subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (key->deleted)
        return ERROR_KEY_DELETED;
    if (subKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    std::shared_ptr<Key> parent;
    std::string name;
    for (const std::string &part : Components(subKey)) {
        if (part.empty())
            continue;
        auto found = key->children.find(sim::detail::Lower(part));
        if (found == key->children.end())
            return ERROR_FILE_NOT_FOUND;
        *path += "\\" + part;
        parent = key;
        name = found->first;
        key = found->second;
    }
    if (!parent) {
        // A predefined root has no parent and cannot go.
        bool found = false;
        for (const auto &root : TheRegistry().roots)
            found = found || FindParent(root.second, key.get(), &parent, &name);
        if (!found)
            return ERROR_ACCESS_DENIED;
    }
    LONG fault = MatchingFault(TheRegistry().deleteFaults, *path);
    if (fault != ERROR_SUCCESS)
        return fault;
    if (!key->children.empty())
        return ERROR_ACCESS_DENIED;
    parent->children.erase(name);
    parent->written = Now();
    key->values.clear();
    key->deleted = true;
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyA(HKEY handle, LPCSTR subKey)
{
    std::string path;
    LONG result = DeleteKey(handle, subKey, &path);
    sim::JournalEntry entry{ sim::JournalEntry::RegistryKeyDeleted, path };
    entry.error = (DWORD)result;
    sim::detail::AddJournal(entry);
    return result;
}

// Every out-parameter may be null (a class buffer needs its length). The stand-in's keys have no
// class and no security descriptor: their lengths and sizes are 0.
LONG WINAPI RegQueryInfoKeyA(HKEY handle, LPSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                             LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                             LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptorSize,
                             PFILETIME lastWriteTime)
{
    std::shared_ptr<Key> key;
    std::string path;
    REGSAM access;
    if (!Resolve(handle, &key, &path, &access))
        return ERROR_INVALID_HANDLE;
    if (reserved != nullptr || (keyClass != nullptr && classLength == nullptr))
        return ERROR_INVALID_PARAMETER;
    if (!(access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (key->deleted)
        return ERROR_KEY_DELETED;
    LONG fault = MatchingFault(TheRegistry().queryFaults, path);
    if (fault != ERROR_SUCCESS)
        return fault;
    if (keyClass != nullptr) {
        // Even an empty class needs room for its terminator.
        if (*classLength == 0)
            return ERROR_MORE_DATA;
        keyClass[0] = '\0';
    }
    if (classLength != nullptr)
        *classLength = 0;
    DWORD longestName = 0, longestValueName = 0, longestValue = 0;
    for (const auto &child : key->children)
        longestName = std::max(longestName, (DWORD)child.first.size());
    for (const auto &value : key->values) {
        longestValueName = std::max(longestValueName, (DWORD)value.first.size());
        // Windows keeps texts in UTF-16 and gives their size so, even to the A call.
        DWORD size = (DWORD)value.second.bytes.size() * (IsStringType(value.second.type) ? 2 : 1);
        longestValue = std::max(longestValue, size);
    }
    if (subKeys != nullptr)
        *subKeys = (DWORD)key->children.size();
    if (maxSubKeyLength != nullptr)
        *maxSubKeyLength = longestName;
    if (maxClassLength != nullptr)
        *maxClassLength = 0;
    if (values != nullptr)
        *values = (DWORD)key->values.size();
    if (maxValueNameLength != nullptr)
        *maxValueNameLength = longestValueName;
    if (maxValueLength != nullptr)
        *maxValueLength = longestValue;
    if (securityDescriptorSize != nullptr)
        *securityDescriptorSize = 0;
    if (lastWriteTime != nullptr)
        *lastWriteTime = key->written;
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY handle)
{
    RegistryState &r = TheRegistry();
    r.closes++;
    if (IsRoot(handle))
        return ERROR_SUCCESS;
    if (r.handles.erase((uintptr_t)handle) == 0)
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

}  // extern "C"
