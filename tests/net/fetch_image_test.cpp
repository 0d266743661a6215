#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>

#include "net/curl_image_fetcher.h"
#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::net {
namespace {

using download::FetchFailure;
using std::chrono::milliseconds;
using testing::ListTree;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

std::string Body(std::size_t size, char seed) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    body[i] = static_cast<char>(seed + static_cast<char>(i % 61));
  }
  return body;
}

// What the image server saw of each request.
struct Seen {
  std::string path;
  std::string referer;
  std::string cookie;
  std::string user_agent;
  int port = 0;
};

class FetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto record = [this](const httplib::Request& request) {
      const std::lock_guard lock(mutex_);
      seen_.push_back({request.path, request.get_header_value("Referer"),
                       request.get_header_value("Cookie"), request.get_header_value("User-Agent"),
                       request.remote_port});
    };
    local_.server.Get(R"(/img/(\d+)\.png)", [record](const httplib::Request& request,
                                                     httplib::Response& response) {
      record(request);
      response.set_content(Body(200000, request.matches[1].str()[0]), "image/png");
    });
    local_.server.Get("/missing.png", [record](const auto& request, httplib::Response& response) {
      record(request);
      response.status = 404;
      response.set_content("<html>not found</html>", "text/html");
    });
    local_.server.Get("/forbidden.png", [record](const auto& request, auto& response) {
      record(request);
      if (request.get_header_value("Referer") != "http://127.0.0.1/comic/1.html") {
        response.status = 403;
        response.set_content("no hot-linking", "text/plain");
        return;
      }
      response.set_content("picture", "image/png");
    });
    // Promises 100000 bytes, sends half and drops the connection.
    local_.server.Get("/reset.png", [record](const auto& request, httplib::Response& response) {
      record(request);
      response.set_content_provider(100000, "image/png",
                                    [](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                      if (offset > 0) {
                                        return false;
                                      }
                                      const std::string half(50000, 'x');
                                      sink.write(half.data(), half.size());
                                      return true;
                                    });
    });
    // Sends a little of the body, then nothing until the test ends.
    local_.server.Get("/stall.png", [this, record](const auto& request, auto& response) {
      record(request);
      response.set_content_provider(
          100000, "image/png", [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
            if (offset == 0) {
              sink.write("0123456789", 10);
              return true;
            }
            local_.WaitForRelease();
            return false;
          });
    });
    // Never answers at all until the test ends.
    local_.server.Get("/silent.png", [this, record](const auto& request, auto& response) {
      record(request);
      local_.WaitForRelease();
      response.status = 503;
    });
    local_.server.Get("/moved.png", [record](const auto& request, httplib::Response& response) {
      record(request);
      response.set_redirect("/img/7.png");
    });
    // A web page or nothing where an image should be, and a body that only
    // grows large once unpacked (the server gzips it for curl).
    local_.server.Get("/page.png", [](const auto&, httplib::Response& response) {
      response.set_content("<h1>please log in</h1>", "text/html; charset=utf-8");
    });
    local_.server.Get("/sniffed.png", [](const auto&, httplib::Response& response) {
      response.set_content(" \r\n<!doctype HTML><html></html>", "image/png");
    });
    local_.server.Get("/empty.png", [](const auto&, httplib::Response& response) {
      response.set_content("", "image/png");
    });
    local_.server.Get("/bomb.png", [](const auto&, httplib::Response& response) {
      response.set_content(std::string(2000000, '\0'), "application/octet-stream");
    });
    // To the other origin (localhost is not 127.0.0.1), and back.
    local_.server.Get("/offsite.png", [this](const auto&, httplib::Response& response) {
      response.set_redirect(local_.UrlAt("localhost", "/there.png"));
    });
    local_.server.Get("/there.png", [this, record](const auto& request, auto& response) {
      record(request);
      response.set_redirect(local_.Url("/img/8.png"));
    });
    local_.server.Get("/busy.png", [](const auto&, httplib::Response& response) {
      response.status = 503;
      response.set_header("Retry-After", "7");
    });
    local_.server.Get("/later.png", [](const auto&, httplib::Response& response) {
      response.status = 429;
      response.set_header("Retry-After", "Fri, 31 Dec 9999 23:59:59 GMT");
    });
    ASSERT_TRUE(local_.Start());
    options_.transfer.referer = "http://127.0.0.1/comic/1.html";
  }

  std::vector<Seen> seen() {
    const std::lock_guard lock(mutex_);
    return seen_;
  }

  std::string Url(const std::string& path) const { return local_.Url(path); }

  TempDir out_;
  FetchOptions options_;
  // Declared before the server, so its threads have ended before these go.
  std::mutex mutex_;
  std::vector<Seen> seen_;
  testing::LocalServer local_;
};

