// The names of chapter folders: cut to fit the file system, one per chapter
// of a run, and gone again when no page arrived.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "download/chapter_queue.h"
#include "download/claimed_names.h"
#include "download/download_job.h"
#include "examples/png_image.h"
#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "tests/download/job_fakes.h"
#include "tests/query/fake_document.h"
#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {
namespace {

using testing::ListTree;

// Pages as a server sends them: whole images.
std::string Picture() { return sample::EncodePng({1, 1, {0}}); }

class ChapterNamesTest : public ::testing::Test {
 protected:
  ChapterNamesTest() {
    host.output = {out.slash(), false};
    fetcher.answer = [](int, const testing::ScriptedFetcher::Call& call) {
      return testing::WriteWholeFile(call.target, Picture());
    };
  }

  // Runs the chapter titled `title`, of `pages` pages under `images`, on a
  // fresh page; the fetches and the log start empty.
  JobOutcome Run(const std::string& title, int pages, const std::string& images = "p/",
                 ClaimedNames* claimed = nullptr) {
    doc = std::make_unique<testing::FakeDocument>();
    doc->Add("stauts_left", "您正在看：" + title + " >共" + std::to_string(pages) + "页");
    doc->Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, "<IMG class=ImgComic src=\"" + images + "1.png\">");
    host.document = doc.get();
    fetcher.calls.clear();
    return DownloadJob(host, {fetcher, file_system, net::CurlAddressResolver(), &packer, claimed},
                       options);
  }

  testing::TempDir out;
  std::unique_ptr<testing::FakeDocument> doc;
  testing::RecordingHost host;
  testing::ScriptedFetcher fetcher;
  testing::FaultyFileSystem file_system;
  files::CbzPacker packer{files::RealFileSystem()};
  JobOptions options;
};

// A title the file system cannot take whole is cut at a character boundary,
// leaving room for libzip's "<name>.cbz.part.XXXXXX" while it packs.
TEST_F(ChapterNamesTest, LongTitlesAreCutSoThatTheArchiveCanBePacked) {
  options.pack_cbz = true;
  const auto cjk = [](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
      text += "漫";
    }
    return text;
  };
  const std::string cjk85 = cjk(85);
  const std::string mixed = "a" + cjk(100);  // its cut falls inside a character
  const std::map<std::string, std::string> names = {
      {std::string(239, 't'), std::string(239, 't')},
      {std::string(240, 'u'), std::string(239, 'u')},
      {std::string(251, 'v'), std::string(239, 'v')},
      {std::string(256, 'w'), std::string(239, 'w')},
      {cjk85, cjk85.substr(0, 237)},
      {mixed, "a" + cjk(79)},
  };
  for (const auto& [title, name] : names) {
    EXPECT_TRUE(Run(title, 1).packed) << title.size() << "\n" << host.log;
    EXPECT_TRUE(std::filesystem::is_regular_file(out / (name + ".cbz"))) << title.size();
  }
  EXPECT_EQ(ListTree(out.path()).size(), names.size());
}

// Runs each chapter of a queue through the fixture's job, with one registry
// for the queue, as the window's and vexel-dl's runners keep one.
class JobRunner final : public ChapterRunner {
 public:
  using Job = std::function<JobOutcome(const ChapterLink&, ClaimedNames&)>;
  explicit JobRunner(Job job) : job_(std::move(job)) {}
  std::vector<JobOutcome> outcomes;

  void AppendLog(std::string_view) override {}
  bool StopRequested() override { return false; }
  std::optional<JobOutcome> RunChapter(std::size_t, std::size_t,
                                       const ChapterLink& chapter) override {
    return outcomes.emplace_back(job_(chapter, names_));
  }

 private:
  Job job_;
  ClaimedNames names_;
};

