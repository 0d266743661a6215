// What the library records and counts: output present or gone, followed
// comics and their lists, and the moved rule.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/library/library_fixture.h"
#include "tests/support/file_faults.h"

namespace vexel::library {
namespace {

using Links = std::vector<download::ChapterLink>;

const std::string kComic = "http://127.0.0.1/comic/1/";

std::string Chapter(int n) { return "http://127.0.0.1/comic/1/" + std::to_string(n) + ".html"; }

TEST_F(LibraryTest, ARecordCountsOnlyWhileItsOutputIsThere) {
  const download::FinishedChapter folder = FolderChapter(Chapter(1), "第1话", 3);
  const download::FinishedChapter archive = ArchiveChapter(Chapter(2), "第2话");
  EXPECT_FALSE(library_->IsDownloaded(Chapter(1)));
  ASSERT_TRUE(library_->Record(folder));
  ASSERT_TRUE(library_->Record(archive));
  EXPECT_TRUE(library_->IsDownloaded(Chapter(1)));
  EXPECT_TRUE(library_->IsDownloaded(Chapter(1) + "#top"));
  EXPECT_TRUE(library_->IsDownloaded(Chapter(2)));
  EXPECT_FALSE(library_->IsDownloaded(Chapter(3)));
  // Another chapter of the same title may not take either over.
  const std::string archive_folder = archive.archive.substr(0, archive.archive.size() - 4);
  EXPECT_TRUE(library_->HeldByAnother(folder.folder, Chapter(5)));
  EXPECT_TRUE(library_->HeldByAnother(archive_folder, Chapter(5)));
  EXPECT_FALSE(library_->HeldByAnother(folder.folder, Chapter(1)));

  // A page emptied, then deleted; the folder replaced by a file. Emptied in
  // place, a page leaves its folder's stamp as it was; once anything in the
  // folder changes, every page is looked at again.
  testing::WriteWholeFile(folder.folder + "/2.png", "");
  testing::WriteWholeFile(folder.folder + "/cover.txt", "added by the user");
  EXPECT_FALSE(library_->IsDownloaded(Chapter(1)));
  std::filesystem::remove(folder.folder + "/2.png");
  EXPECT_FALSE(library_->IsDownloaded(Chapter(1)));
  testing::WriteWholeFile(folder.folder + "/2.png", "back");
  EXPECT_TRUE(library_->IsDownloaded(Chapter(1)));
  std::filesystem::remove_all(folder.folder);
  testing::WriteWholeFile(folder.folder, "not a folder");
  EXPECT_FALSE(library_->IsDownloaded(Chapter(1)));
  EXPECT_FALSE(library_->HeldByAnother(folder.folder, Chapter(5)));

  // An archive of another size, then gone.
  testing::WriteWholeFile(archive.archive, "a different archive");
  EXPECT_FALSE(library_->IsDownloaded(Chapter(2)));
  std::filesystem::remove(archive.archive);
  EXPECT_FALSE(library_->IsDownloaded(Chapter(2)));

  // Recorded again, it counts again: the newest record wins.
  ASSERT_TRUE(library_->Record(ArchiveChapter(Chapter(2), "第2话")));
  EXPECT_TRUE(library_->IsDownloaded(Chapter(2)));
}

// An unchanged folder is known whole by one look at the folder itself; a
// folder whose stamp could not settle is looked at page by page, always.
TEST_F(LibraryTest, AnUnchangedFolderCostsOneLookAndAChangedOneEveryPage) {
  testing::FaultyFileSystem files;
  OpenedLibrary opened = Library::Open(dir_ / "counted.sqlite3", files);
  ASSERT_NE(opened.library, nullptr) << opened.error;
  Library& library = *opened.library;
  const download::FinishedChapter chapter = FolderChapter(Chapter(1), "第1话", 20);
  ASSERT_TRUE(library.Record(chapter));
  files.looks = 0;
  EXPECT_TRUE(library.IsDownloaded(Chapter(1)));
  EXPECT_EQ(files.looks, 1U);
  std::filesystem::remove(chapter.folder + "/20.png");
  files.looks = 0;
  EXPECT_FALSE(library.IsDownloaded(Chapter(1)));
  EXPECT_EQ(files.looks, 21U);

  testing::WriteWholeFile(chapter.folder + "/20.png", "page");
  files.settled = false;
  ASSERT_TRUE(library.Record(FolderChapter(Chapter(1), "第1话", 20)));
  files.settled.reset();
  files.looks = 0;
  EXPECT_TRUE(library.IsDownloaded(Chapter(1)));
  EXPECT_EQ(files.looks, 21U);
}

TEST_F(LibraryTest, FollowedComicsCountTheirChaptersAndKeepTheirRecordsWhenRemoved) {
  const Links listed{{Chapter(1), "第1话"}, {Chapter(2), "第2话"}, {Chapter(3), "第3话"}};
  const StoreResult followed =
      library_->Follow({kComic, "星际旅人", "/comics", true, listed, false});
  ASSERT_TRUE(followed) << followed.error;
  ASSERT_TRUE(library_->Follow({"http://127.0.0.1/comic/2/", "B", "/b", true, {}, false}));
  ASSERT_TRUE(library_->Record(FolderChapter(Chapter(2), "第2话", 2, kComic)));

  ComicList list = library_->Comics();
  ASSERT_EQ(list.error, "");
  ASSERT_EQ(list.comics.size(), 2U);
  const ComicSummary& first = list.comics[0];
  EXPECT_EQ(first.address, kComic);
  EXPECT_EQ(first.title, "星际旅人");
  EXPECT_EQ(first.folder, "/comics");
  EXPECT_EQ(std::tie(first.total, first.downloaded, first.pending), std::make_tuple(3U, 1U, 2U));
  EXPECT_GT(first.last_check, 0);
  EXPECT_EQ(list.comics[1].address, "http://127.0.0.1/comic/2/");
  EXPECT_EQ(Addresses(library_->PendingChapters(kComic)),
            (std::vector<std::string>{Chapter(1), Chapter(3)}));

  // Following again refreshes the list and the title; the folder changes
  // only when one is given.
  const Links longer{{Chapter(1), "第1话"}, {Chapter(3), "第3话"}, {Chapter(4), "第4话"}};
  ASSERT_TRUE(library_->Follow({kComic, "星际旅人 新", "/elsewhere", false, longer, false}));
  std::optional<ComicSummary> again = library_->Comic(kComic);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->title, "星际旅人 新");
  EXPECT_EQ(again->folder, "/comics");
  EXPECT_EQ(std::tie(again->total, again->downloaded, again->pending), std::make_tuple(3U, 0U, 3U));
  const std::vector<ComicChapter> chapters = library_->Chapters(kComic);
  ASSERT_EQ(chapters.size(), 3U);
  EXPECT_EQ(chapters[2].address, Chapter(4));
  EXPECT_TRUE(chapters[2].new_at_last_check);
  EXPECT_FALSE(chapters[0].new_at_last_check);

