// vexel-dl update killed at random moments: the library file stays whole,
// no chapter is recorded before its pages are all there, and one more run
// completes the comic byte for byte with nothing temporary left behind.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <csignal>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "examples/sample_site.h"
#include "tests/cli/run_dl.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::cli {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

std::string Column(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text == nullptr ? std::string() : reinterpret_cast<const char*>(text);
}

// Each row of `sql` on the file at `path`, its columns joined by tabs; a
// first row "error: ..." when it could not be read.
std::vector<std::string> Rows(const std::string& path, const char* sql) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  const Db db(raw);
  if (opened != SQLITE_OK) {
    return {"error: " + std::string(sqlite3_errmsg(raw))};
  }
  sqlite3_stmt* prepared = nullptr;
  if (sqlite3_prepare_v2(db.get(), sql, -1, &prepared, nullptr) != SQLITE_OK) {
    return {"error: " + std::string(sqlite3_errmsg(db.get()))};
  }
  const Statement statement(prepared);
  std::vector<std::string> rows;
  int code = SQLITE_ROW;
  while ((code = sqlite3_step(statement.get())) == SQLITE_ROW) {
    std::string row;
    for (int column = 0; column < sqlite3_column_count(statement.get()); ++column) {
      row += (column > 0 ? "\t" : "") + Column(statement.get(), column);
    }
    rows.push_back(std::move(row));
  }
  if (code != SQLITE_DONE) {
    rows.insert(rows.begin(), "error: " + std::string(sqlite3_errmsg(db.get())));
  }
  return rows;
}

TEST(UpdateKillTest, AKilledUpdateLeavesAWholeLibraryAndTheNextOneCompletesTheComic) {
  sample::SampleSiteOptions options;
  options.comic_chapters = 10;
  options.long_chapter_pages = 6;
  options.image_bytes = 20000;
  sample::SampleSiteServer site(options);
  ASSERT_TRUE(site.ok());
  TempDir dir;
  const std::string library = dir / "library.sqlite3";
  const std::string comic = site.BaseAddress() + "comic/1/";
  ASSERT_EQ(Dl({"follow", "--library", library, "-o", "out", comic}, dir.path()).exit_status, 0);

  const auto folder = [&](int chapter) {
    return dir / ("out/星际旅人- 第" + std::to_string(chapter) + "话");
  };
  const auto pages = [&](int chapter) {
    return site.Site().Comics()[0].chapters[static_cast<std::size_t>(chapter - 1)].pages;
  };
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> lines(1, 30);
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::size_t kill_after = lines(random);
    bool killed = false;
    const auto run = Dl({"update", "--library", library, "-j", "2"}, dir.path(),
                        [&](const std::string& out, pid_t pid) {
                          if (!killed && static_cast<std::size_t>(std::count(out.begin(), out.end(),
                                                                             '\n')) >= kill_after) {
                            killed = ::kill(pid, SIGKILL) == 0;
                          }
                        });
    EXPECT_TRUE(run.signal == SIGKILL || run.exit_status == 0) << run.err;
    // The next run comes a while later: only what a killed run left a minute
    // ago or more is surely no live run's, and the next run that writes into
    // its folder takes it away.
    for (const std::string& name : testing::ListTree(dir / "out")) {
      if (name.ends_with(".part")) {
        std::filesystem::last_write_time(
            dir / ("out/" + name),
            std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
      }
    }

    EXPECT_EQ(Rows(library, "PRAGMA integrity_check"), std::vector<std::string>{"ok"});
    // Every record names a folder whose pages are all there, whole.
    const std::vector<std::string> records =
        Rows(library, "SELECT address, folder, page_files FROM chapter_records");
    for (const std::string& record : records) {
      ASSERT_EQ(record.find("error: "), std::string::npos) << record;
      const std::size_t tab = record.find('\t');
      const std::string address = record.substr(0, tab);
      const int chapter = std::stoi(address.substr(comic.size()));
      EXPECT_EQ(record.substr(tab + 1, record.find('\t', tab + 1) - tab - 1), folder(chapter));
      for (int page = 1; page <= pages(chapter); ++page) {
        EXPECT_TRUE(ReadWholeFile(folder(chapter) + "/" + std::to_string(page) + ".png") ==
                    site.Site().PageImage(1, chapter, page))
            << address << " page " << page;
      }
    }
    // What the library counts as downloaded is what it recorded.
    const auto listed = Dl({"library", "--library", library}, dir.path());
    EXPECT_EQ(listed.out.substr(0, listed.out.find("\t星际旅人")),
              comic + "\t10\t" + std::to_string(records.size()) + "\t" +
                  std::to_string(10 - records.size()));
  }

  // One more run completes the rest.
  const auto run = Dl({"update", "--library", library, "-j", "2"}, dir.path());
  EXPECT_EQ(run.exit_status, 0) << run.err;
  for (int chapter = 1; chapter <= 10; ++chapter) {
    for (int page = 1; page <= pages(chapter); ++page) {
      EXPECT_TRUE(ReadWholeFile(folder(chapter) + "/" + std::to_string(page) + ".png") ==
                  site.Site().PageImage(1, chapter, page))
          << chapter << " page " << page;
    }
  }
  for (const std::string& name : testing::ListTree(dir / "out")) {
    EXPECT_EQ(name.find(".part"), std::string::npos) << name;
  }
  EXPECT_EQ(Rows(library, "SELECT count(*) FROM chapter_records"), std::vector<std::string>{"10"});
}

}  // namespace
}  // namespace vexel::cli
