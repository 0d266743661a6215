// What a job finds of an earlier run in the output folder (page files, an
// archive, a folder left beside an archive) is trusted only when it is whole.
#include <gtest/gtest.h>

#include <filesystem>

#include "download/download_job.h"
#include "files/cbz_packer.h"
#include "files/real_file_system.h"
#include "net/resolve_address.h"
#include "tests/download/image_samples.h"
#include "tests/download/job_fakes.h"
#include "tests/query/fake_document.h"
#include "tests/support/file_temp_dir.h"

namespace vexel::download {
namespace {

using testing::FakeImage;
using testing::ListTree;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

constexpr const char* kBase = "http://127.0.0.1:1/comic/p/";

class EarlierFilesTest : public ::testing::Test {
 protected:
  EarlierFilesTest() {
    host.document = &doc;
    host.page_address = "http://127.0.0.1:1/comic/5.html";
    host.output = {out.slash(), false};
    options.skip_existing = true;
  }

  void Chapter(int pages) {
    doc.Add("stauts_left", "您正在看：ABC >共" + std::to_string(pages) + "页");
    doc.Add()
        .Set(ElementProperty::ClassName, "ImgComic")
        .Set(ElementProperty::OuterHTML, "<IMG class=ImgComic src=\"p/1.png\">");
    std::filesystem::create_directory(out / "ABC");
  }
  void Run() {
    fetcher.calls.clear();
    host.log.clear();
    outcome = DownloadJob(host,
                          {fetcher, files::RealFileSystem(), net::CurlAddressResolver(),
                           options.pack_cbz ? &packer : nullptr},
                          options);
  }
  std::string Page(int page) const { return out / ("ABC/" + std::to_string(page) + ".png"); }
  std::vector<std::string> Fetched() const {
    std::vector<std::string> targets;
    for (const auto& call : fetcher.calls) {
      targets.push_back(call.target);
    }
    return targets;
  }

