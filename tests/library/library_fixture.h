// A library in a temporary folder, and chapters whose output the tests make
// and break.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "download/chapter_records.h"
#include "files/real_file_system.h"
#include "library/library.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::library {

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    library_ = OpenAt(path_);
    ASSERT_NE(library_, nullptr);
  }

  static std::unique_ptr<Library> OpenAt(const std::string& path) {
    OpenedLibrary opened = Library::Open(path, files::RealFileSystem());
    EXPECT_EQ(opened.error, "");
    return std::move(opened.library);
  }

  // A chapter folder named `name` with `pages` page files, recorded as one
  // of `comic` (empty: given directly).
  download::FinishedChapter FolderChapter(const std::string& address, const std::string& name,
                                          int pages = 2, const std::string& comic = "") {
    download::FinishedChapter chapter;
    chapter.address = address;
    chapter.title = name;
    chapter.comic = comic;
    chapter.folder = dir_ / name;
    std::filesystem::create_directories(chapter.folder);
    for (int page = 1; page <= pages; ++page) {
      const std::string file = std::to_string(page) + ".png";
      testing::WriteWholeFile(chapter.folder + "/" + file, "page " + file);
      chapter.page_files.push_back(file);
    }
    return chapter;
  }

  download::FinishedChapter ArchiveChapter(const std::string& address, const std::string& name) {
    download::FinishedChapter chapter;
    chapter.address = address;
    chapter.title = name;
    chapter.archive = dir_ / (name + ".cbz");
    testing::WriteWholeFile(chapter.archive, "archive of " + name);
    chapter.archive_size = static_cast<std::int64_t>(std::filesystem::file_size(chapter.archive));
    return chapter;
  }

  testing::TempDir dir_;
  std::string path_ = dir_ / "library.sqlite3";
  std::unique_ptr<Library> library_;
};

inline std::vector<std::string> Addresses(const std::vector<download::ChapterLink>& links) {
  std::vector<std::string> addresses;
  for (const download::ChapterLink& link : links) {
    addresses.push_back(link.address);
  }
  return addresses;
}

}  // namespace vexel::library
