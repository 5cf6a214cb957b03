// Cutting URLs into host, port and path.
#include "tessel/http/url.h"

#include <gtest/gtest.h>

#include "tessel/headless/headless.h"

namespace tessel {
namespace {

class Url : public ::testing::Test {
  protected:
    void SetUp() override { headless::Install(); }
};

TEST_F(Url, SplitsTheUsualForms) {
    const char* url = "http://Example.COM:8080/A/b?x=1";
    EXPECT_STREQ(UrlHost(url).c_str(), "example.com");
    EXPECT_EQ(UrlPort(url), 8080);
    EXPECT_STREQ(UrlPath(url).c_str(), "/A/b?x=1");

    EXPECT_STREQ(UrlHost("HTTPS://Example.com").c_str(), "example.com");
    EXPECT_EQ(UrlPort("HTTPS://Example.com"), 443);
    EXPECT_STREQ(UrlPath("HTTPS://Example.com").c_str(), "/");

    EXPECT_STREQ(UrlHost("example.com/search").c_str(), "example.com");
    EXPECT_EQ(UrlPort("example.com/search"), 80);
    EXPECT_STREQ(UrlPath("example.com/search").c_str(), "/search");

    EXPECT_EQ(UrlPort("https://example.com:8443/x"), 8443);  // an explicit port wins
    EXPECT_STREQ(UrlPath("http://127.0.0.1:81/a#frag").c_str(), "/a#frag");
}

TEST_F(Url, AQueryWithoutASlashStaysInTheHost) {
    EXPECT_STREQ(UrlHost("http://example.com?q=1").c_str(), "example.com?q=1");
    EXPECT_STREQ(UrlPath("http://example.com?q=1").c_str(), "/");
}

TEST_F(Url, KeepPortAndDomainOnly) {
    EXPECT_STREQ(UrlHost("http://Host:81/x", false, true).c_str(), "host:81");
    EXPECT_STREQ(UrlHost("http://host/x", false, true).c_str(), "host");
    EXPECT_STREQ(UrlHost("http://a.b.example.com/", true).c_str(), "example.com");
    EXPECT_STREQ(UrlHost("http://localhost/", true).c_str(), "localhost");
    EXPECT_STREQ(UrlHost("http://a.example.com:8080/", true, true).c_str(), "example.com:8080");
}

TEST_F(Url, OddUrlsStillGiveSomething) {
    EXPECT_STREQ(UrlHost("").c_str(), "");
    EXPECT_EQ(UrlPort(""), 80);
    EXPECT_STREQ(UrlPath("").c_str(), "/");
    EXPECT_EQ(UrlPort("https"), 443);  // the scheme test looks at five letters only
    EXPECT_STREQ(UrlHost("https//x.com/").c_str(), "https");  // "http://" is put in front
}

TEST_F(Url, LevelsCountLabelsFromTheEnd) {
    const char* url = "http://a.b.c.example.com:99/path";
    EXPECT_STREQ(UrlHost(url, true, false, 1).c_str(), "example.com");
    EXPECT_STREQ(UrlHost(url, false, false, 1).c_str(), "c.example.com");
    EXPECT_STREQ(UrlHost(url, false, true, 1).c_str(), "c.example.com:99");
    EXPECT_STREQ(UrlHost(url, true, false, 0).c_str(), "com");
    EXPECT_STREQ(UrlHost(url, true, false, 9).c_str(), "a.b.c.example.com");  // runs out of dots
    EXPECT_STREQ(UrlHost("https://x.org/", false, false, 1).c_str(), "x.org");
}

}  // namespace
}  // namespace tessel
