#include "announce.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <cctype>
#include <vector>

namespace tessel::catalogue {
namespace {

// DNS-SD's limit on an instance name, in bytes of UTF-8.
constexpr size_t kMaxInstanceName = 63;
// How long to wait before trying the system bus again when it cannot be reached.
constexpr unsigned kRetryMilliseconds = 10'000;

// txtvers=1 comes first, as DNS-SD asks; the path is where the API lives.
AvahiStringList* ServiceTxt() {
    // Sent in the order written (avahi keeps its lists backwards, and turns them on sending).
    return avahi_string_list_new("txtvers=1", "path=/tessel/", nullptr);
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

std::optional<bool> ReadShareSetting(std::string_view value) {
    const std::string lower = Lower(value);
    if (lower == "yes" || lower == "true" || lower == "1") return true;
    if (lower.empty() || lower == "no" || lower == "false" || lower == "0") return false;
    return std::nullopt;
}

std::string ShareListenHost(const std::string& host) {
    if (host == "localhost" || host == "::1" || host.starts_with("127.")) return "0.0.0.0";
    return host;
}

std::string InstanceName(std::string_view host) {
    std::string name = "Tessel on ";
    name += host;
    if (name.size() <= kMaxInstanceName) return name;
    size_t end = kMaxInstanceName;
    // Back to the first byte of the character cut in two (continuation bytes are 10xxxxxx).
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    name.resize(end);
    return name;
}

std::string ServiceTxtRecord() {
    AvahiStringList* txt = ServiceTxt();
    std::string record(avahi_string_list_serialize(txt, nullptr, 0), '\0');
    avahi_string_list_serialize(txt, record.data(), record.size());
    avahi_string_list_free(txt);
    return record;
}

// Everything here but Start() and Stop() runs on avahi's thread, with its lock held.
struct Announcement::State {
    int port = 0;
    Log log;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    AvahiTimeout* reconnect = nullptr;
    std::string name;
    bool unavailableSaid = false;
    bool stopped = false;

    void Say(const std::string& line) {
        if (log) log(line);
    }

    // Once per run: a service that is not announced still serves.
    void SayUnavailable(const std::string& why) {
        if (unavailableSaid) return;
        unavailableSaid = true;
        Say(why +
            ": the library is shared but not announced on the LAN; it will be announced "
            "once avahi-daemon runs");
    }

    void Connect() {
        if (group != nullptr) {
            avahi_entry_group_free(group);
            group = nullptr;
        }
        if (client != nullptr) {
            avahi_client_free(client);
            client = nullptr;
        }
        name.clear();
        int error = 0;
        // NO_FAIL: without avahi-daemon the client waits for it (CONNECTING) instead of failing.
        // Only a system bus that cannot be reached fails here.
        AvahiClient* made = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL,
                                             &State::OnClient, this, &error);
        if (made == nullptr) {
            SayUnavailable(std::string("cannot reach avahi-daemon (") + avahi_strerror(error) +
                           ")");
            RetryIn(kRetryMilliseconds);
            return;
        }
        client = made;
    }

    void RetryIn(unsigned milliseconds) {
        timeval when{};
        avahi_elapse_time(&when, milliseconds, 0);
        const AvahiPoll* api = avahi_threaded_poll_get(poll);
        if (reconnect == nullptr) {
            reconnect = api->timeout_new(api, &when, &State::OnRetry, this);
        } else {
            api->timeout_update(reconnect, &when);
        }
    }

    static void OnRetry(AvahiTimeout* timeout, void* self) {
        auto* state = static_cast<State*>(self);
        avahi_threaded_poll_get(state->poll)->timeout_update(timeout, nullptr);
        state->Connect();
    }

    // (Called from inside avahi_client_new too, before `client` is set.)
    static void OnClient(AvahiClient* c, AvahiClientState clientState, void* self) {
        auto* state = static_cast<State*>(self);
        state->client = c;
        switch (clientState) {
            case AVAHI_CLIENT_S_RUNNING:
                state->Register();
                break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                // The host's own name is being settled: the service follows once it is.
                if (state->group != nullptr) avahi_entry_group_reset(state->group);
                break;
            case AVAHI_CLIENT_CONNECTING:
                state->SayUnavailable("avahi-daemon is not running");
                break;
            case AVAHI_CLIENT_FAILURE:
                // avahi-daemon went away (a restart, most often): a new client waits for it and
                // announces again. The old one is freed outside its own callback.
                if (avahi_client_errno(c) == AVAHI_ERR_DISCONNECTED) {
                    if (!state->unavailableSaid) {
                        state->Say(
                            "avahi-daemon has stopped: the library will be announced "
                            "again once it runs");
                    }
                    state->unavailableSaid = true;
                    state->RetryIn(0);
                } else {
                    state->SayUnavailable(std::string("avahi-daemon cannot be used (") +
                                          avahi_strerror(avahi_client_errno(c)) + ")");
                    state->RetryIn(kRetryMilliseconds);
                }
                break;
        }
    }

    static void OnGroup(AvahiEntryGroup* g, AvahiEntryGroupState groupState, void* self) {
        auto* state = static_cast<State*>(self);
        state->group = g;
        switch (groupState) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                state->Say("announced on the LAN as \"" + state->name + "\" (" + kServiceType +
                           ", port " + std::to_string(state->port) + ")");
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                // Another service on the LAN has the name: take the next one ("… #2").
                state->Rename();
                avahi_entry_group_reset(g);
                state->Register();
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                state->Say(std::string("the announcement failed (") +
                           avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(g))) +
                           "): trying again");
                state->RetryIn(kRetryMilliseconds);
                break;
            case AVAHI_ENTRY_GROUP_UNCOMMITED:
            case AVAHI_ENTRY_GROUP_REGISTERING:
                break;
        }
    }

    void Rename() {
        char* next = avahi_alternative_service_name(name.c_str());
        const std::string taken = name;
        name = next;
        avahi_free(next);
        Say("the name \"" + taken + "\" is taken on the LAN: announcing as \"" + name + "\"");
    }

    void Register() {
        if (group == nullptr) {
            group = avahi_entry_group_new(client, &State::OnGroup, this);
            if (group == nullptr) {
                Say(std::string("cannot announce the library (") +
                    avahi_strerror(avahi_client_errno(client)) + "): trying again");
                RetryIn(kRetryMilliseconds);
                return;
            }
        }
        if (!avahi_entry_group_is_empty(group)) return;
        if (name.empty()) {
            const char* host = avahi_client_get_host_name(client);
            name = InstanceName(host != nullptr ? host : "");
        }
        AvahiStringList* txt = ServiceTxt();
        int result;
        // The catalogue listens on IPv4 alone, so it is announced where IPv4 reaches.
        while ((result = avahi_entry_group_add_service_strlst(
                    group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags(0), name.c_str(),
                    kServiceType, nullptr, nullptr, static_cast<uint16_t>(port), txt)) ==
               AVAHI_ERR_COLLISION) {
            Rename();
        }
        avahi_string_list_free(txt);
        if (result >= 0) result = avahi_entry_group_commit(group);
        if (result < 0) {
            Say(std::string("cannot announce the library (") + avahi_strerror(result) +
                "): trying again");
            avahi_entry_group_reset(group);
            RetryIn(kRetryMilliseconds);
        }
    }
};