TEST_F(FetchTest, StoresTheBodyAndLeavesNothingElseBehind) {
  CurlImageFetcher fetcher(options_);
  const download::FetchResult result = fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png");
  ASSERT_TRUE(result.stored);
  EXPECT_EQ(result.failure, FetchFailure::None);
  EXPECT_EQ(result.http_status, 200);
  EXPECT_EQ(ReadWholeFile(out_ / "1.png"), Body(200000, '1'));
  // No temporary name left in the folder.
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"1.png"});
}

TEST_F(FetchTest, ANameNearTheFileSystemsLimitStillHasRoomForItsTemporaryName) {
  const std::string name = std::string(250, 'p') + ".png";  // 254 bytes
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.FetchImage(Url("/img/4.png"), out_ / name).stored)
      << fetcher.FetchImage(Url("/img/4.png"), out_ / name).reason;
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{name});
}

TEST_F(FetchTest, SendsRefererUserAgentAndTheHostsCookies) {
  options_.cookie_lines = {"127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\t42",
                           "127.0.0.1\tFALSE\t/img\tFALSE\t0\ttheme\tdark",
                           "elsewhere.example\tFALSE\t/\tFALSE\t0\tother\t1"};
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.FetchImage(Url("/img/2.png"), out_ / "2.png").stored);
  ASSERT_EQ(seen().size(), 1U);
  EXPECT_EQ(seen()[0].referer, "http://127.0.0.1/comic/1.html");
  EXPECT_EQ(seen()[0].cookie, "theme=dark; sid=42");  // the longer path first
  EXPECT_EQ(seen()[0].user_agent, kDefaultUserAgent);
}

// The view's session cookie for the site must not follow an image's redirect
// to another host; a redirect on the same host keeps it, on every page of the
// fetcher.
TEST_F(FetchTest, CookiesStayWithTheirHostAcrossRedirects) {
  std::mutex seen_elsewhere;  // before the server, which must end first
  std::string cookie_seen_elsewhere = "(no request)";
  testing::LocalServer other;
  other.server.Get("/img/9.png", [&](const httplib::Request& request, httplib::Response& response) {
    const std::lock_guard lock(seen_elsewhere);
    cookie_seen_elsewhere = request.get_header_value("Cookie");
    response.set_content("elsewhere", "image/png");
  });
  ASSERT_TRUE(other.Start());
  const std::string elsewhere = other.UrlAt("localhost", "/img/9.png");
  local_.server.Get("/away.png", [elsewhere](const httplib::Request&, httplib::Response& response) {
    response.set_redirect(elsewhere);
  });
  options_.cookie_lines = {"127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\t42"};
  CurlImageFetcher fetcher(options_);

  ASSERT_TRUE(fetcher.FetchImage(Url("/away.png"), out_ / "a.png").stored);
  EXPECT_EQ(ReadWholeFile(out_ / "a.png"), "elsewhere");
  {
    const std::lock_guard lock(seen_elsewhere);
    EXPECT_EQ(cookie_seen_elsewhere, "");
  }

  ASSERT_TRUE(fetcher.FetchImage(Url("/moved.png"), out_ / "m.png").stored);
  ASSERT_EQ(seen().size(), 2U);  // /moved.png, then /img/7.png on the same server
  EXPECT_EQ(seen()[1].path, "/img/7.png");
  EXPECT_EQ(seen()[1].cookie, "sid=42");
}

