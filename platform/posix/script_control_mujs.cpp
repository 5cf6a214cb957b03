// The Script Control natively: "MSScriptControl.ScriptControl" maps to a MuJS interpreter with
// the same contract. "AddCode" and "Eval" run in one global scope, "Eval" answers the value of an
// expression or the completion value of a statement list, and a call the engine rejects (a
// syntax or script error) changes nothing and answers the empty result. The program's texts are
// GBK and MuJS works in UTF-8, so every text crosses through iconv both ways.
#include <iconv.h>
#include <mujs.h>

#include <cerrno>
#include <string>
#include <string_view>

#include "tessel/kernel/arguments.h"
#include "tessel/kernel/kernel_commands.h"
#include "tessel/kernel/script_results.h"
#include "tessel/posix/standins.h"

namespace tessel::posix {

namespace {

using platform::ScriptResult;

constexpr std::string_view kScriptControlProgId = "MSScriptControl.ScriptControl";

// Class, member and property names are matched without regard to ASCII case, as COM does.
bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto fold = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
        };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

struct ScriptControl {
    js_State* engine = nullptr;
    bool languageSet = false;  // like the real control, nothing runs before "Language" is set
};

// One conversion direction. A byte the source code page cannot read, or a character the target
// code page has no bytes for, becomes '?' (as the Windows conversions do with their default).
class CodePageConverter {
  public:
    CodePageConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~CodePageConverter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;

    std::string Convert(std::string_view in, bool fromUtf8) {
        std::string out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char buffer[1024];
        while (srcLeft > 0) {
            char* dst = buffer;
            std::size_t dstLeft = sizeof buffer;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<std::size_t>(dst - buffer));
            if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            // EILSEQ or EINVAL: replace one character of the source and go on.
            std::size_t skip = 1;
            if (fromUtf8) {
                while (skip < srcLeft && (static_cast<unsigned char>(src[skip]) & 0xC0) == 0x80)
                    ++skip;
            } else if (platform::IsLeadByte(static_cast<unsigned char>(*src)) && srcLeft > 1) {
                skip = 2;
            }
            out.push_back('?');
            src += skip;
            srcLeft -= skip;
        }
        return out;
    }

  private:
    iconv_t cd_;
};

std::string GbkToUtf8(std::string_view gbk) {
    static CodePageConverter converter("UTF-8", "GBK");
    return converter.Convert(gbk, false);
}
std::string Utf8ToGbk(std::string_view utf8) {
    static CodePageConverter converter("GBK", "UTF-8");
    return converter.Convert(utf8, true);
}

ScriptResult ReadResult(js_State* J) {
    ScriptResult r;
    if (js_isundefined(J, -1)) {
        r.kind = ScriptResult::Kind::kUndefined;
    } else if (js_isnull(J, -1)) {
        r.kind = ScriptResult::Kind::kNull;
    } else if (js_isboolean(J, -1)) {
        r.kind = ScriptResult::Kind::kBoolean;
        r.boolean = js_toboolean(J, -1) != 0;
    } else if (js_isnumber(J, -1)) {
        r.kind = ScriptResult::Kind::kNumber;
        r.number = js_tonumber(J, -1);
    } else if (js_isstring(J, -1)) {
        r.kind = ScriptResult::Kind::kText;
        r.text = Utf8ToGbk(js_tostring(J, -1));
    } else {
        r.kind = ScriptResult::Kind::kObject;
    }
    return r;
}

// Runs `source` as a script in the global scope; its completion value is the result.
ScriptResult RunScript(js_State* J, std::string_view gbkSource) {
    const std::string source = GbkToUtf8(gbkSource);
    if (js_ploadstring(J, "[script]", source.c_str()) != 0) {
        js_pop(J, 1);  // the error
        return {};
    }
    js_pushundefined(J);  // `this`
    if (js_pcall(J, 0) != 0) {
        js_pop(J, 1);
        return {};
    }
    ScriptResult r = ReadResult(J);
    js_pop(J, 1);
    return r;
}

}  // namespace

void* CreateScriptControl(std::string_view progId) {
    if (!SameName(progId, kScriptControlProgId)) return nullptr;
    js_State* J = js_newstate(nullptr, nullptr, 0);
    return J != nullptr ? new ScriptControl{J} : nullptr;
}

void ReleaseScriptControl(void* object) {
    auto* control = static_cast<ScriptControl*>(object);
    js_freestate(control->engine);
    delete control;
}

ScriptResult CallScriptControl(void* object, std::string_view member, std::string_view argument) {
    auto* control = static_cast<ScriptControl*>(object);
    if (control == nullptr || !control->languageSet) return {};
    if (SameName(member, "Eval")) return RunScript(control->engine, argument);
    if (SameName(member, "AddCode")) {
        // The statements' value is not AddCode's result: it answers nothing.
        ScriptResult r;
        if (RunScript(control->engine, argument).kind != ScriptResult::Kind::kRejected) {
            r.kind = ScriptResult::Kind::kUndefined;
        }
        return r;
    }
    return {};
}

bool SetScriptControlProperty(void* object, std::string_view name, std::string_view value) {
    auto* control = static_cast<ScriptControl*>(object);
    if (control == nullptr || !SameName(name, "Language")) return false;
    if (!SameName(value, "JavaScript") && !SameName(value, "JScript")) return false;
    control->languageSet = true;
    return true;
}

}  // namespace tessel::posix