Announcement::Announcement(int port, Log log) : state_(std::make_unique<State>()) {
    state_->port = port;
    state_->log = std::move(log);
}

Announcement::~Announcement() {
    Stop();
}

bool Announcement::Start() {
    State& s = *state_;
    if (s.poll != nullptr) return true;
    s.poll = avahi_threaded_poll_new();
    if (s.poll == nullptr) {
        s.Say("cannot announce the library: avahi's event loop cannot be made");
        return false;
    }
    // Before the thread runs, the state is this thread's alone.
    s.Connect();
    if (avahi_threaded_poll_start(s.poll) < 0) {
        s.Say("cannot announce the library: avahi's thread cannot be started");
        Stop();
        return false;
    }
    return true;
}

void Announcement::Stop() {
    State& s = *state_;
    if (s.poll == nullptr || s.stopped) return;
    s.stopped = true;
    avahi_threaded_poll_stop(s.poll);
    // Freeing the group withdraws the service: avahi-daemon sends its goodbye to the LAN.
    if (s.group != nullptr) avahi_entry_group_free(s.group);
    if (s.client != nullptr) avahi_client_free(s.client);
    s.group = nullptr;
    s.client = nullptr;
    if (s.reconnect != nullptr) {
        const AvahiPoll* api = avahi_threaded_poll_get(s.poll);
        api->timeout_free(s.reconnect);
        s.reconnect = nullptr;
    }
    avahi_threaded_poll_free(s.poll);
    s.poll = nullptr;
}

}  // namespace tessel::catalogue
