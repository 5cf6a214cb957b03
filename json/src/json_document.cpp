#include "tessel/json/json_document.h"

#include <cstring>

#include "tessel/json/script_prelude.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/text_cutting.h"

namespace tessel {

namespace {

constexpr const char* kEngineProgId = "MSScriptControl.ScriptControl";
constexpr const char* kEval = "Eval";
constexpr const char* kAddCode = "AddCode";

bool IsEmptyText(const char* text) {
    return text == nullptr || *text == '\0';
}

void StartCom() {
    const Word reserved[] = {0};
    CallDll(dll::kCoInitialize, reserved);
}
void StopCom() {
    CallDll(dll::kCoUninitialize, {});
}

// A GBK double-byte character: a lead byte and a trail byte. A lead byte without its trail
// byte would take the next byte of the script (the closing quote, say) with it in the code-page
// conversion, so only whole pairs are written as they are.
bool StartsDoubleByteCharacter(const char* text, std::uint32_t i, std::uint32_t length) {
    return i + 1 < length && IsGbkLeadByte(static_cast<unsigned char>(text[i])) &&
           IsGbkTrailByte(static_cast<unsigned char>(text[i + 1]));
}

}  // namespace

Text QuoteScriptText(const char* text) {
    const std::uint32_t length = TextLength(text);
    // Worst case: every byte becomes a six-byte \u00XX escape; plus the quotes and the NUL.
    auto* out = static_cast<char*>(Allocate(BlockSize(std::uint64_t{length} * 6 + 3)));
    char* p = out;
    *p++ = '\'';
    for (std::uint32_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (StartsDoubleByteCharacter(text, i, length)) {
            // Its second byte may be '\' (0x5C) and stays as it is.
            *p++ = static_cast<char>(c);
            *p++ = text[++i];
        } else if (c == '\\' || c == '\'') {
            *p++ = '\\';
            *p++ = static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            // Control characters, and high bytes that are no whole GBK character, as escapes.
            static constexpr char kHex[] = "0123456789ABCDEF";
            const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            std::memcpy(p, escape, sizeof escape);
            p += sizeof escape;
        } else {
            *p++ = static_cast<char>(c);
        }
    }
    *p++ = '\'';
    *p = '\0';
    return Text(out);
}

// --- construction and destruction ----------------------------------------------------------

JsonDocument::JsonDocument() {
    variableName_ = Text::Copy("da");
    Initialize();
}

JsonDocument::~JsonDocument() {
    engine_.Release();
    // A document moved from has handed its engine and its COM start-up on.
    if (variableName_.get() != nullptr) StopCom();
}

JsonDocument::JsonDocument(JsonDocument&& other) noexcept
    : variableName_(std::move(other.variableName_)), engine_(std::move(other.engine_)) {}

// --- helpers -------------------------------------------------------------------------------

Text JsonDocument::Script(std::initializer_list<const char*> pieces) const {
    return Text(JoinTexts(pieces));
}

Text JsonDocument::JoinPathOrIndex(const char* path, bool rootWhenEmpty) const {
    if (rootWhenEmpty && IsEmptyText(path)) return Text::Copy(variableName_.view());
    if (!IsEmptyText(path) && path[0] == '[') return Script({variableName_.get(), path});
    return Script({variableName_.get(), ".", path});
}

Text JsonDocument::JoinMemberPath(const char* path, bool rootWhenEmpty) const {
    if (rootWhenEmpty && IsEmptyText(path)) return Text::Copy(variableName_.view());
    return Script({variableName_.get(), ".", path});
}

Text JsonDocument::ArrayReference(const char* path) const {
    return JoinMemberPath(path, true);
}

Text JsonDocument::ValueSource(const char* value, bool asExpression) const {
    return asExpression ? Text::Copy(IsEmptyText(value) ? "" : value) : QuoteScriptText(value);
}

void JsonDocument::Run(const char* script) const {
    engine_.Call(kEval, script);
}

// --- the operations ------------------------------------------------------------------------

void JsonDocument::Initialize() {
    StartCom();
    engine_ = Object::Create(kEngineProgId);
    engine_.SetProperty("Language", "JavaScript");
    engine_.Call(kAddCode, json::kScriptPrelude);
    Run(Script({"var ", variableName_.get(), "={}"}).get());
}

bool JsonDocument::Parse(const char* text) {
    if (!engine_.IsEmpty()) {
        // Every parse starts from a fresh engine; the COM start-up of the old one is undone so
        // that start-ups and shut-downs stay paired.
        engine_.Release();
        StopCom();
        Initialize();
    }
    if (engine_.IsEmpty()) return false;
    Run(Script({"var ", variableName_.get(), "=null"}).get());
    // The answer goes to JSON.parse as data, never as script: a text that is not JSON is
    // rejected and leaves the null above.
    const Text literal = QuoteScriptText(text);
    engine_.Call(kAddCode,
                 Script({"var ", variableName_.get(), "=JSON.parse(", literal.get(), ")"}).get());
    return engine_.CallLogical(kEval, Script({"null !=", variableName_.get()}).get());
}

Text JsonDocument::ToJson() const {
    return engine_.CallText(kEval, Script({"JSON.stringify(", variableName_.get(), ")"}).get());
}

void JsonDocument::SetValue(const char* path, const char* value, bool asExpression) {
    if (asExpression) {
        Run(Script(
                {variableName_.get(), ".", path, "= eval(", IsEmptyText(value) ? "{}" : value, ")"})
                .get());
    } else {
        const Text literal = QuoteScriptText(value);
        Run(Script({variableName_.get(), ".", path, "=", literal.get()}).get());
    }
}

void JsonDocument::SetExpression(const char* path, const char* expression) {
    Run(Script({variableName_.get(), ".", path, "= eval(", expression, ")"}).get());
}

void JsonDocument::SetNumber(const char* path, double number) {
    const Text n = NumberToText(number);
    Run(Script({variableName_.get(), ".", path, "=", n.get()}).get());
}

double JsonDocument::GetNumber(const char* path) const {
    return engine_.CallNumber(kEval, JoinMemberPath(path, false).get());
}

Text JsonDocument::GetJson(const char* path) const {
    const Text j = JoinMemberPath(path, false);
    return engine_.CallText(kEval, Script({"JSON.stringify(", j.get(), ")"}).get());
}

Text JsonDocument::GetText(const char* path, bool asJson) const {
    const Text j = JoinPathOrIndex(path, false);
    if (asJson) return engine_.CallText(kEval, Script({"JSON.stringify(", j.get(), ")"}).get());
    if (engine_.IsEmpty()) return Text::Copy("");
    // Numbers are formatted by the runtime, so whole ones come out as plain digits.
    if (TypeOf(path) == kJsonNumber) return NumberToText(GetNumber(path));
    return engine_.CallText(kEval, j.get());
}

JsonDocument JsonDocument::GetObject(const char* path) const {
    JsonDocument member;
    const Text j = JoinPathOrIndex(path, false);
    const Text json = engine_.CallText(kEval, Script({"JSON.stringify(", j.get(), ")"}).get());
    member.Parse(json.get());
    return member;
}

std::int32_t JsonDocument::Count(const char* path) const {
    const Text j = JoinPathOrIndex(path, true);
    const double n = engine_.CallNumber(kEval, Script({"get__count(", j.get(), ")"}).get());
    return static_cast<std::int32_t>(DoubleToInteger(n));
}

void JsonDocument::Append(const char* value, const char* path, bool asExpression) {
    const Text p = ArrayReference(path);
    const Text v = ValueSource(value, asExpression);
    Run(Script({"if (Object.prototype.toString.call(", p.get(), ") != '[object Array]') { ",
                p.get(), "=new Array();} ", p.get(), ".push(", v.get(), ")"})
            .get());
}

JsonDocument JsonDocument::GetItemObject(std::int32_t index, const char* path) const {
    JsonDocument item;
    const Text p = ArrayReference(path);
    const Text i = IntegerToText(index);
    const Text json =
        engine_.CallText(kEval, Script({"JSON.stringify(", p.get(), "[", i.get(), "])"}).get());
    item.Parse(json.get());
    return item;
}

Text JsonDocument::GetItemText(std::int32_t index, const char* path, bool asJson) const {
    const Text j = JoinMemberPath(path, true);
    const Text i = IntegerToText(index);
    if (asJson) {
        return engine_.CallText(kEval,
                                Script({"JSON.stringify(", j.get(), "[", i.get(), "])"}).get());
    }
    return engine_.CallText(kEval, Script({j.get(), "[", i.get(), "]"}).get());
}

void JsonDocument::SetRootItem(std::int32_t index, const char* value, bool asExpression) {
    const Text i = IntegerToText(index);
    const Text v = ValueSource(value, asExpression);
    Run(Script({variableName_.get(), "[", i.get(), "]=", v.get()}).get());
}

void JsonDocument::RemoveRootItem(std::int32_t index) {
    const Text i = IntegerToText(index);
    Run(Script({variableName_.get(), ".splice(", i.get(), ",1)"}).get());
}

void JsonDocument::RemoveItem(const char* path) {
    // The array goes out as JSON, loses its element in a separate document and comes back as
    // a fresh array.
    JsonDocument rest;
    const Text array = TextBefore(path, "[");
    const Text index = TextBetween(path, "[", "]");
    const Text json = GetText(array.get(), true);
    rest.Parse(json.get());
    rest.RemoveRootItem(TextToInteger(index.get()));
    const Text remaining = rest.ToJson();
    SetExpression(array.get(), remaining.get());
}

void JsonDocument::Reset(std::int32_t kind) {
    if (kind == kJsonNull || kind == kJsonObject) {
        Run(Script({"var ", variableName_.get(), "={}"}).get());
    } else if (kind == kJsonArray) {
        Run(Script({"var ", variableName_.get(), "=new Array()"}).get());
    }
}

void JsonDocument::SetRoot(const char* value, bool asExpression) {
    const Text v = ValueSource(value, asExpression);
    Run(Script({variableName_.get(), "=", v.get()}).get());
}

bool JsonDocument::Exists(const char* path) const {
    const Text j = JoinMemberPath(path, false);
    return engine_.CallLogical(kEval, Script({j.get(), " !=null"}).get());
}

std::int32_t JsonDocument::MemberNames(TextArray& names, const char* path) const {
    const Text j = JoinPathOrIndex(path, true);
    Text keys = engine_.CallText(
        kEval, Script({"var ary=''; for (var key in ", j.get(), ") {ary=ary+ key+','; }"}).get());
    // The prelude's two methods are enumerable everywhere; they are no member's own.
    keys = ReplaceAll(keys.get(), "toJSONString,", "");
    keys = ReplaceAll(keys.get(), "parseJSON,", "");
    Run("ary=null");
    names = SplitText(keys.get(), ",");
    return static_cast<std::int32_t>(names.size());
}

std::int32_t JsonDocument::TypeOf(const char* path) const {
    const Text j = JoinMemberPath(path, true);
    if (engine_.CallLogical(kEval, Script({j.get(), "==null"}).get())) return kJsonNull;
    const Text type = engine_.CallText(kEval, Script({"typeof (", j.get(), ")"}).get());
    if (CompareTexts(type.get(), "string") == 0) return kJsonString;
    if (CompareTexts(type.get(), "object") == 0) {
        // Asked of the engine directly: writing a large member out as JSON only to read its
        // first character took seconds for a long list.
        const bool array = engine_.CallLogical(
            kEval,
            Script({"Object.prototype.toString.call(", j.get(), ")=='[object Array]'"}).get());
        return array ? kJsonArray : kJsonObject;
    }
    if (CompareTexts(type.get(), "number") == 0) return kJsonNumber;
    if (CompareTexts(type.get(), "boolean") == 0) return kJsonBoolean;
    return kJsonOther;
}

void JsonDocument::Clear() {
    Run(Script({variableName_.get(), "={}"}).get());
}

}  // namespace tessel
