#include "tessel/discovery/dns_message.h"

#include <optional>
#include <string_view>

namespace tessel::discovery {

namespace {

using Name = std::vector<std::string>;  // labels, without the root

constexpr std::uint16_t kTypeA = 1;
constexpr std::uint16_t kTypePtr = 12;
constexpr std::uint16_t kTypeTxt = 16;
constexpr std::uint16_t kTypeSrv = 33;
constexpr std::uint16_t kClassIn = 1;
// mDNS uses the top bit of a record's class as the cache-flush bit (of a question's, as the
// unicast-response bit); the class is the other 15.
constexpr std::uint16_t kClassMask = 0x7FFF;
constexpr std::uint16_t kFlagResponse = 0x8000;
constexpr std::size_t kMaxNameLength = 255;  // wire form, as DNS bounds it

const Name& ServiceName() {
    static const Name name{"_tessel", "_tcp", "local"};
    return name;
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// DNS compares names without regard to ASCII case.
bool SameName(const Name& a, const Name& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (std::size_t j = 0; j < a[i].size(); ++j)
            if (Lower(a[i][j]) != Lower(b[i][j])) return false;
    }
    return true;
}

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> m) : m_(m) {}

    bool Has(std::size_t n) const { return pos_ <= m_.size() && m_.size() - pos_ >= n; }
    std::size_t pos() const { return pos_; }
    void Seek(std::size_t p) { pos_ = p; }

    std::optional<std::uint16_t> U16() {
        if (!Has(2)) return std::nullopt;
        const auto v = static_cast<std::uint16_t>(m_[pos_] << 8 | m_[pos_ + 1]);
        pos_ += 2;
        return v;
    }
    std::optional<std::uint32_t> U32() {
        auto hi = U16();
        auto lo = U16();
        if (!hi || !lo) return std::nullopt;
        return std::uint32_t{*hi} << 16 | *lo;
    }

    // A name at the current position, following compression pointers. Each pointer must point
    // before the label that holds it, so a chain of them always ends: loops are refused.
    std::optional<Name> ReadName() {
        Name name;
        std::size_t at = pos_;
        std::size_t after = 0;  // where reading goes on once the name is done (0: not jumped)
        std::size_t wireLength = 1;
        for (;;) {
            if (at >= m_.size()) return std::nullopt;
            const std::uint8_t length = m_[at];
            if ((length & 0xC0) == 0xC0) {
                if (at + 1 >= m_.size()) return std::nullopt;
                const std::size_t target = std::size_t{length & 0x3Fu} << 8 | m_[at + 1];
                if (target >= at) return std::nullopt;
                if (after == 0) after = at + 2;
                at = target;
                continue;
            }
            if ((length & 0xC0) != 0) return std::nullopt;  // the reserved label kinds
            if (length == 0) {
                pos_ = after != 0 ? after : at + 1;
                return name;
            }
            wireLength += 1u + length;
            if (wireLength > kMaxNameLength || m_.size() - at - 1 < length) return std::nullopt;
            name.emplace_back(reinterpret_cast<const char*>(&m_[at + 1]), length);
            at += 1u + length;
        }
    }

    std::span<const std::uint8_t> Bytes(std::size_t n) {
        auto s = m_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

  private:
    std::span<const std::uint8_t> m_;
    std::size_t pos_ = 0;
};

struct Service {  // what the records say of one instance
    std::optional<std::uint16_t> port;
    Name host;
    bool catalogue = false;  // TXT path=/tessel/
};

struct Records {
    std::vector<Name> instances;  // PTR targets of the service name
    std::vector<std::pair<Name, Service>> services;
    std::vector<std::pair<Name, std::uint32_t>> addresses;

