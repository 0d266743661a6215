#include "runtime/job_runtime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/download/job_fakes.h"
#include "tests/query/fake_document.h"
#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::runtime {
namespace {

using testing::FakeDocument;
using testing::RecordingHost;
using testing::ScriptedFetcher;
using testing::TempDir;

constexpr const char* kChapter = "http://127.0.0.1:1/comic/5.html";

// Records in memory; a chapter counts as downloaded once recorded.
class MemoryRecords final : public download::ChapterRecords {
 public:
  bool IsDownloaded(const std::string& address) override { return chapters.contains(address); }
  bool Record(const download::FinishedChapter& chapter) override {
    chapters[chapter.address] = chapter;
    return true;
  }
  bool HeldByAnother(const std::string& folder, const std::string& address) override {
    return std::ranges::any_of(chapters, [&](const auto& entry) {
      return entry.first != address && entry.second.folder == folder;
    });
  }
  std::map<std::string, download::FinishedChapter> chapters;
};

// Hands each chapter of a queue the one page of `host`, as a program's
// runner hands its loaded page.
class PageRunner final : public download::ChapterRunner {
 public:
  PageRunner(JobRuntime& runtime, RecordingHost& host) : runtime_(runtime), host_(host) {}
  void AppendLog(std::string_view text) override { log.append(text); }
  bool StopRequested() override { return false; }
  std::optional<download::JobOutcome> RunChapter(std::size_t, std::size_t,
                                                 const download::ChapterLink&) override {
    ++loads;
    return runtime_.RunChapter(host_);
  }
  std::string log;
  int loads = 0;

 private:
  JobRuntime& runtime_;
  RecordingHost& host_;
};

class RuntimeTest : public ::testing::Test {
 protected:
  RuntimeTest() {
    doc.Add("stauts_left", "您正在看：ABC > 第5话 >共2页");
    doc.Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, R"(<IMG class=ImgComic src="/p/1.gif">)");
    host.document = &doc;
    host.page_address = kChapter;
    host.output = {out.slash(), false};
  }

  JobRuntime Runtime(bool pack = false) {
    RunSetup setup;
    setup.job.pack_cbz = pack;
    setup.records = &records;
    setup.file_system = &files;
    setup.make_fetcher = [this](const net::FetchOptions&) {
      return std::make_unique<Forwarding>(fetcher);
    };
    return JobRuntime(std::move(setup));
  }

  // The runtime owns each chapter's fetcher; this one lends the test's.
  class Forwarding final : public download::ImageFetcher {
   public:
    explicit Forwarding(ScriptedFetcher& inner) : inner_(inner) {}
    download::FetchResult FetchImage(const std::string& address,
                                     const std::string& target) override {
      return inner_.FetchImage(address, target);
    }

   private:
    ScriptedFetcher& inner_;
  };

  TempDir out;
  FakeDocument doc;
  RecordingHost host;
  ScriptedFetcher fetcher;
  MemoryRecords records;
  testing::FaultyFileSystem files;
};

TEST_F(RuntimeTest, OnlyAWholeChapterOnDiskIsRecorded) {
  JobRuntime runtime = Runtime();
  ASSERT_TRUE(runtime.RunChapter(host).complete());
  ASSERT_TRUE(records.chapters.contains(kChapter));
  const download::FinishedChapter& folder = records.chapters[kChapter];
  EXPECT_EQ(folder.title, "ABC > 第5话");
  EXPECT_EQ(folder.folder, out.slash() + "ABC- 第5话");
  EXPECT_EQ(folder.page_files, (std::vector<std::string>{"1.gif", "2.gif"}));
  EXPECT_TRUE(folder.archive.empty());

  // A page that failed, or a flush that failed, records nothing.
  records.chapters.clear();
  fetcher.answer = [](int, const ScriptedFetcher::Call& call) {
    return !call.address.ends_with("2.gif") &&
           testing::StoreBody(call.target, testing::FakeImage(call.address));
  };
  std::filesystem::remove(out.slash() + "ABC- 第5话/2.gif");
  runtime.RunChapter(host);
  EXPECT_TRUE(records.chapters.empty());
  fetcher.answer = [](int, const ScriptedFetcher::Call& call) {
    return testing::StoreBody(call.target, testing::FakeImage(call.address));
  };
  files.fail_flush = EIO;
  EXPECT_TRUE(runtime.RunChapter(host).complete());
  EXPECT_TRUE(records.chapters.empty());

  // An archive is recorded with its size, the folder it replaced not at all.
  files.fail_flush = 0;
  JobRuntime packing = Runtime(true);
  ASSERT_TRUE(packing.RunChapter(host).complete());
  const download::FinishedChapter& archive = records.chapters[kChapter];
  EXPECT_EQ(archive.archive, out.slash() + "ABC- 第5话.cbz");
  EXPECT_EQ(archive.archive_size,
            static_cast<std::int64_t>(std::filesystem::file_size(archive.archive)));
  EXPECT_TRUE(archive.folder.empty());
  EXPECT_TRUE(archive.page_files.empty());
}

TEST_F(RuntimeTest, ListedChaptersDownloadedBeforeAreNotLoaded) {
  JobRuntime runtime = Runtime();
  PageRunner runner(runtime, host);
  const std::vector<download::ChapterLink> chapters = {
      {"http://127.0.0.1:1/comic/5.html#top", "第5话", "http://127.0.0.1:1/comic/"},
      {"http://127.0.0.1:1/comic/6.html", "第6话", ""}};
  records.chapters["http://127.0.0.1:1/comic/6.html"] = {};
  const download::QueueOutcome first = runtime.RunQueue(runner, chapters);
  EXPECT_EQ(first.complete, 2U);
  // The listed chapter is recorded under the address its list gives, less
  // the fragment, with its comic; the one given by address is loaded even
  // though it is recorded.
  EXPECT_EQ(runner.loads, 2);
  EXPECT_EQ(records.chapters["http://127.0.0.1:1/comic/5.html"].comic, "http://127.0.0.1:1/comic/");

  runner.log.clear();
  const download::QueueOutcome again = runtime.RunQueue(runner, chapters);
  EXPECT_EQ(again.complete, 2U);
  EXPECT_EQ(runner.loads, 3);
  EXPECT_EQ(runner.log,
            "【1/2】http://127.0.0.1:1/comic/5.html#top\r\n已下载，跳过\r\n"
            "【2/2】http://127.0.0.1:1/comic/6.html\r\n");
}

// A folder the records hold for another chapter of the same title is left
// to it; the same chapter run again finds its own.
TEST_F(RuntimeTest, AFolderRecordedForAnotherChapterIsNotTakenOver) {
  const std::string folder = out.slash() + "ABC- 第5话";
  records.chapters["http://127.0.0.1:1/other/5.html"].folder = folder;
  JobRuntime runtime = Runtime();
  ASSERT_TRUE(runtime.RunChapter(host).complete());
  EXPECT_EQ(records.chapters[kChapter].folder, folder + " (2)");
  JobRuntime again = Runtime();
  ASSERT_TRUE(again.RunChapter(host).complete());
  EXPECT_EQ(records.chapters[kChapter].folder, folder + " (2)");
}

}  // namespace
}  // namespace vexel::runtime
