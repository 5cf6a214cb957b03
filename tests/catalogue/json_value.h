// A small strict JSON reader for checking the catalogue's answers: an answer that does not parse
// here is not JSON.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::catalogue::testing {

struct JsonValue {
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
    Kind kind = Kind::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    bool Has(const std::string& name) const { return members.count(name) != 0; }
    // The member, or a null value when there is none.
    const JsonValue& operator[](const std::string& name) const;
    const JsonValue& operator[](size_t index) const { return items.at(index); }
    size_t size() const { return items.size(); }
};

std::optional<JsonValue> ParseJson(std::string_view text);

}  // namespace tessel::catalogue::testing
