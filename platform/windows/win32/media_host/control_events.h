#pragma once
// The control's event sink.
#include <windows.h>
// The dispatch interfaces build on windows.h.
#include <oaidl.h>
#include <wmp.h>

#include "media_player_host.h"

namespace tessel::player {

// The two _WMPOCXEvents the host passes on.
constexpr DISPID kOpenStateChangeDispid = 5001;
constexpr DISPID kPlayStateChangeDispid = 5101;

// Receives the control's _WMPOCXEvents and hands the two state changes to the host.
class ControlEvents final : public IDispatch {
  public:
    explicit ControlEvents(MediaPlayerHost* host) : host_(host) {}
    void Detach() { host_ = nullptr; }

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__WMPOCXEvents) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count != nullptr) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*,
                        EXCEPINFO*, UINT*) override {
        if (host_ == nullptr ||
            (dispid != kOpenStateChangeDispid && dispid != kPlayStateChangeDispid)) {
            return S_OK;
        }
        if (parameters == nullptr || parameters->cArgs < 1 || parameters->rgvarg == nullptr) {
            return S_OK;
        }
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(
                VariantChangeType(&value, &parameters->rgvarg[parameters->cArgs - 1], 0, VT_I4))) {
            // Keep ourselves alive: the sink may tear the host down.
            AddRef();
            host_->OnControlEvent(dispid, value.lVal);
            Release();
        }
        VariantClear(&value);
        return S_OK;
    }

  private:
    virtual ~ControlEvents() = default;

    LONG references_ = 1;
    MediaPlayerHost* host_;
};

}  // namespace tessel::player
