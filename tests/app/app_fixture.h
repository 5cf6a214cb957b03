#pragma once
// What the handler tests share: a window double, a program directory of the test's own whose
// bc.ini points the program at a catalogue stand-in on 127.0.0.1, and answers in the
// catalogue's shape.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "test_http_server.h"
#include "window_double.h"

namespace tessel::testing {

// The numbers the program's description gives: columns of a song row, panes of the status bar,
// and colours as Windows' RGB() packs them (red in the low byte).
constexpr std::size_t kNumberColumn = 0, kTitleColumn = 1, kSingerColumn = 2, kDurationColumn = 3,
                      kAddressColumn = 4;
constexpr std::size_t kStatePane = 0, kSpeedPane = 1, kDownloadPane = 2, kCreditPane = 3;
constexpr std::int32_t Rgb(int red, int green, int blue) {
    return red | green << 8 | blue << 16;
}

// One song of an answer; an empty member is left out of the JSON.
struct SongData {
    std::string title, author, duration, url;  // UTF-8; duration as JSON (a number)
};
std::vector<SongData> NumberedSongs(int first, int count);
std::string SongsAnswer(const std::vector<SongData>& songs);
// {"data":[{"name":..., "id_str":...}, ...]}
std::string CollectionsAnswer(const std::vector<std::pair<std::string, std::string>>& collections);

// The query value `key` of a request target, or "" (no decoding).
std::string QueryValue(const std::string& target, const std::string& key);

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the catalogue stand-in with `handler` and writes bc.ini's [服务] 主机 for it.
    void Serve(TestHttpServer::Handler handler);
    // bc.ini beside the program, written as GBK lines from UTF-8 ones.
    void WriteSettings(const std::vector<std::string>& utf8Lines);
    std::string ReadSettings() const;
    std::vector<std::string> Targets() const;  // request targets received, in order

    std::filesystem::path directory;
    std::unique_ptr<WindowDouble> windows;
    // Units by their names in the form.
    UnitRef searchBox, songList, statusBar, progressTimer, tagTemplate, saveDirectoryLabel,
        playerWindow;
    std::unique_ptr<TestHttpServer> server;
    std::vector<std::string> settingsLines;  // UTF-8, besides the host line
};

}  // namespace tessel::testing
