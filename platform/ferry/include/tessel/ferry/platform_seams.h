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

// Redirects one GET follows before it gives up; only to http and https addresses.
inline constexpr int kMostRedirects = 10;

// What a GET answered, before its body (of the last answer, after redirects).
struct ResponseHead {
    std::int32_t status = 0;
    std::int64_t contentLength = -1;  // -1: not given
    // A 206 answer's Content-Range "bytes first-last/total"; -1 where not given.
    std::int64_t rangeStart = -1;
    std::int64_t rangeTotal = -1;
    std::string etag;          // the ETag line's value as sent, quotes included; empty: none
    std::string lastModified;  // the Last-Modified line's value; empty: none
};

// The part of the body a GET asks for.
struct Resume {
    std::int64_t from = 0;  // > 0: a Range request for the bytes from this offset on
    // An If-Range value (an ETag or a date): a server whose file no longer matches it answers
    // with the whole new file instead of the range. Empty: none sent.
    std::string ifRange;
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
    kNoConnection,  // no answer came: refused, unresolved, the connect bound, too many redirects
    kDropped,       // the connection broke during the answer
    kStalled,       // nothing arrived within the stall bound
    kStopped,       // the receiver refused, or Abort was called
};

// One transfer's way to the network: GETs one after another on the transfer's own thread.
// Abort may come from any thread: the running GET and every later one end with kStopped, and
// the running one returns at once where the platform allows it (natively it always does; under
// Wine 8 a read already waiting ends only when data or its time-out comes).
class Fetcher {
  public:
    virtual ~Fetcher() = default;
    virtual FetchEnd Get(const std::string& url, const Resume& resume, BodyReceiver& receiver) = 0;
    virtual void Abort() = 0;
};
std::unique_ptr<Fetcher> NewFetcher(const Bounds& bounds);

// A file under a temporary name in the target's directory, "~ferry" + the process id in its
// name so that a later run can tell a killed run's leftovers. Destroying it without Commit
// deletes it, so a failed or cancelled transfer leaves nothing behind. Every call may come from
// any thread (the transfer's writer, or a release that gives up waiting for the transfer).
class PartFile {
  public:
    virtual ~PartFile() = default;
    virtual bool Write(const char* data, std::size_t size) = 0;
    virtual bool Restart() = 0;  // empties it, for an answer that starts over
    // Flushes it to the disk, closes it and moves it over the target, replacing an older file
    // of that name; the target gets the permissions of a new file. False leaves no part file.
    virtual bool Commit() = 0;
    // Closes and deletes it now; later writes fail.
    virtual void Discard() = 0;
};
// Null when the target's directory cannot take a new file.
std::unique_ptr<PartFile> CreatePartFile(const std::string& target);

// A part file starts writing its bytes back to the disk after this many, while the transfer
// goes on, so that the flush before the rename finds little left to do.
inline constexpr std::uint64_t kWriteBackStep = 8u << 20;

// Deletes the part files in the target's directory that processes no longer running left there
// (a killed run); nothing else is touched.
void SweepPartFiles(const std::string& target);

}  // namespace tessel::ferry
