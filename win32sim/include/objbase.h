/* Host build's <objbase.h>: COM initialisation, GUIDs and IUnknown, as the installer uses them. */
#ifndef WIN32SIM_OBJBASE_H
#define WIN32SIM_OBJBASE_H

#include <windows.h>

typedef struct _GUID { DWORD Data1; WORD Data2; WORD Data3; BYTE Data4[8]; } GUID;
typedef GUID IID;
typedef GUID CLSID;
typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
#ifdef __cplusplus
typedef const IID &REFIID;
typedef const CLSID &REFCLSID;
#endif
typedef struct IUnknown *LPUNKNOWN;

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_ACCESSDENIED ((HRESULT)0x80070005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define STG_E_ACCESSDENIED ((HRESULT)0x80030005)
#define CLSCTX_INPROC_SERVER 0x1

#ifdef __cplusplus
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    virtual ~IUnknown() {}
};

struct IPersist : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassID(CLSID *classId) = 0;
};

struct IPersistFile : public IPersist {
    virtual HRESULT STDMETHODCALLTYPE IsDirty() = 0;
    virtual HRESULT STDMETHODCALLTYPE Load(LPCOLESTR fileName, DWORD mode) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(LPCOLESTR fileName, BOOL remember) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR fileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR *fileName) = 0;
};

extern "C" {
HRESULT WINAPI CoInitialize(LPVOID reserved);
void WINAPI CoUninitialize(void);
HRESULT WINAPI CoCreateInstance(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID *object);
}

extern const IID IID_IUnknown;
extern const IID IID_IPersist;
extern const IID IID_IPersistFile;
#endif

#endif
