#include "app_fixture.h"

#include <fstream>
#include <iterator>
#include <random>

#include "tessel/app/program.h"
#include "tessel/app/settings.h"
#include "tessel/headless/headless.h"
#include "tessel/posix/standins.h"

namespace tessel::testing {

namespace {

std::string JsonText(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::vector<SongData> NumberedSongs(int first, int count) {
    std::vector<SongData> songs;
    for (int n = first; n < first + count; ++n) {
        const std::string id = std::to_string(n);
        songs.push_back({"歌曲 " + id, "歌手" + id, std::to_string(n * 7),
                         "http://127.0.0.1:8765/media/" + id + ".mp3"});
    }
    return songs;
}

std::string SongsAnswer(const std::vector<SongData>& songs) {
    std::string json = "{\"status_code\":0,\"data\":[";
    for (std::size_t i = 0; i < songs.size(); ++i) {
        const SongData& s = songs[i];
        std::vector<std::string> members;
        if (!s.title.empty()) members.push_back("\"title\":" + JsonText(s.title));
        if (!s.author.empty()) members.push_back("\"author\":" + JsonText(s.author));
        if (!s.duration.empty()) members.push_back("\"duration\":" + s.duration);
        if (!s.url.empty())
            members.push_back("\"play_url\":{\"url_list\":[" + JsonText(s.url) + "]}");
        json += i == 0 ? "{" : ",{";
        for (std::size_t m = 0; m < members.size(); ++m) json += (m == 0 ? "" : ",") + members[m];
        json += "}";
    }
    return json + "]}";
}

std::string CollectionsAnswer(const std::vector<std::pair<std::string, std::string>>& collections) {
    std::string json = "{\"data\":[";
    for (std::size_t i = 0; i < collections.size(); ++i)
        json += (i == 0 ? "{\"name\":" : ",{\"name\":") + JsonText(collections[i].first) +
                ",\"id_str\":" + JsonText(collections[i].second) + "}";
    return json + "]}";
}

std::string QueryValue(const std::string& target, const std::string& key) {
    const auto query = target.find('?');
    if (query == std::string::npos) return "";
    std::size_t at = query + 1;
    while (at <= target.size()) {
        const auto end = std::min(target.find('&', at), target.size());
        const std::string pair = target.substr(at, end - at);
        if (pair.rfind(key + "=", 0) == 0) return pair.substr(key.size() + 1);
        at = end + 1;
    }
    return "";
}

void AppTest::SetUp() {
    std::random_device random;
    directory = std::filesystem::temp_directory_path() /
                ("tessel-app-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(directory);
    posix::System() = {};
    posix::System().programDirectory = directory.string();
    windows = std::make_unique<WindowDouble>();
    searchBox = windows->Named("编辑框1");
    songList = windows->Named("超级列表框1");
    statusBar = windows->Named("状态条1");
    progressTimer = windows->Named("时钟1");
    tagTemplate = windows->Named("标签1");
    saveDirectoryLabel = windows->Named("存放目录");
    playerWindow = windows->Named("播放窗口");
    app::SetCurrentTag({});
    app::ForgetFoundCatalogue();
}

void AppTest::TearDown() {
    server.reset();
    windows.reset();
    posix::System() = {};
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

void AppTest::Serve(TestHttpServer::Handler handler) {
    server = std::make_unique<TestHttpServer>(std::move(handler));
    ASSERT_TRUE(server->ok());
    std::vector<std::string> lines = settingsLines;
    lines.push_back("[服务]");
    lines.push_back("主机=" + server->HostPort());
    WriteSettings(lines);
}

void AppTest::WriteSettings(const std::vector<std::string>& utf8Lines) {
    std::ofstream out(directory / "bc.ini", std::ios::binary | std::ios::trunc);
    for (const auto& line : utf8Lines) out << Gbk(line) << "\r\n";
}

std::string AppTest::ReadSettings() const {
    std::ifstream in(directory / "bc.ini", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> AppTest::Targets() const {
    std::vector<std::string> targets;
    if (server)
        for (const auto& r : server->Requests()) targets.push_back(r.Target());
    return targets;
}

}  // namespace tessel::testing
