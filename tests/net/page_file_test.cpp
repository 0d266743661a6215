// Page files as they land on disk: their permissions, and the sweep of
// those a killed run left.
#include "net/page_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "net/curl_image_fetcher.h"
#include "tests/net/image_site_test.h"
#include "tests/support/file_temp_dir.h"
#include "tests/support/local_server.h"

namespace vexel::net {
namespace {

using testing::ListTree;
using testing::WriteWholeFile;

class PageFileTest : public ImageSiteTest {};

// A process id that no process has now: a child's, once it has ended.
long EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) {
    ::_exit(0);
  }
  ::waitpid(child, nullptr, 0);
  return child;
}

void MakeOld(const std::string& path) {
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
}

// Page files of a killed run go at the next run into the same folder; only
// names exactly of the fetcher's pattern, of an ended process, and at least
// a minute old.
TEST_F(PageFileTest, OnlyOldPageFilesOfEndedProcessesAreSwept) {
  const std::string dead = std::to_string(EndedProcessId());
  const std::string orphan = ".vexel-" + dead + "-aB3xY9.part";
  const std::string fresh = ".vexel-" + dead + "-fresh0.part";
  const std::set<std::string> kept{".vexel-123-abc.part", ".vexel-99999999-x.part",
                                   ".vexel-" + std::to_string(::getpid()) + "-abcdef.part",
                                   ".vexel-0" + dead + "-abcdef.part", fresh};
  for (const std::string& name : kept) {
    WriteWholeFile(out_ / name, "someone's");
    if (name != fresh) {
      MakeOld(out_ / name);
    }
  }
  WriteWholeFile(out_ / orphan, "half");
  MakeOld(out_ / orphan);
  CurlImageFetcher fetcher(options_);
  ASSERT_TRUE(fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png").stored);
  std::set<std::string> expected = kept;
  expected.insert("1.png");
  EXPECT_EQ(ListTree(out_.path()), expected);
  EXPECT_EQ(PageFileOwner(orphan)->process_id, std::stol(dead));
}

// Page files get the user's umask like any other file, so that a media
// server running as another user can read them.
TEST_F(PageFileTest, PageFilesFollowTheUmask) {
  CurlImageFetcher fetcher(options_);
  for (const auto& [mask, mode] : {std::pair{022, 0644}, std::pair{027, 0640}}) {
    const mode_t previous = ::umask(static_cast<mode_t>(mask));
    const bool stored = fetcher.FetchImage(Url("/img/1.png"), out_ / "1.png").stored;
    ::umask(previous);
    ASSERT_TRUE(stored);
    struct stat info {};
    ASSERT_EQ(::stat((out_ / "1.png").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, static_cast<mode_t>(mode)) << std::oct << mask;
  }
}

}  // namespace
}  // namespace vexel::net
