// win32sim COM: initialisation counts and the shell link object, which records what was set and
// writes its link file into the sandbox through the stand-in's own file calls.
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "SimInternal.h"

const IID IID_IUnknown = { 0x00000000, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
const IID IID_IPersistFile = { 0x0000010B, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
const IID IID_IPersist = { 0x0000010C, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
const CLSID CLSID_ShellLink = { 0x00021401, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };
const IID IID_IShellLinkA = { 0x000214EE, 0x0000, 0x0000, { 0xC0, 0, 0, 0, 0, 0, 0, 0x46 } };

namespace {

// First line of every link file this shell link object writes.
const char LINK_SIGNATURE[] = "win32sim shell link 1";

struct MethodFault {
    HRESULT result = S_OK;
    int times = 0;  // -1: every call
};

struct ComState {
    int initialisations = 0;
    int liveObjects = 0;
    std::vector<sim::LinkRecord> links;
    std::vector<std::string> calls;
    MethodFault createFault;
    std::map<std::string, MethodFault> methodFaults;
};

ComState &TheCom()
{
    static ComState state;
    return state;
}

bool SameGuid(const GUID &a, const GUID &b)
{
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}

bool Consume(MethodFault &fault, HRESULT *result)
{
    if (fault.times == 0)
        return false;
    if (fault.times > 0)
        fault.times--;
    *result = fault.result;
    return true;
}

// Records the call and tells whether the test made it fail.
bool MethodFails(const std::string &method, HRESULT *result)
{
    ComState &com = TheCom();
    com.calls.push_back(method);
    auto found = com.methodFaults.find(method);
    return found != com.methodFaults.end() && Consume(found->second, result);
}

// UTF-16 back to Windows-1252, as WideCharToMultiByte(CP_ACP) would; unmappable characters give '?'.
std::string WideToAnsi(LPCOLESTR wide)
{
    std::string ansi;
    for (; *wide != 0; wide++) {
        char mapped = '?';
        for (int byte = 1; byte < 256; byte++) {
            char c = (char)byte;
            WCHAR back = 0;
            MultiByteToWideChar(CP_ACP, 0, &c, 1, &back, 1);
            if (back == *wide) {
                mapped = c;
                break;
            }
        }
        ansi += mapped;
    }
    return ansi;
}

void PutField(std::string *file, const char *name, const std::string &value)
{
    *file += std::string(name) + " " + std::to_string(value.size()) + "\n" + value + "\n";
}

// A field written by PutField at *at; false when the text is not in that shape.
bool TakeField(const std::string &file, size_t *at, const char *name, std::string *value)
{
    std::string head = std::string(name) + " ";
    if (file.compare(*at, head.size(), head) != 0)
        return false;
    size_t lineEnd = file.find('\n', *at);
    if (lineEnd == std::string::npos)
        return false;
    std::string count = file.substr(*at + head.size(), lineEnd - *at - head.size());
    if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos)
        return false;
    size_t size = std::stoul(count);
    if (lineEnd + 1 + size + 1 > file.size() || file[lineEnd + 1 + size] != '\n')
        return false;
    *value = file.substr(lineEnd + 1, size);
    *at = lineEnd + 1 + size + 1;
    return true;
}

void CopyOut(const std::string &text, LPSTR buffer, int max)
{
    if (buffer == nullptr || max <= 0)
        return;
    size_t count = std::min(text.size(), (size_t)max - 1);
    memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
}

bool TargetExists(const std::string &path)
{
    return !path.empty() && (sim::GetFile(path).has_value() || sim::DirectoryExists(path));
}

// The shell link object: one reference count for its two interfaces.
class ShellLink : public IShellLinkA, public IPersistFile {
public:
    ShellLink() { TheCom().liveObjects++; }
    ~ShellLink() override { TheCom().liveObjects--; }

    // ---- IUnknown, reached through either interface
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override { return Query(riid, object); }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        TheCom().calls.push_back("Release");
        if (references_ == 0)
            sim::detail::Fail("Release of a shell link object already released");
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT Query(REFIID riid, void **object, bool fromProgram = true)
    {
        HRESULT failure;
        if (fromProgram && MethodFails("QueryInterface", &failure)) {
            if (object != nullptr)
                *object = nullptr;
            return failure;
        }
        if (object == nullptr)
            return E_POINTER;
        if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IShellLinkA))
            *object = static_cast<IShellLinkA *>(this);
        else if (SameGuid(riid, IID_IPersistFile) || SameGuid(riid, IID_IPersist))
            *object = static_cast<IPersistFile *>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        references_++;
        return S_OK;
    }

    // ---- IShellLinkA
    HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int max, WIN32_FIND_DATAA *, DWORD) override
    {
        CopyOut(record_.target, file, max);
        return record_.target.empty() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int max) override
    {
        CopyOut(record_.description, name, max);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) override
    {
        HRESULT failure;
        if (MethodFails("SetDescription", &failure))
            return failure;
        record_.description = name != nullptr ? name : "";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int max) override
    {
        CopyOut(record_.workingDirectory, dir, max);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) override
    {
        TheCom().calls.push_back("SetWorkingDirectory");
        record_.workingDirectory = dir != nullptr ? dir : "";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetArguments(LPSTR args, int max) override
    {
        CopyOut(record_.arguments, args, max);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR args) override
    {
        TheCom().calls.push_back("SetArguments");
        record_.arguments = args != nullptr ? args : "";
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetHotkey(WORD *hotkey) override
    {
        if (hotkey != nullptr)
            *hotkey = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHotkey(WORD) override
    {
        TheCom().calls.push_back("SetHotkey");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetShowCmd(int *showCmd) override
    {
        if (showCmd != nullptr)
            *showCmd = record_.showCommand;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetShowCmd(int showCmd) override
    {
        HRESULT failure;
        if (MethodFails("SetShowCmd", &failure))
            return failure;
        record_.showCommand = showCmd;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR iconPath, int max, int *index) override
    {
        CopyOut(record_.iconFile, iconPath, max);
        if (index != nullptr)
            *index = record_.iconIndex;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR iconPath, int index) override
    {
        HRESULT failure;
        if (MethodFails("SetIconLocation", &failure))
            return failure;
        record_.iconFile = iconPath != nullptr ? iconPath : "";
        record_.iconIndex = index;
        record_.iconSet = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Resolve(HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) override
    {
        HRESULT failure;
        if (MethodFails("SetPath", &failure))
            return failure;
        if (file == nullptr)
            return E_INVALIDARG;
        record_.target = file;
        // The shell accepts a target that does not exist yet, and says so with S_FALSE.
        return TargetExists(record_.target) ? S_OK : S_FALSE;
    }

    // ---- IPersistFile
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *classId) override
    {
        if (classId == nullptr)
            return E_POINTER;
        *classId = CLSID_ShellLink;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(LPCOLESTR fileName, BOOL) override
    {
        HRESULT failure;
        if (MethodFails("Save", &failure))
            return failure;
        if (fileName == nullptr)
            return E_INVALIDARG;
        std::string path = WideToAnsi(fileName);

        std::string bytes = std::string(LINK_SIGNATURE) + "\n";
        PutField(&bytes, "target", record_.target);
        PutField(&bytes, "description", record_.description);
        PutField(&bytes, "icon", record_.iconSet ? "1" : "0");
        PutField(&bytes, "iconFile", record_.iconFile);
        PutField(&bytes, "iconIndex", std::to_string(record_.iconIndex));
        PutField(&bytes, "showCommand", std::to_string(record_.showCommand));
        PutField(&bytes, "workingDirectory", record_.workingDirectory);
        PutField(&bytes, "arguments", record_.arguments);

        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return HRESULT_FROM_WIN32(GetLastError());
        DWORD written = 0;
        BOOL ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
        DWORD error = GetLastError();
        CloseHandle(file);
        if (!ok || written != bytes.size()) {
            DeleteFileA(path.c_str());
            return HRESULT_FROM_WIN32(ok ? ERROR_DISK_FULL : error);
        }
        sim::LinkRecord saved = record_;
        saved.file = path;
        TheCom().links.push_back(saved);
        sim::detail::AddJournal({ sim::JournalEntry::LinkSaved, path });
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *fileName) override
    {
        if (fileName != nullptr)
            *fileName = nullptr;
        return E_NOTIMPL;
    }

private:
    ULONG references_ = 0;
    sim::LinkRecord record_;
};

}  // namespace

extern "C" {

HRESULT WINAPI CoInitialize(LPVOID)
{
    ComState &com = TheCom();
    com.calls.push_back("CoInitialize");
    // Every call counts and must be matched; only the first one on the thread says S_OK.
    return com.initialisations++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void)
{
    ComState &com = TheCom();
    com.calls.push_back("CoUninitialize");
    if (com.initialisations > 0)
        com.initialisations--;
}

HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID *object)
{
    ComState &com = TheCom();
    com.calls.push_back("CoCreateInstance");
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    HRESULT failure;
    if (Consume(com.createFault, &failure))
        return failure;
    if (com.initialisations == 0)
        return CO_E_NOTINITIALIZED;
    if (!SameGuid(classId, CLSID_ShellLink) || !(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    ShellLink *link = new ShellLink();
    HRESULT result = link->Query(riid, object, false);
    if (FAILED(result))
        delete link;
    return result;
}

}  // extern "C"

namespace sim {

int LiveComObjects()
{
    return TheCom().liveObjects;
}

int ComInitialisations()
{
    return TheCom().initialisations;
}

void FailCoCreateInstance(HRESULT result, int times)
{
    TheCom().createFault = MethodFault{ result, times };
}

void FailComMethod(const std::string &method, HRESULT result, int times)
{
    TheCom().methodFaults[method] = MethodFault{ result, times };
}

const std::vector<std::string> &ComCalls()
{
    return TheCom().calls;
}

const std::vector<LinkRecord> &Links()
{
    return TheCom().links;
}

std::optional<LinkRecord> ReadLink(const std::string &windowsPath)
{
    std::optional<std::string> file = GetFile(windowsPath);
    if (!file)
        return std::nullopt;
    std::string head = std::string(LINK_SIGNATURE) + "\n";
    if (file->compare(0, head.size(), head) != 0)
        return std::nullopt;
    size_t at = head.size();
    LinkRecord link;
    std::string iconSet, iconIndex, showCommand;
    if (!TakeField(*file, &at, "target", &link.target) || !TakeField(*file, &at, "description", &link.description) ||
        !TakeField(*file, &at, "icon", &iconSet) || !TakeField(*file, &at, "iconFile", &link.iconFile) ||
        !TakeField(*file, &at, "iconIndex", &iconIndex) || !TakeField(*file, &at, "showCommand", &showCommand) ||
        !TakeField(*file, &at, "workingDirectory", &link.workingDirectory) ||
        !TakeField(*file, &at, "arguments", &link.arguments) || at != file->size())
        return std::nullopt;
    link.file = windowsPath;
    link.iconSet = iconSet == "1";
    link.iconIndex = std::stoi(iconIndex);
    link.showCommand = std::stoi(showCommand);
    return link;
}

}  // namespace sim

namespace sim::detail {

void ResetCom()
{
    // Objects the program leaked stay leaked, as they would in a real process; only the counts go.
    TheCom() = ComState();
}

}  // namespace sim::detail
