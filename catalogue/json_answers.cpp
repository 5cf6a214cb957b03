#include "json_answers.h"

#include "api_paths.h"

namespace tessel::catalogue {
namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        } else if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            // U+2028 and U+2029 end lines in script engines that read the answer as script.
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

void SendJson(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, kJsonType);
}

void SendError(httplib::Response& res, int status, std::string_view message) {
    std::string body = "{\"status_code\":" + std::to_string(status) + ",\"status_msg\":";
    AppendJsonString(body, message);
    body += '}';
    SendJson(res, status, body);
}

std::string SongPage(std::vector<SongRow>& songs, const std::string& host, int count, int offset) {
    const bool hasMore = songs.size() > static_cast<size_t>(count);
    if (hasMore) songs.resize(static_cast<size_t>(count));
    std::string body = "{\"status_code\":0,\"data\":[";
    body.reserve(songs.size() * 240 + 128);
    for (size_t i = 0; i < songs.size(); ++i) {
        const SongRow& song = songs[i];
        if (i > 0) body += ',';
        body += "{\"id_str\":\"" + std::to_string(song.id) + "\",\"title\":";
        AppendJsonString(body, song.title);
        body += ",\"author\":";
        AppendJsonString(body, song.artist);
        body += ",\"album\":";
        AppendJsonString(body, song.album);
        body += ",\"duration\":" + std::to_string(song.duration);
        body += ",\"play_url\":{\"url_list\":[";
        AppendJsonString(body, MediaUrl(host, song.id));
        body += "]}}";
    }
    body += "],\"offset\":" + std::to_string(offset) + ",\"count\":" + std::to_string(count) +
            ",\"has_more\":" + (hasMore ? "true" : "false") +
            ",\"cursor\":" + std::to_string(offset + static_cast<int>(songs.size())) + "}";
    return body;
}

std::string CollectionList(const std::vector<CollectionRow>& collections) {
    std::string body = "{\"status_code\":0,\"data\":[";
    bool first = true;
    for (const CollectionRow& collection : collections) {
        if (!first) body += ',';
        first = false;
        body += "{\"name\":";
        AppendJsonString(body, collection.name);
        body += ",\"id_str\":\"" + std::to_string(collection.id) + "\"}";
    }
    body += "]}";
    return body;
}

std::string_view StatusText(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 404:
            return "no such address";
        case 413:
            return "the request body is too large";
        case 414:
            return "the address is too long";
        case 416:
            return "the range cannot be served";
        default:
            return status >= 500 ? "internal error" : "the request cannot be served";
    }
}

}  // namespace tessel::catalogue
