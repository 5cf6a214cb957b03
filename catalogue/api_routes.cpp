#include "api_routes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "api_paths.h"
#include "connection_stream.h"
#include "json_answers.h"
#include "page_request.h"
#include "request.h"
#include "search_text.h"

namespace tessel::catalogue {
namespace {

// An open song file, closed when the last answer reading it is gone.
class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() { ::close(fd_); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

void CatalogueServer::Handlers::Dispatch(const httplib::Request& req, httplib::Response& res) {
    const std::string_view target(req.target);
    const size_t question = target.find('?');
    const std::string_view path = target.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path == kSearchPath || path == kSearchPath.substr(0, kSearchPath.size() - 1)) {
        return Search(req, query, res);
    }
    if (path == kCollectionsPath ||
        path == kCollectionsPath.substr(0, kCollectionsPath.size() - 1)) {
        return Collections(res);
    }
    if (path.starts_with(kCollectionsPath)) {
        std::string_view rest = path.substr(kCollectionsPath.size());
        if (rest.ends_with(kSongsSuffix)) {
            rest.remove_suffix(kSongsSuffix.size());
        } else if (rest.ends_with(kSongsSuffix.substr(0, kSongsSuffix.size() - 1))) {
            rest.remove_suffix(kSongsSuffix.size() - 1);
        } else {
            return SendError(res, 404, "no such address");
        }
        return CollectionSongs(req, rest, query, res);
    }
    if (path.starts_with(kMediaPath)) return Media(req, path.substr(kMediaPath.size()), res);
    SendError(res, 404, "no such address");
}

void CatalogueServer::Handlers::Search(const httplib::Request& req, std::string_view query,
                                       httplib::Response& res) {
    QueryValues values;
    if (auto error = ParseQuery(query, values)) return SendError(res, 400, *error);
    const auto keyword = values.find("q");
    if (keyword == values.end()) return SendError(res, 400, "the keyword q is missing");
    if (!IsValidUtf8(keyword->second)) {
        return SendError(res, 400, "the keyword is not UTF-8 text");
    }
    for (unsigned char c : keyword->second) {
        if (c < 0x20 || c == 0x7F) {
            return SendError(res, 400, "the keyword holds control characters");
        }
    }
    if (CharacterCount(keyword->second) > kMaxKeywordCharacters) {
        return SendError(
            res, 400,
            "the keyword is longer than " + std::to_string(kMaxKeywordCharacters) + " characters");
    }
    const auto type = values.find("type");
    if (type != values.end() && type->second != "video") {
        return SendError(res, 400, "type must be video");
    }
    const std::optional<PageRequest> page = ReadPageRequest(req, values, address_, res);
    if (!page) return;
    const std::vector<std::u32string> terms = KeywordTerms(keyword->second);
    if (terms.empty()) return SendError(res, 400, "the keyword is empty");
    std::vector<SongRow> songs;
    switch (database_.Search(terms, page->RowsToRead(), page->offset, songs)) {
        case SearchOutcome::kAnswered:
            break;
        case SearchOutcome::kTooMuchWork:
            return SendError(res, 503,
                             "the search needs too much work: add words to the keyword or "
                             "ask for an earlier page");
        case SearchOutcome::kFailed:
            return SendError(res, 500, "the index cannot be read");
    }
    SendSongPage(res, songs, *page);
}

void CatalogueServer::Handlers::Collections(httplib::Response& res) {
    SendJson(res, 200, CollectionList(database_.Collections()));
}

void CatalogueServer::Handlers::CollectionSongs(const httplib::Request& req,
                                                std::string_view idText, std::string_view query,
                                                httplib::Response& res) {
    const std::optional<int64_t> id = ParseNumber(idText);
    if (!id) return SendError(res, 400, "a collection id is a number");
    QueryValues values;
    if (auto error = ParseQuery(query, values)) return SendError(res, 400, *error);
    const std::optional<PageRequest> page = ReadPageRequest(req, values, address_, res);
    if (!page) return;
    std::optional<std::vector<SongRow>> songs =
        database_.CollectionSongs(*id, page->RowsToRead(), page->offset);
    if (!songs) return SendError(res, 404, "no such collection");
    SendSongPage(res, *songs, *page);
}

// Only "<digits>.mp3" names a song: escapes, slashes, dots and absolute paths never reach the
// file system, whose paths come from the index alone.
void CatalogueServer::Handlers::Media(const httplib::Request& req, std::string_view name,
                                      httplib::Response& res) {
    std::optional<int64_t> id;
    if (name.ends_with(kMediaSuffix)) {
        id = ParseNumber(name.substr(0, name.size() - kMediaSuffix.size()));
    }
    if (!id) return SendError(res, 400, "a media address is /media/<song id>.mp3");
    const std::optional<std::string> path = database_.SongPath(*id);
    if (!path) return SendError(res, 404, "no such song");
    const std::filesystem::path file = library_ / *path;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return SendError(res, 404, "the song's file is gone");
    auto open = std::make_shared<OpenFile>(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        return SendError(res, 404, "the song's file is gone");
    }
    const int64_t size = info.st_size;
    res.set_header("Accept-Ranges", "bytes");
    ByteRange range{0, size - 1};
    int status = 200;
    if (req.has_header("Range")) {
        switch (ReadRange(req.get_header_value("Range"), size, range)) {
            case RangeAnswer::kWhole:
                range = {0, size - 1};
                break;
            case RangeAnswer::kPart:
                status = 206;
                res.set_header("Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                                    std::to_string(range.last) + "/" +
                                                    std::to_string(size));
                break;
            case RangeAnswer::kUnsatisfiable:
                res.set_header("Content-Range", "bytes */" + std::to_string(size));
                return SendError(res, 416, "the range lies outside the file");
        }
    }
    res.status = status;
    const int64_t length = range.last - range.first + 1;
    if (length <= 0) return res.set_content("", "audio/mpeg");
    const int64_t start = range.first;
    // The bytes are the connection loop's to write: the library's writes only count them.
    res.set_content_provider(
        static_cast<size_t>(length), "audio/mpeg",
        [open, start](size_t offset, size_t remaining, httplib::DataSink& sink) {
            ConnectionStream* stream = ConnectionStream::Answering();
            if (stream == nullptr ||
                !stream->HandOff(open->fd(), start + static_cast<int64_t>(offset),
                                 static_cast<int64_t>(remaining))) {
                return false;
            }
            static const char kUnsent[64 * 1024] = {};
            return sink.write(kUnsent, std::min(remaining, sizeof kUnsent));
        });
}

}  // namespace tessel::catalogue
