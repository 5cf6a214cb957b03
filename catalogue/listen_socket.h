// The service's listening socket.
#pragma once

#include <string>

namespace tessel::catalogue {

// A listening socket on host:port (port 0 picks a free one); -1 with the reason in `error`.
int Listen(const std::string& host, int port, std::string& error);
// The port a socket is bound to; -1 when it cannot be told.
int BoundPort(int fd);

}  // namespace tessel::catalogue
