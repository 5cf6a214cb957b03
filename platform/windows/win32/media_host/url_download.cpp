#include "url_download.h"

#include <wininet.h>

#include <cwctype>
#include <string_view>
#include <vector>

#include "temporary_copies.h"

namespace tessel::player {
namespace {

// Bounded waits: a dead server must not keep a download (and the host's teardown) for ever.
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kReceiveTimeoutMs = 15000;
constexpr DWORD kSendTimeoutMs = 10000;
// A song is a few megabytes; a larger answer is not a song and must not fill the disk.
constexpr unsigned long long kMaxDownloadBytes = 256ull * 1024 * 1024;
constexpr DWORD kChunkBytes = 64 * 1024;

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::towlower(text[i]) != prefix[i]) return false;
    }
    return true;
}

std::wstring Lowered(std::wstring_view text) {
    std::wstring lowered(text);
    for (wchar_t& c : lowered) c = static_cast<wchar_t>(std::towlower(c));
    return lowered;
}

class InternetHandle {
  public:
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) InternetCloseHandle(handle_);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return handle_; }

  private:
    HINTERNET handle_;
};

std::wstring ContentTypeOf(HINTERNET request) {
    wchar_t buffer[256] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_TYPE, buffer, &size, nullptr)) return {};
    return buffer;
}

DWORD CALLBACK DownloadThreadMain(LPVOID parameter) {
    // The thread owns one reference to the job for as long as it runs.
    std::unique_ptr<std::shared_ptr<DownloadJob>> job(
        static_cast<std::shared_ptr<DownloadJob>*>(parameter));
    (*job)->Run();
    return 0;
}

}  // namespace

bool IsHttpAddress(const wchar_t* url) {
    if (url == nullptr) return false;
    const std::wstring_view text(url);
    return StartsWithNoCase(text, L"http://") || StartsWithNoCase(text, L"https://");
}

std::wstring ExtensionFor(const std::wstring& url, const std::wstring& contentType) {
    // A known media type says best what the bytes are (a script address often serves songs).
    const std::wstring type = Lowered(contentType.substr(0, contentType.find(';')));
    struct TypeExtension {
        const wchar_t* type;
        const wchar_t* extension;
    };
    static constexpr TypeExtension kTypes[] = {
        {L"audio/wav", L".wav"},  {L"audio/x-wav", L".wav"}, {L"audio/wave", L".wav"},
        {L"audio/mpeg", L".mp3"}, {L"audio/mp3", L".mp3"},   {L"audio/x-ms-wma", L".wma"},
        {L"audio/ogg", L".ogg"},  {L"audio/flac", L".flac"}, {L"audio/mp4", L".m4a"},
        {L"audio/aac", L".aac"},  {L"video/mp4", L".mp4"},   {L"video/x-ms-wmv", L".wmv"},
    };
    for (const TypeExtension& known : kTypes) {
        if (type == known.type) return known.extension;
    }
    // Else the last path segment's, without query and fragment, when it is short and plain.
    std::wstring_view path(url);
    const size_t schemeEnd = path.find(L"://");
    if (schemeEnd != std::wstring_view::npos) path.remove_prefix(schemeEnd + 3);
    path = path.substr(0, path.find_first_of(L"?#"));
    const size_t slash = path.find('/');
    path = slash == std::wstring_view::npos ? std::wstring_view() : path.substr(slash);
    const std::wstring_view segment = path.substr(path.rfind('/') + 1);
    const size_t dot = segment.rfind('.');
    if (dot != std::wstring_view::npos) {
        const std::wstring_view extension = segment.substr(dot + 1);
        bool plain = !extension.empty() && extension.size() <= 5;
        for (wchar_t c : extension) plain = plain && c < 128 && std::iswalnum(c);
        if (plain) return L"." + Lowered(extension);
    }
    return L".mp3";
}

HANDLE DownloadJob::Start(const std::shared_ptr<DownloadJob>& job) {
    auto* reference = new std::shared_ptr<DownloadJob>(job);
    HANDLE thread = CreateThread(nullptr, 0, DownloadThreadMain, reference, 0, nullptr);
    if (thread == nullptr) delete reference;
    return thread;
}

bool DownloadJob::IsCancelled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ == State::Cancelled;
}

void DownloadJob::Run() {
    const bool succeeded = Download();
    std::lock_guard<std::mutex> lock(mutex_);
    succeeded_ = succeeded;
    if (state_ == State::Cancelled) {
        if (!path_.empty()) DeleteCopy(path_);
        return;
    }
    state_ = State::Finished;
    if (!PostMessageW(notify_, kDownloadFinishedMessage, id_, 0)) {
        // Nobody is left to take the file.
        state_ = State::Cancelled;
        if (!path_.empty()) DeleteCopy(path_);
    }
}

bool DownloadJob::Download() {
    InternetHandle session(
        InternetOpenW(L"Tessel", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session.get() == nullptr) return false;
    DWORD timeout = kConnectTimeoutMs;
    InternetSetOptionW(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &timeout, sizeof(timeout));
    timeout = kReceiveTimeoutMs;
    InternetSetOptionW(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, sizeof(timeout));
    timeout = kSendTimeoutMs;
    InternetSetOptionW(session.get(), INTERNET_OPTION_SEND_TIMEOUT, &timeout, sizeof(timeout));

    InternetHandle request(InternetOpenUrlW(
        session.get(), url_.c_str(), nullptr, 0,
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI, 0));
    if (request.get() == nullptr || IsCancelled()) return false;
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, nullptr) ||
        status < 200 || status > 299) {
        return false;
    }

    std::wstring path;
    HANDLE file = CreateCopyFile(id_, ExtensionFor(url_, ContentTypeOf(request.get())), &path);
    if (file == INVALID_HANDLE_VALUE) return false;
    {
        // From here on the file exists: whoever finishes with the job deletes it.
        std::lock_guard<std::mutex> lock(mutex_);
        path_ = path;
    }
    std::vector<char> chunk(kChunkBytes);
    unsigned long long total = 0;
    bool ok = true;
    for (;;) {
        DWORD read = 0;
        if (IsCancelled() || !InternetReadFile(request.get(), chunk.data(), kChunkBytes, &read)) {
            ok = false;
            break;
        }
        if (read == 0) break;
        total += read;
        DWORD written = 0;
        if (total > kMaxDownloadBytes || !WriteFile(file, chunk.data(), read, &written, nullptr) ||
            written != read) {
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    return ok && total > 0;
}

bool DownloadJob::Take(std::wstring* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != State::Finished) return false;
    state_ = State::Taken;
    if (!succeeded_) {
        if (!path_.empty()) DeleteCopy(path_);
        return false;
    }
    *path = path_;
    return true;
}

void DownloadJob::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ == State::Finished && !path_.empty()) DeleteCopy(path_);
    if (state_ == State::Running || state_ == State::Finished) state_ = State::Cancelled;
}

}  // namespace tessel::player
