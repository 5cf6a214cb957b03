// The server: the library's request reading over the connection loop's connections, and the
// listening socket it serves.
#include "http_api.h"

#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "api_routes.h"
#include "connection_stream.h"
#include "json_answers.h"
#include "listen_socket.h"

namespace tessel::catalogue {
namespace {

// A player that pauses reading keeps its connection for a while.
constexpr std::chrono::seconds kWriteWait{30};

}  // namespace

// The library reads each request and writes its answer; the connection loop decides when.
class CatalogueServer::RequestReader : public httplib::Server {
  public:
    using httplib::Server::process_request;
    // The library writes streamed answers only while it counts itself as serving.
    void SetServing(bool serving) { svr_sock_ = serving ? 0 : INVALID_SOCKET; }
};

CatalogueServer::CatalogueServer(Database& database, std::filesystem::path library,
                                 ServerOptions options)
    : database_(database),
      library_(std::move(library)),
      server_(std::make_unique<RequestReader>()),
      handlers_(std::make_unique<Handlers>(database_, library_, address_)),
      connections_(std::make_unique<ConnectionLoop>(
          options, [this](Connection& connection) { return Answer(connection); })) {
    // What the answers' Keep-Alive header announces.
    server_->set_keep_alive_max_count(100000);
    server_->set_keep_alive_timeout(std::max<time_t>(
        1, std::chrono::duration_cast<std::chrono::seconds>(options.idleTime).count()));

    // Every request is answered here, before the library's pattern routing, which would only
    // cost time: the handlers route on the raw target themselves.
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            SendError(res, 405, "only GET and HEAD are served");
            return httplib::Server::HandlerResponse::Handled;
        }
        // The media handler answers Range itself; the library must not cut the answer again.
        // (The request object is the server's own, not const where it lives.)
        const_cast<httplib::Request&>(req).ranges.clear();
        handlers_->Dispatch(req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
    // Answers that the library makes itself (bad request lines, unknown ranges) get a JSON body.
    server_->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty() || res.content_length_ > 0) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            SendError(res, res.status, StatusText(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server_->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            SendError(res, 500, "internal error");
        });
}

CatalogueServer::~CatalogueServer() {
    Stop();
    if (listening_ >= 0) ::close(listening_);
}

// One request of the connection; true when it stays open for the next. A request with a body
// closes its connection after the answer: no handler reads bodies, so its bytes would be taken
// for the next request.
bool CatalogueServer::Answer(Connection& connection) {
    ConnectionStream stream(connection, kWriteWait);
    bool closed = false;
    bool hasBody = false;
    const bool answered =
        server_->process_request(stream, false, closed, [&hasBody](httplib::Request& req) {
            hasBody =
                req.has_header("Transfer-Encoding") ||
                (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
        });
    const bool keep = answered && !closed && !hasBody;
    if (!stream.HandedOff()) return keep;
    // The loop writes the body, then closes the connection or waits for its next request.
    if (!answered) return false;
    connection.body.closeAfter = !keep;
    return true;
}

int CatalogueServer::Bind(const std::string& host, int port, std::string& error) {
    if (listening_ >= 0) ::close(listening_);
    listening_ = Listen(host, port, error);
    const int bound = listening_ >= 0 ? BoundPort(listening_) : -1;
    if (bound <= 0) return -1;
    const bool bracket = host.find(':') != std::string::npos;
    address_ = (bracket ? "[" + host + "]" : host) + ":" + std::to_string(bound);
    return bound;
}

bool CatalogueServer::Run() {
    if (listening_ < 0) return false;
    server_->SetServing(true);
    const bool served = connections_->Run(listening_);
    server_->SetServing(false);
    return served;
}

void CatalogueServer::Stop() {
    server_->SetServing(false);
    connections_->Stop();
}

bool CatalogueServer::IsRunning() const {
    return connections_->IsRunning();
}

}  // namespace tessel::catalogue
