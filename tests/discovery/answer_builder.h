#pragma once
// DNS answers built field by field, as an mDNS responder sends them (the answer Avahi gave to
// the one-shot query: five records, names compressed, 164 bytes).
#include <cstdint>
#include <string>
#include <vector>

namespace tessel::discovery::testing {

using Bytes = std::vector<std::uint8_t>;

// A message written field by field; names are written whole or as a pointer to an offset.
class Message {
  public:
    Message& U8(std::uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Message& U16(std::uint16_t v) { return U8(v >> 8).U8(v & 0xFF); }
    Message& U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
    Message& Label(const std::string& s) {
        U8(static_cast<std::uint8_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Message& End() { return U8(0); }
    Message& Pointer(std::size_t offset) {
        return U16(static_cast<std::uint16_t>(0xC000 | offset));
    }
    Message& Header(std::uint16_t flags, std::uint16_t qd, std::uint16_t an, std::uint16_t ns,
                    std::uint16_t ar) {
        return U16(0).U16(flags).U16(qd).U16(an).U16(ns).U16(ar);
    }
    // type, class, TTL; the data length is filled in by EndData.
    Message& Record(std::uint16_t type, std::uint16_t klass, std::uint32_t ttl = 10) {
        U16(type).U16(klass).U32(ttl);
        lengthAt = b.size();
        return U16(0);
    }
    Message& EndData() {
        const std::size_t n = b.size() - lengthAt - 2;
        b[lengthAt] = static_cast<std::uint8_t>(n >> 8);
        b[lengthAt + 1] = static_cast<std::uint8_t>(n);
        return *this;
    }
    std::size_t size() const { return b.size(); }
    Bytes b;
    std::size_t lengthAt = 0;
};

constexpr std::uint16_t kResponse = 0x8400;  // QR and AA
constexpr std::uint16_t kIn = 1, kInFlush = 0x8001;
constexpr std::uint16_t kA = 1, kPtr = 12, kTxt = 16, kAaaa = 28, kSrv = 33;
constexpr std::uint32_t k169_254_77_1 = 0xA9FE4D01;

struct Layout {
    std::size_t service = 12;  // _tessel._tcp.local, in the repeated question
    std::size_t local = 25;    // its "local"
    std::size_t instance = 0;  // "Tessel on A" + pointer
    std::size_t host = 0;      // "A" + pointer to local
};

struct Options {
    std::string txtPath = "path=/tessel/";
    std::uint16_t port = 8765;
    std::uint32_t ptrTtl = 10;
    std::uint16_t answers = 5;  // the rest go to the additional section
    std::string serviceInQuestion = "_tessel";
    std::uint32_t address = k169_254_77_1;  // of the A record
};

// Avahi's answer to the one-shot query: PTR, TXT, SRV, AAAA, A, in this order.
inline Bytes AvahiAnswer(const Options& o = {}) {
    Message m;
    Layout l;
    m.Header(kResponse, 1, o.answers, 0, static_cast<std::uint16_t>(5 - o.answers));
    m.Label(o.serviceInQuestion).Label("_tcp").Label("local").End().U16(kPtr).U16(kIn);
    m.Pointer(l.service).Record(kPtr, kIn, o.ptrTtl);
    l.instance = m.size();
    m.Label("Tessel on A").Pointer(l.service).EndData();
    m.Pointer(l.instance).Record(kTxt, kInFlush).Label("txtvers=1");
    if (!o.txtPath.empty()) m.Label(o.txtPath);
    m.EndData();
    m.Pointer(l.instance).Record(kSrv, kInFlush).U16(0).U16(0).U16(o.port);
    l.host = m.size();
    m.Label("A").Pointer(l.local).EndData();
    m.Pointer(l.host).Record(kAaaa, kInFlush);
    for (int i = 0; i < 4; ++i) m.U32(i == 0 ? 0xFE800000 : 1);
    m.EndData();
    m.Pointer(l.host).Record(kA, kInFlush).U32(o.address).EndData();
    return m.b;
}

}  // namespace tessel::discovery::testing
