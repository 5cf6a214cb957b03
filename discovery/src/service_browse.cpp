#include "service_browse.h"

#include <array>
#include <atomic>
#include <span>

#include "tessel/discovery/dns_message.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/services.h"
#include "tessel/runtime/windows_network.h"

namespace tessel::discovery {

namespace {

constexpr char16_t kServiceQuery[] = u"_tessel._tcp.local";
constexpr std::size_t kMaxInstances = 8;
constexpr std::size_t kNameSize = 256;  // an instance's full name, in UTF-16 units with the NUL
constexpr std::size_t kMaxPendingFrees = 32;
constexpr std::uint32_t kBrowseSlot = 0xFF;

// The system calls back on threads of its own, possibly after a browse was cancelled. What the
// callbacks hand over lives here, for the whole run, guarded by a spin lock (they hold it only
// to copy a few words). Each browse has a generation; a callback of an older one is ignored.
struct Resolve {
    std::array<char16_t, kNameSize> name{};
    dnssd::ResolveRequest request{};
    dnssd::Cancel cancel{};
    bool started = false;
    bool done = false;  // its callback came
};

struct Shared {
    std::atomic_flag lock = ATOMIC_FLAG_INIT;
    std::uint32_t generation = 0;
    std::array<Resolve, kMaxInstances> resolves{};
    std::size_t instanceCount = 0;
    std::string found;
    // What the system handed over to be freed by the program's own thread.
    std::array<dnssd::Record*, kMaxPendingFrees> records{};
    std::array<dnssd::ServiceInstance*, kMaxPendingFrees> instances{};
    dnssd::BrowseRequest browse{};
    dnssd::Cancel browseCancel{};
};

Shared& State() {
    static Shared shared;
    return shared;
}

class Locked {
  public:
    Locked() {
        while (State().lock.test_and_set(std::memory_order_acquire)) {
        }
    }
    ~Locked() { State().lock.clear(std::memory_order_release); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

void* Context(std::uint32_t generation, std::uint32_t slot) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(generation << 8 | slot));
}
bool Current(void* context, std::uint32_t* slot) {
    const auto c = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(context));
    *slot = c & 0xFF;
    return c >> 8 == (State().generation & 0xFFFFFF);
}

template <typename T, std::size_t N>
bool Keep(std::array<T*, N>& list, T* p) {
    for (auto& slot : list) {
        if (slot == nullptr) {
            slot = p;
            return true;
        }
    }
    return false;  // left to the system: better a small leak than a free on its thread
}

std::size_t Length16(const char16_t* s) {
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n;
}
bool Same16(const char16_t* s, std::u16string_view t) {
    return s != nullptr && std::u16string_view(s, Length16(s)) == t;
}

void TESSEL_SYSTEM_CALLBACK Browsed(std::uint32_t status, void* context, dnssd::Record* records) {
    Locked locked;
    auto& s = State();
    if (records != nullptr) Keep(s.records, records);
    std::uint32_t slot = 0;
    if (status != 0 || !Current(context, &slot)) return;
    for (auto* r = records; r != nullptr; r = r->next) {
        if (r->type != dnssd::kTypePtr || r->data.ptrNameHost == nullptr) continue;
        const char16_t* name = r->data.ptrNameHost;
        const std::size_t n = Length16(name);
        if (n == 0 || n >= kNameSize) continue;
        bool known = false;
        for (std::size_t i = 0; i < s.instanceCount; ++i)
            known = known || Same16(s.resolves[i].name.data(), std::u16string_view(name, n));
        if (known || s.instanceCount == kMaxInstances) continue;
        auto& resolve = s.resolves[s.instanceCount++];
        std::copy(name, name + n + 1, resolve.name.begin());
    }
}

void TESSEL_SYSTEM_CALLBACK Resolved(std::uint32_t status, void* context,
                                     dnssd::ServiceInstance* instance) {
    Locked locked;
    auto& s = State();
    if (instance != nullptr) Keep(s.instances, instance);
    std::uint32_t slot = 0;
    if (!Current(context, &slot) || slot >= kMaxInstances) return;
    s.resolves[slot].done = true;
    if (status != 0 || instance == nullptr || instance->ip4Address == nullptr ||
        instance->port == 0 || !s.found.empty())
        return;
    bool catalogue = false;
    for (std::uint32_t i = 0; i < instance->propertyCount && instance->keys && instance->values;
         ++i)
        catalogue = catalogue || (Same16(instance->keys[i], u"path") &&
                                  Same16(instance->values[i], u"/tessel/"));
    // IP4_ADDRESS is in network order: its first byte is the first octet.
    const auto* b = reinterpret_cast<const std::uint8_t*>(instance->ip4Address);
    const std::uint32_t address = std::uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3];
    if (catalogue && address != 0) s.found = AddressText(address, instance->port);
}

