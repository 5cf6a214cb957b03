#pragma once
// Downloads an http(s) address into a temporary file on a worker thread, for a media player
// that cannot open such addresses itself. The job is shared between the worker and the UI
// thread; whichever side learns last that the file is no longer wanted deletes it.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

namespace tessel::player {

// Sent to the notify window when a job ends: wParam is the job id.
constexpr UINT kDownloadFinishedMessage = WM_APP + 0x51;

class DownloadJob {
  public:
    enum class State { Running, Finished, Taken, Cancelled };

    DownloadJob(UINT id, HWND notify, std::wstring url)
        : id_(id), notify_(notify), url_(std::move(url)) {}

    UINT id() const { return id_; }
    const std::wstring& url() const { return url_; }

    // Starts the worker; answers its thread handle (null when no thread could be started).
    static HANDLE Start(const std::shared_ptr<DownloadJob>& job);

    // UI thread: take the finished file. Answers true and the path when the download succeeded
    // (the caller then owns the file), false when it failed or was cancelled.
    bool Take(std::wstring* path);
    // UI thread: the file is no longer wanted. A running worker deletes it when it ends; a
    // finished one's file is deleted here.
    void Cancel();

    // Worker side.
    void Run();

  private:
    bool Download();
    bool IsCancelled();

    const UINT id_;
    const HWND notify_;
    const std::wstring url_;
    std::mutex mutex_;
    State state_ = State::Running;
    bool succeeded_ = false;
    std::wstring path_;
};

// The extension (with its dot) that a temporary copy of `url` should carry: from a known media
// content type, else from the last path segment of the address; ".mp3" when neither says.
std::wstring ExtensionFor(const std::wstring& url, const std::wstring& contentType);
bool IsHttpAddress(const wchar_t* url);

}  // namespace tessel::player
