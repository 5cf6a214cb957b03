// Fixtures of the catalogue tests: scratch folders, songs made for the test, and the service
// running in this process on 127.0.0.1 with a port the system picks.
#pragma once

#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "database.h"
#include "demo.h"
#include "http_api.h"
#include "json_value.h"
#include "scan.h"

namespace tessel::catalogue::testing {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Puts an MP3 of about one second with `tags` at `file` (folders made as needed). The audio is
// encoded once per process and copied, so many songs cost little.
bool AddSong(const std::filesystem::path& file, const SongTags& tags);

// An index at `file` of `songs` songs titled "Vol 0", "Vol 1"... in that order, with no audio:
// large enough to make searches walk far, quick to make.
std::unique_ptr<Database> GeneratedIndex(const std::filesystem::path& file, int songs);

// The service over `library`, its index brought up to date first, serving until destroyed.
class RunningCatalogue {
  public:
    RunningCatalogue(const std::filesystem::path& library, const std::filesystem::path& index,
                     const ScanOptions& options = {}, const ServerOptions& server = {});
    // Serves `database` as it is, without reading a library.
    explicit RunningCatalogue(std::unique_ptr<Database> database, const ServerOptions& server = {});
    ~RunningCatalogue();

    bool ok() const { return running_; }
    CatalogueServer& server() { return *server_; }
    // Stops the service; true when it ended within `limit`.
    bool StopWithin(std::chrono::milliseconds limit);
    const ScanReport& report() const { return report_; }
    int port() const { return port_; }
    Database& database() { return *database_; }

    httplib::Result Get(const std::string& target, const httplib::Headers& headers = {});
    // The answer parsed as JSON; nothing when it is not JSON.
    std::optional<JsonValue> GetJson(const std::string& target, int expectedStatus = 200);
    httplib::Client& client() { return *client_; }

  private:
    void Serve(const std::filesystem::path& library, const ServerOptions& options);

    std::unique_ptr<Database> database_;
    std::unique_ptr<CatalogueServer> server_;
    std::unique_ptr<httplib::Client> client_;
    std::thread serving_;
    ScanReport report_;
    int port_ = -1;
    bool running_ = false;
};

// A client's TCP connection to the service, opened and left as the test says.
class RawConnection {
  public:
    // `receiveBuffer` > 0 keeps the client's receive buffer that small: a client that stops
    // reading stalls the service's writes sooner.
    explicit RawConnection(int port, int receiveBuffer = 0);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    void Send(const std::string& bytes);
    // True while the service has neither answered nor closed the connection.
    bool Untouched() const;
    // What the service sends until it closes the connection or `wait` passes; `closed` says which.
    std::string Receive(std::chrono::milliseconds wait, bool& closed);
    // One whole answer (its head and the body its Content-Length gives), or what came before the
    // service closed the connection or `wait` passed.
    std::string ReceiveAnswer(std::chrono::milliseconds wait, bool& closed);

  private:
    int fd_;
    bool connected_ = false;
};

// The titles of the songs in a listing answer, in answer order.
std::vector<std::string> Titles(const JsonValue& answer);

}  // namespace tessel::catalogue::testing
