// The request handlers of the catalogue's web API (see http_api.h).
#pragma once

#include <httplib.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "database.h"
#include "http_api.h"

namespace tessel::catalogue {

// The request handlers; they route on the raw request target so that what the client wrote
// (escapes included) is what gets judged.
class CatalogueServer::Handlers {
  public:
    Handlers(Database& database, const std::filesystem::path& library, const std::string& address)
        : database_(database), library_(library), address_(address) {}

    void Dispatch(const httplib::Request& req, httplib::Response& res);

  private:
    void Search(const httplib::Request& req, std::string_view query, httplib::Response& res);
    void Collections(httplib::Response& res);
    void CollectionSongs(const httplib::Request& req, std::string_view idText,
                         std::string_view query, httplib::Response& res);
    void Media(const httplib::Request& req, std::string_view name, httplib::Response& res);

    Database& database_;
    const std::filesystem::path& library_;
    const std::string& address_;
};

}  // namespace tessel::catalogue