    Service& ServiceOf(const Name& instance) {
        for (auto& [n, s] : services)
            if (SameName(n, instance)) return s;
        return services.emplace_back(instance, Service{}).second;
    }
};

// TXT strings are length-prefixed; the catalogue's own is exactly "path=/tessel/". Keys compare
// without case, values as given.
bool SaysCataloguePath(std::span<const std::uint8_t> rdata) {
    constexpr std::string_view kKey = "path";
    constexpr std::string_view kValue = "/tessel/";
    std::size_t i = 0;
    while (i < rdata.size()) {
        const std::size_t n = rdata[i];
        if (rdata.size() - i - 1 < n) return false;
        const std::string_view s(reinterpret_cast<const char*>(&rdata[i + 1]), n);
        const auto eq = s.find('=');
        if (eq == kKey.size() && s.substr(eq + 1) == kValue) {
            bool keyMatches = true;
            for (std::size_t k = 0; k < kKey.size(); ++k)
                keyMatches = keyMatches && Lower(s[k]) == kKey[k];
            if (keyMatches) return true;
        }
        i += 1 + n;
    }
    return false;
}

// One resource record into `records`; false when the message is malformed.
bool ReadRecord(Reader& r, Records& records) {
    auto owner = r.ReadName();
    auto type = r.U16();
    auto klass = r.U16();
    auto ttl = r.U32();
    auto length = r.U16();
    if (!owner || !type || !klass || !ttl || !length || !r.Has(*length)) return false;
    const std::size_t end = r.pos() + *length;
    // TTL 0 is a goodbye: the record is withdrawn, not announced.
    const bool counts = (*klass & kClassMask) == kClassIn && *ttl != 0;
    bool ok = true;
    if (counts && *type == kTypePtr) {
        auto target = r.ReadName();
        ok = target && r.pos() <= end;
        if (ok && SameName(*owner, ServiceName())) records.instances.push_back(*target);
    } else if (counts && *type == kTypeSrv) {
        auto priority = r.U16();
        auto weight = r.U16();
        auto port = r.U16();
        auto target = r.ReadName();
        ok = priority && weight && port && target && r.pos() <= end;
        if (ok) {
            Service& s = records.ServiceOf(*owner);
            s.port = *port;
            s.host = *target;
        }
    } else if (counts && *type == kTypeTxt) {
        if (SaysCataloguePath(r.Bytes(*length))) records.ServiceOf(*owner).catalogue = true;
    } else if (counts && *type == kTypeA) {
        auto address = *length == 4 ? r.U32() : std::nullopt;
        ok = address.has_value();
        if (ok) records.addresses.emplace_back(*owner, *address);
    }
    r.Seek(end);
    return ok;
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

}  // namespace

std::vector<std::uint8_t> CatalogueQuery() {
    std::vector<std::uint8_t> q;
    Put16(q, 0);  // ID: a one-shot query's answers repeat it
    Put16(q, 0);  // flags: a standard query
    Put16(q, 1);  // one question
    Put16(q, 0);
    Put16(q, 0);
    Put16(q, 0);
    for (const auto& label : ServiceName()) {
        q.push_back(static_cast<std::uint8_t>(label.size()));
        q.insert(q.end(), label.begin(), label.end());
    }
    q.push_back(0);
    Put16(q, kTypePtr);
    Put16(q, kClassIn);
    return q;
}

std::vector<AnsweredCatalogue> ParseCatalogueAnswer(std::span<const std::uint8_t> message) {
    Reader r(message);
    auto id = r.U16();
    auto flags = r.U16();
    auto questions = r.U16();
    auto answers = r.U16();
    auto authorities = r.U16();
    auto additionals = r.U16();
    if (!additionals || (*flags & kFlagResponse) == 0) return {};
    (void)id;  // a responder may answer a multicast question with any ID
    for (std::uint32_t i = 0; i < *questions; ++i) {
        if (!r.ReadName() || !r.U32()) return {};
    }
    Records records;
    const std::uint32_t count = std::uint32_t{*answers} + *authorities + *additionals;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!ReadRecord(r, records)) return {};
    }

    std::vector<AnsweredCatalogue> found;
    for (const auto& instance : records.instances) {
        const Service& s = records.ServiceOf(instance);
        if (!s.catalogue || !s.port || *s.port == 0) continue;
        for (const auto& [host, address] : records.addresses) {
            // An unspecified or multicast address reaches no catalogue.
            if (!SameName(host, s.host) || address == 0 || address >> 28 == 0xE) continue;
            std::string hostText;
            for (const auto& label : s.host) hostText += (hostText.empty() ? "" : ".") + label;
            bool known = false;
            for (const auto& f : found)
                known = known || (f.address == address && f.port == *s.port);
            if (!known)
                found.push_back({instance.empty() ? "" : instance[0], hostText, address, *s.port});
            break;
        }
    }
    return found;
}

std::string AddressText(std::uint32_t address, std::uint16_t port) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string(address >> shift & 0xFF);
        text += shift != 0 ? '.' : ':';
    }
    return text + std::to_string(port);
}

}  // namespace tessel::discovery