Word Ptr(const void* p) {
    return reinterpret_cast<Word>(p);
}
Word Dll(std::uint32_t index, std::initializer_list<Word> args) {
    return CallDll(index, std::span<const Word>(args.begin(), args.size()));
}

// Frees what the callbacks handed over, on the program's thread.
void FreeHandedOver() {
    std::array<dnssd::Record*, kMaxPendingFrees> records{};
    std::array<dnssd::ServiceInstance*, kMaxPendingFrees> instances{};
    {
        Locked locked;
        std::swap(records, State().records);
        std::swap(instances, State().instances);
    }
    for (auto* r : records)
        if (r != nullptr) Dll(dll::kDnsRecordListFree, {Ptr(r), dnssd::kFreeRecordList});
    for (auto* i : instances)
        if (i != nullptr) Dll(dll::kDnsServiceFreeInstance, {Ptr(i)});
}

}  // namespace

bool ServiceBrowse::Start() {
    auto& s = State();
    {
        Locked locked;
        ++s.generation;
        s.instanceCount = 0;
        s.found.clear();
        for (auto& r : s.resolves) r = Resolve{};
        s.browse = {dnssd::kQueryRequestVersion1, 0, kServiceQuery, &Browsed,
                    Context(s.generation, kBrowseSlot)};
        s.browseCancel = {};
    }
    // Anything but "pending" means no browse: older Windows lack the function, others fail it.
    browsing_ = Dll(dll::kDnsServiceBrowse, {Ptr(&s.browse), Ptr(&s.browseCancel)}) ==
                dnssd::kRequestPending;
    return browsing_;
}

std::string ServiceBrowse::Poll() {
    if (!browsing_) return {};
    auto& s = State();
    std::string found;
    std::array<Resolve*, kMaxInstances> toStart{};
    {
        Locked locked;
        found = s.found;
        for (std::size_t i = 0; i < s.instanceCount; ++i) {
            auto& r = s.resolves[i];
            if (r.started) continue;
            r.started = true;
            r.request = {dnssd::kQueryRequestVersion1, 0, r.name.data(), &Resolved,
                         Context(s.generation, static_cast<std::uint32_t>(i))};
            toStart[i] = &r;
        }
    }
    // The resolve requests and cancels stay in the shared state: the system may keep them.
    for (auto* r : toStart) {
        if (r == nullptr) continue;
        if (Dll(dll::kDnsServiceResolve, {Ptr(&r->request), Ptr(&r->cancel)}) !=
            dnssd::kRequestPending) {
            Locked locked;
            r->done = true;
        }
    }
    FreeHandedOver();
    return found;
}

void ServiceBrowse::Cancel() {
    if (!browsing_) return;
    browsing_ = false;
    auto& s = State();
    Dll(dll::kDnsServiceBrowseCancel, {Ptr(&s.browseCancel)});
    std::array<dnssd::Cancel*, kMaxInstances> toCancel{};
    {
        Locked locked;
        for (std::size_t i = 0; i < s.instanceCount; ++i)
            if (s.resolves[i].started && !s.resolves[i].done) toCancel[i] = &s.resolves[i].cancel;
        ++s.generation;  // from here on every callback of this browse is ignored
    }
    for (auto* c : toCancel)
        if (c != nullptr) Dll(dll::kDnsServiceResolveCancel, {Ptr(c)});
    FreeHandedOver();
}

}  // namespace tessel::discovery
