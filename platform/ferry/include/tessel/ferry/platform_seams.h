#pragma once
// What the transfer engine needs from its platform: GET requests that stream their body, and a
// temporary file beside the target that becomes the target only when it is whole. WinInet and
// Win32 files implement them in ferry.fnr; libcurl and POSIX files in the native build, so the
// engine is tested natively too. Paths and addresses are the program's texts (GBK).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tessel::ferry {

struct Bounds {
    std::uint32_t connectMs = 15000;  // establishing the connection
    std::uint32_t stallMs = 30000;    // nothing received for this long fails the transfer
};

// What a GET answered, before its body.
struct ResponseHead {
    std::int32_t status = 0;
    std::int64_t contentLength = -1;  // -1: not given
    std::int64_t rangeStart = -1;     // first byte of a 206 answer's Content-Range; -1: none
};

// Receives one answer; either call returns false to stop the transfer (kStopped).
class BodyReceiver {
  public:
    virtual bool OnHead(const ResponseHead& head) = 0;
    virtual bool OnBody(const char* data, std::size_t size) = 0;

  protected:
    ~BodyReceiver() = default;
};

enum class FetchEnd {
    kEnded,         // the answer ended normally (its body may still be shorter than announced)
    kNoConnection,  // no answer came: refused, unresolved, or the connect bound passed
    kDropped,       // the connection broke during the answer
    kStalled,       // nothing arrived within the stall bound
    kStopped,       // the receiver refused, or Abort was called
};

// One transfer's way to the network: GETs one after another on the transfer's own thread.
// Abort may come from any thread: the running GET and every later one end with kStopped.
class Fetcher {
  public:
    virtual ~Fetcher() = default;
    // GET `url`; from > 0 asks for the bytes from that offset on (a Range request).
    virtual FetchEnd Get(const std::string& url, std::int64_t from, BodyReceiver& receiver) = 0;
    virtual void Abort() = 0;
};
std::unique_ptr<Fetcher> NewFetcher(const Bounds& bounds);

// A file under a temporary name in the target's directory. Destroying it without Commit deletes
// it, so a failed or cancelled transfer leaves nothing behind.
class PartFile {
  public:
    virtual ~PartFile() = default;
    virtual bool Write(const char* data, std::size_t size) = 0;
    virtual bool Restart() = 0;  // empties it, for an answer that starts over
    // Closes it and moves it over the target, replacing an older file of that name.
    virtual bool Commit() = 0;
};
// Null when the target's directory cannot take a new file.
std::unique_ptr<PartFile> CreatePartFile(const std::string& target);

}  // namespace tessel::ferry
