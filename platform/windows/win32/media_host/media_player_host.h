#pragma once
// Hosts the Windows Media Player control as an in-place active child window, without ATL.
// The host owns a small container window in the given rectangle; the control lives inside it.
// Everything here runs on the thread that owns the parent window (an OLE apartment); only the
// download of an http address for Wine runs on a worker thread of its own.
#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct IOleObject;
struct IConnectionPoint;
struct IWMPCore;

namespace tessel::player {

// The control's stored properties, in the order they are stored; the defaults are the values
// the player window's control carries.
struct PlayerProperties {
    std::wstring url;
    double rate = 1.0;
    long balance = 0;
    double currentPosition = 0.0;
    std::wstring defaultFrame;
    long playCount = 1;
    bool autoStart = true;
    long currentMarker = 0;
    bool invokeURLs = true;
    std::wstring baseURL;
    long volume = 100;
    bool mute = false;
    std::wstring uiMode = L"full";
    bool stretchToFit = false;
    bool windowlessVideo = false;
    bool enabled = true;
    bool enableContextMenu = true;
    bool fullScreen = false;
    std::wstring samiStyle;
    std::wstring samiLang;
    std::wstring samiFilename;
    std::wstring captioningId;
    bool enableErrorDialogs = false;
    // Extent in 0.01 mm (HIMETRIC).
    long extentWidth = 9948;
    long extentHeight = 847;

    bool operator==(const PlayerProperties&) const = default;
};

// Receives the control's events: `eventNumber` is one of the numbers below, `value` the new state
// (WMPOpenState / WMPPlayState).
using EventSink = void (*)(void* context, int eventNumber, long value);
constexpr int kOpenStateChangeEvent = 0;  // the event the player window binds
constexpr int kPlayStateChangeEvent = 1;

// WMPPlayState values the host and its callers look at.
constexpr long kPlayStateStopped = 1;
constexpr long kPlayStatePlaying = 3;
constexpr long kPlayStateMediaEnded = 8;
// WMPOpenState: the media is open.
constexpr long kOpenStateMediaOpen = 13;

// What the control answers when its settings are read back (empty where it does not answer).
struct PlayerReadback {
    std::optional<long> volume;
    std::optional<std::wstring> uiMode;
    std::optional<bool> autoStart;
    std::optional<bool> enableErrorDialogs;
};

class DownloadJob;
class ControlSite;
class ControlEvents;

class MediaPlayerHost {
  public:
    MediaPlayerHost();
    ~MediaPlayerHost();  // tears down like Destroy
    MediaPlayerHost(const MediaPlayerHost&) = delete;
    MediaPlayerHost& operator=(const MediaPlayerHost&) = delete;

    // Creates the control in `rect` of `parent` and applies `properties`. On failure the host
    // shows a text saying the control could not be started in that place and answers false;
    // Destroy is still needed then to remove it.
    bool Create(HWND parent, const RECT& rect, const PlayerProperties& properties, EventSink sink,
                void* context);
    // Gives the control an address; with autoStart it starts playing. Under Wine an http(s)
    // address is first downloaded to a temporary file, which the control is then given.
    void SetUrl(const wchar_t* url);
    // Stops playback through the control's controls object (and drops a pending download).
    void Stop();
    // Unadvises, closes and releases the control, removes the host's windows and temporary files.
    void Destroy();

    // State for callers and tests.
    bool IsCreated() const { return control_ != nullptr; }
    bool IsInPlaceActive() const;
    HWND ContainerWindow() const { return container_; }
    HWND ControlWindow() const;  // the control's own window, when it has one
    HWND FailureTextWindow() const { return failureText_; }
    long LastOpenState() const { return lastOpenState_; }               // -1 until an event came
    long LastPlayState() const { return lastPlayState_; }               // -1 until an event came
    const std::wstring& RequestedUrl() const { return requestedUrl_; }  // as the program gave it
    const std::wstring& ControlUrl() const { return controlUrl_; }      // as the control got it
    const std::wstring& TemporaryFile() const { return temporaryFile_; }
    bool IsDownloading() const { return download_ != nullptr; }
    int PropertiesApplied() const { return propertiesApplied_; }
    int PropertiesRefused() const { return propertiesRefused_; }
    PlayerReadback ReadBack() const;

    // Whether this process runs under Wine (ntdll exports wine_get_version).
    static bool RunningUnderWine();
    // Tests: create this class instead of the media player, to see a failure handled.
    void UseClassIdForTesting(const CLSID& classId) { classId_ = classId; }

    // Called by the host's own window procedure and COM objects.
    void OnControlEvent(DISPID dispid, long value);
    void OnDownloadFinished(WPARAM jobId);
    void OnInPlaceActivated(bool active) { inPlaceActive_ = active; }
    void OnContainerResized();
    void OnContainerDestroyed();

  private:
    // How long a release waits for a download's worker to end.
    static constexpr DWORD kDownloadCancelWaitMs = 1000;

    bool CreateContainer(HWND parent, const RECT& rect);
    bool CreateControl(const PlayerProperties& properties);
    void ApplyProperties(const PlayerProperties& properties);
    void Count(HRESULT hr);
    void ShowFailureText();
    void GiveControl(const std::wstring& url);
    void StartDownload(const std::wstring& url);
    void CancelDownload(DWORD waitMilliseconds);
    void RetireTemporaryFile();
    void DeleteRetiredFiles();
    void ReleaseControl();

    CLSID classId_;
    HWND container_ = nullptr;
    HWND failureText_ = nullptr;
    HFONT font_ = nullptr;
    bool oleInitialized_ = false;
    bool inPlaceActive_ = false;
    IOleObject* control_ = nullptr;
    IWMPCore* core_ = nullptr;
    ControlSite* site_ = nullptr;
    ControlEvents* events_ = nullptr;
    IConnectionPoint* connectionPoint_ = nullptr;
    DWORD adviseCookie_ = 0;
    EventSink sink_ = nullptr;
    void* context_ = nullptr;
    long lastOpenState_ = -1;
    long lastPlayState_ = -1;
    std::wstring requestedUrl_;
    std::wstring controlUrl_;
    std::wstring temporaryFile_;
    std::vector<std::wstring> retiredFiles_;  // temporary files the control may still hold open
    std::shared_ptr<DownloadJob> download_;
    HANDLE downloadThread_ = nullptr;
    UINT nextJobId_ = 1;
    int propertiesApplied_ = 0;
    int propertiesRefused_ = 0;
};

}  // namespace tessel::player
