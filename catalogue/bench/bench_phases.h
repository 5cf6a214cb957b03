// The measured parts of the catalogue benchmark, each run against the service on 127.0.0.1:`port`
// and printing its own figures.
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "database.h"
#include "http_api.h"
#include "load_client.h"

namespace tessel::catalogue::bench {

struct Settings {
    int songs = 100'000;
    int connections = 50;
    double seconds = 10.0;
    long requests = 1'000'000;
    double mediaSeconds = 3.0;
    int idle = 1000;
    int stalled = 1000;
    std::string index;
    bool buildOnly = false;
};

// Searches (search_phases.cpp).
// The first search after a restart and the common searches of the first second, timed from
// `restartStart`; the index was opened `openedMs` after it.
void RestartPhase(int port, Clock::time_point restartStart, double openedMs);
void SearchPhase(int port, const Settings& settings);
void IdleConnectionPhase(int port, int idle);
void AdversarialPhase(int port, int songs);

// Answers the service holds (serving_phases.cpp).
void MediaPhase(int port, int64_t mediaId, int connections, double seconds);
void StalledDownloadPhase(int port, int64_t mediaId, int stalled);
// Stops `server` (served on `serving`) with `idle` connections held and five answers stalled.
void StopPhase(CatalogueServer& server, std::thread& serving, int port, int64_t mediaId, int idle);

// Writing while searches go on (batch_phase.cpp).
void BatchPhase(int port, Database& database, int songs);

}  // namespace tessel::catalogue::bench
