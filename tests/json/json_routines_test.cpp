// JsonDocument through the flat routines of the image's method table: a document lives in
// storage the caller provides, and every text handed back is the caller's to free.
#include "tessel/json/json_routines.h"

#include <gtest/gtest.h>

#include <string>

#include "tessel/headless/headless.h"

namespace tessel {
namespace {

struct Storage {
    alignas(JsonDocument) unsigned char bytes[sizeof(JsonDocument)];
    JsonDocument* get() { return reinterpret_cast<JsonDocument*>(bytes); }
};

std::string Owned(char* text) {
    std::string s = text != nullptr ? text : "";
    Free(text);
    return s;
}

TEST(JsonRoutines, ADocumentLivesInTheCallersStorage) {
    headless::Install();
    Storage doc, item;
    tessel_JsonDocument_Construct(doc.get());
    ASSERT_EQ(tessel_JsonDocument_Parse(doc.get(), R"({"data":[{"title":"A"},{"title":"B"}]})"), 1);
    EXPECT_EQ(tessel_JsonDocument_Count(doc.get(), "data"), 2);
    EXPECT_EQ(Owned(tessel_JsonDocument_GetText(doc.get(), "data[1].title", 0)), "B");
    EXPECT_EQ(Owned(tessel_JsonDocument_GetText(doc.get(), "data[1]", 1)), R"({"title":"B"})");

    tessel_JsonDocument_GetItemObject(doc.get(), item.get(), 0, "data");
    EXPECT_EQ(Owned(tessel_JsonDocument_GetText(item.get(), "title", 0)), "A");
    tessel_JsonDocument_Destruct(item.get());

    void* names = nullptr;
    EXPECT_EQ(tessel_JsonDocument_MemberNames(doc.get(), &names, nullptr), 1);
    FreeTextArray(names);
    EXPECT_EQ(tessel_JsonDocument_Parse(doc.get(), "not json"), 0);
    tessel_JsonDocument_Destruct(doc.get());
}

}  // namespace
}  // namespace tessel
