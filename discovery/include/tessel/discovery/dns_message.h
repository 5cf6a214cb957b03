#pragma once
// The DNS messages of a one-shot mDNS query: the question we send and the answers we read.
// Pure functions over bytes; nothing here reaches the network.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessel::discovery {

// The one question: _tessel._tcp.local PTR IN, message ID 0, no flags (33 bytes).
std::vector<std::uint8_t> CatalogueQuery();

// A catalogue an answer describes completely: the instance (PTR), its port and host (SRV), its
// TXT with path=/tessel/, and the host's IPv4 address (A).
struct AnsweredCatalogue {
    std::string instance;   // the instance's first label, as announced ("Tessel on A")
    std::string host;       // the SRV target, dotted ("A.local")
    std::uint32_t address;  // IPv4, first octet in the high byte
    std::uint16_t port;
};

// The catalogues a response announces, in the order of its PTR records. A message that is no
// response, or that any bound check refuses (a field past the end, a bad label, a compression
// pointer that does not point backwards), gives none: half a message proves nothing.
std::vector<AnsweredCatalogue> ParseCatalogueAnswer(std::span<const std::uint8_t> message);

// "a.b.c.d:port".
std::string AddressText(std::uint32_t address, std::uint16_t port);

}  // namespace tessel::discovery