TEST_F(FetchTest, RefererIsWhatOpensAHotLinkProtectedImage) {
  CurlImageFetcher with_referer(options_);
  EXPECT_TRUE(with_referer.FetchImage(Url("/forbidden.png"), out_ / "a.png").stored);
  EXPECT_EQ(ReadWholeFile(out_ / "a.png"), "picture");

  options_.transfer.referer.clear();
  CurlImageFetcher without(options_);
  EXPECT_EQ(without.FetchImage(Url("/forbidden.png"), out_ / "b.png").failure,
            FetchFailure::HttpStatus);
  EXPECT_FALSE(std::filesystem::exists(out_ / "b.png"));
}

TEST_F(FetchTest, PagesOfOneFetcherShareOneConnection) {
  CurlImageFetcher fetcher(options_);
  for (int page = 1; page <= 5; ++page) {
    ASSERT_TRUE(fetcher
                    .FetchImage(Url("/img/" + std::to_string(page) + ".png"),
                                out_ / (std::to_string(page) + ".png"))
                    .stored);
  }
  std::set<int> ports;
  for (const Seen& request : seen()) {
    ports.insert(request.port);
  }
  EXPECT_EQ(ports.size(), 1U);
}

TEST_F(FetchTest, RedirectsAreFollowed) {
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.FetchImage(Url("/moved.png"), out_ / "m.png").stored);
  EXPECT_EQ(ReadWholeFile(out_ / "m.png"), Body(200000, '7'));
}

// An error status is a failed page, and its body is never stored.
TEST_F(FetchTest, ErrorStatusFailsAndStoresNothing) {
  WriteWholeFile(out_ / "3.png", "old page");
  CurlImageFetcher fetcher(options_);
  const download::FetchResult result = fetcher.FetchImage(Url("/missing.png"), out_ / "3.png");
  EXPECT_EQ(result.failure, FetchFailure::HttpStatus);
  EXPECT_EQ(result.http_status, 404);
  EXPECT_EQ(result.reason, "HTTP status 404");
  EXPECT_EQ(ReadWholeFile(out_ / "3.png"), "old page");
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"3.png"});
}

TEST_F(FetchTest, RetryAfterIsReadInBothForms) {
  CurlImageFetcher fetcher(options_);
  const download::FetchResult busy = fetcher.FetchImage(Url("/busy.png"), out_ / "1.png");
  EXPECT_EQ(busy.http_status, 503);
  EXPECT_EQ(busy.retry_after_seconds, 7);
  EXPECT_GT(fetcher.FetchImage(Url("/later.png"), out_ / "1.png").retry_after_seconds, 86400);
  EXPECT_EQ(fetcher.FetchImage(Url("/missing.png"), out_ / "1.png").retry_after_seconds, -1);
}

TEST_F(FetchTest, ConnectionDroppedMidBodyFailsWithoutAPartialFile) {
  WriteWholeFile(out_ / "4.png", "old page");
  CurlImageFetcher fetcher(options_);
  EXPECT_EQ(fetcher.FetchImage(Url("/reset.png"), out_ / "4.png").failure, FetchFailure::Network);
  EXPECT_EQ(ReadWholeFile(out_ / "4.png"), "old page");
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"4.png"});
  // The handle recovers: the next page arrives over a new connection.
  EXPECT_TRUE(fetcher.FetchImage(Url("/img/5.png"), out_ / "5.png").stored);
}

// A stalled transfer gives up, the page fails and the next one works.
TEST_F(FetchTest, StalledBodyOrSilentServerGivesUp) {
  options_.transfer.stall_timeout_seconds = 1;
  CurlImageFetcher fetcher(options_);
  EXPECT_EQ(fetcher.FetchImage(Url("/stall.png"), out_ / "s.png").failure, FetchFailure::Timeout);
  EXPECT_EQ(fetcher.FetchImage(Url("/silent.png"), out_ / "t.png").failure, FetchFailure::Timeout);
  EXPECT_TRUE(ListTree(out_.path()).empty());
  EXPECT_TRUE(fetcher.FetchImage(Url("/img/6.png"), out_ / "6.png").stored);
}

