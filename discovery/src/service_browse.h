#pragma once
// The system's own DNS-SD browse (DnsServiceBrowse, then DnsServiceResolve per instance), where
// the system has it and answers.
#include <cstdint>
#include <string>

namespace tessel::discovery {

class ServiceBrowse {
  public:
    ServiceBrowse() = default;
    ServiceBrowse(const ServiceBrowse&) = delete;
    ServiceBrowse& operator=(const ServiceBrowse&) = delete;
    ~ServiceBrowse() { Cancel(); }

    // Starts the browse; false when the system has none or refused it.
    bool Start();
    // What the system has answered since: resolves the instances it named, and gives the first
    // catalogue resolved as "address:port" (empty while none is). Never waits.
    std::string Poll();
    // Stops the browse and every resolve still under way; later answers are ignored.
    void Cancel();

  private:
    bool browsing_ = false;
};

}  // namespace tessel::discovery
