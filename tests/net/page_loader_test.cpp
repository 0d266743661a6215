// Loading pages from a server the test starts on 127.0.0.1, and from disk.
#include "net/page_loader.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "net/curl_handle.h"
#include "query/element_query.h"
#include "tests/net/trickle_server.h"
#include "tests/support/chapter_page.h"
#include "tests/support/encode_text.h"
#include "tests/support/local_server.h"

namespace vexel::net {
namespace {

using download::FetchFailure;

using vexel::testing::ChapterPageUtf8;
using vexel::testing::kChapterLine;
using vexel::testing::kChapterLineQuery;
using vexel::testing::ToGbk;

std::string ChapterLineOf(html::HtmlDocument& document) {
  std::string out;
  ElementQuery(&document).Evaluate(kChapterLineQuery, out);
  return out;
}

class PageLoaderTest : public ::testing::Test {
 protected:
  PageLoaderTest() {
    local_.server.Get("/comic/12/5.html",
                      [this](const httplib::Request& request, httplib::Response& response) {
                        // The page claims Big5 in its markup; the server's charset wins.
                        response.set_content(ToGbk(ChapterPageUtf8("<meta charset=\"big5\">")),
                                             "text/html; charset=GBK");
                        const std::lock_guard lock(mutex_);
                        user_agent_ = request.get_header_value("User-Agent");
                      });
    local_.server.Get("/old", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/comic/12/5.html", 302);
    });
    local_.server.Get("/forbidden", [](const httplib::Request&, httplib::Response& response) {
      response.status = 403;
      response.set_content(ToGbk(ChapterPageUtf8("")), "text/html; charset=gbk");
    });
    local_.server.Get("/big", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(std::string(5000, 'x'), "text/html");
    });
    local_.server.Get("/big-chunked", [](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider("text/html",
                                            [](std::size_t offset, httplib::DataSink& sink) {
                                              if (offset >= 5000) {
                                                sink.done();
                                                return true;
                                              }
                                              const std::string chunk(500, 'y');
                                              return sink.write(chunk.data(), chunk.size());
                                            });
    });
    local_.server.Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
      ++stall_requests_;
      abandon_ = true;  // heeded only by loads given the flag
      response.set_chunked_content_provider("text/html",
                                            [this](std::size_t offset, httplib::DataSink& sink) {
                                              if (offset == 0) {
                                                return sink.write("<html><body>", 12);
                                              }
                                              // Then nothing, until the test ends.
                                              local_.WaitForRelease();
                                              sink.done();
                                              return true;
                                            });
    });
  }

  void SetUp() override { ASSERT_TRUE(local_.Start()); }

  std::mutex mutex_;
  std::string user_agent_;
  std::atomic<int> stall_requests_{0};
  std::atomic<bool> abandon_{false};
  vexel::testing::LocalServer local_;
};

TEST_F(PageLoaderTest, LoadsAGbkPageWithTheServersCharsetAndABrowserUserAgent) {
  const LoadedPage page = LoadPage(local_.Url("/comic/12/5.html"));
  ASSERT_TRUE(page.ok()) << page.error;
  EXPECT_EQ(page.final_url, local_.Url("/comic/12/5.html"));
  EXPECT_EQ(page.document->Url(), page.final_url);
  EXPECT_EQ(ChapterLineOf(*page.document), kChapterLine);
  const std::lock_guard lock(mutex_);
  EXPECT_TRUE(user_agent_.starts_with("Mozilla/5.0")) << user_agent_;
}

TEST_F(PageLoaderTest, FollowsRedirectsAndKnowsTheFinalAddress) {
  const LoadedPage page = LoadPage(local_.Url("/old"));
  ASSERT_TRUE(page.ok()) << page.error;
  EXPECT_EQ(page.final_url, local_.Url("/comic/12/5.html"));
  EXPECT_EQ(page.document->Url(), local_.Url("/comic/12/5.html"));
}

TEST_F(PageLoaderTest, ErrorStatusesFailWithTheStatusInTheMessage) {
  const LoadedPage forbidden = LoadPage(local_.Url("/forbidden"));
  EXPECT_FALSE(forbidden.ok());
  EXPECT_EQ(forbidden.error, "HTTP 403 from " + local_.Url("/forbidden"));
  EXPECT_EQ(forbidden.failure, FetchFailure::HttpStatus);
  EXPECT_EQ(forbidden.http_status, 403);
  const LoadedPage missing = LoadPage(local_.Url("/missing?x=1"));
  EXPECT_EQ(missing.error, "HTTP 404 from " + local_.Url("/missing?x=1"));
  const FetchedPage fetched = FetchPage(local_.Url("/forbidden"));
  EXPECT_TRUE(fetched.bytes.empty());
}

TEST_F(PageLoaderTest, BodiesOverTheSizeCapFail) {
  PageLoadOptions options;
  options.max_bytes = 1000;
  for (const char* path : {"/big", "/big-chunked"}) {
    const LoadedPage page = LoadPage(local_.Url(path), options);
    EXPECT_FALSE(page.ok()) << path;
    EXPECT_EQ(page.error, "page larger than 1000 bytes: " + local_.Url(path));
    EXPECT_EQ(page.failure, FetchFailure::TooLarge);
  }
  options.max_bytes = 5000;
  EXPECT_TRUE(FetchPage(local_.Url("/big-chunked"), options).ok());
}

