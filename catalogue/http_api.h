// The catalogue's web API over cpp-httplib:
//   GET /tessel/song/search/?q=<keyword>&type=video&count=N&offset=M
//   GET /tessel/music/collections/
//   GET /tessel/music/collections/<id>/songs/?count=N&offset=M
//   GET /media/<id>.mp3 (with Range)
// Answers are UTF-8 JSON objects; song addresses are built on the host the request came to.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "connection_loop.h"
#include "database.h"

namespace tessel::catalogue {

// Paging limits of the song listings.
inline constexpr int kDefaultCount = 20;
inline constexpr int kMaxCount = 100;
inline constexpr int kMaxOffset = 1'000'000;
// Longest keyword, in characters.
inline constexpr size_t kMaxKeywordCharacters = 100;

// Threads, time limits and the number of open connections (see connection_loop.h).
using ServerOptions = ConnectionLimits;

class CatalogueServer {
  public:
    CatalogueServer(Database& database, std::filesystem::path library, ServerOptions options = {});
    ~CatalogueServer();
    CatalogueServer(const CatalogueServer&) = delete;
    CatalogueServer& operator=(const CatalogueServer&) = delete;

    // Binds to host:port (port 0 picks a free one); returns the port, or -1 with the reason in
    // `error` ("address already in use" when another service has the port).
    int Bind(const std::string& host, int port, std::string& error);
    // Serves on the bound socket until Stop(); false if it could not.
    bool Run();
    // From any thread; Run() returns promptly whatever the clients do.
    void Stop();
    bool IsRunning() const;
    // "host:port" as bound (0.0.0.0 when shared: requests that name no host get the address
    // of the interface they came to instead).
    const std::string& Address() const { return address_; }

  private:
    class RequestReader;
    class Handlers;
    bool Answer(Connection& connection);

    Database& database_;
    std::filesystem::path library_;
    std::string address_;
    int listening_ = -1;
    std::unique_ptr<RequestReader> server_;
    std::unique_ptr<Handlers> handlers_;
    std::unique_ptr<ConnectionLoop> connections_;
};

}  // namespace tessel::catalogue
