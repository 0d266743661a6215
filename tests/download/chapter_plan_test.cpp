#include "download/chapter_plan.h"

#include <gtest/gtest.h>

namespace vexel::download {
namespace {

TEST(ReadChapterLineTest, WorkedExampleGivesTitleAndCount) {
  const auto line = ReadChapterLine("您正在看：ABC > 第5话 >共12页");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->title, "ABC- 第5话");
  EXPECT_EQ(line->page_count, 12);
}

TEST(ReadChapterLineTest, TitleIsTrimmedOfSpacesOnlyThenSpaceGreaterBecomesDash) {
  EXPECT_EQ(ReadChapterLine("您正在看：   >共1页")->title, "");
  EXPECT_EQ(ReadChapterLine("您正在看： A >B >共1页")->title, "A-B");
  EXPECT_EQ(ReadChapterLine("您正在看：A>B >共1页")->title, "A>B");
  EXPECT_EQ(ReadChapterLine("您正在看：A  >>B >共1页")->title, "A ->B");
  EXPECT_EQ(ReadChapterLine("您正在看：\tA　 >共1页")->title, "\tA　");
}

TEST(ReadChapterLineTest, MarkerBytesAreSkippedWithoutBeingChecked) {
  // Fifteen other bytes are lost just the same.
  EXPECT_EQ(ReadChapterLine("123456789012345Title >共3")->title, "Title");
  // ">共" at positions 1 to 15 leaves an empty title.
  EXPECT_EQ(ReadChapterLine("x>共2页")->title, "");
  EXPECT_EQ(ReadChapterLine("您正在看：>共2页")->title, "");
  EXPECT_EQ(ReadChapterLine("您正在看：>共2页")->page_count, 2);
}

TEST(ReadChapterLineTest, CountFollowsScanfRules) {
  EXPECT_EQ(ReadChapterLine("您正在看：A >共 7页")->page_count, 7);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共\n+7")->page_count, 7);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共0页")->page_count, 0);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共-3页")->page_count, -3);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共007页")->page_count, 7);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共12页 >共99页")->page_count, 12);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共2147483647")->page_count, 2147483647);
  EXPECT_EQ(ReadChapterLine("您正在看：A >共-2147483648")->page_count, -2147483647 - 1);
}

TEST(ReadChapterLineTest, NoCountMarkerOrOneAtTheStartIsAnError) {
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC 共12页"));
  EXPECT_FALSE(ReadChapterLine(">共12页 您正在看："));
  EXPECT_FALSE(ReadChapterLine(""));
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共"));
}

// A count that is missing or does not fit 32 bits means nothing: an error.
TEST(ReadChapterLineTest, MissingOrOutOfRangeCountIsAnError) {
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共页"));
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共 页"));
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共-页"));
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共2147483648页"));
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共-2147483649页"));
  EXPECT_FALSE(ReadChapterLine("您正在看：ABC >共99999999999999999999999页"));
}

TEST(ImageAddressFromTagTest, TakesTheTextBetweenSrcQuoteAndQuoteGreater) {
  EXPECT_EQ(ImageAddressFromTag("<IMG class=ImgComic src=\"pics/ch5/1.jpg\">"), "pics/ch5/1.jpg");
  // An attribute after src runs into the address up to the first quote-greater.
  EXPECT_EQ(ImageAddressFromTag("<IMG class=ImgComic src=\"pics/1.jpg\" alt=\"x\">"),
            "pics/1.jpg\" alt=\"x");
  EXPECT_EQ(ImageAddressFromTag("<IMG src=\"a.jpg\"><IMG src=\"b.jpg\">"), "a.jpg");
}

// The rendering writes & as &amp; and " as &quot;; the browser fetches the
// decoded address, and so does the job.
TEST(ImageAddressFromTagTest, CharacterReferencesAreDecoded) {
  EXPECT_EQ(
      ImageAddressFromTag("<IMG class=ImgComic src=\"p/1.jpg?a=1&amp;b=&quot;2&#x27;&#39;\">"),
      "p/1.jpg?a=1&b=\"2''");
  EXPECT_EQ(DecodeCharacterReferences("&#20013;&#0;&#x110000;&amp"), "中\uFFFD\uFFFD&amp");
  EXPECT_EQ(DecodeCharacterReferences("a&copy;&#;&#x;b"), "a&copy;&#;&#x;b");
}

