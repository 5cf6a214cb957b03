// The one-shot query's bytes and the reading of answers, over messages built as an mDNS
// responder sends them.
#include "tessel/discovery/dns_message.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "answer_builder.h"

namespace tessel::discovery {
namespace {

using namespace testing;

// RFC 1035's wire form: the header, the name's three labels and the root, type PTR, class IN.
TEST(CatalogueQuery, IsOneQuestionForTesselServicesWithIdZero) {
    const Bytes expected = {0,   0,   0,   0,   0,   1,   0,   0,   0, 0,   0,   0,
                            7,   '_', 't', 'e', 's', 's', 'e', 'l', 4, '_', 't', 'c',
                            'p', 5,   'l', 'o', 'c', 'a', 'l', 0,   0, 12,  0,   1};
    EXPECT_EQ(CatalogueQuery(), expected);
}

TEST(CatalogueAnswer, AvahisFiveRecordAnswerNamesTheCatalogue) {
    const Bytes answer = AvahiAnswer();
    ASSERT_EQ(answer.size(), 164u);
    const auto found = ParseCatalogueAnswer(answer);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].instance, "Tessel on A");
    EXPECT_EQ(found[0].host, "A.local");
    EXPECT_EQ(found[0].port, 8765);
    EXPECT_EQ(AddressText(found[0].address, found[0].port), "169.254.77.1:8765");
}

TEST(CatalogueAnswer, RecordsCountInTheAdditionalSectionToo) {
    Options o;
    o.answers = 1;  // the PTR answers, the rest are additional records
    const auto found = ParseCatalogueAnswer(AvahiAnswer(o));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(AddressText(found[0].address, found[0].port), "169.254.77.1:8765");
}

TEST(CatalogueAnswer, NamesCompareWithoutCase) {
    Options o;
    o.serviceInQuestion = "_TESSEL";  // the PTR's owner points at this spelling
    EXPECT_EQ(ParseCatalogueAnswer(AvahiAnswer(o)).size(), 1u);
}

TEST(CatalogueAnswer, AnInstanceCountsOnlyWithTheCataloguePath) {
    for (const std::string txt : {"", "path=/other/", "path=/tessel", "path", "xpath=/tessel/"}) {
        Options o;
        o.txtPath = txt;
        EXPECT_TRUE(ParseCatalogueAnswer(AvahiAnswer(o)).empty()) << "TXT " << txt;
    }
    Options upper;
    upper.txtPath = "PATH=/tessel/";  // keys are not case-sensitive
    EXPECT_EQ(ParseCatalogueAnswer(AvahiAnswer(upper)).size(), 1u);
}

TEST(CatalogueAnswer, WithdrawnOrPortlessInstancesAreNotCatalogues) {
    Options goodbye;
    goodbye.ptrTtl = 0;
    EXPECT_TRUE(ParseCatalogueAnswer(AvahiAnswer(goodbye)).empty());
    Options noPort;
    noPort.port = 0;
    EXPECT_TRUE(ParseCatalogueAnswer(AvahiAnswer(noPort)).empty());
}

TEST(CatalogueAnswer, OfTwoInstancesOnlyTheOneWithThePathIsFound) {
    Message m;
    m.Header(kResponse, 0, 8, 0, 0);
    const std::size_t service = m.size();
    m.Label("_tessel").Label("_tcp").Label("local").End();
    // First a service of another kind under our name, without the path; then the catalogue.
    m.Pointer(service).Record(kPtr, kIn);
    const std::size_t other = m.size();
    m.Label("Other").Pointer(service).EndData();
    m.Pointer(service).Record(kPtr, kIn);
    const std::size_t ours = m.size();
    m.Label("Tessel on B").Pointer(service).EndData();
    m.Pointer(other).Record(kTxt, kInFlush).Label("txtvers=1").EndData();
    m.Pointer(other).Record(kSrv, kInFlush).U16(0).U16(0).U16(80);
    const std::size_t otherHost = m.size();
    m.Label("O").Label("local").End().EndData();
    m.Pointer(otherHost).Record(kA, kInFlush).U32(0xA9FE4D09).EndData();
    m.Pointer(ours).Record(kTxt, kInFlush).Label("txtvers=1").Label("path=/tessel/").EndData();
    m.Pointer(ours).Record(kSrv, kInFlush).U16(0).U16(0).U16(9000);
    const std::size_t ourHost = m.size();
    m.Label("B").Label("local").End().EndData();
    m.Pointer(ourHost).Record(kA, kInFlush).U32(0xA9FE4D02).EndData();
    const auto found = ParseCatalogueAnswer(m.b);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(AddressText(found[0].address, found[0].port), "169.254.77.2:9000");
    EXPECT_EQ(found[0].instance, "Tessel on B");
}

