#include "page_request.h"

#include <cstdint>
#include <string_view>
#include <utility>

#include "connection_stream.h"
#include "http_api.h"
#include "json_answers.h"

namespace tessel::catalogue {
namespace {

// A paging parameter: its default when missing, an error message when out of range.
std::optional<std::string> ReadPaging(const QueryValues& values, std::string_view name,
                                      int fallback, int low, int high, int& result) {
    const auto found = values.find(name);
    if (found == values.end()) {
        result = fallback;
        return std::nullopt;
    }
    const std::optional<int64_t> number = ParseNumber(found->second);
    if (!number || *number < low || *number > high) {
        return std::string(name) + " must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high);
    }
    result = static_cast<int>(*number);
    return std::nullopt;
}

std::optional<std::string> ReadCountAndOffset(const QueryValues& values, int& count, int& offset) {
    if (auto error = ReadPaging(values, "count", kDefaultCount, 1, kMaxCount, count)) return error;
    return ReadPaging(values, "offset", 0, 0, kMaxOffset, offset);
}

// "ip:port", or "[ip]:port" for IPv6; an IPv4 address mapped into IPv6 is written as IPv4.
std::string HostAndPort(std::string ip, int port) {
    if (ip.starts_with("::ffff:") && ip.find('.') != std::string::npos) ip.erase(0, 7);
    if (ip.find(':') != std::string::npos) ip = "[" + ip + "]";
    return ip + ":" + std::to_string(port);
}

// The host the request came to, which song addresses are built on: the one it names, else the
// address of the interface it came to (a service listening on every interface has no single
// address of its own, and 0.0.0.0 reaches nothing).
std::optional<std::string> RequestHost(const httplib::Request& req, const std::string& fallback) {
    if (!req.has_header("Host")) {
        std::string ip;
        int port = 0;
        if (const ConnectionStream* stream = ConnectionStream::Answering()) {
            stream->get_local_ip_and_port(ip, port);
        }
        return ip.empty() ? fallback : HostAndPort(ip, port);
    }
    const std::string host = req.get_header_value("Host");
    if (!IsHostName(host)) return std::nullopt;
    return host;
}

}  // namespace

std::optional<PageRequest> ReadPageRequest(const httplib::Request& req, const QueryValues& values,
                                           const std::string& address, httplib::Response& res) {
    PageRequest page;
    if (auto error = ReadCountAndOffset(values, page.count, page.offset)) {
        SendError(res, 400, *error);
        return std::nullopt;
    }
    std::optional<std::string> host = RequestHost(req, address);
    if (!host) {
        SendError(res, 400, "the Host header is not a host name");
        return std::nullopt;
    }
    page.host = std::move(*host);
    return page;
}

void SendSongPage(httplib::Response& res, std::vector<SongRow>& songs, const PageRequest& page) {
    SendJson(res, 200, SongPage(songs, page.host, page.count, page.offset));
}

}  // namespace tessel::catalogue
