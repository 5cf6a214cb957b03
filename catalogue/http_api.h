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

#include "database.h"

namespace httplib {
class Server;
}

namespace tessel::catalogue {

// Paging limits of the song listings.
inline constexpr int kDefaultCount = 20;
inline constexpr int kMaxCount = 100;
inline constexpr int kMaxOffset = 1'000'000;
// Longest keyword, in characters.
inline constexpr size_t kMaxKeywordCharacters = 100;

struct ServerOptions {
    // Each open connection holds a thread while it is kept alive or its request arrives; threads
    // are made as connections need them, up to this many clients served at once.
    int threads = 512;
};

class CatalogueServer {
  public:
    CatalogueServer(Database& database, std::filesystem::path library, ServerOptions options = {});
    ~CatalogueServer();
    CatalogueServer(const CatalogueServer&) = delete;
    CatalogueServer& operator=(const CatalogueServer&) = delete;

    // Binds to host:port (port 0 picks a free one); returns the port, or -1 on failure.
    int Bind(const std::string& host, int port);
    // Serves on the bound socket until Stop(); false if it could not.
    bool Run();
    void Stop();
    bool IsRunning() const;
    // "host:port" as bound, used for requests that name no host.
    const std::string& Address() const { return address_; }

  private:
    class Handlers;
    Database& database_;
    std::filesystem::path library_;
    std::string address_;
    int listeningSocket_ = -1;  // the socket last made for binding
    std::unique_ptr<httplib::Server> server_;
    std::unique_ptr<Handlers> handlers_;
};

}  // namespace tessel::catalogue
