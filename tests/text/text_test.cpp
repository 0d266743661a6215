#include "text/text.h"

#include <gtest/gtest.h>

#include <limits>

namespace vexel::text {
namespace {

TEST(TrimSpaces, RemovesOnlyTheSpaceCharacter) {
  EXPECT_EQ(TrimSpaces("  a b  "), "a b");
  EXPECT_EQ(TrimSpaces("\ta\n"), "\ta\n");
  EXPECT_EQ(TrimSpaces(" \t "), "\t");
  EXPECT_EQ(TrimSpaces("    "), "");
  EXPECT_EQ(TrimSpaces("\xE3\x80\x80x\xE3\x80\x80"),
            "\xE3\x80\x80x\xE3\x80\x80");  // full-width spaces stay
}

TEST(ClampedSubstr, ClampsInsteadOfFailing) {
  EXPECT_EQ(ClampedSubstr("abcdef", 2, 3), "cde");
  EXPECT_EQ(ClampedSubstr("abcdef", 4, 100), "ef");
  EXPECT_EQ(ClampedSubstr("abcdef", 6, 1), "");
  EXPECT_EQ(ClampedSubstr("abcdef", 99, 1), "");
  EXPECT_EQ(ClampedSubstr("abcdef", 2, -5), "");
  EXPECT_EQ(ClampedSubstr("abcdef", -1, 3), "");
  EXPECT_EQ(ClampedSubstr("abc", 0, std::numeric_limits<std::int64_t>::max()), "abc");
}

TEST(ReplaceAll, ScansLeftToRightWithoutRescanningInsertedText) {
  EXPECT_EQ(ReplaceAll("a > b > c", " >", "-"), "a- b- c");
  EXPECT_EQ(ReplaceAll("a  >> b", " >", "-"), "a -> b");
  EXPECT_EQ(ReplaceAll("x>y", " >", "-"), "x>y");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "a"), "aa");
}

TEST(ScanInteger, ReadsLikePercentD) {
  EXPECT_EQ(ScanInteger("12abc")->value, 12);
  EXPECT_EQ(ScanInteger(" \t\n 7")->value, 7);
  EXPECT_EQ(ScanInteger("-3")->value, -3);
  EXPECT_EQ(ScanInteger("+0")->value, 0);
  EXPECT_FALSE(ScanInteger(""));
  EXPECT_FALSE(ScanInteger("页"));
  EXPECT_FALSE(ScanInteger("- 3"));
  EXPECT_FALSE(ScanInteger("+"));
}

TEST(ScanInteger, SaturatesAndFlagsOverflow) {
  auto big = ScanInteger("99999999999999999999999");
  ASSERT_TRUE(big);
  EXPECT_TRUE(big->overflowed);
  EXPECT_EQ(big->value, std::numeric_limits<std::int64_t>::max());
  auto small = ScanInteger("-99999999999999999999999");
  ASSERT_TRUE(small);
  EXPECT_TRUE(small->overflowed);
  EXPECT_EQ(small->value, std::numeric_limits<std::int64_t>::min());
  auto min = ScanInteger("-9223372036854775808");
  ASSERT_TRUE(min);
  EXPECT_FALSE(min->overflowed);
  EXPECT_EQ(min->value, std::numeric_limits<std::int64_t>::min());
  auto max_plus_one = ScanInteger("9223372036854775808");
  ASSERT_TRUE(max_plus_one);
  EXPECT_TRUE(max_plus_one->overflowed);
}

TEST(ScanAfterLiteral, NeedsTheLiteralAtTheStart) {
  EXPECT_EQ(ScanAfterLiteral(">共12页", ">共")->value, 12);
  EXPECT_EQ(ScanAfterLiteral(">共 7", ">共")->value, 7);
  EXPECT_FALSE(ScanAfterLiteral(" >共12", ">共"));
  EXPECT_FALSE(ScanAfterLiteral(">共", ">共"));
  EXPECT_FALSE(ScanAfterLiteral(">", ">共"));
}

TEST(Find, StaysCharacterAlignedInUtf8) {
  // "共" is E5 85 B1; no other character's tail can start a match for it.
  const std::string text = "\xE5\x85\xB1\xE5\x85\xB1";
  EXPECT_EQ(Find(text, "共"), 0U);
  EXPECT_EQ(Find(text, "共", 1), 3U);
  EXPECT_EQ(Find(text, "共", 99), kNotFound);
}

}  // namespace
}  // namespace vexel::text
