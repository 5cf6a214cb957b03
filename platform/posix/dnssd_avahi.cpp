// Windows' DNS-SD browse and resolve over avahi-daemon (libavahi-client): the program's callback
// gets what Windows gives it, a list of PTR records per instance found and a DNS_SERVICE_INSTANCE
// per resolve, on a thread of the client's own. Where avahi-daemon is not running the functions
// fail at once, as on a Windows without them.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "standin_functions.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::posix {

namespace {

constexpr Word kSuccess = 0;
constexpr Word kInvalidParameter = 87;
constexpr Word kServiceNotActive = 1062;  // no avahi-daemon to ask

// --- names ------------------------------------------------------------------------------------
std::u16string Utf16(std::string_view s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
        char32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < s.size(); ++k)
            c = c << 6 | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += 1 + extra;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string Utf8(const char16_t* s) {
    std::string out;
    for (; s != nullptr && *s != 0; ++s) {
        char32_t c = *s;
        if (c >= 0xD800 && c < 0xDC00 && s[1] >= 0xDC00 && s[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// An instance label in a full name: dots and backslashes in it are escaped.
std::string Escaped(std::string_view label) {
    std::string out;
    for (char c : label) {
        if (c == '.' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// "Tessel on A._tessel._tcp.local" as instance, type and domain; the type is the two labels
// after the instance's, the domain the rest. The instance part is unescaped.
bool SplitInstanceName(const std::string& full, std::string* instance, std::string* type,
                       std::string* domain) {
    std::size_t i = 0;
    instance->clear();
    for (; i < full.size() && full[i] != '.'; ++i) {
        if (full[i] == '\\' && i + 1 < full.size()) ++i;
        *instance += full[i];
    }
    if (i >= full.size()) return false;
    const std::size_t typeStart = i + 1;
    const std::size_t dot = full.find('.', full.find('.', typeStart) + 1);
    if (full.find('.', typeStart) == std::string::npos || dot == std::string::npos) return false;
    *type = full.substr(typeStart, dot - typeStart);
    *domain = full.substr(dot + 1);
    return !instance->empty() && !domain->empty();
}

// --- the connection to avahi-daemon ----------------------------------------------------------
// One client for the run, on a threaded poll; made again after avahi-daemon went away.
std::mutex g_connectionLock;
AvahiThreadedPoll* g_poll = nullptr;
AvahiClient* g_client = nullptr;
bool g_broken = false;  // written on the poll thread, read under its lock

void ClientChanged(AvahiClient*, AvahiClientState state, void*) {
    if (state == AVAHI_CLIENT_FAILURE) g_broken = true;
}

void Disconnect() {
    if (g_poll != nullptr) avahi_threaded_poll_stop(g_poll);
    if (g_client != nullptr) avahi_client_free(g_client);
    if (g_poll != nullptr) avahi_threaded_poll_free(g_poll);
    g_client = nullptr;
    g_poll = nullptr;
    g_broken = false;
}

// The client, with the poll's lock held; null (no lock held) where avahi-daemon does not answer.
AvahiClient* LockedClient() {
    const std::lock_guard guard(g_connectionLock);
    if (g_poll != nullptr) {
        avahi_threaded_poll_lock(g_poll);
        if (!g_broken) return g_client;
        avahi_threaded_poll_unlock(g_poll);
        Disconnect();
    }
    g_poll = avahi_threaded_poll_new();
    if (g_poll == nullptr) return nullptr;
    int error = 0;
    g_client = avahi_client_new(avahi_threaded_poll_get(g_poll), AvahiClientFlags(0),
                                &ClientChanged, nullptr, &error);
    if (g_client == nullptr || avahi_threaded_poll_start(g_poll) != 0) {
        Disconnect();
        return nullptr;
    }
    avahi_threaded_poll_lock(g_poll);
    return g_client;
}

void Unlock() {
    avahi_threaded_poll_unlock(g_poll);
}

// --- what the program is handed ---------------------------------------------------------------
// Each record list and instance handed over, with the strings it points at, until freed.
struct RecordHolder {
    dnssd::Record record{};
    std::u16string owner, target;
};
struct InstanceHolder {
    dnssd::ServiceInstance instance{};
    std::uint32_t ip4 = 0;
    std::u16string name, host;
    std::vector<std::u16string> keyTexts, valueTexts;
    std::vector<char16_t*> keys, values;
};
std::mutex g_handedLock;
std::map<const void*, std::unique_ptr<RecordHolder>> g_records;
std::map<const void*, std::unique_ptr<InstanceHolder>> g_instances;

// A browse or resolve under way; the cancel handle points at it. Touched under the poll lock.
struct Operation {
    AvahiServiceBrowser* browser = nullptr;
    AvahiServiceResolver* resolver = nullptr;
    dnssd::BrowseCallback browsed = nullptr;
    dnssd::ResolveCallback resolved = nullptr;
    void* context = nullptr;
    std::string type, domain;
};
std::set<Operation*> g_operations;

void Browsed(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent event,
             const char* name, const char* type, const char* domain, AvahiLookupResultFlags,
             void* userdata) {
    auto* op = static_cast<Operation*>(userdata);
    if (event != AVAHI_BROWSER_NEW || g_operations.count(op) == 0) return;
    auto holder = std::make_unique<RecordHolder>();
    const std::string service = std::string(type) + "." + domain;
    holder->owner = Utf16(service);
    holder->target = Utf16(Escaped(name) + "." + service);
    holder->record.name = holder->owner.data();
    holder->record.type = dnssd::kTypePtr;
    holder->record.dataLength = sizeof(char16_t*);
    holder->record.ttl = 120;
    holder->record.data.ptrNameHost = holder->target.data();
    dnssd::Record* record = &holder->record;
    {
        const std::lock_guard guard(g_handedLock);
        g_records[record] = std::move(holder);
    }
    op->browsed(kSuccess, op->context, record);
}

void Resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
              const char* name, const char* type, const char* domain, const char* hostName,
              const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
              AvahiLookupResultFlags, void* userdata) {
    auto* op = static_cast<Operation*>(userdata);
    if (g_operations.count(op) == 0) return;
    // One answer per resolve, as on Windows; the operation ends with it.
    g_operations.erase(op);
    avahi_service_resolver_free(resolver);
    const auto callback = op->resolved;
    void* context = op->context;
    delete op;
    if (event != AVAHI_RESOLVER_FOUND || address == nullptr || address->proto != AVAHI_PROTO_INET) {
        callback(kServiceNotActive, context, nullptr);
        return;
    }
    auto holder = std::make_unique<InstanceHolder>();
    holder->name = Utf16(Escaped(name) + "." + type + "." + domain);
    holder->host = Utf16(hostName != nullptr ? hostName : "");
    holder->ip4 = address->data.ipv4.address;  // network order, as IP4_ADDRESS
    for (AvahiStringList* l = txt; l != nullptr; l = avahi_string_list_get_next(l)) {
        char* key = nullptr;
        char* value = nullptr;
        if (avahi_string_list_get_pair(l, &key, &value, nullptr) != 0) continue;
        holder->keyTexts.push_back(Utf16(key));
        holder->valueTexts.push_back(Utf16(value != nullptr ? value : ""));
        avahi_free(key);
        avahi_free(value);
    }
    for (std::size_t i = 0; i < holder->keyTexts.size(); ++i) {
        holder->keys.push_back(holder->keyTexts[i].data());
        holder->values.push_back(holder->valueTexts[i].data());
    }
    auto& in = holder->instance;
    in.instanceName = holder->name.data();
    in.hostName = holder->host.data();
    in.ip4Address = &holder->ip4;
    in.port = port;
    in.propertyCount = static_cast<std::uint32_t>(holder->keys.size());
    in.keys = holder->keys.data();
    in.values = holder->values.data();
    dnssd::ServiceInstance* instance = &in;
    {
        const std::lock_guard guard(g_handedLock);
        g_instances[instance] = std::move(holder);
    }
    callback(kSuccess, context, instance);
}

// Ends the operation a cancel handle names; false when there is none (already over).
bool EndOperation(dnssd::Cancel* cancel) {
    if (cancel == nullptr) return false;
    const std::lock_guard guard(g_connectionLock);
    if (g_poll == nullptr) return false;
    avahi_threaded_poll_lock(g_poll);
    auto* op = static_cast<Operation*>(cancel->reserved);
    const bool known = g_operations.erase(op) != 0;
    if (known) {
        if (op->browser != nullptr) avahi_service_browser_free(op->browser);
        if (op->resolver != nullptr) avahi_service_resolver_free(op->resolver);
        delete op;
        cancel->reserved = nullptr;
    }
    avahi_threaded_poll_unlock(g_poll);
    return known;
}

}  // namespace

namespace {

// A browser or resolver made (or not) under the client's lock, which this releases: a made one
// is kept, and named in `cancel`, until it is cancelled.
Word Started(std::unique_ptr<Operation> op, bool made, dnssd::Cancel* cancel) {
    if (!made) {
        Unlock();
        return kServiceNotActive;
    }
    cancel->reserved = op.get();
    g_operations.insert(op.release());
    Unlock();
    return dnssd::kRequestPending;
}

}  // namespace

Word DnsServiceBrowse(const Word* args) {
    auto* request = reinterpret_cast<const dnssd::BrowseRequest*>(args[0]);
    auto* cancel = reinterpret_cast<dnssd::Cancel*>(args[1]);
    if (request == nullptr || cancel == nullptr || request->callback == nullptr ||
        request->version != dnssd::kQueryRequestVersion1)
        return kInvalidParameter;
    // "_tessel._tcp.local": the type is all but the last label, the domain that label.
    const std::string query = Utf8(request->queryName);
    const auto dot = query.rfind('.');
    if (dot == std::string::npos || dot == 0) return kInvalidParameter;
    auto op = std::make_unique<Operation>();
    op->browsed = request->callback;
    op->context = request->context;
    op->type = query.substr(0, dot);
    op->domain = query.substr(dot + 1);
    AvahiClient* client = LockedClient();
    if (client == nullptr) return kServiceNotActive;
    op->browser =
        avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, op->type.c_str(),
                                  op->domain.c_str(), AvahiLookupFlags(0), &Browsed, op.get());
    const bool made = op->browser != nullptr;
    return Started(std::move(op), made, cancel);
}

Word DnsServiceResolve(const Word* args) {
    auto* request = reinterpret_cast<const dnssd::ResolveRequest*>(args[0]);
    auto* cancel = reinterpret_cast<dnssd::Cancel*>(args[1]);
    if (request == nullptr || cancel == nullptr || request->callback == nullptr ||
        request->version != dnssd::kQueryRequestVersion1)
        return kInvalidParameter;
    std::string instance, type, domain;
    if (!SplitInstanceName(Utf8(request->queryName), &instance, &type, &domain))
        return kInvalidParameter;
    auto op = std::make_unique<Operation>();
    op->resolved = request->callback;
    op->context = request->context;
    AvahiClient* client = LockedClient();
    if (client == nullptr) return kServiceNotActive;
    op->resolver = avahi_service_resolver_new(
        client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, instance.c_str(), type.c_str(), domain.c_str(),
        AVAHI_PROTO_INET, AvahiLookupFlags(0), &Resolved, op.get());
    const bool made = op->resolver != nullptr;
    return Started(std::move(op), made, cancel);
}

Word DnsServiceBrowseCancel(const Word* args) {
    return EndOperation(reinterpret_cast<dnssd::Cancel*>(args[0])) ? kSuccess : kInvalidParameter;
}

Word DnsServiceResolveCancel(const Word* args) {
    return EndOperation(reinterpret_cast<dnssd::Cancel*>(args[0])) ? kSuccess : kInvalidParameter;
}

Word DnsServiceFreeInstance(const Word* args) {
    const std::lock_guard guard(g_handedLock);
    g_instances.erase(reinterpret_cast<const void*>(args[0]));
    return 0;
}

// Each list the browse hands over is one record long.
Word DnsRecordListFree(const Word* args) {
    const std::lock_guard guard(g_handedLock);
    g_records.erase(reinterpret_cast<const void*>(args[0]));
    return 0;
}

}  // namespace tessel::posix
