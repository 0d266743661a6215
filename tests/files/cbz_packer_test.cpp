#include "files/cbz_packer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zip.h>

#include <csignal>
#include <filesystem>

#include "download/comic_info.h"
#include "files/real_file_system.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::files {
namespace {

using testing::ListTree;
using testing::TempDir;
using testing::WriteWholeFile;

// The entries of an archive, in order, with their bytes and methods.
struct Entry {
  std::string name;
  std::string bytes;
  zip_uint16_t method = 0;
};
std::vector<Entry> ReadArchive(const std::string& path) {
  std::vector<Entry> entries;
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (archive == nullptr) {
    return entries;
  }
  for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
    zip_stat_t stat;
    zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
    Entry entry{stat.name, std::string(stat.size, '\0'), stat.comp_method};
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
    zip_fread(file, entry.bytes.data(), entry.bytes.size());
    zip_fclose(file);
    entries.push_back(std::move(entry));
  }
  zip_discard(archive);
  return entries;
}

class CbzPackerTest : public ::testing::Test {
 protected:
  // A chapter of `pages` pages, page n holding `size` bytes of n.
  download::PackRequest Chapter(int pages, std::size_t size = 1000) {
    std::filesystem::create_directory(out_ / "ABC- 第5话");
    download::PackRequest request;
    request.folder = out_ / "ABC- 第5话/";
    request.archive = out_ / "ABC- 第5话.cbz";
    request.comic_info = download::ComicInfoXml(
        download::ComicInfoFor("ABC > 第05话", pages, "http://127.0.0.1/c/5.html"));
    for (int page = 1; page <= pages; ++page) {
      const std::string file = request.folder + std::to_string(page) + ".png";
      WriteWholeFile(file, std::string(size, static_cast<char>(page)));
      request.pages.push_back(
          {file, (page < 10 && pages >= 10 ? "0" : "") + std::to_string(page) + ".png"});
    }
    return request;
  }

  TempDir out_;
  CbzPacker packer_{RealFileSystem()};
};

TEST_F(CbzPackerTest, ArchiveHoldsComicInfoThenThePagesStoredAndTheFolderGoes) {
  const download::PackRequest request = Chapter(12);
  ASSERT_TRUE(packer_.Pack(request).ok);
  EXPECT_EQ(ListTree(out_.path()), std::set<std::string>{"ABC- 第5话.cbz"});
  const std::vector<Entry> entries = ReadArchive(request.archive);
  ASSERT_EQ(entries.size(), 13U);
  EXPECT_EQ(entries[0].name, "ComicInfo.xml");
  EXPECT_EQ(entries[0].bytes, request.comic_info);
  for (int page = 1; page <= 12; ++page) {
    const Entry& entry = entries[static_cast<std::size_t>(page)];
    EXPECT_EQ(entry.name, (page < 10 ? "0" : "") + std::to_string(page) + ".png");
    EXPECT_EQ(entry.bytes, std::string(1000, static_cast<char>(page)));
    EXPECT_EQ(entry.method, ZIP_CM_STORE);
  }
}

TEST_F(CbzPackerTest, FilesOfTheUsersKeepTheFolder) {
  const download::PackRequest request = Chapter(2);
  WriteWholeFile(request.folder + "notes.txt", "mine");
  ASSERT_TRUE(packer_.Pack(request).ok);
  EXPECT_EQ(ListTree(out_.path()),
            (std::set<std::string>{"ABC- 第5话.cbz", "ABC- 第5话/", "ABC- 第5话/notes.txt"}));
}

// A disk that fills while the archive is written: the pages stay, and
// neither an archive nor a part of one is left.
TEST_F(CbzPackerTest, AFullDiskLeavesTheFolderAndNoArchive) {
  const download::PackRequest request = Chapter(5, 100000);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 200000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const download::PackResult result = packer_.Pack(request);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.system_error, EFBIG) << result.reason;
  std::set<std::string> expected{"ABC- 第5话/"};
  for (int page = 1; page <= 5; ++page) {
    expected.insert("ABC- 第5话/" + std::to_string(page) + ".png");
  }
  EXPECT_EQ(ListTree(out_.path()), expected);
}

TEST(ComicInfoTest, SeriesTitleAndNumberFromTheShownTitle) {
  const download::ComicInfo info =
      download::ComicInfoFor(" 星际 <旅人> & 友 > 第05话 重逢 > 下 ", 12, "http://x/?a=1&b=2");
  EXPECT_EQ(info.series, "星际 <旅人> & 友");
  EXPECT_EQ(info.title, "第05话 重逢 > 下");
  EXPECT_EQ(info.number, "5");
  EXPECT_EQ(download::ComicInfoXml(info),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
            "<ComicInfo xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
            "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
            "  <Title>第05话 重逢 &gt; 下</Title>\n"
            "  <Series>星际 &lt;旅人&gt; &amp; 友</Series>\n"
            "  <Number>5</Number>\n"
            "  <Web>http://x/?a=1&amp;b=2</Web>\n"
            "  <PageCount>12</PageCount>\n"
            "  <LanguageISO>zh</LanguageISO>\n"
            "</ComicInfo>\n");
  const download::ComicInfo plain = download::ComicInfoFor("番外", 3, "");
  EXPECT_EQ(plain.series, "");
  EXPECT_EQ(plain.title, "番外");
  EXPECT_EQ(plain.number, "");
}

// Only an archive of the chapter's own, whole, counts as the chapter done.
TEST_F(CbzPackerTest, OnlyAWholeArchiveWithEveryPageCounts) {
  const download::PackRequest request = Chapter(3);
  ASSERT_TRUE(packer_.Pack(request).ok);
  EXPECT_TRUE(packer_.IsWholeArchive(request.archive, 3));
  EXPECT_FALSE(packer_.IsWholeArchive(request.archive, 2));
  EXPECT_FALSE(packer_.IsWholeArchive(request.archive, 4));
  std::filesystem::create_symlink(request.archive, out_ / "link.cbz");
  EXPECT_FALSE(packer_.IsWholeArchive(out_ / "link.cbz", 3));
  WriteWholeFile(out_ / "text.cbz", "not an archive");
  EXPECT_FALSE(packer_.IsWholeArchive(out_ / "text.cbz", 0));
  EXPECT_FALSE(packer_.IsWholeArchive(out_ / "missing.cbz", 0));
  // Cut short: the directory at the end is gone.
  const std::string bytes = testing::ReadWholeFile(request.archive);
  WriteWholeFile(out_ / "cut.cbz", bytes.substr(0, bytes.size() - 30));
  EXPECT_FALSE(packer_.IsWholeArchive(out_ / "cut.cbz", 3));
  // A zip with as many entries but no ComicInfo.xml.
  int code = 0;
  zip_t* other = zip_open((out_ / "other.cbz").c_str(), ZIP_CREATE, &code);
  ASSERT_NE(other, nullptr);
  for (const char* name : {"a", "b", "c", "d"}) {
    zip_file_add(other, name, zip_source_buffer(other, "x", 1, 0), 0);
  }
  ASSERT_EQ(zip_close(other), 0);
  EXPECT_FALSE(packer_.IsWholeArchive(out_ / "other.cbz", 3));
}

}  // namespace
}  // namespace vexel::files
