// Decoding page bytes to UTF-8: choosing the encoding as a browser does, the
// common East Asian and Western encodings, and bytes that do not decode.
#include "html/charset_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/support/encode_text.h"

namespace vexel::html {
namespace {

using vexel::testing::EncodeFromUtf8;
using vexel::testing::ToGbk;

const std::string kFffd = "\xEF\xBF\xBD";

TEST(EncodingChoice, ByteOrderMarkComesFirst) {
  EXPECT_EQ(DecodeToUtf8("\xEF\xBB\xBF"
                         "漫画",
                         "gbk"),
            "漫画");
  EXPECT_EQ(DecodeToUtf8(std::string("\xFF\xFE") + EncodeFromUtf8("漫画<p>", "UTF-16LE"), "gbk"),
            "漫画<p>");
  EXPECT_EQ(DecodeToUtf8(std::string("\xFE\xFF") + EncodeFromUtf8("漫画😀", "UTF-16BE")), "漫画😀");
}

TEST(EncodingChoice, DeclaredCharsetBeatsTheMetaDeclaration) {
  const std::string page = "<meta charset=big5><p>" + ToGbk("您正在看：第5话");
  EXPECT_EQ(DecodeToUtf8(page, "GBK"), "<meta charset=big5><p>您正在看：第5话");
  EXPECT_EQ(DecodeToUtf8(page, " gb2312 "), "<meta charset=big5><p>您正在看：第5话");
  // An unknown declared label falls through to the page's own declaration.
  EXPECT_NE(DecodeToUtf8(page, "no-such-charset"), "<meta charset=big5><p>您正在看：第5话");
}

TEST(EncodingChoice, MetaDeclarationsInTheFirst1024Bytes) {
  const std::string text = ToGbk("共12页");
  EXPECT_EQ(DecodeToUtf8("<meta charset=\"gbk\">" + text), "<meta charset=\"gbk\">共12页");
  const std::string pragma =
      "<!DOCTYPE html><html><head><META HTTP-EQUIV=\"Content-Type\" "
      "CONTENT=\"text/html; charset=gb2312\" />";
  EXPECT_EQ(DecodeToUtf8(pragma + text), pragma + "共12页");
  // A content charset counts only together with the http-equiv pragma.
  EXPECT_EQ(PrescanMetaCharset("<meta content=\"text/html; charset=gbk\">"), "");
  EXPECT_EQ(PrescanMetaCharset("<meta name=x content='a' charset='Shift_JIS'>"), "Shift_JIS");
  EXPECT_EQ(PrescanMetaCharset("<!-- <meta charset=gbk> --><meta charset=big5>"), "Big5");
  EXPECT_EQ(PrescanMetaCharset("<div title='<meta charset=gbk>'><meta charset=euc-kr>"), "EUC-KR");
  EXPECT_EQ(PrescanMetaCharset(std::string(1020, ' ') + "<meta charset=gbk>"), "");
  EXPECT_EQ(PrescanMetaCharset("<meta charset=utf-16>"), "UTF-8");
  // Without any declaration the page is UTF-8.
  EXPECT_EQ(DecodeToUtf8("<p>漫画</p>"), "<p>漫画</p>");
}

TEST(EncodingChoice, LabelsAndContentTypes) {
  EXPECT_EQ(CanonicalEncoding("GBK"), "GB18030");
  EXPECT_EQ(CanonicalEncoding("  x-gbk\t"), "GB18030");
  EXPECT_EQ(CanonicalEncoding("latin1"), "windows-1252");
  EXPECT_EQ(CanonicalEncoding("utf-16"), "UTF-16LE");
  EXPECT_EQ(CanonicalEncoding("ks_c_5601-1987"), "EUC-KR");
  EXPECT_EQ(CanonicalEncoding("klingon"), "");
  EXPECT_EQ(CharsetFromContentType("text/html; charset=GBK"), "GBK");
  EXPECT_EQ(CharsetFromContentType("text/html;charset=\"gb2312\""), "gb2312");
  EXPECT_EQ(CharsetFromContentType("text/html; q=1; Charset=big5 ; x=y"), "big5");
  EXPECT_EQ(CharsetFromContentType("text/html"), "");
  EXPECT_EQ(CharsetFromContentType(""), "");
}

TEST(Encodings, EastAsianAndWesternPagesDecode) {
  EXPECT_EQ(DecodeToUtf8(ToGbk("您正在看：ABC > 第5话 >共12页"), "gbk"),
            "您正在看：ABC > 第5话 >共12页");
  // GB18030's four-byte sequences cover what GBK cannot.
  EXPECT_EQ(DecodeToUtf8(EncodeFromUtf8("漫画😀€", "GB18030"), "gb18030"), "漫画😀€");
  EXPECT_EQ(DecodeToUtf8(EncodeFromUtf8("漫畫第5話", "BIG5"), "big5"), "漫畫第5話");
  EXPECT_EQ(DecodeToUtf8(EncodeFromUtf8("漫画です", "SHIFT_JIS"), "shift_jis"), "漫画です");
  EXPECT_EQ(DecodeToUtf8(EncodeFromUtf8("만화 5화", "EUC-KR"), "euc-kr"), "만화 5화");
  EXPECT_EQ(DecodeToUtf8("caf\xE9 \x96 \x80", "iso-8859-1"), "café – €");
  EXPECT_EQ(DecodeToUtf8("a\x81z", "windows-1252"), "a\xC2\x81z");  // undefined: a C1 control
}

TEST(InvalidBytes, BecomeReplacementCharacters) {
  EXPECT_EQ(DecodeToUtf8("a\xC3(b"), "a" + kFffd + "(b");
  EXPECT_EQ(DecodeToUtf8("end\xE2\x82"), "end" + kFffd);
  EXPECT_EQ(DecodeToUtf8("\xC0\xAF"), kFffd + kFffd);              // overlong
  EXPECT_EQ(DecodeToUtf8("\xED\xA0\x80"), kFffd + kFffd + kFffd);  // surrogate
  EXPECT_EQ(DecodeToUtf8("\xF0\x80x"), kFffd + kFffd + "x");
  EXPECT_EQ(DecodeToUtf8("\xFF"), kFffd);
  EXPECT_EQ(DecodeToUtf8(ToGbk("第") + "\x81 x\xFF" + ToGbk("话") + "\x81", "gbk"),
            "第" + kFffd + " x" + kFffd + "话" + kFffd);
  EXPECT_EQ(DecodeToUtf8(std::string("\xFF\xFE"
                                     "a\x00\x00\xD8",
                                     6)),
            "a" + kFffd);
}

TEST(InvalidBytes, NulIsKeptAsACharacter) {
  EXPECT_EQ(DecodeToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(DecodeToUtf8(std::string("a\0b", 3), "gbk"), std::string("a\0b", 3));
}

TEST(InvalidBytes, AnyInputGivesValidUtf8InEveryEncoding) {
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const char* label : {"utf-8", "gbk", "big5", "shift_jis", "euc-kr", "windows-1252",
                            "utf-16le", "utf-16be", "euc-jp", "koi8-r"}) {
    for (int round = 0; round < 50; ++round) {
      std::string bytes(static_cast<std::size_t>(round * 7), '\0');
      for (char& c : bytes) {
        c = static_cast<char>(byte(random));
      }
      const std::string decoded = DecodeToUtf8(bytes, label);
      ASSERT_TRUE(IsValidUtf8(decoded)) << label << " round " << round;
    }
  }
}

TEST(InvalidBytes, RepairKeepsValidTextUntouched) {
  const std::string valid = "ascii 漫画 😀 \x7F";
  EXPECT_TRUE(IsValidUtf8(valid));
  EXPECT_EQ(RepairUtf8(valid), valid);
  EXPECT_FALSE(IsValidUtf8("\xE6\xBC"));
  EXPECT_EQ(RepairUtf8("\xE6\xBC"), kFffd);
}

}  // namespace
}  // namespace vexel::html
