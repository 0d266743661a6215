// The window program's pieces that need no window: the cookie jar (and what
// libcurl makes of its lines), the snapshot reader and the command line.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QNetworkCookie>

#include <algorithm>
#include <clocale>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/app_options.h"
#include "app/cookie_jar.h"
#include "app/page_snapshot.h"
#include "net/curl_image_fetcher.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::app {
namespace {

QNetworkCookie Cookie(const char* name, const char* value, const char* domain,
                      const char* path = "/") {
  QNetworkCookie cookie(name, value);
  cookie.setDomain(QString::fromUtf8(domain));
  cookie.setPath(QString::fromUtf8(path));
  return cookie;
}

TEST(CookieJar, FollowsTheStoreByNameDomainAndPath) {
  CookieJar jar;
  jar.Add(Cookie("s", "1", "comic.example"));
  jar.Add(Cookie("s", "2", ".comic.example"));          // for the whole domain: another cookie
  jar.Add(Cookie("s", "3", "comic.example", "/pics"));  // another path: another cookie
  jar.Add(Cookie("bad", "a\tb", "comic.example"));      // kept, but it has no line
  jar.Add(Cookie("s", "9", "COMIC.example"));           // replaces the first, in its place
  EXPECT_EQ(jar.size(), 4u);
  EXPECT_EQ(jar.CurlCookieLines(), (std::vector<std::string>{
                                       "comic.example\tFALSE\t/\tFALSE\t0\ts\t9",
                                       ".comic.example\tTRUE\t/\tFALSE\t0\ts\t2",
                                       "comic.example\tFALSE\t/pics\tFALSE\t0\ts\t3",
                                   }));
  jar.Remove(Cookie("s", "", ".comic.example"));
  jar.Remove(Cookie("s", "", "comic.example", "/pics"));
  jar.Remove(Cookie("bad", "", "comic.example"));
  EXPECT_EQ(jar.CurlCookieLines(),
            std::vector<std::string>{"comic.example\tFALSE\t/\tFALSE\t0\ts\t9"});
}

// libcurl turns an international host name into its ASCII form by the
// process's locale; the window program runs in a UTF-8 one, which Qt sets up.
class Utf8Locale {
 public:
  Utf8Locale() : old_(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C.UTF-8"); }
  ~Utf8Locale() { std::setlocale(LC_ALL, old_.c_str()); }
  Utf8Locale(const Utf8Locale&) = delete;
  Utf8Locale& operator=(const Utf8Locale&) = delete;

 private:
  std::string old_;
};

std::set<std::string> CookiesOf(const std::string& header) {
  std::set<std::string> cookies;
  std::size_t start = 0;
  while (start < header.size()) {
    const std::size_t end = std::min(header.find("; ", start), header.size());
    cookies.insert(header.substr(start, end - start));
    start = end + 2;
  }
  return cookies;
}

// The jar's lines in the fetcher's curl handle: libcurl sends each request
// the cookies the browser would. One server on 127.0.0.1 plays every host,
// reached as site.localhost, its subdomains and 127.0.0.1. (Not as localhost
// itself: libcurl takes plain http to it for a secure connection.)
TEST(CookieJar, LinesMakeCurlSendWhatTheBrowserWould) {
  vexel::testing::LocalServer server;
  std::mutex mutex;
  std::map<std::string, std::string> seen;  // host and path -> Cookie header
  server.server.Get("/away.png", [&server](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(server.UrlAt("127.0.0.1", "/away/1.png"));
  });
  server.server.Get(".*", [&](const httplib::Request& request, httplib::Response& response) {
    const std::string host = request.get_header_value("Host");
    const std::lock_guard lock(mutex);
    seen[host.substr(0, host.rfind(':')) + request.path] = request.get_header_value("Cookie");
    response.set_content("picture", "image/png");
  });
  ASSERT_TRUE(server.Start());

  CookieJar jar;
  jar.Add(Cookie("host", "1", "site.localhost"));           // this host only
  jar.Add(Cookie("domain", "2", ".site.localhost"));        // and its subdomains
  jar.Add(Cookie("deep", "3", "site.localhost", "/pics"));  // under /pics only
  QNetworkCookie secure = Cookie("secure", "4", ".site.localhost");
  secure.setSecure(true);  // never over plain http
  jar.Add(secure);
  QNetworkCookie expired = Cookie("expired", "5", ".site.localhost");
  expired.setExpirationDate(QDateTime::fromSecsSinceEpoch(1'000'000'000));
  jar.Add(expired);
  QNetworkCookie lasting = Cookie("lasting", "6", "site.localhost");
  lasting.setExpirationDate(QDateTime::currentDateTimeUtc().addYears(1));
  lasting.setHttpOnly(true);
  jar.Add(lasting);
  // The engine names an international host in its ASCII form (日本語 here).
  jar.Add(Cookie("idn", "7", "xn--wgv71a119e.site.localhost"));
  jar.Add(Cookie("other", "8", "elsewhere.example"));

  const Utf8Locale locale;
  vexel::testing::TempDir out;
  net::FetchOptions options;
  options.cookie_lines = jar.CurlCookieLines();
  net::CurlImageFetcher fetcher(std::move(options));
  const std::pair<const char*, const char*> requests[] = {
      {"site.localhost", "/pics/1.png"},     {"site.localhost", "/picsX/1.png"},
      {"img.site.localhost", "/pics/1.png"}, {"日本語.site.localhost", "/pics/1.png"},
      {"site.localhost", "/away.png"},
  };
  for (const auto& [host, path] : requests) {
    const download::FetchResult result =
        fetcher.FetchImage(server.UrlAt(host, path), out / "1.png");
    ASSERT_TRUE(result.stored) << host << path << ": " << result.reason;
  }

  using Set = std::set<std::string>;
  const std::lock_guard lock(mutex);
  EXPECT_EQ(CookiesOf(seen["site.localhost/pics/1.png"]),
            (Set{"deep=3", "domain=2", "host=1", "lasting=6"}));
  EXPECT_EQ(CookiesOf(seen["site.localhost/picsX/1.png"]),
            (Set{"domain=2", "host=1", "lasting=6"}));
  EXPECT_EQ(CookiesOf(seen["img.site.localhost/pics/1.png"]), Set{"domain=2"});
  EXPECT_EQ(CookiesOf(seen["xn--wgv71a119e.site.localhost/pics/1.png"]),
            (Set{"domain=2", "idn=7"}));
  ASSERT_EQ(seen.count("127.0.0.1/away/1.png"), 1u);
  EXPECT_EQ(seen["127.0.0.1/away/1.png"], "");  // another host after the redirect
}

// Records what the reader hands on, as text.
class Recorder : public SnapshotSink {
 public:
  void OpenElement(std::string_view tag, std::span<const html::HtmlAttributeView> attributes,
                   bool rendered) override {
    log += "<" + std::string(tag) + (rendered ? "" : "!");
    for (const html::HtmlAttributeView& a : attributes) {
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
  EXPECT_FALSE(ParseArguments({}).options.site_given);  // the settings may name one
  EXPECT_FALSE(BuiltInSiteHomeUrl().empty());

  ParsedArguments parsed = ParseArguments({"--site", "http://127.0.0.1:8080/"});
  EXPECT_TRUE(parsed.ok);
  EXPECT_EQ(parsed.options.site_home_url, "http://127.0.0.1:8080/");
  EXPECT_TRUE(parsed.options.site_given);
  parsed = ParseArguments({"--site=http://a.example/"});
  EXPECT_EQ(parsed.options.site_home_url, "http://a.example/");
  EXPECT_TRUE(parsed.options.site_given);

  EXPECT_FALSE(ParseArguments({"--site"}).ok);
  EXPECT_FALSE(ParseArguments({"--site="}).ok);
  EXPECT_FALSE(ParseArguments({"--bogus"}).ok);
  EXPECT_TRUE(ParseArguments({"--help"}).help);
}

}  // namespace
}  // namespace vexel::app
