#include "media_player_host.h"

#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

// The media player's interface and class ids are not in libuuid: this is the one file that
// defines them.
#include <initguid.h>
#include <wmp.h>

#include "com_helpers.h"
#include "container_window.h"
#include "control_events.h"
#include "control_site.h"
#include "temporary_copies.h"
#include "url_download.h"

namespace tessel::player {
namespace {

// The text shown in the control's place when it cannot be started.
constexpr wchar_t kNotRegisteredText[] = L"Windows Media Player 控件未注册或无法启动";

}  // namespace

MediaPlayerHost::MediaPlayerHost() : classId_(CLSID_WindowsMediaPlayer) {}

MediaPlayerHost::~MediaPlayerHost() {
    Destroy();
}

bool MediaPlayerHost::RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool MediaPlayerHost::Create(HWND parent, const RECT& rect, const PlayerProperties& properties,
                             EventSink sink, void* context) {
    Destroy();
    sink_ = sink;
    context_ = context;
    if (!CreateContainer(parent, rect)) return false;
    const HRESULT initialized = OleInitialize(nullptr);
    oleInitialized_ = SUCCEEDED(initialized);
    if (!CreateControl(properties)) {
        ReleaseControl();
        ShowFailureText();
        return false;
    }
    if (!properties.url.empty()) SetUrl(properties.url.c_str());
    return true;
}

bool MediaPlayerHost::CreateContainer(HWND parent, const RECT& rect) {
    container_ = CreateContainerWindow(parent, rect, this);
    return container_ != nullptr;
}

bool MediaPlayerHost::CreateControl(const PlayerProperties& properties) {
    if (FAILED(CoCreateInstance(classId_, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                reinterpret_cast<void**>(&control_)))) {
        return false;
    }
    if (FAILED(control_->QueryInterface(IID_IWMPCore, reinterpret_cast<void**>(&core_)))) {
        return false;
    }
    site_ = new ControlSite(this);
    if (FAILED(control_->SetClientSite(static_cast<IOleClientSite*>(site_)))) return false;

    // Events before activation, so that nothing the control says is missed.
    events_ = new ControlEvents(this);
    IConnectionPointContainer* points = nullptr;
    if (SUCCEEDED(control_->QueryInterface(IID_IConnectionPointContainer,
                                           reinterpret_cast<void**>(&points)))) {
        if (SUCCEEDED(points->FindConnectionPoint(IID__WMPOCXEvents, &connectionPoint_)) &&
            FAILED(connectionPoint_->Advise(events_, &adviseCookie_))) {
            ReleaseAndClear(connectionPoint_);
        }
        points->Release();
    }

    ApplyProperties(properties);
    SIZEL extent = {properties.extentWidth, properties.extentHeight};
    Count(control_->SetExtent(DVASPECT_CONTENT, &extent));

    RECT client = {};
    GetClientRect(container_, &client);
    return SUCCEEDED(control_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr,
                                      static_cast<IOleClientSite*>(site_), 0, container_, &client));
}

void MediaPlayerHost::Count(HRESULT hr) {
    if (SUCCEEDED(hr)) {
        ++propertiesApplied_;
    } else {
        ++propertiesRefused_;
    }
}

