// JsonDocument's writes, array reshaping and sub-documents, on the engine of the platform.
#include <gtest/gtest.h>

#include <string>

#include "tessel/headless/headless.h"
#include "tessel/json/json_document.h"
#include "tessel/runtime/kernel.h"

namespace tessel {
namespace {

class JsonEditing : public ::testing::Test {
  protected:
    void SetUp() override { headless::Install(); }
    static std::string Str(const Text& t) { return t.c_str(); }
};

TEST_F(JsonEditing, SetValueStoresTextsAndExpressions) {
    JsonDocument doc;
    doc.SetValue("name", "Tom");
    EXPECT_EQ(Str(doc.ToJson()), R"({"name":"Tom"})");
    doc.SetValue("name", "[1,2]", true);
    EXPECT_EQ(Str(doc.ToJson()), R"({"name":[1,2]})");
    doc.SetValue("name", "", true);
    EXPECT_EQ(Str(doc.ToJson()), R"({"name":{}})");
    doc.SetValue("[0]", "x");  // a member write always joins with a dot: rejected
    EXPECT_EQ(Str(doc.ToJson()), R"({"name":{}})");
}

TEST_F(JsonEditing, TextValuesAreEscapedSoAValueWithAQuoteIsStoredAsGiven) {
    JsonDocument doc;
    doc.SetValue("q", "it's");
    doc.SetValue("b", "C:\\new\\t");        // backslashes are no escapes
    doc.SetValue("g", "\x81\x5C\xD6\xD0");  // a GBK character whose second byte is '\'
    doc.SetValue("n", "a\r\nb");
    EXPECT_EQ(Str(doc.GetText("q")), "it's");
    EXPECT_EQ(Str(doc.GetText("b")), "C:\\new\\t");
    EXPECT_EQ(Str(doc.GetText("g")), "\x81\x5C\xD6\xD0");
    EXPECT_EQ(Str(doc.GetText("n")), "a\r\nb");
    doc.SetValue("h", "');hacked=1;('");
    EXPECT_EQ(Str(doc.GetText("h")), "');hacked=1;('");
    EXPECT_EQ(Str(doc.GetText("h,typeof hacked")), "undefined");
}

// A GBK lead byte with no trail byte behind it (at the end of a text, or before a byte that is
// no trail byte) is written as an escape: it never takes the closing quote or the next byte
// with it in the code-page conversion. What the engine reads for the lone byte itself differs
// by code page, so only the text around it is compared.
TEST_F(JsonEditing, LoneLeadBytesNeitherCloseNorBreakALiteral) {
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("{\"a\":\"\x81\",\"b\":\"c\",\"d\":\"e\xFE\"}"));
    EXPECT_EQ(Str(doc.GetText("b")), "c");
    EXPECT_EQ(Str(LeftText(doc.GetText("d").get(), 1)), "e");
    EXPECT_EQ(doc.GetNumber("a.length"), 1);

    doc.SetValue("end", "x\x81");          // the lead byte is the text's last byte
    doc.SetValue("quote", "\x81'y");       // a quote is no trail byte
    doc.SetValue("line", "\xA3\nz");       // nor is a line feed
    doc.SetValue("tail", "\xD6\xD0\xD6");  // a whole character, then half of one
    EXPECT_EQ(Str(LeftText(doc.GetText("end").get(), 1)), "x");
    EXPECT_EQ(doc.GetNumber("end.length"), 2);
    EXPECT_EQ(Str(RightText(doc.GetText("quote").get(), 2)), "'y");
    EXPECT_EQ(Str(RightText(doc.GetText("line").get(), 2)), "\nz");
    EXPECT_EQ(Str(LeftText(doc.GetText("tail").get(), 2)), "\xD6\xD0");
    EXPECT_EQ(Str(doc.GetText("b")), "c");  // nothing else was touched

    doc.Append("q\x81", "list");
    doc.Append("r", "list");
    EXPECT_EQ(doc.Count("list"), 2);
    EXPECT_EQ(Str(doc.GetItemText(1, "list")), "r");
    EXPECT_EQ(Str(LeftText(doc.GetItemText(0, "list").get(), 1)), "q");

    doc.SetRoot("s\xFE");
    EXPECT_EQ(doc.TypeOf(""), kJsonString);
    EXPECT_EQ(Str(LeftText(doc.ToJson().get(), 2)), "\"s");
}

TEST_F(JsonEditing, SetNumberAndSetExpression) {
    JsonDocument doc;
    doc.SetNumber("n", 3);
    EXPECT_EQ(Str(doc.ToJson()), R"({"n":3})");
    doc.SetNumber("n", -0.5);
    EXPECT_EQ(doc.GetNumber("n"), -0.5);
    doc.SetExpression("m", "1+2");
    EXPECT_EQ(doc.GetNumber("m"), 3);
    doc.SetExpression("m", "");  // eval() gives undefined
    EXPECT_FALSE(doc.Exists("m"));
}

TEST_F(JsonEditing, AppendMakesAnArrayWhereThereIsNone) {
    JsonDocument doc;
    doc.Append("x", "list");
    EXPECT_EQ(Str(doc.ToJson()), R"({"list":["x"]})");
    doc.Append("y", "list");
    EXPECT_EQ(Str(doc.ToJson()), R"({"list":["x","y"]})");
    doc.Append("{\"k\":1}", "list", true);
    EXPECT_EQ(Str(doc.ToJson()), R"({"list":["x","y",{"k":1}]})");
    doc.Append("it's", "list");  // escaped like every text value
    EXPECT_EQ(Str(doc.GetItemText(3, "list")), "it's");

    ASSERT_TRUE(doc.Parse(R"({"o":{"a":1}})"));
    doc.Append("z", "o");
    EXPECT_EQ(Str(doc.ToJson()), R"({"o":["z"]})");

    ASSERT_TRUE(doc.Parse(R"({"a":1})"));
    doc.Append("only");
    EXPECT_EQ(Str(doc.ToJson()), R"(["only"])");
}

TEST_F(JsonEditing, ResetSetRootAndClear) {
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse(R"({"a":1})"));
    doc.Reset(kJsonArray);
    EXPECT_EQ(Str(doc.ToJson()), "[]");
    EXPECT_EQ(doc.Count(), 0);
    doc.Reset(3);  // not a kind Reset knows: nothing happens
    EXPECT_EQ(Str(doc.ToJson()), "[]");
    doc.Reset(kJsonNull);
    EXPECT_EQ(Str(doc.ToJson()), "{}");