  ASSERT_TRUE(library_->SetLastCheck(kComic, "HTTP 503"));
  EXPECT_EQ(library_->Comic(kComic)->last_error, "HTTP 503");

  const StoreResult removed = library_->Unfollow(kComic);
  EXPECT_TRUE(removed.ok && removed.changed);
  const StoreResult unknown = library_->Unfollow(kComic);
  EXPECT_TRUE(unknown.ok && !unknown.changed);
  EXPECT_FALSE(library_->Comic(kComic));
  EXPECT_EQ(library_->Comics().comics.size(), 1U);
  EXPECT_TRUE(library_->IsDownloaded(Chapter(2)));
}

TEST_F(LibraryTest, NewOnlySetsTheListedChaptersAsideAndRecordsJoinTheList) {
  const Links listed{{Chapter(1), "第1话"}, {Chapter(2), "第2话"}};
  ASSERT_TRUE(library_->Follow({kComic, "T", "/c", true, listed, true}));
  EXPECT_TRUE(library_->PendingChapters(kComic).empty());
  EXPECT_EQ(library_->Comic(kComic)->pending, 0U);

  const Links more{{Chapter(1), "第1话"}, {Chapter(2), "第2话"}, {Chapter(3), "第3话"}};
  const StoreResult refreshed = library_->RefreshChapters(kComic, more);
  EXPECT_TRUE(refreshed.ok && refreshed.changed);
  EXPECT_EQ(Addresses(library_->PendingChapters(kComic)), std::vector<std::string>{Chapter(3)});
  EXPECT_FALSE(library_->RefreshChapters("http://127.0.0.1/unknown/", more).changed);

  // A chapter of the comic recorded before the list showed it joins it.
  ASSERT_TRUE(library_->Record(FolderChapter(Chapter(9), "第9话", 1, kComic)));
  const ComicSummary summary = *library_->Comic(kComic);
  EXPECT_EQ(std::tie(summary.total, summary.downloaded, summary.pending),
            std::make_tuple(4U, 1U, 1U));

  // update's check: the list refreshed and the check noted as one, then what
  // is pending, the chapter set aside left out.
  ASSERT_TRUE(library_->SetLastCheck(kComic, "HTTP 503"));
  const Links newest{{Chapter(1), "第1话"}, {Chapter(3), "第3话"}, {Chapter(4), "第4话"}};
  const Library::Checked checked = library_->Check(kComic, newest);
  EXPECT_TRUE(checked.store.ok && checked.store.changed) << checked.store.error;
  EXPECT_EQ(Addresses(checked.pending), (std::vector<std::string>{Chapter(3), Chapter(4)}));
  EXPECT_EQ(library_->Comic(kComic)->last_error, "");
  EXPECT_EQ(library_->Comic(kComic)->total, 3U);
  EXPECT_FALSE(library_->Check("http://127.0.0.1/unknown/", newest).store.changed);
}

TEST_F(LibraryTest, AMovedChapterCountsAsDownloadedUnderItsNewAddress) {
  const Links listed{{Chapter(1), "第1话"}, {Chapter(2), "第2话"}, {Chapter(3), "第3话"}};
  ASSERT_TRUE(library_->Follow({kComic, "T", "/c", true, listed, false}));
  // The job titles a chapter by its chapter line, not by its list title.
  ASSERT_TRUE(library_->Record(FolderChapter(Chapter(1), "星际旅人- 第1话", 2, kComic)));
  ASSERT_TRUE(library_->Record(FolderChapter(Chapter(2), "星际旅人- 第2话", 2, kComic)));
  download::FinishedChapter third = FolderChapter(Chapter(3), "星际旅人- 第3话", 2, kComic);
  ASSERT_TRUE(library_->Record(third));
  std::filesystem::remove_all(third.folder);

  // The site renames every address. 第1话 moved; 第2话 is listed under both
  // addresses, so the new one is another chapter; 第3话's output is gone.
  const std::string moved = "http://127.0.0.1/comic/1/a1.html";
  const Links renamed{{moved, "第1话"},
                      {Chapter(2), "第2话"},
                      {"http://127.0.0.1/comic/1/a2.html", "第2话"},
                      {"http://127.0.0.1/comic/1/a3.html", "第3话"}};
  ASSERT_TRUE(library_->RefreshChapters(kComic, renamed));
  EXPECT_TRUE(library_->IsDownloaded(moved));
  EXPECT_EQ(Addresses(library_->PendingChapters(kComic)),
            (std::vector<std::string>{"http://127.0.0.1/comic/1/a2.html",
                                      "http://127.0.0.1/comic/1/a3.html"}));
  EXPECT_EQ(library_->Comic(kComic)->downloaded, 2U);
}

}  // namespace
}  // namespace vexel::library
