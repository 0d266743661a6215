#include "download/output_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {
namespace {

using testing::TempDir;

TEST(OutputDirectoryTest, WritablePreferredDirectoryIsUsed) {
  TempDir program;
  TempDir downloads;
  const OutputDirectory chosen =
      ChooseOutputDirectory(program.slash(), downloads.slash(), files::RealFileSystem());
  EXPECT_EQ(chosen.path, program.slash());
  EXPECT_FALSE(chosen.fallback);
}

TEST(OutputDirectoryTest, UnwritablePreferredDirectoryFallsBackAndCreatesTheFallback) {
  TempDir root;
  // A path below a regular file can be written by nobody, root included.
  testing::WriteWholeFile(root / "file", "x");
  const std::string fallback = root / "home/Downloads/";
  const OutputDirectory chosen =
      ChooseOutputDirectory(root / "file/bin/", fallback, files::RealFileSystem());
  EXPECT_EQ(chosen.path, fallback);
  EXPECT_TRUE(chosen.fallback);
  EXPECT_TRUE(std::filesystem::is_directory(fallback));
}

TEST(OutputDirectoryTest, ReadOnlyOrUnknownProgramDirectoryFallsBack) {
  TempDir program;
  TempDir downloads;
  testing::FaultyFileSystem files;
  files.writable = false;
  EXPECT_TRUE(ChooseOutputDirectory(program.slash(), downloads.slash(), files).fallback);
  EXPECT_TRUE(ChooseOutputDirectory("", downloads.slash(), files::RealFileSystem()).fallback);
}

}  // namespace
}  // namespace vexel::download
