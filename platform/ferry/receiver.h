#pragma once
// The receiving side of one transfer: the answers of its GETs into one part file, and what the
// next GET must ask for.
#include <cstdint>
#include <string>

#include "tessel/ferry/platform_seams.h"
#include "tessel/ferry/speed_meter.h"
#include "write_behind.h"

namespace tessel::ferry {

// Takes one answer after another into the part file and keeps count of what it holds. A resume
// is accepted only when it continues the same version of the file where the part file ends;
// anything else asks for the file from zero (StartOverWanted).
class Receiver final : public BodyReceiver {
  public:
    Receiver(PartFile& file, SpeedMeter& meter) : file_(file), writer_(file), meter_(meter) {}

    // Everything received is on disk; false when it could not be written.
    bool Flush() { return writer_.Flush(); }

    bool refused() const { return refused_; }
    bool startOverWanted() const { return startOver_; }
    // The body is whole when it is as long as announced (an unannounced one ends when it ends).
    bool whole() const { return total_ < 0 || received_ == total_; }

    // What the next GET asks for: the rest, when the answer so far can be checked against it
    // (its total is known), else the whole file again.
    Resume NextRequest() {
        asked_ = received_ > 0 && total_ >= 0 ? received_ : 0;
        if (asked_ == 0) return {};
        // A weak ETag may not be used for a range; the date may.
        const bool strong = !etag_.empty() && etag_.rfind("W/", 0) != 0;
        return {asked_, strong ? etag_ : lastModified_};
    }

    // Empties the part file for a GET from zero.
    bool StartOver() {
        startOver_ = false;
        return Forget();
    }

    bool OnHead(const ResponseHead& head) override {
        if (asked_ > 0 && (head.status == 206 || head.status == 416)) {
            if (head.status == 206 && head.rangeStart == received_ && head.rangeTotal == total_ &&
                SameVersion(head)) {
                return true;
            }
            startOver_ = true;
            return false;
        }
        if (head.status == 200) {
            // The whole body: the first answer, a server that ignored the range, or a file that
            // changed since the first answer (If-Range).
            if (received_ > 0 && !Forget()) return Refuse();
            total_ = head.contentLength;
            etag_ = head.etag;
            lastModified_ = head.lastModified;
            return true;
        }
        return Refuse();
    }

    bool OnBody(const char* data, std::size_t size) override {
        if (!writer_.Write(data, size)) return Refuse();
        received_ += static_cast<std::int64_t>(size);
        meter_.Add(size, SteadyMilliseconds());
        return true;
    }

  private:
    bool SameVersion(const ResponseHead& head) const {
        const auto same = [](const std::string& first, const std::string& now) {
            return first.empty() || now.empty() || first == now;
        };
        return same(etag_, head.etag) && same(lastModified_, head.lastModified);
    }

    bool Forget() {
        received_ = 0;
        total_ = -1;
        etag_.clear();
        lastModified_.clear();
        return writer_.Flush() && file_.Restart();
    }

    bool Refuse() {
        refused_ = true;
        return false;
    }

    PartFile& file_;
    WriteBehind writer_;
    SpeedMeter& meter_;
    std::int64_t received_ = 0;
    std::int64_t total_ = -1;
    std::int64_t asked_ = 0;  // where the current GET asked the body to start
    std::string etag_;
    std::string lastModified_;
    bool refused_ = false;
    bool startOver_ = false;
};

}  // namespace tessel::ferry
