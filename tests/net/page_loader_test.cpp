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
#include <thread>

#include "query/element_query.h"
#include "tests/support/chapter_page.h"
#include "tests/support/encode_text.h"

namespace vexel::net {
namespace {

using vexel::testing::ChapterPageUtf8;
using vexel::testing::kChapterLine;
using vexel::testing::ToGbk;

constexpr const char* kChapterQuery =
    "innerText element that className = stauts_left AND innerText have 您正在看：";

std::string ChapterLineOf(html::HtmlDocument& document) {
  std::string out;
  ElementQuery(&document).Evaluate(kChapterQuery, out);
  return out;
}

// A server on a free port of 127.0.0.1, serving from its own thread until
// the test ends.
class LocalServer {
 public:
  LocalServer() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    // The socket already listens; connections wait until the thread accepts.
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LocalServer() {
    release_ = true;
    server_.stop();
    thread_.join();
  }
  LocalServer(const LocalServer&) = delete;
  LocalServer(LocalServer&&) = delete;
  LocalServer& operator=(LocalServer&&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  httplib::Server& Routes() { return server_; }
  std::string Address(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }
  // Handlers that hold a response open wait for this.
  const std::atomic<bool>& Released() const { return release_; }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> release_{false};
};

class PageLoaderTest : public ::testing::Test {
 protected:
  PageLoaderTest() {
    server_.Routes().Get("/comic/12/5.html",
                         [](const httplib::Request& request, httplib::Response& response) {
                           // The page claims Big5 in its markup; the server's charset wins.
                           response.set_content(ToGbk(ChapterPageUtf8("<meta charset=\"big5\">")),
                                                "text/html; charset=GBK");
                           std::lock_guard<std::mutex> lock(Mutex());
                           UserAgent() = request.get_header_value("User-Agent");
                         });
    server_.Routes().Get("/old", [](const httplib::Request&, httplib::Response& response) {
      response.set_redirect("/comic/12/5.html", 302);
    });
    server_.Routes().Get("/forbidden", [](const httplib::Request&, httplib::Response& response) {
      response.status = 403;
      response.set_content(ToGbk(ChapterPageUtf8("")), "text/html; charset=gbk");
    });
    server_.Routes().Get("/big", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(std::string(5000, 'x'), "text/html");
    });
    server_.Routes().Get("/big-chunked", [](const httplib::Request&, httplib::Response& response) {
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
    server_.Routes().Get("/stall", [this](const httplib::Request&, httplib::Response& response) {
      response.set_chunked_content_provider(
          "text/html", [this](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0) {
              return sink.write("<html><body>", 12);
            }
            // Then nothing, until the test ends (at most 10 s).
            for (int i = 0; i < 200 && !server_.Released(); ++i) {
              std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            sink.done();
            return true;
          });
    });
  }

  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::string& UserAgent() {
    static std::string agent;
    return agent;
  }

  LocalServer server_;
};

TEST_F(PageLoaderTest, LoadsAGbkPageWithTheServersCharsetAndABrowserUserAgent) {
  const LoadedPage page = LoadPage(server_.Address("/comic/12/5.html"));
  ASSERT_TRUE(page.ok()) << page.error;
  EXPECT_EQ(page.final_url, server_.Address("/comic/12/5.html"));
  EXPECT_EQ(page.document->Url(), page.final_url);
  EXPECT_EQ(ChapterLineOf(*page.document), kChapterLine);
  std::lock_guard<std::mutex> lock(Mutex());
  EXPECT_TRUE(UserAgent().starts_with("Mozilla/5.0")) << UserAgent();
}

TEST_F(PageLoaderTest, FollowsRedirectsAndKnowsTheFinalAddress) {
  const LoadedPage page = LoadPage(server_.Address("/old"));
  ASSERT_TRUE(page.ok()) << page.error;
  EXPECT_EQ(page.final_url, server_.Address("/comic/12/5.html"));
  EXPECT_EQ(page.document->Url(), server_.Address("/comic/12/5.html"));
}

TEST_F(PageLoaderTest, ErrorStatusesFailWithTheStatusInTheMessage) {
  const LoadedPage forbidden = LoadPage(server_.Address("/forbidden"));
  EXPECT_FALSE(forbidden.ok());
  EXPECT_EQ(forbidden.error, "HTTP 403 from " + server_.Address("/forbidden"));
  const LoadedPage missing = LoadPage(server_.Address("/missing?x=1"));
  EXPECT_EQ(missing.error, "HTTP 404 from " + server_.Address("/missing?x=1"));
  const FetchedPage fetched = FetchPage(server_.Address("/forbidden"));
  EXPECT_TRUE(fetched.bytes.empty());
}

TEST_F(PageLoaderTest, BodiesOverTheSizeCapFail) {
  PageLoadOptions options;
  options.max_bytes = 1000;
  for (const char* path : {"/big", "/big-chunked"}) {
    const LoadedPage page = LoadPage(server_.Address(path), options);
    EXPECT_FALSE(page.ok()) << path;
    EXPECT_EQ(page.error, "page larger than 1000 bytes: " + server_.Address(path));
  }
  options.max_bytes = 5000;
  EXPECT_TRUE(FetchPage(server_.Address("/big-chunked"), options).ok());
}

TEST_F(PageLoaderTest, AStalledTransferGivesUp) {
  PageLoadOptions options;
  options.transfer.stall_timeout_seconds = 1;
  const auto started = std::chrono::steady_clock::now();
  const LoadedPage page = LoadPage(server_.Address("/stall"), options);
  EXPECT_FALSE(page.ok());
  EXPECT_TRUE(page.error.starts_with("cannot load " + server_.Address("/stall") + ": "))
      << page.error;
  EXPECT_EQ(page.error.find('\n'), std::string::npos);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
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
