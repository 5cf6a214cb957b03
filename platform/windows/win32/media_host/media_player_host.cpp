#include "media_player_host.h"

#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
// The media player's interface and class ids are not in libuuid: this is the one file that
// defines them.
#include <initguid.h>
#include <wmp.h>

#include "temporary_copies.h"
#include "url_download.h"

namespace tessel::player {
namespace {

constexpr wchar_t kContainerClass[] = L"TesselMediaPlayerHost";
// The text shown in the control's place when it cannot be started.
constexpr wchar_t kNotRegisteredText[] = L"Windows Media Player 控件未注册或无法启动";
constexpr DWORD kDownloadCancelWaitMs = 1000;

constexpr DISPID kOpenStateChangeDispid = 5001;
constexpr DISPID kPlayStateChangeDispid = 5101;

// Releases a COM pointer and clears it.
template <typename T>
void ReleaseAndClear(T*& pointer) {
    if (pointer != nullptr) {
        pointer->Release();
        pointer = nullptr;
    }
}

class Bstr {
  public:
    explicit Bstr(const std::wstring& text)
        : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }
    BSTR* out() { return &value_; }
    std::wstring text() const { return value_ ? std::wstring(value_, SysStringLen(value_)) : L""; }

  private:
    BSTR value_ = nullptr;
};

VARIANT_BOOL ToVariantBool(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

LRESULT CALLBACK ContainerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = reinterpret_cast<MediaPlayerHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case kDownloadFinishedMessage:
            if (host != nullptr) host->OnDownloadFinished(wParam);
            return 0;
        case WM_SIZE:
            if (host != nullptr) host->OnContainerResized();
            return 0;
        case WM_DESTROY:
            // The control is taken down before its window goes with ours.
            if (host != nullptr) host->OnContainerDestroyed();
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterContainerClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    HINSTANCE instance = ThisModule();
    if (GetClassInfoExW(instance, kContainerClass, &windowClass)) return true;
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = 0;
    windowClass.lpfnWndProc = ContainerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kContainerClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

// The control's site: client site, in-place site (the Ex interface, which Wine's control asks
// for) and in-place frame in one object. It refers to the host until the host detaches it.
class ControlSite final : public IOleClientSite, public IOleInPlaceSiteEx, public IOleInPlaceFrame {
  public:
    explicit ControlSite(MediaPlayerHost* host) : host_(host) {}
    void Detach() { host_ = nullptr; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite ||
                   iid == IID_IOleInPlaceSiteEx) {
            *object = static_cast<IOleInPlaceSiteEx*>(this);
        } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
            *object = static_cast<IOleInPlaceFrame*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return S_OK; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker != nullptr) *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        if (container != nullptr) *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (shared by the site and the frame)
    STDMETHODIMP GetWindow(HWND* window) override {
        if (window == nullptr) return E_POINTER;
        *window = host_ != nullptr ? host_->ContainerWindow() : nullptr;
        return *window != nullptr ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return S_OK; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return host_ != nullptr ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override {
        if (host_ != nullptr) host_->OnInPlaceActivated(true);
        return S_OK;
    }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                  LPRECT position, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO frameInfo) override {
        if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
            frameInfo == nullptr) {
            return E_POINTER;
        }
        *frame = static_cast<IOleInPlaceFrame*>(this);
        AddRef();
        *document = nullptr;
        const HWND container = host_ != nullptr ? host_->ContainerWindow() : nullptr;
        GetClientRect(container, position);
        *clip = *position;
        frameInfo->cb = sizeof(OLEINPLACEFRAMEINFO);
        frameInfo->fMDIApp = FALSE;
        frameInfo->hwndFrame = container != nullptr ? GetAncestor(container, GA_ROOT) : nullptr;
        frameInfo->haccel = nullptr;
        frameInfo->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override {
        if (host_ != nullptr) host_->OnInPlaceActivated(false);
        return S_OK;
    }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD) override {
        if (noRedraw != nullptr) *noRedraw = FALSE;
        return OnInPlaceActivate();
    }
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override { return OnInPlaceDeactivate(); }
    STDMETHODIMP RequestUIActivate() override { return S_OK; }

    // IOleInPlaceUIWindow
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

    // IOleInPlaceFrame
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

  private:
    virtual ~ControlSite() = default;

    LONG references_ = 1;
    MediaPlayerHost* host_;
};

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
    if (!RegisterContainerClass()) return false;
    container_ = CreateWindowExW(0, kContainerClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                                 rect.left, rect.top, rect.right - rect.left,
                                 rect.bottom - rect.top, parent, nullptr, ThisModule(), nullptr);
    if (container_ == nullptr) return false;
    SetWindowLongPtrW(container_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return true;
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

void MediaPlayerHost::StartDownload(const std::wstring& url) {
    download_ = std::make_shared<DownloadJob>(nextJobId_++, container_, url);
    downloadThread_ = DownloadJob::Start(download_);
    if (downloadThread_ == nullptr) {
        // No worker: let the control try the address itself and report what it makes of it.
        download_.reset();
        GiveControl(url);
        RetireTemporaryFile();
    }
}

void MediaPlayerHost::OnDownloadFinished(WPARAM jobId) {
    if (download_ == nullptr || download_->id() != jobId) return;  // a stale job
    std::shared_ptr<DownloadJob> job = std::move(download_);
    if (downloadThread_ != nullptr) {
        WaitForSingleObject(downloadThread_, kDownloadCancelWaitMs);
        CloseHandle(downloadThread_);
        downloadThread_ = nullptr;
    }
    std::wstring path;
    if (job->Take(&path)) {
        GiveControl(path);
        RetireTemporaryFile();
        temporaryFile_ = path;
    } else {
        // The copy failed: the control gets the address and reports the failure its own way.
        GiveControl(job->url());
        RetireTemporaryFile();
    }
}

void MediaPlayerHost::CancelDownload(DWORD waitMilliseconds) {
    if (download_ != nullptr) {
        download_->Cancel();
        download_.reset();
    }
    if (downloadThread_ != nullptr) {
        // The worker deletes its own file; it needs no more of the host.
        if (waitMilliseconds > 0) WaitForSingleObject(downloadThread_, waitMilliseconds);
        CloseHandle(downloadThread_);
        downloadThread_ = nullptr;
    }
}

void MediaPlayerHost::RetireTemporaryFile() {
    if (!temporaryFile_.empty()) retiredFiles_.push_back(std::move(temporaryFile_));
    temporaryFile_.clear();
    DeleteRetiredFiles();
}

void MediaPlayerHost::DeleteRetiredFiles() {
    // A file the control still holds open stays listed and is tried again later.
    std::vector<std::wstring> kept;
    for (const std::wstring& file : retiredFiles_) {
        if (!DeleteCopy(file)) kept.push_back(file);
    }
    retiredFiles_ = std::move(kept);
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
