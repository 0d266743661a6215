// The window program's pieces that need no window: the cookie jar, the
// snapshot reader and the command line.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QNetworkCookie>

#include "app/app_options.h"
#include "app/cookie_jar.h"
#include "app/page_snapshot.h"

namespace vexel::app {
namespace {

using namespace std::chrono_literals;

QNetworkCookie Cookie(const char* name, const char* value, const char* domain,
                      const char* path = "/") {
  QNetworkCookie cookie(name, value);
  cookie.setDomain(QString::fromUtf8(domain));
  cookie.setPath(QString::fromUtf8(path));
  return cookie;
}

TEST(CookieJar, SendsWhatABrowserWouldSendToAnAddress) {
  CookieJar jar;
  jar.Add(Cookie("host", "1", "comic.example"));           // this host only
  jar.Add(Cookie("domain", "2", ".comic.example"));        // and its subdomains
  jar.Add(Cookie("deep", "3", "comic.example", "/pics"));  // under /pics only
  jar.Add(Cookie("other", "4", "elsewhere.example"));

  EXPECT_EQ(jar.CookiesFor("http://comic.example/pics/1.jpg"), "deep=3; host=1; domain=2");
  EXPECT_EQ(jar.CookiesFor("http://comic.example/picsX/1.jpg"), "host=1; domain=2");
  EXPECT_EQ(jar.CookiesFor("http://comic.example/pics"), "deep=3; host=1; domain=2");
  EXPECT_EQ(jar.CookiesFor("http://img.comic.example/1.jpg"), "domain=2");
  EXPECT_EQ(jar.CookiesFor("http://xcomic.example/1.jpg"), "");
  EXPECT_EQ(jar.CookiesFor("http://COMIC.example/"), "host=1; domain=2");
  EXPECT_EQ(jar.CookiesFor("ftp://comic.example/"), "");
  EXPECT_EQ(jar.CookiesFor("not an address"), "");

  // The engine names an international domain in its ASCII form.
  jar.Add(Cookie("idn", "5", "xn--wgv71a119e.example"));
  EXPECT_EQ(jar.CookiesFor("http://日本語.example/1.jpg"), "idn=5");
}

TEST(CookieJar, KeepsSecureAndExpiryRulesAndFollowsTheStore) {
  CookieJar jar;
  QNetworkCookie secure = Cookie("s", "1", "comic.example");
  secure.setSecure(true);
  jar.Add(secure);
  QNetworkCookie expiring = Cookie("e", "2", "comic.example");
  const QDateTime expiry = QDateTime::fromSecsSinceEpoch(2'000'000'000);
  expiring.setExpirationDate(expiry);
  jar.Add(expiring);

  const auto before = CookieJar::Clock::time_point(std::chrono::seconds(1'999'999'999));
  const auto after = CookieJar::Clock::time_point(std::chrono::seconds(2'000'000'001));
  EXPECT_EQ(jar.CookiesFor("http://comic.example/", before), "e=2");
  EXPECT_EQ(jar.CookiesFor("https://comic.example/", before), "s=1; e=2");
  EXPECT_EQ(jar.CookiesFor("https://comic.example/", after), "s=1");

  // An update replaces the value in place; a removal takes the cookie out.
  jar.Add(Cookie("s", "9", "comic.example"));
  EXPECT_EQ(jar.size(), 2u);
  EXPECT_EQ(jar.CookiesFor("http://comic.example/", before), "s=9; e=2");
  jar.Remove(secure);
  jar.Remove(expiring);
  EXPECT_EQ(jar.size(), 0u);
  EXPECT_EQ(jar.CookiesFor("https://comic.example/", before), "");
}

// Records what the reader hands on, as text.
class Recorder : public SnapshotSink {
 public:
  void OpenElement(std::string_view tag, std::span<const SnapshotAttribute> attributes,
                   bool rendered) override {
    log += "<" + std::string(tag) + (rendered ? "" : "!");
    for (const SnapshotAttribute& a : attributes) {
      log += " " + std::string(a.name) + "=" + std::string(a.value);
    }
    log += ">";
  }
  void CloseElement() override { log += "</>"; }
  void AddText(std::string_view text) override { log += "[" + std::string(text) + "]"; }
  void AddComment(std::string_view text) override { log += "{" + std::string(text) + "}"; }
  std::string log;
};

TEST(ReadSnapshot, ReplaysElementsTextAndCommentsInOrder) {
  Recorder recorder;
  const QString snapshot = QStringLiteral(
      "E14:html0:E14:body1:5:class4:page"
      "T7:漫画 a:b)C4:note"  // the text holds a ')' and ':' that are content, not markup
      "E03:div0:))");
  ASSERT_TRUE(ReadSnapshot(snapshot, recorder));
  EXPECT_EQ(recorder.log, "<html><body class=page>[漫画 a:b)]{note}<div!></></></>");
}

TEST(ReadSnapshot, RejectsMalformedInputAndClosesWhatIsOpen) {
  const char* const bad[] = {
      "E14:html0:)X",          // unknown record
      "E24:html0:",            // bad rendered flag
      "E14:html",              // attribute count missing
      "E14:html1:4:name",      // attribute value missing
      "T9:short",              // field longer than the rest
      "T:x",                   // no length
      ")",                     // closing what is not open
      "E199999999999999:a0:",  // absurd length
  };
  for (const char* text : bad) {
    Recorder recorder;
    EXPECT_FALSE(ReadSnapshot(QString::fromUtf8(text), recorder)) << text;
  }
  Recorder recorder;
  EXPECT_TRUE(ReadSnapshot(QStringLiteral("E11:a0:E11:b0:"), recorder));
  EXPECT_EQ(recorder.log, "<a><b></></>");
  Recorder empty;
  EXPECT_TRUE(ReadSnapshot(QString(), empty));
  EXPECT_EQ(empty.log, "");
}

TEST(ParseArguments, SiteReplacesTheBuiltInHomePage) {
  EXPECT_EQ(ParseArguments({}).options.site_home_url, BuiltInSiteHomeUrl());
  EXPECT_FALSE(BuiltInSiteHomeUrl().empty());

  ParsedArguments parsed = ParseArguments({"--site", "http://127.0.0.1:8080/"});
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.options.site_home_url, "http://127.0.0.1:8080/");
  EXPECT_EQ(ParseArguments({"--site=http://a.example/"}).options.site_home_url,
            "http://a.example/");

  EXPECT_FALSE(ParseArguments({"--site"}).ok);
  EXPECT_FALSE(ParseArguments({"--site="}).ok);
  EXPECT_FALSE(ParseArguments({"--bogus"}).ok);
  EXPECT_TRUE(ParseArguments({"--help"}).help);
}

}  // namespace
}  // namespace vexel::app
