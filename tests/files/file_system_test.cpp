#include "files/real_file_system.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "tests/support/file_temp_dir.h"

namespace vexel::files {
namespace {

using testing::ListTree;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

download::FileSystem& files = RealFileSystem();

TEST(FileSystemTest, CreateDirectoryMakesOneLevelAndReusesAnExistingOne) {
  TempDir dir;
  EXPECT_TRUE(files.CreateDirectory(dir / "a"));
  EXPECT_TRUE(files.CreateDirectory(dir / "a"));
  EXPECT_FALSE(files.CreateDirectory(dir / "b/c"));
  WriteWholeFile(dir / "f", "x");
  EXPECT_FALSE(files.CreateDirectory(dir / "f"));
  EXPECT_TRUE(files.CreateDirectories(dir / "b/c/d"));
  EXPECT_FALSE(files.CreateDirectories(dir / "f/g"));
  EXPECT_EQ(ListTree(dir.path()), (std::set<std::string>{"a/", "b/", "b/c/", "b/c/d/", "f"}));
}

TEST(FileSystemTest, RenameReplacesAndRemoveDeletes) {
  TempDir dir;
  WriteWholeFile(dir / "a", "new");
  WriteWholeFile(dir / "b", "old");
  EXPECT_TRUE(files.Rename(dir / "a", dir / "b"));
  EXPECT_EQ(ReadWholeFile(dir / "b"), "new");
  EXPECT_FALSE(files.Rename(dir / "a", dir / "c"));
  EXPECT_TRUE(files.Remove(dir / "b"));
  EXPECT_FALSE(files.Remove(dir / "b"));
  EXPECT_TRUE(ListTree(dir.path()).empty());
}

TEST(FileSystemTest, WritableDirectoryIsProbedAndLeftClean) {
  TempDir dir;
  WriteWholeFile(dir / "f", "x");
  EXPECT_TRUE(files.IsWritableDirectory(dir.path()));
  EXPECT_TRUE(files.IsWritableDirectory(dir.slash()));
  EXPECT_FALSE(files.IsWritableDirectory(dir / "f"));
  EXPECT_FALSE(files.IsWritableDirectory(dir / "missing"));
  EXPECT_FALSE(files.IsWritableDirectory(""));
  EXPECT_FALSE(files.IsWritableDirectory("/proc/self/"));
  EXPECT_EQ(ListTree(dir.path()), std::set<std::string>{"f"});
}

// What was there before a job is looked at without following links, and
// only a regular file's ends are read.
TEST(FileSystemTest, EarlierFilesAreLookedAtWithoutFollowingLinks) {
  TempDir dir;
  WriteWholeFile(dir / "f", "0123456789");
  std::filesystem::create_symlink(dir / "f", dir / "link");
  std::filesystem::create_directory(dir / "d");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(files.KindOf(dir / "f"), download::EntryKind::File);
  EXPECT_EQ(files.KindOf(dir / "link"), download::EntryKind::Other);
  EXPECT_EQ(files.KindOf(dir / "d"), download::EntryKind::Directory);
  EXPECT_EQ(files.KindOf(dir / "missing"), download::EntryKind::None);

  const download::FileEnds ends = files.ReadEnds(dir / "f", 3, 4);
  EXPECT_TRUE(ends.regular);
  EXPECT_EQ(ends.size, 10U);
  EXPECT_EQ(ends.head, "012");
  EXPECT_EQ(ends.tail, "6789");
  EXPECT_EQ(files.ReadEnds(dir / "f", 32, 32).tail, "0123456789");
  for (const char* name : {"link", "d", "pipe", "missing"}) {
    const download::FileEnds other = files.ReadEnds(dir / name, 32, 32);
    EXPECT_FALSE(other.regular) << name;
    EXPECT_TRUE(other.head.empty() && other.tail.empty()) << name;
  }
}

TEST(FileSystemTest, RenameNoReplaceLeavesAnExistingNameAlone) {
  TempDir dir;
  WriteWholeFile(dir / "a", "a");
  WriteWholeFile(dir / "b", "b");
  EXPECT_EQ(files.RenameNoReplace(dir / "a", dir / "b").error, EEXIST);
  EXPECT_EQ(ReadWholeFile(dir / "b"), "b");
  EXPECT_TRUE(files.RenameNoReplace(dir / "a", dir / "c"));
  EXPECT_EQ(ReadWholeFile(dir / "c"), "a");
  std::filesystem::create_directory(dir / "d");
  WriteWholeFile(dir / "d/x", "x");
  EXPECT_FALSE(files.RemoveDirectory(dir / "d"));
  std::filesystem::remove(dir / "d/x");
  EXPECT_TRUE(files.RemoveDirectory(dir / "d"));
  EXPECT_EQ(ListTree(dir.path()), (std::set<std::string>{"b", "c"}));
}

}  // namespace
}  // namespace vexel::files