TEST(ImageAddressFromTagTest, MissingPiecesAreErrors) {
  EXPECT_FALSE(ImageAddressFromTag("<IMG class=ImgComic>"));
  EXPECT_FALSE(ImageAddressFromTag("src=\"pics/1.jpg\"> IMG class=ImgComic"));
  EXPECT_FALSE(ImageAddressFromTag("<IMG class=ImgComic src=\"pics/1.jpg\" >"));
  EXPECT_FALSE(ImageAddressFromTag("<IMG class=ImgComic src=\"\">"));
  EXPECT_FALSE(ImageAddressFromTag("<IMG class=ImgComic src='pics/1.jpg'>"));
}

TEST(SplitImageAddressTest, PrefixEndsAtLastSlashExtensionStartsAtFirstDotOfLastSegment) {
  auto split = SplitImageAddress("pics/ch5/1.jpg");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->url_prefix, "pics/ch5/");
  EXPECT_EQ(split->extension, ".jpg");

  split = SplitImageAddress("a/b.c/1.x.jpg");
  EXPECT_EQ(split->url_prefix, "a/b.c/");
  EXPECT_EQ(split->extension, ".x.jpg");

  split = SplitImageAddress("1.big.jpg");  // no "/": the prefix is the whole address
  EXPECT_EQ(split->url_prefix, "1.big.jpg");
  EXPECT_EQ(split->extension, ".big.jpg");

  split = SplitImageAddress("/1.png");  // position 0 is never examined
  EXPECT_EQ(split->url_prefix, "/1.png");
  EXPECT_EQ(split->extension, ".png");
}

TEST(SplitImageAddressTest, NoDotInLastSegmentIsAnError) {
  EXPECT_FALSE(SplitImageAddress("pics.d/1"));
  EXPECT_FALSE(SplitImageAddress("pics/1/"));
  EXPECT_FALSE(SplitImageAddress(".png"));
  EXPECT_FALSE(SplitImageAddress("x"));
}

TEST(SafeFolderNameTest, NothingCanNameAPathOutsideOneFolder) {
  EXPECT_EQ(SafeFolderName("ABC- 第5话"), "ABC- 第5话");
  EXPECT_EQ(SafeFolderName("../../etc"), "_._.._etc");
  EXPECT_EQ(SafeFolderName("/abs"), "_abs");
  EXPECT_EQ(SafeFolderName("."), "_");
  EXPECT_EQ(SafeFolderName(".."), "__");
  EXPECT_EQ(SafeFolderName("..."), "_..");
  EXPECT_EQ(SafeFolderName(".bashrc.d"), "_bashrc.d");  // never a hidden folder
  EXPECT_EQ(SafeFolderName("第5话..."), "第5话...");
  EXPECT_EQ(SafeFolderName(std::string("A\tB\nC\x01"
                                       "D\x7F"
                                       "E\0F",
                                       11)),
            "A_B_C_D_E_F");
  EXPECT_EQ(SafeFolderName(""), "");
}

TEST(PagePathsTest, NumbersAreNotPadded) {
  const ChapterPlan plan{"T", 12, "pics/", ".jpg", "/out/T/", "T"};
  EXPECT_EQ(PageReference(plan, 7), "pics/7.jpg");
  EXPECT_EQ(PageReference(plan, 10), "pics/10.jpg");
  EXPECT_EQ(PageFilePath(plan, 10), "/out/T/10.jpg");
}

// A query string or fragment stays in the address but never reaches a file
// name.
TEST(PagePathsTest, FileNamesStopBeforeAQueryOrFragment) {
  const ChapterPlan plan{"T", 2, "pics/", ".jpg?t=1&s=a.b#top", "/out/T/", "T"};
  EXPECT_EQ(PageReference(plan, 2), "pics/2.jpg?t=1&s=a.b#top");
  EXPECT_EQ(PageFilePath(plan, 2), "/out/T/2.jpg");
  EXPECT_EQ(FileExtension(".png#x"), ".png");
}

}  // namespace
}  // namespace vexel::download
