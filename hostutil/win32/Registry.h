// The registry object: a reference-counted, COM-style object over one registry key that reads
// from the current user before the local machine and writes the other way round.
#pragma once

#include "platform/win32/Handle.h"
#include "platform/win32/Windows.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hostutil {

// Interface ids, each read from its text once, on first use.
const GUID& iidIDPXRegistry();
const GUID& iidIUnknown();
const GUID& iidIConnectionPointContainer();

// The root of the object tree: interface lookup and the reference count. Objects are destroyed
// through CStaticUnknown's virtual destructor, never through this interface.
class conIUnknown {
public:
    virtual HRESULT QueryInterface(REFIID id, void** out) = 0;
    virtual HRESULT ForwardQuery(REFIID service, REFIID id, void** out) = 0;
    virtual LONG AddRef() = 0;
    virtual LONG Release() = 0;

protected:
    ~conIUnknown() = default;
};

// One registry key. Names are null-ended wide texts; a null name is a missing one.
class IDPXRegistry : public conIUnknown {
public:
    static const GUID& iid() { return iidIDPXRegistry(); }

    virtual BOOL CloseKey() = 0;
    // A null root means: the current user, falling back to the local machine (see OpenKeyEx).
    virtual BOOL OpenKey(const wchar_t* subKey, HKEY root) = 0;
    virtual DWORD GetDWORDValue(const wchar_t* name, DWORD defaultValue) = 0;
    virtual BOOL SetDWORDValue(const wchar_t* name, DWORD value) = 0;
    // The text stays valid until the next GetStringValue on this object or its end.
    virtual const wchar_t* GetStringValue(const wchar_t* name, const wchar_t* defaultText) = 0;
    virtual BOOL SetStringValue(const wchar_t* name, const wchar_t* text) = 0;
    // Deletes the subkey tree of that name, or else the value; a name that is neither is no error.
    virtual BOOL DeleteEntry(const wchar_t* name) = 0;
    virtual BOOL OpenKeyEx(const wchar_t* subKey, HKEY root, bool view64) = 0;
    virtual std::vector<std::wstring> EnumSubKeys() = 0;

protected:
    ~IDPXRegistry() = default;
};

// Interface lookup for objects that are not counted (AddRef and Release answer 1), and the hooks a
// derived object overrides to hand lookups on to other objects.
template <typename Interface> class CStaticUnknown : public Interface {
public:
    HRESULT QueryInterface(REFIID id, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualGUID(id, iidIUnknown())) {
            *out = static_cast<conIUnknown*>(this);
            this->AddRef();
            return S_OK;
        }
        if (IsEqualGUID(id, iidIConnectionPointContainer())) {
            if (conIUnknown* container = GetConnectionPointContainer())
                return forward(container, [&](conIUnknown* to) { return to->QueryInterface(id, out); });
        }
        if (IsEqualGUID(id, Interface::iid())) {
            *out = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        if (conIUnknown* delegate = GetDelegate())
            return forward(delegate, [&](conIUnknown* to) { return to->QueryInterface(id, out); });
        *out = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT ForwardQuery(REFIID service, REFIID id, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (conIUnknown* delegate = GetDelegate())
            return forward(delegate, [&](conIUnknown* to) { return to->ForwardQuery(service, id, out); });
        *out = nullptr;
        return E_NOINTERFACE;
    }

    LONG AddRef() override { return 1; }
    LONG Release() override { return 1; }

    virtual ~CStaticUnknown() = default;
    virtual void NotifyHook() {}
    virtual conIUnknown* GetOwner() { return nullptr; }
    virtual conIUnknown* GetConnectionPointContainer() { return nullptr; }
    virtual conIUnknown* GetDelegate() { return nullptr; }

private:
    // The other object is held for the length of the call.
    template <typename Call> static HRESULT forward(conIUnknown* to, Call call)
    {
        to->AddRef();
        const HRESULT result = call(to);
        to->Release();
        return result;
    }
};

// A counted object: it deletes itself when the last reference goes.
template <typename Interface> class CUnknown : public CStaticUnknown<Interface> {
public:
    LONG AddRef() override { return ++mCount; }
    LONG Release() override
    {
        const LONG count = --mCount;
        if (count <= 0)
            delete this;
        return count;
    }

private:
    std::atomic<int32_t> mCount{0};
};

// Closes keys through the facade, which every other registry call of the object uses too.
struct FacadeKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type key);
};
using FacadeRegKey = platform::win32::UniqueAny<FacadeKeyTraits>;

class CDPXRegistryImpl : public CUnknown<IDPXRegistry> {
public:
    // The access the open key has.
    static constexpr DWORD kNoAccess = 0;
    static constexpr DWORD kReadAccess = 0x20019;    // KEY_READ
    static constexpr DWORD kWriteAccess = 0x2001F;   // KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY
    static constexpr DWORD kCreatedAccess = 0xF003F; // KEY_ALL_ACCESS, what RegCreateKeyW opens with

    BOOL CloseKey() override;
    BOOL OpenKey(const wchar_t* subKey, HKEY root) override;
    DWORD GetDWORDValue(const wchar_t* name, DWORD defaultValue) override;
    BOOL SetDWORDValue(const wchar_t* name, DWORD value) override;
    const wchar_t* GetStringValue(const wchar_t* name, const wchar_t* defaultText) override;
    BOOL SetStringValue(const wchar_t* name, const wchar_t* text) override;
    BOOL DeleteEntry(const wchar_t* name) override;
    BOOL OpenKeyEx(const wchar_t* subKey, HKEY root, bool view64) override;
    std::vector<std::wstring> EnumSubKeys() override;

    // What the object holds, for tests: the root the key lives under and the access it has.
    HKEY root() const { return mRoot; }
    DWORD access() const { return mAccess; }

private:
    bool makeWritable();
    bool openWritable(HKEY root);

    std::wstring mSubKey;
    std::wstring mStringValue;
    HKEY mRoot = HKEY_CURRENT_USER;
    FacadeRegKey mKey;
    bool mFallBack = false;
    DWORD mAccess = kNoAccess;
};

// Holds one reference to a counted object: AddRef on taking it, Release on letting go.
template <typename T> class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* object) : mObject(object)
    {
        if (mObject)
            mObject->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.mObject) {}
    ComPtr(ComPtr&& other) noexcept : mObject(std::exchange(other.mObject, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(mObject, other.mObject);
        return *this;
    }
    ~ComPtr()
    {
        if (mObject)
            mObject->Release();
    }

    T* get() const { return mObject; }
    T* operator->() const { return mObject; }
    explicit operator bool() const { return mObject != nullptr; }

private:
    T* mObject = nullptr;
};

// A new registry object with no key open; empty when memory runs out.
ComPtr<IDPXRegistry> CreateRegistry();

// A value's type and bytes at any length, through the operating-system facade; false when it
// cannot be read. The value may grow between asking its size and reading it: then it is asked again.
bool readRegistryValue(HKEY key, const wchar_t* name, DWORD& type, std::vector<uint8_t>& data);

} // namespace hostutil
