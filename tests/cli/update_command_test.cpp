// vexel-dl update, and the download commands' use of the library, run as a
// program against the sample site on 127.0.0.1, with the requests counted
// at the server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "examples/sample_site.h"
#include "tests/cli/run_dl.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::cli {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;

// 星际旅人 with 6 chapters of 5, 8, 2, 2, 2 and 2 pages (fewer would lose
// to the site's five category links as the page's largest list); 山城故事
// with 12 chapters.
sample::SampleSiteOptions SmallComics() {
  sample::SampleSiteOptions options;
  options.comic_chapters = 6;
  options.long_chapter_pages = 2;
  return options;
}

class UpdateCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(site_.ok()); }

  std::string Comic(int comic) const {
    return site_.BaseAddress() + "comic/" + std::to_string(comic) + "/";
  }

  testing::ProcessResult Run(std::vector<std::string> args) {
    const bool command = args.front() == "update" || args.front() == "follow" ||
                         args.front() == "unfollow" || args.front() == "library";
    args.insert(args.begin() + (command ? 1 : 0), {"--library", library_});
    return Dl(std::move(args), dir_.path());
  }

  std::size_t Requests() { return site_.Site().Stats().requests; }
  std::size_t Images() { return site_.Site().Stats().image_requests; }

  // The pages of chapter `chapter` of comic 1 as the site serves them, in
  // the folder `folder`.
  void ExpectChapterOne(const std::string& folder, int chapter) {
    const int pages =
        site_.Site().Comics()[0].chapters[static_cast<std::size_t>(chapter - 1)].pages;
    for (int page = 1; page <= pages; ++page) {
      EXPECT_TRUE(ReadWholeFile(folder + "/" + std::to_string(page) + ".png") ==
                  site_.Site().PageImage(1, chapter, page))
          << folder << " page " << page;
    }
  }

  sample::SampleSiteServer site_{SmallComics()};
  TempDir dir_;
  std::string library_ = dir_ / "library.sqlite3";
};

