#include "app/win/accessible_name.h"

#include <commctrl.h>
#include <oleacc.h>

#include <atomic>

namespace offline_upgrade {

namespace {

constexpr UINT_PTR kSubclassId = 0x4b58; // any number of ours

// The system's accessible object of a control, with another name: every call but the name's
// goes to the system's object. The system's dynamic annotation (IAccPropServices) would do the
// same with less code, but Wine does not implement it, and the window is tested under Wine.
class NamedAccessible final : public IAccessible, public IOleWindow {
public:
    NamedAccessible(IAccessible *inner, HWND hwnd, const wchar_t *name)
        : inner_(inner), hwnd_(hwnd), name_(name)
    {
    }

    // IUnknown. The interfaces of the system's object that this one does not carry (the
    // children's enumeration) are handed out by the system's object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible))
            *object = static_cast<IAccessible *>(this);
        else if (iid == __uuidof(IOleWindow))
            *object = static_cast<IOleWindow *>(this);
        else
            return inner_->QueryInterface(iid, object);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // IOleWindow: the control this object stands for.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *hwnd) override
    {
        if (!hwnd)
            return E_POINTER;
        *hwnd = hwnd_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IAccessible: the name of the control itself is ours.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR *name) override
    {
        if (child.vt != VT_I4 || child.lVal != CHILDID_SELF)
            return inner_->get_accName(child, name);
        if (!name)
            return E_POINTER;
        *name = SysAllocString(name_);
        return *name ? S_OK : E_OUTOFMEMORY;
    }

    // IDispatch and the rest of IAccessible: the system's.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        return inner_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override
    {
        return inner_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID locale,
                                            DISPID *ids) override
    {
        return inner_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                     DISPPARAMS *parameters, VARIANT *result, EXCEPINFO *exception,
                                     UINT *argument) override
    {
        return inner_->Invoke(id, iid, locale, flags, parameters, result, exception, argument);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch **parent) override
    {
        return inner_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long *count) override
    {
        return inner_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch **object) override
    {
        return inner_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR *value) override
    {
        return inner_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR *text) override
    {
        return inner_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT *role) override
    {
        return inner_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT *state) override
    {
        return inner_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR *help) override
    {
        return inner_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR *file, VARIANT child, long *topic) override
    {
        return inner_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR *shortcut) override
    {
        return inner_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT *child) override
    {
        return inner_->get_accFocus(child);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT *children) override
    {
        return inner_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR *action) override
    {
        return inner_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override
    {
        return inner_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long *left, long *top, long *width, long *height,
                                          VARIANT child) override
    {
        return inner_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT *end) override
    {
        return inner_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT *child) override
    {
        return inner_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        return inner_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override
    {
        return inner_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return inner_->put_accValue(child, value);
    }

private:
    ~NamedAccessible() { inner_->Release(); }

    IAccessible *inner_; // owned: one reference
    HWND hwnd_;
    const wchar_t *name_;
    std::atomic<ULONG> references_{1};
};

LRESULT CALLBACK NamedControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data)
{
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
        IAccessible *system = nullptr;
        if (SUCCEEDED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                reinterpret_cast<void **>(&system)))) {
            auto *named =
                new NamedAccessible(system, hwnd, reinterpret_cast<const wchar_t *>(data));
            const LRESULT result =
                LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible *>(named));
            named->Release();
            // A failed hand-over (a negative result) leaves the name to the system's answer.
            if (result >= 0)
                return result;
        }
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, NamedControlProc, kSubclassId);
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace

bool SetAccessibleName(HWND control, const wchar_t *name)
{
    return SetWindowSubclass(control, NamedControlProc, kSubclassId,
                             reinterpret_cast<DWORD_PTR>(name)) != FALSE;
}

} // namespace offline_upgrade
