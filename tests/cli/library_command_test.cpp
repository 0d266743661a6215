// vexel-dl follow, unfollow and library, run as a program against the sample
// site on 127.0.0.1, each with a library file of its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "examples/sample_site.h"
#include "tests/cli/run_dl.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::cli {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;

class LibraryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(site_.ok()); }

  std::string Comic(int comic) {
    return site_.BaseAddress() + "comic/" + std::to_string(comic) + "/";
  }

  testing::ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin() + 1, {"--library", library_});
    return Dl(std::move(args), dir_.path());
  }

  sample::SampleSiteServer site_;
  TempDir dir_;
  std::string library_ = dir_ / "library.sqlite3";
};

TEST_F(LibraryCommandTest, FollowAddsComicsThatLibraryListsAndUnfollowRemoves) {
  const std::string first = Comic(1) + "\t12\t0\t12\t星际旅人 - Vexel示例漫画站\n";
  const std::string second = Comic(2) + "\t12\t0\t0\t山城故事 - Vexel示例漫画站\n";
  auto run = Run({"follow", "-o", "out", Comic(1)});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, first);
  EXPECT_EQ(run.err, "");
  // A page that cannot be loaded is left out; the others are followed.
  run = Run({"follow", "--new-only", site_.BaseAddress() + "comic/9/", Comic(2)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.out, second);
  EXPECT_EQ(run.err, "vexel-dl follow: HTTP 404 from " + site_.BaseAddress() + "comic/9/\n");

  run = Run({"library"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(run.out, first + second);

  run = Run({"unfollow", Comic(1), Comic(3)});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.err, "vexel-dl unfollow: not followed: " + Comic(3) + "\n");
  EXPECT_EQ(Run({"library"}).out, second);
  // Following again keeps the list's state: --new-only was remembered.
  EXPECT_EQ(Run({"follow", Comic(2)}).out, second);
}

TEST_F(LibraryCommandTest, WithoutLibraryTheFileIsMadeInTheDataFolderPrivateToTheUser) {
  ::setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
  const auto run = Dl({"follow", Comic(1)}, dir_.path());
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::is_regular_file(dir_ / "vexel-downloader/library.sqlite3"));
  EXPECT_EQ(std::filesystem::status(dir_ / "vexel-downloader").permissions(),
            std::filesystem::perms::owner_all);
}

TEST_F(LibraryCommandTest, ABadLibraryFileOrBadArgumentsStopTheCommands) {
  testing::WriteWholeFile(library_, "not a database, but someone's notes");
  const std::string line =
      "vexel-dl: cannot use the library " + library_ + ": not a library (not an SQLite database)\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"follow", Comic(1)}, {"unfollow", Comic(1)}, {"library"}}) {
    SCOPED_TRACE(args.front());
    const auto run = Run(args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, line);
  }
  EXPECT_EQ(ReadWholeFile(library_), "not a database, but someone's notes");

  EXPECT_EQ(Dl({"follow", "--bogus", Comic(1)}).err,
            "vexel-dl follow: unknown option --bogus (see vexel-dl follow --help)\n");
  EXPECT_EQ(Dl({"unfollow"}).exit_status, 2);
  EXPECT_EQ(Dl({"library", Comic(1)}).exit_status, 2);
  EXPECT_EQ(Dl({"follow", "host/comic/1/"}).exit_status, 2);
  const auto help = Dl({"follow", "--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_NE(help.out.find("--new-only"), std::string::npos);
}

}  // namespace
}  // namespace vexel::cli