// Applies the stored properties in their stored order; the URL comes last, from Create, so
// that autoStart and the volume already hold when playback starts. A property the control
// refuses is counted and left at the control's own value.
void MediaPlayerHost::ApplyProperties(const PlayerProperties& p) {
    propertiesApplied_ = 0;
    propertiesRefused_ = 0;
    IWMPSettings* settings = nullptr;
    IWMPControls* controls = nullptr;
    IWMPClosedCaption* captions = nullptr;
    IWMPPlayer4* player = nullptr;
    core_->get_settings(&settings);
    core_->get_controls(&controls);
    core_->get_closedCaption(&captions);
    control_->QueryInterface(IID_IWMPPlayer4, reinterpret_cast<void**>(&player));

    if (settings != nullptr) {
        Count(settings->put_rate(p.rate));
        Count(settings->put_balance(p.balance));
    }
    if (controls != nullptr) Count(controls->put_currentPosition(p.currentPosition));
    if (settings != nullptr) {
        Count(settings->put_defaultFrame(Bstr(p.defaultFrame).get()));
        Count(settings->put_playCount(p.playCount));
        Count(settings->put_autoStart(ToVariantBool(p.autoStart)));
    }
    if (controls != nullptr) Count(controls->put_currentMarker(p.currentMarker));
    if (settings != nullptr) {
        Count(settings->put_invokeURLs(ToVariantBool(p.invokeURLs)));
        Count(settings->put_baseURL(Bstr(p.baseURL).get()));
        Count(settings->put_volume(p.volume));
        Count(settings->put_mute(ToVariantBool(p.mute)));
    }
    if (player != nullptr) {
        Count(player->put_uiMode(Bstr(p.uiMode).get()));
        Count(player->put_stretchToFit(ToVariantBool(p.stretchToFit)));
        Count(player->put_windowlessVideo(ToVariantBool(p.windowlessVideo)));
        Count(player->put_enabled(ToVariantBool(p.enabled)));
        Count(player->put_enableContextMenu(ToVariantBool(p.enableContextMenu)));
        Count(player->put_fullScreen(ToVariantBool(p.fullScreen)));
    }
    if (captions != nullptr) {
        Count(captions->put_SAMIStyle(Bstr(p.samiStyle).get()));
        Count(captions->put_SAMILang(Bstr(p.samiLang).get()));
        Count(captions->put_SAMIFileName(Bstr(p.samiFilename).get()));
        Count(captions->put_captioningId(Bstr(p.captioningId).get()));
    }
    if (settings != nullptr)
        Count(settings->put_enableErrorDialogs(ToVariantBool(p.enableErrorDialogs)));
    ReleaseAndClear(settings);
    ReleaseAndClear(controls);
    ReleaseAndClear(captions);
    ReleaseAndClear(player);
}

PlayerReadback MediaPlayerHost::ReadBack() const {
    PlayerReadback answer;
    if (core_ == nullptr) return answer;
    IWMPSettings* settings = nullptr;
    if (SUCCEEDED(core_->get_settings(&settings)) && settings != nullptr) {
        LONG volume = 0;
        if (SUCCEEDED(settings->get_volume(&volume))) answer.volume = volume;
        VARIANT_BOOL flag = VARIANT_FALSE;
        if (SUCCEEDED(settings->get_autoStart(&flag))) answer.autoStart = flag != VARIANT_FALSE;
        flag = VARIANT_FALSE;
        if (SUCCEEDED(settings->get_enableErrorDialogs(&flag))) {
            answer.enableErrorDialogs = flag != VARIANT_FALSE;
        }
        settings->Release();
    }
    IWMPPlayer4* player = nullptr;
    if (SUCCEEDED(control_->QueryInterface(IID_IWMPPlayer4, reinterpret_cast<void**>(&player)))) {
        Bstr mode;
        if (SUCCEEDED(player->get_uiMode(mode.out()))) answer.uiMode = mode.text();
        player->Release();
    }
    return answer;
}

void MediaPlayerHost::ShowFailureText() {
    if (container_ == nullptr) return;
    RECT client = {};
    GetClientRect(container_, &client);
    failureText_ = CreateWindowExW(
        0, L"STATIC", kNotRegisteredText, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0,
        client.right, client.bottom, container_, nullptr, ThisModule(), nullptr);
    // An explicit Chinese font: the default one may have no glyphs for the text.
    font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
    if (failureText_ != nullptr && font_ != nullptr) {
        SendMessageW(failureText_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    }
}

bool MediaPlayerHost::IsInPlaceActive() const {
    return control_ != nullptr && inPlaceActive_;
}

HWND MediaPlayerHost::ControlWindow() const {
    if (control_ == nullptr) return nullptr;
    IOleInPlaceObject* inPlace = nullptr;
    HWND window = nullptr;
    if (SUCCEEDED(
            control_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        if (FAILED(inPlace->GetWindow(&window))) window = nullptr;
        inPlace->Release();
    }
    return window;
}

void MediaPlayerHost::OnContainerResized() {
    if (control_ == nullptr || !inPlaceActive_) return;
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(
            control_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)))) {
        RECT client = {};
        GetClientRect(container_, &client);
        inPlace->SetObjectRects(&client, &client);
        inPlace->Release();
    }
}

