// The download job's test fixture: a fake chapter page, a host that records
// what the job does and a fetcher whose answers each test scripts.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "download/download_job.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "tests/download/job_fakes.h"
#include "tests/query/fake_document.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {

using testing::FakeDocument;
using testing::FakeImage;
using testing::ListTree;
using testing::ReadWholeFile;
using testing::RecordingHost;
using testing::ScriptedFetcher;
using testing::TempDir;

inline constexpr const char* kPage = "http://127.0.0.1:1/comic/5.html";

inline std::string ImageTag(const std::string& src) {
  return "<IMG class=ImgComic src=\"" + src + "\">";
}

inline std::string PageLine(const std::string& address, bool ok) {
  return "下载图片[" + address + "]..." + (ok ? "成功\r\n" : "失败（HTTP 404）\r\n");
}

class JobTest : public ::testing::Test {
 protected:
  JobTest() {
    host.document = &doc;
    host.page_address = kPage;
    host.output = {out.slash(), false};
  }

  // A chapter page: some navigation, the chapter line and the first image.
  void Page(const std::string& chapter_line, const std::string& tag) {
    doc.Add("nav", "首页 > ABC");
    doc.Add("stauts_left", chapter_line);
    doc.Add().Set(ElementProperty::ClassName, "ImgComic").Set(ElementProperty::OuterHTML, tag);
  }

  bool Run() {
    outcome =
        DownloadJob(host, {fetcher, files::RealFileSystem(), net::CurlAddressResolver()}, options);
    return outcome.complete();
  }

  void ExpectError(const std::string& log) {
    EXPECT_FALSE(Run());
    EXPECT_EQ(host.log, log);
    EXPECT_EQ(host.results, std::vector<std::string>{"下载出错"});
    EXPECT_TRUE(fetcher.calls.empty());
    EXPECT_TRUE(ListTree(out.path()).empty()) << "an error leaves no folder behind";
  }

  TempDir out;
  FakeDocument doc;
  RecordingHost host;
  ScriptedFetcher fetcher;
  JobOptions options;
  JobOutcome outcome;
};

}  // namespace vexel::download
