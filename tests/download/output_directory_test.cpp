#include "download/output_directory.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/platform/file_faults.h"
#include "tests/platform/file_temp_dir.h"

namespace vexel::download {
namespace {

using testing::TempDir;

TEST(OutputDirectoryTest, WritablePreferredDirectoryIsUsed) {
  TempDir program;
  TempDir downloads;
  const OutputDirectory chosen =
      ChooseOutputDirectory(program.slash(), downloads.slash(), platform::RealFileSystem());
  EXPECT_EQ(chosen.path, program.slash());
  EXPECT_FALSE(chosen.fallback);
}

TEST(OutputDirectoryTest, UnwritablePreferredDirectoryFallsBackAndCreatesTheFallback) {
  TempDir root;
  // A path below a regular file can be written by nobody, root included.
  testing::WriteWholeFile(root / "file", "x");
  const std::string fallback = root / "home/Downloads/";
  const OutputDirectory chosen =
      ChooseOutputDirectory(root / "file/bin/", fallback, platform::RealFileSystem());
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
  EXPECT_TRUE(ChooseOutputDirectory("", downloads.slash(), platform::RealFileSystem()).fallback);
}

TEST(OutputDirectoryTest, ProgramRuleUsesTheWritableTestDirectory) {
  // The test program lives in its build directory, which can be written.
  const OutputDirectory chosen = ChooseProgramOutputDirectory();
  EXPECT_FALSE(chosen.fallback);
  EXPECT_TRUE(chosen.path.ends_with("/tests/download/"));
}

}  // namespace
}  // namespace vexel::download
