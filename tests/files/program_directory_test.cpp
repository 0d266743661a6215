#include "files/program_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "files/program_output_directory.h"
#include "files/real_file_system.h"
#include "files/user_directories.h"
#include "tests/support/file_faults.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::files {
namespace {

TEST(ProgramDirectoryTest, DirectoryPartCutsAfterTheLastSlash) {
  EXPECT_EQ(DirectoryPart("/usr/local/bin/vexel-dl"), "/usr/local/bin/");
  EXPECT_EQ(DirectoryPart("/usr/local/bin/"), "/usr/local/bin/");
  EXPECT_EQ(DirectoryPart("a/b"), "a/");
  // A "/" at position 0 alone does not count.
  EXPECT_EQ(DirectoryPart("/vexel-dl"), "");
  EXPECT_EQ(DirectoryPart("vexel-dl"), "");
  EXPECT_EQ(DirectoryPart(""), "");
}

TEST(ProgramDirectoryTest, HoldsThisTestProgram) {
  const std::string dir = GetProgramDirectory();
  ASSERT_TRUE(dir.ends_with("/"));
  EXPECT_TRUE(dir.starts_with("/"));
  EXPECT_TRUE(std::filesystem::exists(dir + "files_tests"));
  // That build directory can be written, so chapters go beside the program.
  const download::OutputDirectory chosen = ChooseProgramOutputDirectory();
  EXPECT_EQ(chosen.path, dir);
  EXPECT_FALSE(chosen.fallback);
}

TEST(ProgramOutputDirectoryTest, BinDirectoriesAreWhereInstalledProgramsLive) {
  EXPECT_TRUE(IsInstalledProgramDirectory("/usr/bin/"));
  EXPECT_TRUE(IsInstalledProgramDirectory("/usr/local/bin/"));
  EXPECT_TRUE(IsInstalledProgramDirectory("/home/u/.local/bin"));
  EXPECT_FALSE(IsInstalledProgramDirectory("/work/main/build/release/app/"));
  EXPECT_FALSE(IsInstalledProgramDirectory("/usr/sbin/"));
  EXPECT_FALSE(IsInstalledProgramDirectory("/srv/robin/"));
  EXPECT_FALSE(IsInstalledProgramDirectory("/usr/bin/x/"));
  EXPECT_FALSE(IsInstalledProgramDirectory(""));
}

TEST(ProgramOutputDirectoryTest, InstalledProgramUsesTheDownloadFolderElseBesideItself) {
  testing::TempDir root;
  // A writable bin directory, as ~/.local/bin/ is: still the download folder,
  // created when missing, and no fallback line.
  std::filesystem::create_directories(root / ".local/bin");
  const std::string bin = root / ".local/bin/";
  const std::string downloads = root / "下载/";
  download::OutputDirectory chosen = ChooseOutputDirectoryFor(bin, downloads, RealFileSystem());
  EXPECT_EQ(chosen.path, downloads);
  EXPECT_FALSE(chosen.fallback);
  EXPECT_TRUE(std::filesystem::is_directory(downloads));
  // Without a download folder (no home) the program's own folder is better
  // than nothing.
  chosen = ChooseOutputDirectoryFor(bin, "", RealFileSystem());
  EXPECT_EQ(chosen.path, bin);
  EXPECT_FALSE(chosen.fallback);

  // A build tree writes beside the program; one that cannot be written falls
  // back to the download folder and says so.
  const std::string build = root.slash();
  chosen = ChooseOutputDirectoryFor(build, downloads, RealFileSystem());
  EXPECT_EQ(chosen.path, build);
  EXPECT_FALSE(chosen.fallback);
  testing::FaultyFileSystem read_only;
  read_only.writable = false;
  chosen = ChooseOutputDirectoryFor(build, downloads, read_only);
  EXPECT_EQ(chosen.path, downloads);
  EXPECT_TRUE(chosen.fallback);
}

TEST(ProgramOutputDirectoryTest, ChosenFolderIsMadeWhenMissingElseTheDownloadFolder) {
  testing::TempDir root;
  const std::string downloads = root / "下载/";
  // Missing levels are made; the path gains its "/".
  const std::string chosen_folder = root / "漫画/新";
  download::OutputDirectory chosen =
      ChooseUserOutputDirectory(chosen_folder, downloads, RealFileSystem());
  EXPECT_EQ(chosen.path, chosen_folder + "/");
  EXPECT_FALSE(chosen.fallback);
  EXPECT_TRUE(std::filesystem::is_directory(chosen_folder));
  EXPECT_FALSE(std::filesystem::exists(downloads));

  // Beneath a file no folder can be made; a folder that cannot be written
  // is no better. Both go to the download folder and say so.
  testing::WriteWholeFile(root / "file", "x");
  chosen = ChooseUserOutputDirectory(root / "file/sub", downloads, RealFileSystem());
  EXPECT_EQ(chosen.path, downloads);
  EXPECT_TRUE(chosen.fallback);
  EXPECT_TRUE(std::filesystem::is_directory(downloads));
  testing::FaultyFileSystem read_only;
  read_only.writable = false;
  chosen = ChooseUserOutputDirectory(chosen_folder + "/", downloads, read_only);
  EXPECT_EQ(chosen.path, downloads);
  EXPECT_TRUE(chosen.fallback);
  // The log must name the chosen folder, not the program's directory.
  EXPECT_TRUE(chosen.chosen_folder_unwritable);
  EXPECT_FALSE(ChooseUserOutputDirectory(chosen_folder, downloads, RealFileSystem())
                   .chosen_folder_unwritable);
  EXPECT_FALSE(ChooseOutputDirectoryFor(root / "file/", downloads, RealFileSystem())
                   .chosen_folder_unwritable);
}

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ScopedEnv(ScopedEnv&&) = delete;
  ScopedEnv& operator=(ScopedEnv&&) = delete;
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    // Last set, first restored.
    std::for_each(saved_.rbegin(), saved_.rend(), [](const auto& saved) {
      if (saved.second) {
        ::setenv(saved.first.c_str(), saved.second->c_str(), 1);
      } else {
        ::unsetenv(saved.first.c_str());
      }
    });
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(UserDirectoriesTest, UserDirsFileNamesTheDownloadFolder) {
  EXPECT_EQ(ParseUserDirsDownload("XDG_DOWNLOAD_DIR=\"$HOME/下载\"\n", "/home/u"), "/home/u/下载");
  EXPECT_EQ(ParseUserDirsDownload("# comment\nXDG_DESKTOP_DIR=\"$HOME/D\"\n"
                                  "  XDG_DOWNLOAD_DIR=\"/data/dl\"\n",
                                  "/home/u"),
            "/data/dl");
  EXPECT_EQ(ParseUserDirsDownload("XDG_DOWNLOAD_DIR=\"$HOME/a\"\nXDG_DOWNLOAD_DIR=\"$HOME/b\"\n",
                                  "/home/u"),
            "/home/u/b");
  EXPECT_EQ(ParseUserDirsDownload("XDG_DOWNLOAD_DIR=\"relative\"\n", "/home/u"), "");
  EXPECT_EQ(ParseUserDirsDownload("XDG_DOWNLOAD_DIR=\"$HOMEX/a\"\n", "/home/u"), "");
  EXPECT_EQ(ParseUserDirsDownload("#XDG_DOWNLOAD_DIR=\"/x\"\n", "/home/u"), "");
  EXPECT_EQ(ParseUserDirsDownload("XDG_DOWNLOAD_DIR=\"$HOME\"\n", "/home/u"), "/home/u");
}

TEST(UserDirectoriesTest, DownloadFolderFromEnvironmentThenFileThenHome) {
  testing::TempDir home;
  ScopedEnv env;
  env.Set("HOME", home.path().c_str());
  env.Set("XDG_CONFIG_HOME", nullptr);
  env.Set("XDG_DOWNLOAD_DIR", nullptr);
  EXPECT_EQ(UserDownloadDirectory(), home.slash() + "Downloads/");

  std::filesystem::create_directory(home / ".config");
  testing::WriteWholeFile(home / ".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/下载\"\n");
  EXPECT_EQ(UserDownloadDirectory(), home.slash() + "下载/");

  testing::TempDir config;
  testing::WriteWholeFile(config / "user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"/srv/dl/\"\n");
  env.Set("XDG_CONFIG_HOME", config.path().c_str());
  EXPECT_EQ(UserDownloadDirectory(), "/srv/dl/");

  env.Set("XDG_DOWNLOAD_DIR", "relative/dir");
  EXPECT_EQ(UserDownloadDirectory(), "/srv/dl/");
  env.Set("XDG_DOWNLOAD_DIR", "/mnt/comics");
  EXPECT_EQ(UserDownloadDirectory(), "/mnt/comics/");
}

}  // namespace
}  // namespace vexel::files