void MediaPlayerHost::OnControlEvent(DISPID dispid, long value) {
    int eventNumber = 0;
    if (dispid == kOpenStateChangeDispid) {
        lastOpenState_ = value;
        eventNumber = kOpenStateChangeEvent;
    } else {
        lastPlayState_ = value;
        eventNumber = kPlayStateChangeEvent;
    }
    if (sink_ != nullptr) sink_(context_, eventNumber, value);
}

void MediaPlayerHost::GiveControl(const std::wstring& url) {
    if (core_ == nullptr) return;
    controlUrl_ = url;
    core_->put_URL(Bstr(url).get());
}

void MediaPlayerHost::SetUrl(const wchar_t* url) {
    const std::wstring address = url != nullptr ? url : L"";
    CancelDownload(0);
    requestedUrl_ = address;
    if (core_ == nullptr) return;
    if (IsHttpAddress(address.c_str()) && RunningUnderWine()) {
        // Wine's control takes an http address for a file name: play a local copy instead.
        // What was playing stops now rather than when the copy is ready.
        IWMPControls* controls = nullptr;
        if (SUCCEEDED(core_->get_controls(&controls)) && controls != nullptr) {
            controls->stop();
            controls->Release();
        }
        StartDownload(address);
        return;
    }
    GiveControl(address);
    RetireTemporaryFile();
}

void MediaPlayerHost::Stop() {
    // A copy still downloading would otherwise start playing after the stop.
    CancelDownload(0);
    if (core_ == nullptr) return;
    IWMPControls* controls = nullptr;
    if (SUCCEEDED(core_->get_controls(&controls)) && controls != nullptr) {
        controls->stop();
        controls->Release();
    }
}

void MediaPlayerHost::ReleaseControl() {
    if (connectionPoint_ != nullptr) {
        connectionPoint_->Unadvise(adviseCookie_);
        ReleaseAndClear(connectionPoint_);
        adviseCookie_ = 0;
    }
    if (events_ != nullptr) {
        events_->Detach();
        ReleaseAndClear(events_);
    }
    ReleaseAndClear(core_);
    if (control_ != nullptr) {
        control_->Close(OLECLOSE_NOSAVE);
        control_->SetClientSite(nullptr);
        ReleaseAndClear(control_);
    }
    if (site_ != nullptr) {
        site_->Detach();
        ReleaseAndClear(site_);
    }
    inPlaceActive_ = false;
}

void MediaPlayerHost::OnContainerDestroyed() {
    ReleaseControl();
    container_ = nullptr;
    failureText_ = nullptr;
}

void MediaPlayerHost::Destroy() {
    CancelDownload(kDownloadCancelWaitMs);
    ReleaseControl();
    if (container_ != nullptr) {
        SetWindowLongPtrW(container_, GWLP_USERDATA, 0);
        DestroyWindow(container_);  // takes the failure text with it
        container_ = nullptr;
        failureText_ = nullptr;
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
        font_ = nullptr;
    }
    // The control is closed: nothing holds the copies open any more.
    RetireTemporaryFile();
    if (oleInitialized_) {
        OleUninitialize();
        oleInitialized_ = false;
    }
    sink_ = nullptr;
    context_ = nullptr;
    lastOpenState_ = -1;
    lastPlayState_ = -1;
    controlUrl_.clear();
    requestedUrl_.clear();
}

}  // namespace tessel::player
