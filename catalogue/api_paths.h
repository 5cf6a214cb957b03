// The addresses the catalogue's web API answers (see http_api.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel::catalogue {

inline constexpr std::string_view kSearchPath = "/tessel/song/search/";
inline constexpr std::string_view kCollectionsPath = "/tessel/music/collections/";
inline constexpr std::string_view kSongsSuffix = "/songs/";
inline constexpr std::string_view kMediaPath = "/media/";
inline constexpr std::string_view kMediaSuffix = ".mp3";

// The address a song is played from, on the host the request came to.
inline std::string MediaUrl(const std::string& host, int64_t id) {
    return "http://" + host + std::string(kMediaPath) + std::to_string(id) +
           std::string(kMediaSuffix);
}

}  // namespace tessel::catalogue
