// The library's figures: the store's work for one comic of 1,000 chapters
// (one check as update makes it: its list refreshed and the check noted in
// one transaction, then what is pending asked, with every chapter recorded
// and its output looked at on disk), and `vexel-dl library`'s read of 500
// followed comics.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "files/real_file_system.h"
#include "library/library.h"
#include "tests/support/file_temp_dir.h"

namespace {

using vexel::download::ChapterLink;
using vexel::download::FinishedChapter;
using vexel::library::Library;

// The median of `runs` timings of `work`, in milliseconds.
double MedianMs(int runs, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

std::vector<ChapterLink> Chapters(const std::string& comic, int count) {
  std::vector<ChapterLink> chapters;
  for (int i = 1; i <= count; ++i) {
    chapters.push_back({comic + std::to_string(i) + ".html", "第" + std::to_string(i) + "话"});
  }
  return chapters;
}

}  // namespace

int main() {
  vexel::testing::TempDir dir;
  const std::string archive = dir / "chapter.cbz";
  vexel::testing::WriteWholeFile(archive, "archive bytes");
  auto opened = Library::Open(dir / "library.sqlite3", vexel::files::RealFileSystem());
  if (!opened.library) {
    std::fprintf(stderr, "%s\n", opened.error.c_str());
    return 1;
  }
  Library& library = *opened.library;
  const auto record_all = [&](const std::vector<ChapterLink>& chapters, const std::string& comic,
                              std::size_t every) {
    for (std::size_t i = 0; i < chapters.size(); i += every) {
      FinishedChapter chapter;
      chapter.address = chapters[i].address;
      chapter.title = chapters[i].title;
      chapter.comic = comic;
      chapter.archive = archive;
      chapter.archive_size = 13;
      library.Record(chapter);
    }
  };

  const std::string big = "http://127.0.0.1/comic/big/";
  const std::vector<ChapterLink> thousand = Chapters(big, 1000);
  library.Follow({big, "big", "/comics", true, thousand, false});
  const double fresh = MedianMs(21, [&] { library.Check(big, thousand); });
  record_all(thousand, big, 1);
  const double recorded = MedianMs(21, [&] { library.Check(big, thousand); });
  library.Unfollow(big);

  // The same comic kept as folders of 20 page files: one look at each
  // unchanged folder.
  const std::string folders = "http://127.0.0.1/comic/folders/";
  const std::vector<ChapterLink> thousand_folders = Chapters(folders, 1000);
  library.Follow({folders, "folders", "/comics", true, thousand_folders, false});
  for (std::size_t i = 0; i < thousand_folders.size(); ++i) {
    FinishedChapter chapter;
    chapter.address = thousand_folders[i].address;
    chapter.comic = folders;
    chapter.folder = dir / std::to_string(i);
    std::filesystem::create_directory(chapter.folder);
    for (int page = 1; page <= 20; ++page) {
      chapter.page_files.push_back(std::to_string(page) + ".png");
      vexel::testing::WriteWholeFile(chapter.folder + "/" + chapter.page_files.back(), "png");
    }
    library.Record(chapter);
  }
  const double folder_chapters = MedianMs(11, [&] { library.Check(folders, thousand_folders); });
  library.Unfollow(folders);
  // The share of that which is the file system's: one lstat through the
  // seam per recorded chapter, of its archive or of its unchanged folder.
  vexel::download::FileSystem& files = vexel::files::RealFileSystem();
  const double checks = MedianMs(21, [&] {
    for (int i = 0; i < 1000; ++i) {
      files.StatOf(archive);
    }
  });
  const std::string folder = dir / "0";
  const double folder_checks = MedianMs(21, [&] {
    for (int i = 0; i < 1000; ++i) {
      files.StatOf(folder);
    }
  });

  for (int c = 0; c < 500; ++c) {
    const std::string comic = "http://127.0.0.1/comic/" + std::to_string(c) + "/";
    const std::vector<ChapterLink> chapters = Chapters(comic, 20);
    library.Follow({comic, "comic " + std::to_string(c), "/comics", true, chapters, false});
    record_all(chapters, comic, 2);
  }
  std::size_t listed = 0;
  const double comics = MedianMs(11, [&] { listed = library.Comics().comics.size(); });

  std::printf(
      "store work, one comic of 1000 chapters (refresh, last check, pending), none recorded: "
      "%.2f ms\n",
      fresh);
  std::printf(
      "store work, one comic of 1000 chapters, all recorded (1000 archives checked): "
      "%.2f ms\n",
      recorded);
  std::printf("  of which the 1000 archive lstats alone: %.2f ms\n", checks);
  std::printf(
      "store work, one comic of 1000 chapters, all recorded as folders of 20 pages: "
      "%.2f ms\n",
      folder_chapters);
  std::printf("  of which the 1000 folder lstats alone: %.2f ms\n", folder_checks);
  std::printf("library listing, %zu comics of 20 chapters (10 recorded each): %.2f ms\n", listed,
              comics);
  return 0;
}
