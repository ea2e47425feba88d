/* Host build's <shlobj.h>: the shell link object's ANSI interface. */
#ifndef WIN32SIM_SHLOBJ_H
#define WIN32SIM_SHLOBJ_H

#include <windows.h>
#include <objbase.h>

typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST *PIDLIST_ABSOLUTE;
typedef const ITEMIDLIST *PCIDLIST_ABSOLUTE;
typedef struct _WIN32_FIND_DATAA WIN32_FIND_DATAA;

#ifdef __cplusplus
struct IShellLinkA : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int max, WIN32_FIND_DATAA *data, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE *list) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE list) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int max) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int max) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetArguments(LPSTR args, int max) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR args) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHotkey(WORD *hotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHotkey(WORD hotkey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetShowCmd(int *showCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetShowCmd(int showCmd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR iconPath, int max, int *index) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR iconPath, int index) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR path, DWORD reserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE Resolve(HWND window, DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) = 0;
};

extern const CLSID CLSID_ShellLink;
extern const IID IID_IShellLinkA;
#endif

#endif