  testing::TempDir out;
  testing::TempDir elsewhere;
  testing::FakeDocument doc;
  testing::RecordingHost host;
  testing::ScriptedFetcher fetcher;
  files::CbzPacker packer{files::RealFileSystem()};
  JobOptions options;
  JobOutcome outcome;
};

// An empty file, an error page, a cut PNG and a link (even to a whole image
// elsewhere) are fetched again and replaced; whole images of each format
// stay. Only what was fetched goes into the archive.
TEST_F(EarlierFilesTest, OnlyWholeImagesAreKeptAndPacked) {
  Chapter(8);
  const std::string png = testing::SamplePng();
  WriteWholeFile(Page(1), "");
  WriteWholeFile(Page(2), testing::SampleHtmlPage());
  WriteWholeFile(Page(3), png.substr(0, png.size() / 2));
  WriteWholeFile(elsewhere / "private.png", png);
  std::filesystem::create_symlink(elsewhere / "private.png", Page(4));
  WriteWholeFile(Page(5), png);
  WriteWholeFile(Page(6), testing::SampleJpeg());
  WriteWholeFile(Page(7), testing::SampleGif());
  WriteWholeFile(Page(8), testing::SampleWebp());
  options.pack_cbz = true;
  Run();
  EXPECT_TRUE(outcome.packed) << host.log;
  EXPECT_EQ(Fetched(), (std::vector<std::string>{Page(1), Page(2), Page(3), Page(4)}));
  EXPECT_EQ(outcome.present, 4);
  for (int page = 5; page <= 8; ++page) {
    EXPECT_NE(host.log.find(std::to_string(page) + ".png]...已存在\r\n"), std::string::npos);
  }
  EXPECT_EQ(ReadWholeFile(elsewhere / "private.png"), png);
  EXPECT_EQ(ListTree(elsewhere.path()), std::set<std::string>{"private.png"});
  EXPECT_EQ(ListTree(out.path()), std::set<std::string>{"ABC.cbz"});

  // Without packing, the replaced link is a file of its own.
  options.pack_cbz = false;
  std::filesystem::create_directory(out / "ABC");
  std::filesystem::create_symlink(elsewhere / "private.png", Page(1));
  Run();
  EXPECT_FALSE(std::filesystem::is_symlink(Page(1)));
  EXPECT_EQ(ReadWholeFile(Page(1)), FakeImage(std::string(kBase) + "1.png"));
  EXPECT_EQ(ReadWholeFile(elsewhere / "private.png"), png);
}

// A page stored whole by the fetcher's measure but not an image's: the
// chapter stays a folder and the job says why.
TEST_F(EarlierFilesTest, APageNotWholeAtPackingLeavesTheFolder) {
  Chapter(2);
  options.pack_cbz = true;
  fetcher.answer = [](int call, const testing::ScriptedFetcher::Call& c) {
    const std::string png = testing::SamplePng();
    return testing::StoreBody(c.target, call == 2 ? png.substr(0, png.size() - 4) : png);
  };
  Run();
  EXPECT_EQ(outcome.end, JobEnd::Error);
  EXPECT_TRUE(outcome.pack_failed);
  EXPECT_TRUE(host.log.ends_with("CBZ文件[" + (out / "ABC.cbz") +
                                 "]...失败（第2张图片不完整）\r\n下载出错\r\n"))
      << host.log;
  EXPECT_EQ(ListTree(out.path()), (std::set<std::string>{"ABC/", "ABC/1.png", "ABC/2.png"}));
}

// An archive counts as the chapter done only when whole; anything else at
// its name (a text, a link) is set aside under a free name, never lost.
TEST_F(EarlierFilesTest, ArchivesThatAreNotWholeAreSetAsideAndPackedAgain) {
  Chapter(2);
  options.pack_cbz = true;
  const std::string archive = out / "ABC.cbz";
  WriteWholeFile(archive, "not an archive");
  Run();
  EXPECT_TRUE(outcome.packed);
  EXPECT_EQ(fetcher.calls.size(), 2U);
  EXPECT_EQ(ReadWholeFile(archive + ".broken"), "not an archive");
  EXPECT_NE(
      host.log.find("CBZ文件[" + archive + "]...不完整，已改名为：" + archive + ".broken\r\n"),
      std::string::npos)
      << host.log;

  // Now whole: the chapter is done without a fetch.
  Run();
  EXPECT_TRUE(outcome.complete());
  EXPECT_TRUE(fetcher.calls.empty());
  EXPECT_EQ(outcome.present, 2);

  // A link at the archive's name, even to a whole archive, is not the
  // chapter's own: it is moved aside (its target untouched) beside the
  // earlier .broken.
  std::filesystem::rename(archive, elsewhere / "other.cbz");
  std::filesystem::create_symlink(elsewhere / "other.cbz", archive);
  Run();
  EXPECT_TRUE(outcome.packed);
  EXPECT_TRUE(std::filesystem::is_symlink(archive + ".broken.2"));
  EXPECT_EQ(ReadWholeFile(archive + ".broken"), "not an archive");
  EXPECT_TRUE(packer.IsWholeArchive(elsewhere / "other.cbz", 2));
  EXPECT_FALSE(std::filesystem::is_symlink(archive));
  EXPECT_TRUE(packer.IsWholeArchive(archive, 2));
}

// A folder left beside a whole archive loses the page files the job makes,
// then goes when empty; nothing else in it is touched.
TEST_F(EarlierFilesTest, AFolderLeftBesideAWholeArchiveIsRemoved) {
  Chapter(3);
  options.pack_cbz = true;
  Run();
  ASSERT_TRUE(outcome.packed);
  std::filesystem::create_directory(out / "ABC");
  WriteWholeFile(Page(1), testing::SamplePng());
  WriteWholeFile(Page(2), "half");
  WriteWholeFile(out / "ABC/notes.txt", "mine");
  WriteWholeFile(elsewhere / "3.png", "not mine");
  std::filesystem::create_symlink(elsewhere / "3.png", Page(3));
  Run();
  EXPECT_TRUE(outcome.complete());
  EXPECT_TRUE(fetcher.calls.empty());
  // The link at a page name is not a page the job made: it stays.
  EXPECT_FALSE(std::filesystem::exists(Page(1)));
  EXPECT_FALSE(std::filesystem::exists(Page(2)));
  EXPECT_TRUE(std::filesystem::is_symlink(Page(3)));
  EXPECT_EQ(ReadWholeFile(out / "ABC/notes.txt"), "mine");
  EXPECT_EQ(ReadWholeFile(elsewhere / "3.png"), "not mine");

  std::filesystem::remove(out / "ABC/notes.txt");
  std::filesystem::remove(Page(3));
  WriteWholeFile(Page(3), testing::SamplePng());
  Run();
  EXPECT_EQ(ListTree(out.path()), std::set<std::string>{"ABC.cbz"});
}

}  // namespace
}  // namespace vexel::download