TEST_F(PageLoaderTest, AStalledTransferGivesUp) {
  PageLoadOptions options;
  options.transfer.low_speed_seconds = 1;
  const auto started = std::chrono::steady_clock::now();
  const LoadedPage page = LoadPage(local_.Url("/stall"), options);
  EXPECT_FALSE(page.ok());
  EXPECT_TRUE(page.error.starts_with("cannot load " + local_.Url("/stall") + ": ")) << page.error;
  EXPECT_EQ(page.failure, FetchFailure::Timeout);
  EXPECT_EQ(page.error.find('\n'), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
}

// A page whose headers trickle in fails as a timeout within the low-speed
// window; one that arrives steadily but runs past the deadline fails too.
TEST(PageLoader, TricklingHeadersAndTheDeadlineEndALoad) {
  using std::chrono::milliseconds;
  vexel::testing::TrickleServer headers(vexel::testing::TrickleServer::Trickle(
      "HTTP/1.1 200 OK\r\n", "X-Slow: 1\r\n", 300, milliseconds(100)));
  vexel::testing::TrickleServer steady(vexel::testing::TrickleServer::Trickle(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 12000\r\n\r\n",
      std::string(400, ' '), 30, milliseconds(100)));
  ASSERT_TRUE(headers.Start() && steady.Start());
  PageLoadOptions options;
  options.transfer.low_speed_seconds = 1;  // at 1024 bytes a second
  EXPECT_EQ(LoadPage(headers.Url("/1.html"), options).failure, FetchFailure::Timeout);
  options.transfer.low_speed_bytes_per_second = 100;
  options.transfer.deadline_seconds = 1;
  EXPECT_EQ(LoadPage(steady.Url("/2.html"), options).failure, FetchFailure::Timeout);
}

TEST_F(PageLoaderTest, AnAbandonFlagEndsTheLoadUnderWayAndStopsTheNextBeforeConnecting) {
  // Through one handle, as a thread that loads page after page does.
  const CurlEasy handle = MakeCurlEasy();
  PageLoadOptions options;
  options.abandon = &abandon_;  // set by the server once the request is in
  options.handle = handle.get();
  const auto started = std::chrono::steady_clock::now();
  const LoadedPage page = LoadPage(local_.Url("/stall"), options);
  EXPECT_FALSE(page.ok());
  EXPECT_EQ(page.failure, FetchFailure::Abandoned);
  EXPECT_EQ(page.error, "abandoned");
  // The stall limit is 60 s.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

  const FetchedPage again = FetchPage(local_.Url("/stall"), options);
  EXPECT_EQ(again.failure, FetchFailure::Abandoned);
  EXPECT_EQ(again.error, "abandoned");
  EXPECT_EQ(stall_requests_, 1);

  // The watch of a flag that the next load was not given is gone with it.
  PageLoadOptions plain;
  plain.handle = handle.get();
  EXPECT_EQ(FetchPage(local_.Url("/big"), plain).bytes.size(), 5000U);
}

// A port of 127.0.0.1 that nothing listens on: bound, then released.
int ClosedPort() {
  const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof(address);
  EXPECT_EQ(bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(socket_fd);
  return ntohs(address.sin_port);
}

TEST(PageLoader, UnreachableServerFailsWithOneLine) {
  const int port = ClosedPort();
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/";
  const LoadedPage page = LoadPage(address);
  EXPECT_FALSE(page.ok());
  EXPECT_TRUE(page.error.starts_with("cannot load " + address + ": ")) << page.error;
  EXPECT_EQ(page.failure, FetchFailure::Network);
  EXPECT_EQ(page.error.find('\n'), std::string::npos);
}

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexel page XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory(TemporaryDirectory&&) = delete;
  TemporaryDirectory& operator=(TemporaryDirectory&&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

TEST(PageLoader, LocalFilesByPathAndByFileAddress) {
  const TemporaryDirectory directory;
  const std::filesystem::path file = directory.Path() / "第5话 #1.html";
  WriteFile(file, ToGbk(ChapterPageUtf8(
                      R"(<meta http-equiv="Content-Type" content="text/html; charset=gbk">)")));
  const std::string address = FileUrlFromPath(file.string());
  EXPECT_TRUE(address.ends_with("/%E7%AC%AC5%E8%AF%9D%20%231.html")) << address;

  const LoadedPage by_path = LoadPage(file.string());
  ASSERT_TRUE(by_path.ok()) << by_path.error;
  EXPECT_EQ(by_path.final_url, address);
  EXPECT_EQ(ChapterLineOf(*by_path.document), kChapterLine);

  const LoadedPage by_address = LoadPage(address);
  ASSERT_TRUE(by_address.ok()) << by_address.error;
  EXPECT_EQ(by_address.document->Url(), address);
  EXPECT_EQ(ChapterLineOf(*by_address.document), kChapterLine);

  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(directory.Path());
  const LoadedPage relative = LoadPage("./第5话 #1.html");
  std::filesystem::current_path(previous);
  ASSERT_TRUE(relative.ok()) << relative.error;
  EXPECT_EQ(relative.final_url, address);
}

TEST(PageLoader, MissingAndOversizedFilesFail) {
  const TemporaryDirectory directory;
  const LoadedPage missing = LoadPage((directory.Path() / "none.html").string());
  EXPECT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error.starts_with("cannot load file://")) << missing.error;
  EXPECT_EQ(missing.failure, FetchFailure::File);
  EXPECT_EQ(LoadPage("").error, "no page address given");

  const std::filesystem::path big = directory.Path() / "big.html";
  WriteFile(big, std::string(2000, 'x'));
  PageLoadOptions options;
  options.max_bytes = 1999;
  EXPECT_EQ(LoadPage(big.string(), options).error,
            "page larger than 1999 bytes: " + FileUrlFromPath(big.string()));
}

}  // namespace
}  // namespace vexel::net