TEST_F(FetchTest, AbandonEndsTheTransferUnderWayAndLaterFetches) {
  std::atomic<bool> abandon{false};
  options_.abandon = &abandon;
  options_.transfer.stall_timeout_seconds = 600;  // only the abandon flag can end it
  // Set once the body has begun, while the server holds back the rest.
  options_.progress = [&abandon](std::int64_t received, std::int64_t) {
    if (received > 0) {
      abandon = true;
    }
  };
  CurlImageFetcher fetcher(options_);
  const download::FetchResult result = fetcher.FetchImage(Url("/stall.png"), out_ / "s.png");
  EXPECT_EQ(result.failure, FetchFailure::Abandoned);
  EXPECT_TRUE(ListTree(out_.path()).empty());

  const std::size_t requests = seen().size();
  EXPECT_EQ(fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png").failure, FetchFailure::Abandoned);
  EXPECT_EQ(seen().size(), requests);  // no request was made
}

TEST_F(FetchTest, EmptyOrUnusableAddressFails) {
  CurlImageFetcher fetcher(options_);
  EXPECT_EQ(fetcher.FetchImage("", out_ / "1.png").failure, FetchFailure::BadAddress);
  EXPECT_EQ(fetcher.FetchImage("pics/1.png", out_ / "1.png").failure, FetchFailure::BadAddress);
  EXPECT_EQ(fetcher.FetchImage("file:///etc/hostname", out_ / "1.png").failure,
            FetchFailure::BadAddress);
  EXPECT_TRUE(ListTree(out_.path()).empty());
}

// The body goes into a temporary file beside the page's and is renamed over
// it in one step, so the old page stays whole until the new one is.
TEST_F(FetchTest, ExistingFileIsReplacedByRenameOrKept) {
  WriteWholeFile(out_ / "1.png", "old page");
  testing::FaultyFileSystem files;
  options_.file_system = &files;
  CurlImageFetcher fetcher(options_);
  files.fail_rename_into = out_.slash();
  EXPECT_EQ(fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png").failure, FetchFailure::File);
  EXPECT_EQ(ReadWholeFile(out_ / "1.png"), "old page");
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"1.png"});

  files.fail_rename_into.clear();
  files.fail_write = ENOSPC;
  const download::FetchResult full = fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png");
  EXPECT_EQ(full.failure, FetchFailure::File);
  EXPECT_EQ(full.system_error, ENOSPC);
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"1.png"});

  files.fail_write = 0;
  ASSERT_TRUE(fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png").stored);
  EXPECT_EQ(ReadWholeFile(out_ / "1.png"), Body(200000, '1'));
  ASSERT_EQ(files.renamed.size(), 2U);
  EXPECT_EQ(files.renamed.back(), out_ / "1.png");
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"1.png"});
}

TEST_F(FetchTest, FolderThatCannotBeWrittenFailsWithItsReason) {
  WriteWholeFile(out_ / "file", "x");
  CurlImageFetcher fetcher(options_);
  const download::FetchResult result = fetcher.FetchImage(Url("/img/1.png"), out_ / "file/1.png");
  EXPECT_EQ(result.failure, FetchFailure::File);
  EXPECT_EQ(result.system_error, ENOTDIR);
  EXPECT_TRUE(seen().empty());
}

// What is not an image is a failed page, and nothing of it is stored.
TEST_F(FetchTest, WebPagesEmptyBodiesAndUnpackedGiantsAreNoImages) {
  WriteWholeFile(out_ / "1.png", "old page");
  options_.max_bytes = 1000000;
  CurlImageFetcher fetcher(options_);
  EXPECT_EQ(fetcher.FetchImage(Url("/page.png"), out_ / "1.png").failure, FetchFailure::NotAnImage);
  EXPECT_EQ(fetcher.FetchImage(Url("/sniffed.png"), out_ / "1.png").failure,
            FetchFailure::NotAnImage);
  EXPECT_EQ(fetcher.FetchImage(Url("/empty.png"), out_ / "1.png").failure, FetchFailure::Empty);
  EXPECT_EQ(fetcher.FetchImage(Url("/bomb.png"), out_ / "1.png").failure, FetchFailure::TooLarge);
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"1.png"});
  EXPECT_EQ(ReadWholeFile(out_ / "1.png"), "old page");
  EXPECT_TRUE(fetcher.FetchImage(Url("/img/2.png"), out_ / "2.png").stored);
}

