// What a song listing asks for besides its subject: the page (count and offset) and the host its
// song addresses are built on.
#pragma once

#include <httplib.h>

#include <optional>
#include <string>
#include <vector>

#include "database.h"
#include "request.h"

namespace tessel::catalogue {

struct PageRequest {
    int count = 0;
    int offset = 0;
    std::string host;
    // One row more than asked tells whether another page follows.
    int RowsToRead() const { return count + 1; }
};

// The page of `values` and the host of `req` (`address` when it names none and the interface
// cannot be told); nothing when either is refused, the answer saying why made in `res`.
std::optional<PageRequest> ReadPageRequest(const httplib::Request& req, const QueryValues& values,
                                           const std::string& address, httplib::Response& res);

// Answers with the page of `songs`, read with RowsToRead() rows.
void SendSongPage(httplib::Response& res, std::vector<SongRow>& songs, const PageRequest& page);

}  // namespace tessel::catalogue
