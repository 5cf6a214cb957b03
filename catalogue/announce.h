// Sharing the library with the household: the catalogue is announced on the LAN as a DNS-SD
// service (_tessel._tcp) through avahi-daemon, so that the household's Tessels find it without
// being told its address.
//
// The announcement lives on avahi's own thread beside the HTTP server. Where avahi-daemon does not
// run, that is said once and the catalogue serves anyway; it is announced as soon as avahi-daemon
// starts, again after every restart of it, under another name when the name is taken on the LAN,
// and withdrawn when the announcement is stopped.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tessel::catalogue {

inline constexpr const char* kServiceType = "_tessel._tcp";
// Set to yes in the environment (the user unit reads it from a file), it shares as --share does.
inline constexpr const char* kShareVariable = "TESSEL_CATALOGUE_SHARE";

// The share setting's value: yes/true/1 or no/false/0/empty, in any case; nothing otherwise.
std::optional<bool> ReadShareSetting(std::string_view value);

// The host a shared catalogue listens on for the host asked for: loopback ones (the default)
// become every IPv4 interface, loopback included; another address is the user's choice and kept.
std::string ShareListenHost(const std::string& host);

// "Tessel on <host>", cut at a character's edge to the 63 bytes an instance name may have.
std::string InstanceName(std::string_view host);

// The TXT record as sent on the wire: length-prefixed strings, txtvers=1 first.
std::string ServiceTxtRecord();

class Announcement {
  public:
    // Lines for the log, from avahi's thread.
    using Log = std::function<void(const std::string& line)>;

    Announcement(int port, Log log);
    ~Announcement();  // withdraws the service
    Announcement(const Announcement&) = delete;
    Announcement& operator=(const Announcement&) = delete;

    // Starts avahi's thread; false only when that thread cannot be had (said in the log).
    bool Start();
    // Withdraws the service and ends avahi's thread; from any thread but avahi's own.
    void Stop();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace tessel::catalogue