// A redirect to another origin hears only the page's origin, as from a
// browser; back on the page's origin the whole address goes again.
TEST_F(FetchTest, RefererOnRedirectsFollowsTheBrowsersDefaultPolicy) {
  options_.transfer.referer = Url("/comic/1.html?p=2");
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.FetchImage(Url("/offsite.png"), out_ / "a.png").stored);
  const std::vector<Seen> requests = seen();
  ASSERT_EQ(requests.size(), 2U);
  EXPECT_EQ(requests[0].path, "/there.png");
  EXPECT_EQ(requests[0].referer, Url("/"));
  EXPECT_EQ(requests[1].path, "/img/8.png");
  EXPECT_EQ(requests[1].referer, Url("/comic/1.html?p=2"));

  EXPECT_EQ(RefererForRedirect("https://a.example/c/1.html", "http://a.example/1.png"), "");
  EXPECT_EQ(RefererForRedirect("https://a.example/c/1.html", "https://A.example:443/1.png"),
            "https://a.example/c/1.html");
  EXPECT_EQ(RefererForRedirect("http://a.example/c/1.html", "https://b.example/1.png"),
            "http://a.example:80/");
}

// FetchImage returns its own page, whatever else has ended meanwhile.
TEST_F(FetchTest, FetchImageWaitsForItsOwnFetch) {
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.StartFetch(9, "pics/1.png", out_ / "9.png"));  // ends at once
  const download::FetchResult own = fetcher.FetchImage(Url("/img/2.png"), out_ / "2.png");
  EXPECT_TRUE(own.stored) << own.reason;
  const std::optional<download::FinishedFetch> other = fetcher.NextFinished(milliseconds(0));
  ASSERT_TRUE(other.has_value());
  EXPECT_EQ(other->tag, 9U);
  EXPECT_EQ(other->result.failure, FetchFailure::BadAddress);
}

// Several pages at once over one multi handle; each ends under its tag.
TEST_F(FetchTest, SeveralFetchesInFlightEndUnderTheirTags) {
  CurlImageFetcher fetcher(options_);
  for (std::uint64_t page = 1; page <= 4; ++page) {
    ASSERT_TRUE(fetcher.StartFetch(page, Url("/img/" + std::to_string(page) + ".png"),
                                   out_ / (std::to_string(page) + ".png")));
  }
  ASSERT_TRUE(fetcher.StartFetch(5, Url("/missing.png"), out_ / "5.png"));
  std::set<std::uint64_t> ended;
  while (std::optional<download::FinishedFetch> done =
             fetcher.NextFinished(std::chrono::seconds(10))) {
    EXPECT_EQ(done->result.stored, done->tag != 5) << done->tag;
    ended.insert(done->tag);
  }
  EXPECT_EQ(ended, (std::set<std::uint64_t>{1, 2, 3, 4, 5}));
  for (char page = '1'; page <= '4'; ++page) {
    EXPECT_EQ(ReadWholeFile(out_ / (std::string(1, page) + ".png")), Body(200000, page));
  }
}

TEST_F(FetchTest, ProgressReportsTheBytesOfTheTransfer) {
  std::int64_t most = 0;
  std::int64_t expected = 0;
  options_.progress = [&](std::int64_t received, std::int64_t total) {
    most = std::max(most, received);
    expected = std::max(expected, total);
  };
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png").stored);
  EXPECT_EQ(most, 200000);
  EXPECT_EQ(expected, 200000);
}

}  // namespace
}  // namespace vexel::net
