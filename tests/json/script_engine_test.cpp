// The engine behind JsonDocument as the object commands reach it: the Script Control under Wine,
// its MuJS stand-in natively. Both must answer every call alike.
#include <gtest/gtest.h>

#include <string>

#include "tessel/headless/headless.h"
#include "tessel/runtime/dll_commands.h"
#include "tessel/runtime/objects.h"

namespace tessel {
namespace {

class ScriptEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        headless::Install();
        const Word reserved[] = {0};
        CallDll(dll::kCoInitialize, reserved);
        engine = Object::Create("MSScriptControl.ScriptControl");
        ASSERT_FALSE(engine.IsEmpty());
        ASSERT_TRUE(engine.SetProperty("Language", "JavaScript"));
    }
    void TearDown() override {
        engine.Release();
        CallDll(dll::kCoUninitialize, {});
    }
    std::string Text(const char* script) { return engine.CallText("Eval", script).c_str(); }
    double Number(const char* script) { return engine.CallNumber("Eval", script); }
    bool Logical(const char* script) { return engine.CallLogical("Eval", script); }

    Object engine;
};

TEST_F(ScriptEngine, AddCodeAndEvalShareOneGlobalScope) {
    engine.Call("AddCode", "var fromCode=2; function twice(x){return 2*x}");
    engine.Call("Eval", "var fromEval=3");
    EXPECT_EQ(Number("twice(fromCode)+fromEval"), 7);
}

TEST_F(ScriptEngine, EvalGivesTheCompletionValueOfAStatementList) {
    EXPECT_EQ(Text("var ary=''; for (var key in {x:1,y:2}) {ary=ary+ key+','; }"), "x,y,");
}

TEST_F(ScriptEngine, ARejectedCallChangesNothingAndTheNextOneRuns) {
    engine.Call("Eval", "var kept=1");
    engine.Call("AddCode", "kept=2; this is not script");  // a syntax error: nothing runs
    engine.Call("Eval", "kept=3; missing.member");         // stops at the error
    EXPECT_EQ(Number("kept"), 3);
    EXPECT_EQ(Text("missing.member"), "");
    EXPECT_EQ(Number("missing.member"), 0);
    EXPECT_FALSE(Logical("missing.member"));
    EXPECT_EQ(Number("kept"), 3);
}

// The conversion rules of script_results.h, the same on both engines.
TEST_F(ScriptEngine, ValuesConvertByTheSharedRules) {
    EXPECT_EQ(Text("undefined"), "");
    EXPECT_EQ(Text("null"), "");
    EXPECT_EQ(Text("1==1"), "true");
    EXPECT_EQ(Text("1==2"), "false");
    EXPECT_EQ(Text("({a:1})"), "");
    EXPECT_EQ(Text("[1,2]"), "");
    EXPECT_EQ(Text("215"), "215");
    EXPECT_EQ(Text("-2.5"), "-2.5");
    EXPECT_EQ(Text("0/0"), "NaN");
    EXPECT_EQ(Text("-1/0"), "-Infinity");
    EXPECT_EQ(Text("'text'"), "text");

    EXPECT_EQ(Number("undefined"), 0);
    EXPECT_EQ(Number("null"), 0);
    EXPECT_EQ(Number("true"), 1);
    EXPECT_EQ(Number("false"), 0);
    EXPECT_EQ(Number("'12.5'"), 12.5);
    EXPECT_EQ(Number("'x'"), 0);
    EXPECT_EQ(Number("({})"), 0);
    EXPECT_EQ(Number("3000000000"), 3000000000.0);

    EXPECT_FALSE(Logical("undefined"));
    EXPECT_FALSE(Logical("null"));
    EXPECT_TRUE(Logical("true"));
    EXPECT_FALSE(Logical("0"));
    EXPECT_FALSE(Logical("0/0"));
    EXPECT_TRUE(Logical("-1"));
    EXPECT_FALSE(Logical("''"));
    EXPECT_TRUE(Logical("'0'"));
    EXPECT_TRUE(Logical("({})"));
}

TEST_F(ScriptEngine, TextsCrossAsGbk) {
    // 中文 in GBK, both ways.
    engine.Call("Eval", "var s='\xD6\xD0\xCE\xC4'");
    EXPECT_EQ(Number("s.length"), 2);
    EXPECT_EQ(Text("s"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(Text("String.fromCharCode(0x4E2D)"), "\xD6\xD0");
}

TEST(ScriptEngineObjects, AnUnknownClassGivesAnEmptyReferenceThatAnswersEmpty) {
    headless::Install();
    Object none = Object::Create("Tessel.NoSuchClass");
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_FALSE(none.SetProperty("Language", "JavaScript"));
    EXPECT_STREQ(none.CallText("Eval", "1").c_str(), "");
    EXPECT_EQ(none.CallNumber("Eval", "1"), 0);
    EXPECT_FALSE(none.CallLogical("Eval", "true"));
    none.Call("Eval", "1");
}

}  // namespace
}  // namespace tessel