TEST(CatalogueAnswer, AMessageCutShortAnywhereGivesNothing) {
    const Bytes answer = AvahiAnswer();
    for (std::size_t n = 0; n < answer.size(); ++n) {
        const Bytes cut(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_TRUE(ParseCatalogueAnswer(cut).empty()) << "cut at " << n;
    }
}

// PTR, SRV and A of one instance, then its TXT last: "txtvers=1", then `text` behind a length
// byte that says `declared`, whatever its real length.
Bytes AnswerWithTxtLast(std::uint8_t declared, const std::string& text) {
    Message m;
    m.Header(kResponse, 0, 4, 0, 0);
    const std::size_t service = m.size();
    m.Label("_tessel").Label("_tcp").Label("local").End().Record(kPtr, kIn);
    const std::size_t instance = m.size();
    m.Label("Tessel on A").Pointer(service).EndData();
    m.Pointer(instance).Record(kSrv, kInFlush).U16(0).U16(0).U16(8765);
    const std::size_t host = m.size();
    m.Label("A").Label("local").End().EndData();
    m.Pointer(host).Record(kA, kInFlush).U32(k169_254_77_1).EndData();
    m.Pointer(instance).Record(kTxt, kInFlush).Label("txtvers=1").U8(declared);
    for (const char c : text) m.U8(static_cast<std::uint8_t>(c));
    m.EndData();
    return m.b;
}

TEST(CatalogueAnswer, ATxtStringLongerThanItsRecordIsNotReadPastTheMessage) {
    ASSERT_EQ(ParseCatalogueAnswer(AnswerWithTxtLast(13, "path=/tessel/")).size(), 1u);
    // A string that says 40 bytes where 8 are left, with no "=" in them: looking for its key would
    // read past the message's end (which the sanitizer build sees).
    EXPECT_TRUE(ParseCatalogueAnswer(AnswerWithTxtLast(40, "/tessel/")).empty());
}

TEST(CatalogueAnswer, PointersThatLoopOrPointForwardAreRefused) {
    // A pointer to itself, one to the pointer after it, and two that point at each other.
    for (int kind = 0; kind < 3; ++kind) {
        Message m;
        m.Header(kResponse, 0, 1, 0, 0);
        const std::size_t at = m.size();
        if (kind == 0) m.Pointer(at);
        if (kind == 1) m.Pointer(at + 2).Label("x").End();
        if (kind == 2) m.Label("x").Pointer(at + 4).Pointer(at);
        m.Record(kA, kIn).U32(k169_254_77_1).EndData();
        EXPECT_TRUE(ParseCatalogueAnswer(m.b).empty()) << "kind " << kind;
    }
}

TEST(CatalogueAnswer, AQueryOrAReservedLabelKindIsNoAnswer) {
    Bytes query = AvahiAnswer();
    query[2] &= 0x7F;  // QR clear: someone else's question, with our records as known answers
    EXPECT_TRUE(ParseCatalogueAnswer(query).empty());
    Bytes reserved = AvahiAnswer();
    reserved[36] = 0x80;  // the PTR's owner pointer turned into the reserved 10 label kind
    EXPECT_TRUE(ParseCatalogueAnswer(reserved).empty());
}

TEST(CatalogueAnswer, AnAddressNoHostCanHaveIsIgnored) {
    Bytes multicast = AvahiAnswer();
    multicast[160] = 224;  // the A record's first octet
    EXPECT_TRUE(ParseCatalogueAnswer(multicast).empty());
}

}  // namespace
}  // namespace tessel::discovery