// Two chapters of one run with one title: the later one gets a folder and an
// archive of its own, and never counts the earlier one's pages as its own.
TEST_F(ChapterNamesTest, ChaptersOfOneQueueWithOneTitleNeverShareAFolder) {
  options.skip_existing = true;
  // Each chapter's address stands for where its images lie.
  const std::vector<ChapterLink> chapters = {{"one/", "ABC"}, {"two/", "ABC"}, {"three/", "ABC"}};
  for (const bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "packed" : "folders");
    const testing::TempDir run_out;
    host.output = {run_out.slash(), false};
    options.pack_cbz = pack;
    std::vector<std::string> fetched;
    const auto run_queue = [&] {
      fetched.clear();
      JobRunner runner([&](const ChapterLink& chapter, ClaimedNames& names) {
        JobOutcome outcome =
            Run(chapter.title, chapter.address == "one/" ? 2 : 1, chapter.address, &names);
        for (const auto& call : fetcher.calls) {
          fetched.push_back(call.address);
        }
        return outcome;
      });
      EXPECT_EQ(RunChapterQueue(runner, chapters).complete, 3U);
      return runner.outcomes;
    };
    const std::vector<JobOutcome> first = run_queue();
    EXPECT_EQ(first[1].stored, 1) << host.log;
    EXPECT_EQ(first[1].present, 0);
    ASSERT_EQ(fetched.size(), 4U);
    EXPECT_EQ(fetched[2], "http://127.0.0.1:1/comic/1/two/1.png");
    EXPECT_EQ(ListTree(run_out.path()),
              pack ? (std::set<std::string>{"ABC.cbz", "ABC (2).cbz", "ABC (3).cbz"})
                   : (std::set<std::string>{"ABC/", "ABC/1.png", "ABC/2.png", "ABC (2)/",
                                            "ABC (2)/1.png", "ABC (3)/", "ABC (3)/1.png"}));
    // The same queue again finds each chapter where it went.
    const std::vector<JobOutcome> again = run_queue();
    EXPECT_TRUE(fetched.empty());
    EXPECT_EQ(again[0].present, 2);
    EXPECT_EQ(again[1].present, 1);
  }
  // A suffix takes its room from a long title, not from the file system.
  ClaimedNames names;
  const std::string title(250, 'x');
  EXPECT_EQ(ClaimFolderName(&names, "/d/", title), std::string(239, 'x'));
  EXPECT_EQ(ClaimFolderName(&names, "/d/", title), std::string(235, 'x') + " (2)");
  EXPECT_EQ(ClaimFolderName(&names, "/e/", title), std::string(239, 'x'));
  EXPECT_EQ(ClaimFolderName(nullptr, "/d/", title), std::string(239, 'x'));
  // The same chapter run again (a paused one) keeps its folder; another
  // chapter of that title still gets one of its own.
  names.owner = "http://a/1.html";
  EXPECT_EQ(ClaimFolderName(&names, "/f/", "T"), "T");
  EXPECT_EQ(ClaimFolderName(&names, "/f/", "T"), "T");
  names.owner = "http://a/2.html";
  EXPECT_EQ(ClaimFolderName(&names, "/f/", "T"), "T (2)");
}

// A chapter of which no page arrived leaves no empty folder of its own
// making; a folder that was there before stays.
TEST_F(ChapterNamesTest, NoEmptyFolderIsLeftWhenNoPageArrived) {
  fetcher.answer = [](int, const testing::ScriptedFetcher::Call&) { return false; };
  EXPECT_FALSE(Run("ABC", 2).complete());
  EXPECT_EQ(fetcher.calls.size(), 2U);
  EXPECT_TRUE(ListTree(out.path()).empty());

  std::filesystem::create_directory(out / "ABC");
  EXPECT_FALSE(Run("ABC", 2).complete());
  EXPECT_EQ(ListTree(out.path()), std::set<std::string>{"ABC/"});

  // Stopped before its first page: nothing arrived either.
  std::filesystem::remove(out / "ABC");
  host.stop = [] { return true; };
  EXPECT_EQ(Run("ABC", 2).end, JobEnd::Stopped);
  EXPECT_TRUE(ListTree(out.path()).empty());
}

}  // namespace
}  // namespace vexel::download
