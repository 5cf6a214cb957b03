// COM object commands on Windows: late binding through IDispatch. Member and property names are
// looked up with GetIDsOfNames on every call; the one text argument and text results cross as
// BSTRs, converted from and to GBK with code page 936 named explicitly (the system's ANSI code
// page may be another one). Results are turned into the program's values by the rules shared
// with the native stand-in (script_results.h); the commands themselves are decoded in
// object_commands.h.
#include <windows.h>
// after windows.h, which it needs
#include <oleauto.h>

#include <string>

#include "tessel/headless/headless.h"
#include "tessel/kernel/object_commands.h"
#include "tessel/kernel/script_results.h"
#include "tessel/win32_shared/gbk_win32.h"

namespace tessel::headless {

namespace {

using platform::ScriptResult;

// A BSTR owned for the length of one call.
class Bstr {
  public:
    explicit Bstr(std::string_view gbk) {
        const std::wstring wide = platform::WideFromGbk(gbk);
        p_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~Bstr() { SysFreeString(p_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return p_; }

  private:
    BSTR p_;
};

bool LookUp(IDispatch* object, std::string_view name, DISPID* id) {
    std::wstring wide = platform::WideFromGbk(name);
    LPOLESTR names[] = {wide.data()};
    return SUCCEEDED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id));
}

void ClearException(EXCEPINFO& e) {
    SysFreeString(e.bstrSource);
    SysFreeString(e.bstrDescription);
    SysFreeString(e.bstrHelpFile);
}

HRESULT Invoke(IDispatch* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
    EXCEPINFO exception{};
    UINT badArgument = 0;
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result,
                                      &exception, &badArgument);
    ClearException(exception);
    return hr;
}

ScriptResult ReadVariant(VARIANT& v) {
    ScriptResult r;
    switch (V_VT(&v)) {
        case VT_EMPTY:
            r.kind = ScriptResult::Kind::kUndefined;
            return r;
        case VT_NULL:
            r.kind = ScriptResult::Kind::kNull;
            return r;
        case VT_BOOL:
            r.kind = ScriptResult::Kind::kBoolean;
            r.boolean = V_BOOL(&v) != VARIANT_FALSE;
            return r;
        case VT_BSTR:
            r.kind = ScriptResult::Kind::kText;
            r.text = platform::GbkFromWide({V_BSTR(&v), SysStringLen(V_BSTR(&v))});
            return r;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            r.kind = ScriptResult::Kind::kObject;
            return r;
        default:
            break;
    }
    // Every numeric kind (VT_I4 and VT_R8 from JScript, others from other objects).
    VARIANT number;
    VariantInit(&number);
    if (SUCCEEDED(VariantChangeType(&number, &v, 0, VT_R8))) {
        r.kind = ScriptResult::Kind::kNumber;
        r.number = V_R8(&number);
    } else {
        r.kind = ScriptResult::Kind::kObject;
    }
    VariantClear(&number);
    return r;
}

ScriptResult CallMember(void* dispatch, std::string_view member, std::string_view argument) {
    auto* object = static_cast<IDispatch*>(dispatch);
    DISPID id = 0;
    if (object == nullptr || !LookUp(object, member, &id)) return {};
    Bstr text(argument);
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = text.get();
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    if (FAILED(Invoke(object, id, DISPATCH_METHOD, &params, &result))) {
        VariantClear(&result);
        return {};
    }
    ScriptResult r = ReadVariant(result);
    VariantClear(&result);
    return r;
}

bool SetProperty(void* dispatch, std::string_view name, std::string_view value) {
    auto* object = static_cast<IDispatch*>(dispatch);
    DISPID id = 0;
    if (object == nullptr || !LookUp(object, name, &id)) return false;
    Bstr text(value);
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_BSTR;
    V_BSTR(&arg) = text.get();
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    return SUCCEEDED(Invoke(object, id, DISPATCH_PROPERTYPUT, &params, nullptr));
}

void* Create(std::string_view progId) {
    const std::wstring wide = platform::WideFromGbk(progId);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid))) return nullptr;
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

void Release(void* dispatch) {
    static_cast<IDispatch*>(dispatch)->Release();
}

}  // namespace

bool RunObjectCommand(std::uint32_t command, std::uint32_t argCount, const Value* args,
                      Value* result) {
    static constexpr platform::ObjectOperations kDispatchObjects{&Create, &Release, &SetProperty,
                                                                 &CallMember};
    return platform::RunObjectCommand(kDispatchObjects, command, argCount, args, result);
}

}  // namespace tessel::headless