    doc.SetRoot("a'b");
    EXPECT_EQ(doc.TypeOf(), kJsonString);
    EXPECT_EQ(Str(doc.ToJson()), R"("a'b")");
    doc.SetRoot("[3,4]", true);
    EXPECT_EQ(doc.Count(), 2);
    doc.Clear();
    EXPECT_EQ(Str(doc.ToJson()), "{}");
}

TEST_F(JsonEditing, RootItems) {
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse("[10,20,30]"));
    doc.RemoveRootItem(1);
    EXPECT_EQ(Str(doc.ToJson()), "[10,30]");
    ASSERT_TRUE(doc.Parse("[10,20,30]"));
    doc.SetRootItem(0, "7");
    EXPECT_EQ(Str(doc.ToJson()), R"(["7",20,30])");
    doc.SetRootItem(0, "7", true);
    EXPECT_EQ(Str(doc.ToJson()), "[7,20,30]");
    doc.SetRootItem(1, "\\'");
    EXPECT_EQ(Str(doc.GetItemText(1)), "\\'");
}

TEST_F(JsonEditing, RemoveItemRebuildsTheArray) {
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse(R"({"list":[1,2,3]})"));
    doc.RemoveItem("list[0]");
    EXPECT_EQ(Str(doc.ToJson()), R"({"list":[2,3]})");
    doc.RemoveItem("list");  // no bracket: nothing changes
    EXPECT_EQ(Str(doc.ToJson()), R"({"list":[2,3]})");

    ASSERT_TRUE(doc.Parse(R"({"a":[{"b":[1,2,3]},{"b":[4]}]})"));
    doc.RemoveItem("a[1].b[2]");  // only the first bracket pair counts
    EXPECT_EQ(Str(doc.ToJson()), R"({"a":[{"b":[1,2,3]}]})");
}

TEST_F(JsonEditing, SubDocumentsAreIndependentCopies) {
    JsonDocument doc;
    ASSERT_TRUE(doc.Parse(R"({"data":[{"t":"A"}],"list":[{"a":1},{"a":2}]})"));
    {
        JsonDocument first = doc.GetObject("data[0]");
        EXPECT_EQ(Str(first.GetText("t")), "A");
        first.SetValue("t", "changed");
        EXPECT_EQ(Str(doc.GetText("data[0].t")), "A");
        doc.SetValue("data[0].t", "B");
        EXPECT_EQ(Str(first.GetText("t")), "changed");
    }
    EXPECT_EQ(Str(doc.GetText("data[0].t")), "B");  // intact after the sub-document went

    JsonDocument item = doc.GetItemObject(1, "list");
    EXPECT_EQ(item.GetNumber("a"), 2);

    JsonDocument missing = doc.GetObject("nothing");
    EXPECT_FALSE(missing.Exists("a"));
    EXPECT_EQ(missing.TypeOf(), kJsonNull);
}

TEST(ScriptTextQuoting, EscapesWhatWouldEndOrChangeTheLiteral) {
    headless::Install();
    EXPECT_STREQ(QuoteScriptText("").c_str(), "''");
    EXPECT_STREQ(QuoteScriptText(nullptr).c_str(), "''");
    EXPECT_STREQ(QuoteScriptText("a'b\\c").c_str(), "'a\\'b\\\\c'");
    EXPECT_STREQ(QuoteScriptText("\n\x01\x7F").c_str(), "'\\u000A\\u0001\\u007F'");
    EXPECT_STREQ(QuoteScriptText("\x81\x5C'").c_str(), "'\x81\x5C\\''");
    // A lead byte with no trail byte, at the end or before a byte that is none, and the high
    // bytes that lead nothing are escapes.
    EXPECT_STREQ(QuoteScriptText("\x81").c_str(), "'\\u0081'");
    EXPECT_STREQ(QuoteScriptText("\x81'").c_str(), "'\\u0081\\''");
    EXPECT_STREQ(QuoteScriptText("\xD6\xD0\xD6\n").c_str(), "'\xD6\xD0\\u00D6\\u000A'");
    EXPECT_STREQ(QuoteScriptText("\x80\xFF").c_str(), "'\\u0080\\u00FF'");
}

}  // namespace
}  // namespace tessel