TEST_F(UpdateCommandTest, UpdateDownloadsWhatIsPendingReportsEachFaultAndThenOnlyLooks) {
  auto other = std::make_unique<sample::SampleSiteServer>();
  ASSERT_TRUE(other->ok());
  const std::string gone = other->BaseAddress() + "comic/2/";
  ASSERT_EQ(Run({"follow", "-o", "one", Comic(1)}).exit_status, 0);
  ASSERT_EQ(Run({"follow", "-o", "two", Comic(2)}).exit_status, 0);
  ASSERT_EQ(Run({"follow", "-o", "gone", gone}).exit_status, 0);

  // --dry-run: one request per comic, the pending chapters in library order
  // and then list order, and nothing downloaded.
  site_.Site().ResetStats();
  auto run = Run({"update", "--dry-run", Comic(1), gone});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  std::string pending;
  for (int chapter = 1; chapter <= 6; ++chapter) {
    pending += site_.ChapterAddress(1, chapter) + "\t第" + std::to_string(chapter) + "话\n";
  }
  int chapter = 0;
  for (const sample::SampleChapter& listed : other->Site().Comics()[1].chapters) {
    pending += other->ChapterAddress(2, ++chapter) + "\t" + listed.name + "\n";
  }
  EXPECT_EQ(run.out, pending);
  EXPECT_EQ(Requests(), 1U);
  EXPECT_EQ(Images(), 0U);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "one"));

  // A comic that is not followed is named once and the others go on; -o
  // puts the chapters elsewhere than the comic's folder.
  other.reset();
  run = Run({"update", "-o", "elsewhere", site_.BaseAddress() + "comic/9/", Comic(1)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err,
            "vexel-dl: " + site_.BaseAddress() + "comic/9/: not followed (see vexel-dl follow)\n");
  EXPECT_NE(run.out.find("【6/6】" + site_.ChapterAddress(1, 6) + "\n"), std::string::npos)
      << run.out;
  for (chapter = 1; chapter <= 6; ++chapter) {
    ExpectChapterOne(dir_ / ("elsewhere/星际旅人- 第" + std::to_string(chapter) + "话"), chapter);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "one"));

  // A comic page that cannot be loaded is one line; the others go on, into
  // the comic's own folder.
  run = Run({"update"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err.find(gone + ": "), std::string("vexel-dl: ").size()) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_TRUE(ReadWholeFile(dir_ / "two/山城故事- 第11话/2.png") ==
              site_.Site().PageImage(2, 12, 2));

  // With nothing new, one request per comic and status 0.
  ASSERT_EQ(Run({"unfollow", gone}).exit_status, 0);
  site_.Site().ResetStats();
  run = Run({"update"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(Requests(), 2U);
  EXPECT_EQ(Run({"library"}).out, Comic(1) + "\t6\t6\t0\t星际旅人 - Vexel示例漫画站\n" + Comic(2) +
                                      "\t12\t12\t0\t山城故事 - Vexel示例漫画站\n");
}

TEST_F(UpdateCommandTest, ChaptersOnDiskAreRecordedOnceSkippedAfterwardsAndPendingWhenBroken) {
  // Downloaded before there was a library: folders, no record, no file.
  ::setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
  auto run = Dl({"--no-library", "-o", "comics", "--all-chapters", Comic(1)}, dir_.path());
  ::unsetenv("XDG_DATA_HOME");
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "vexel-downloader"));
  ASSERT_EQ(Run({"follow", "-o", "comics", Comic(1)}).out,
            Comic(1) + "\t6\t0\t6\t星际旅人 - Vexel示例漫画站\n");

  // update loads each chapter's page once, keeps the pages and records them.
  site_.Site().ResetStats();
  run = Run({"update"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Images(), 0U);
  EXPECT_EQ(Requests(), 7U);
  EXPECT_EQ(run.out.find("...成功"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("/comic/1/pics/ch6/2.png]...已存在\n"), std::string::npos) << run.out;
  EXPECT_EQ(Run({"library"}).out, Comic(1) + "\t6\t6\t0\t星际旅人 - Vexel示例漫画站\n");

  // --all-chapters over the downloaded comic: its page, nothing more.
  site_.Site().ResetStats();
  run = Run({"-o", "comics", "--all-chapters", Comic(1)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  std::string skipped;
  for (int chapter = 1; chapter <= 6; ++chapter) {
    skipped += "【" + std::to_string(chapter) + "/6】" + site_.ChapterAddress(1, chapter) +
               "\n已下载，跳过\n";
  }
  EXPECT_EQ(run.out.substr(0, skipped.size()), skipped);
  EXPECT_EQ(Requests(), 1U);
  // --overwrite loads them all again.
  site_.Site().ResetStats();
  run = Run({"-o", "comics", "--overwrite", "--all-chapters", Comic(1)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Images(), 21U);
  ExpectChapterOne(dir_ / "comics/星际旅人- 第1话", 1);

  // A page file gone, a folder gone: those chapters are pending again.
  std::filesystem::remove(dir_ / "comics/星际旅人- 第1话/3.png");
  std::filesystem::remove_all(dir_ / "comics/星际旅人- 第2话");
  EXPECT_EQ(Run({"library"}).out, Comic(1) + "\t6\t4\t2\t星际旅人 - Vexel示例漫画站\n");
  run = Run({"update", "--dry-run"});
  EXPECT_EQ(run.out,
            site_.ChapterAddress(1, 1) + "\t第1话\n" + site_.ChapterAddress(1, 2) + "\t第2话\n");
  site_.Site().ResetStats();
  run = Run({"update"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Images(), 1U + 8U);
  ExpectChapterOne(dir_ / "comics/星际旅人- 第2话", 2);
  EXPECT_EQ(Run({"library"}).out, Comic(1) + "\t6\t6\t0\t星际旅人 - Vexel示例漫画站\n");
}

TEST_F(UpdateCommandTest, ALibraryFileThatIsNoLibraryIsNamedAndLeftAsItWas) {
  const std::string notes = "not a database, but someone's notes\n";
  testing::WriteWholeFile(library_, notes);
  const std::string line =
      "vexel-dl: cannot use the library " + library_ + ": not a library (not an SQLite database)\n";
  // A download goes on without it.
  auto run = Run({"-o", "out", site_.ChapterAddress(1, 3)});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, line);
  ExpectChapterOne(dir_ / "out/星际旅人- 第3话", 3);
  run = Run({"-o", "out", "--all-chapters", Comic(2)});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, line);
  // update cannot.
  run = Run({"update"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, line);
  EXPECT_EQ(ReadWholeFile(library_), notes);
  EXPECT_EQ(Dl({"update", "--no-library"}).exit_status, 2);
}

}  // namespace
}  // namespace vexel::cli
