// Wine's control takes an http address for a file name: under Wine the host downloads the song to
// a temporary file and gives the control that, and deletes the copies once nothing holds them.
#include "media_player_host.h"
#include "temporary_copies.h"
#include "url_download.h"

namespace tessel::player {

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

}  // namespace tessel::player
