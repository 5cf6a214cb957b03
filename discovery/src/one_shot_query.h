#pragma once
// The one-shot mDNS query through Winsock: asked on every IPv4 interface that can reach the
// LAN by multicast, answered by legacy unicast to our own port.
#include <cstdint>
#include <string>

#include "tessel/runtime/value.h"

namespace tessel::discovery {

class OneShotQuery {
  public:
    OneShotQuery() = default;
    OneShotQuery(const OneShotQuery&) = delete;
    OneShotQuery& operator=(const OneShotQuery&) = delete;
    ~OneShotQuery();

    // Opens the socket and sends the query on each interface; false when it went out on none.
    bool Send();
    // Waits up to waitMs for an answer; the first catalogue it names as "address:port", or the
    // empty text when none came in that time.
    std::string Receive(std::uint32_t waitMs);

  private:
    bool started_ = false;
    Word socket_ = 0;
    bool open_ = false;
};

}  // namespace tessel::discovery
