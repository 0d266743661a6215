// The sweep of what killed runs left: only the caller's exact names, of an
// owner that has gone, and old enough; and the packer's use of it.
#include "files/leftover_sweep.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "download/comic_info.h"
#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::files {
namespace {

using testing::ListTree;
using testing::TempDir;
using testing::WriteWholeFile;

void WriteOld(const std::string& path) {
  WriteWholeFile(path, "left");
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(2));
}

TEST(LeftoverSweep, RemovesOnlyOldClaimedFilesWhoseOwnerHasGone) {
  TempDir out;
  std::filesystem::create_directory(out / "free");
  std::filesystem::create_directory(out / "busy");
  const HeldLock busy(RealFileSystem(), out / "busy");
  ASSERT_TRUE(busy.held());
  const std::map<std::string, LeftoverOwner> owners{
      {"free.tmp", {0, out / "free"}}, {"gone.tmp", {0, out / "missing"}},
      {"busy.tmp", {0, out / "busy"}}, {"young.tmp", {0, out / "free"}},
      {"live.tmp", {::getpid(), {}}},  {"link.tmp", {0, out / "free"}}};
  for (const auto& [name, owner] : owners) {
    if (name != "young.tmp" && name != "link.tmp") {
      WriteOld(out / name);
    }
  }
  WriteWholeFile(out / "young.tmp", "new");
  WriteOld(out / "other.txt");
  std::filesystem::create_symlink(out / "other.txt", out / "link.tmp");
  const LeftoverMatcher matcher = [&owners](std::string_view name) -> std::optional<LeftoverOwner> {
    const auto found = owners.find(std::string(name));
    return found == owners.end() ? std::nullopt : std::optional(found->second);
  };
  EXPECT_EQ(SweepLeftovers(RealFileSystem(), out.slash(), matcher), 2);
  // (ListTree shows the link under its target's name.)
  EXPECT_EQ(ListTree(out.path()), (std::set<std::string>{"free/", "busy/", "busy.tmp", "young.tmp",
                                                         "live.tmp", "other.txt"}));
  EXPECT_TRUE(std::filesystem::is_symlink(out / "link.tmp"));
  // The lock was taken and let go again.
  EXPECT_TRUE(HeldLock(RealFileSystem(), out / "free").held());
  EXPECT_FALSE(HeldLock(RealFileSystem(), out / "busy").held());
}

download::PackRequest OnePageChapter(const TempDir& out, const std::string& title) {
  std::filesystem::create_directory(out / title);
  download::PackRequest request;
  request.folder = out / (title + "/");
  request.archive = out / (title + ".cbz");
  request.comic_info = download::ComicInfoXml(download::ComicInfoFor(title, 1, ""));
  WriteWholeFile(request.folder + "1.png", "page");
  request.pages.push_back({request.folder + "1.png", "1.png"});
  return request;
}

// A killed pack leaves "<chapter>.cbz.part" or libzip's ".cbz.part.XXXXXX";
// the next pack into that folder removes them unless a pack of that chapter
// still runs (it holds the chapter folder's lock).
TEST(LeftoverSweep, APackRemovesWhatKilledPacksLeft) {
  TempDir out;
  std::filesystem::create_directory(out / "Busy");
  std::filesystem::create_directory(out / "Old");
  const std::set<std::string> kept{"Busy.cbz.part.abc123", "Mine.cbz.part.abc", ".cbz.part",
                                   "Old.cbz.part.k3j9x0.zip", "Old.cbz.partial"};
  for (const std::string& name : kept) {
    WriteOld(out / name);
  }
  WriteWholeFile(out / "New.cbz.part.zzzzzz", "being written");
  WriteOld(out / "Old.cbz.part.k3j9x0");
  WriteOld(out / "Old.cbz.part");
  WriteOld(out / "Gone.cbz.part.0a0a0a");
  const HeldLock busy(RealFileSystem(), out / "Busy");
  ASSERT_TRUE(busy.held());

  CbzPacker packer(RealFileSystem());
  ASSERT_TRUE(packer.Pack(OnePageChapter(out, "第1话")).ok);
  std::set<std::string> expected = kept;
  expected.insert({"New.cbz.part.zzzzzz", "Busy/", "Old/", "第1话.cbz"});
  EXPECT_EQ(ListTree(out.path()), expected);

  // A chapter another pack holds is not packed over.
  const download::PackResult refused = packer.Pack(OnePageChapter(out, "Busy"));
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(refused.reason, "another process is packing " + out / "Busy");
  EXPECT_FALSE(std::filesystem::exists(out / "Busy.cbz"));
}

}  // namespace
}  // namespace vexel::files
