// The API's answers as UTF-8 JSON: song pages, and errors with their status and a message.
#pragma once

#include <httplib.h>

#include <string>
#include <string_view>
#include <vector>

#include "database.h"

namespace tessel::catalogue {

// `text` as a JSON string, quotes included, appended to `out`.
void AppendJsonString(std::string& out, std::string_view text);

void SendJson(httplib::Response& res, int status, const std::string& body);
// {"status_code":status,"status_msg":message}
void SendError(httplib::Response& res, int status, std::string_view message);

// The message of an error answer the library makes itself.
std::string_view StatusText(int status);

// {"status_code":0,"data":[songs],"offset":M,"count":N,"has_more":b,"cursor":next}: `songs`
// holds one song more than `count` when another page follows, and is cut to `count`.
std::string SongPage(std::vector<SongRow>& songs, const std::string& host, int count, int offset);

// {"status_code":0,"data":[{"name":...,"id_str":...}, ...]}
std::string CollectionList(const std::vector<CollectionRow>& collections);

}  // namespace tessel::catalogue
