#include "files/real_file_system.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace vexel::files
