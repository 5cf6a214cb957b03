#pragma once
// JsonDocument: one JSON value held in the script variable "da" of a JavaScript engine that the
// document owns (the Script Control on Windows). Reads and writes are short script texts built
// around a member path such as data[3].play_url.url_list[0]; the engine does all the JSON work,
// helped by the prelude every new engine receives.
//
// A member path is trusted script source and is spliced in unchanged. Answers and text values
// are not: Parse hands its text to JSON.parse as a string literal, and text values are written
// as string literals, so neither can ever run as script.
#include <cstdint>

#include "tessel/runtime/kernel.h"
#include "tessel/runtime/objects.h"
#include "tessel/runtime/text.h"

namespace tessel {

// Kind codes answered by TypeOf; Reset accepts kNull, kObject and kArray.
enum JsonType : std::int32_t {
    kJsonOther = -1,
    kJsonNull = 0,
    kJsonBoolean = 1,
    kJsonNumber = 2,
    kJsonObject = 4,
    kJsonArray = 5,
    kJsonString = 6,
};

// A script text literal (between single quotes) whose value is exactly `text`: backslashes,
// quotes and control characters are escaped, GBK double-byte characters are kept whole.
Text QuoteScriptText(const char* text);

class JsonDocument {
  public:
    // A new document holds an empty object in a fresh engine.
    JsonDocument();
    ~JsonDocument();
    JsonDocument(JsonDocument&& other) noexcept;
    JsonDocument& operator=(JsonDocument&&) = delete;
    JsonDocument(const JsonDocument&) = delete;
    JsonDocument& operator=(const JsonDocument&) = delete;

    // The operations, in the class's declaration order.
    void Initialize();
    // Replaces the whole document (in a fresh engine) by the value of the JSON `text`; false
    // when the text is not JSON, is null, or there is no engine.
    bool Parse(const char* text);
    Text ToJson() const;
    void SetValue(const char* path, const char* value, bool asExpression = false);
    void SetExpression(const char* path, const char* expression);
    void SetNumber(const char* path, double number);
    double GetNumber(const char* path) const;
    Text GetJson(const char* path) const;
    Text GetText(const char* path, bool asJson = false) const;
    // A separate document with its own engine and its own copy of the member.
    JsonDocument GetObject(const char* path) const;
    std::int32_t Count(const char* path = nullptr) const;
    void Append(const char* value, const char* path = nullptr, bool asExpression = false);
    JsonDocument GetItemObject(std::int32_t index, const char* path = nullptr) const;
    Text GetItemText(std::int32_t index, const char* path = nullptr, bool asJson = false) const;
    void SetRootItem(std::int32_t index, const char* value, bool asExpression = false);
    void RemoveRootItem(std::int32_t index);
    // Removes the element named by the first bracket pair of `path` (list[2]).
    void RemoveItem(const char* path);
    void Reset(std::int32_t kind);
    void SetRoot(const char* value, bool asExpression = false);
    bool Exists(const char* path) const;
    // Replaces `names` by the member's enumerable keys; answers their number.
    std::int32_t MemberNames(TextArray& names, const char* path = nullptr) const;
    std::int32_t TypeOf(const char* path = nullptr) const;
    void Clear();

  private:
    Text Script(std::initializer_list<const char*> pieces) const;
    // JoinPathOrIndex: a path beginning with "[" indexes the variable, so it is joined without a
    // dot. JoinMemberPath: always with a dot (the member writes).
    // With `rootWhenEmpty`, an empty path names the document variable itself.
    Text JoinPathOrIndex(const char* path, bool rootWhenEmpty) const;
    Text JoinMemberPath(const char* path, bool rootWhenEmpty) const;
    // The variable itself, or variable.path.
    Text ArrayReference(const char* path) const;
    Text ValueSource(const char* value, bool asExpression) const;
    void Run(const char* script) const;

    Text variableName_;
    Object engine_;
};

}  // namespace tessel
