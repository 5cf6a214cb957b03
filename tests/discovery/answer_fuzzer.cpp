// Any datagram that reaches the query's port: reading it must stay within its bytes, and every
// catalogue it names must have a port.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tessel/discovery/dns_message.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto found = tessel::discovery::ParseCatalogueAnswer(std::span(data, size));
    for (const auto& c : found) {
        if (c.port == 0 || c.address == 0) std::abort();
    }
    return 0;
}
