// A chapter page in the layout of the comic site, as its pages come: an old
// XHTML template in GB2312/GBK, the chapter line, the page image wrapped in
// a link to the next page, navigation, scripts that mention the same class
// names inside strings, and a second "stauts_left" block further down.
#pragma once

#include <string>
#include <string_view>

namespace vexel::testing {

// The site's two queries, as the download job asks them.
inline constexpr const char* kChapterLineQuery =
    "innerText element that className = stauts_left AND innerText have 您正在看：";
inline constexpr const char* kImageQuery =
    "outerHTML element that className = ImgComic AND outerHTML have IMG class=ImgComic";

// What the site's two queries must read from ChapterPageUtf8().
inline constexpr std::string_view kChapterLine = "您正在看：星际旅人 > 第5话 >共12页";
inline constexpr std::string_view kImageTag =
    R"(<IMG class=ImgComic src="http://img.vexel.example/pics/12/5/1.jpg">)";

// The least a chapter page carries, in UTF-8: `chapter_line` in a
// "stauts_left" block and the page image at `image_src`.
inline std::string BareChapterPage(std::string_view chapter_line, std::string_view image_src) {
  std::string page =
      "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>chapter</title></head><body>"
      "<div class=\"stauts_left\">";
  page += chapter_line;
  page += "</div><div><img class=\"ImgComic\" src=\"";
  page += image_src;
  page += "\"></div></body></html>";
  return page;
}

// `charset_meta` is put into the head as it stands (for example a
// <meta http-equiv> naming gb2312, or nothing).
inline std::string ChapterPageUtf8(std::string_view charset_meta) {
  std::string page =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
      "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
      "<html xmlns=\"http://www.w3.org/1999/xhtml\">\r\n<head>\r\n";
  page += charset_meta;
  page +=
      "\r\n<title>星际旅人 第5话 - 在线漫画</title>\r\n"
      "<link href=\"/css/style.css\" rel=\"stylesheet\" type=\"text/css\" />\r\n"
      "<script type=\"text/javascript\">\r\n"
      "var total = 12; if (total > 1 && total < 99) {\r\n"
      "  document.write('<div class=\"stauts_left\">您正在看：脚本</div>');\r\n"
      "  document.write('<img class=\"ImgComic\" src=\"ad.jpg\">');\r\n"
      "}\r\n</script>\r\n</head>\r\n<body>\r\n"
      "<div class=\"header\"><a href=\"/\">首页</a> | <a href=\"/list/\">漫画列表</a>"
      " | <a href=\"/search/?q=%E6%BC%AB&amp;t=1\">搜索</a></div>\r\n"
      "<div class=\"stauts\">\r\n"
      "  <div class=\"stauts_left\">\r\n"
      "    您正在看：<a href=\"/comic/12/\">星际旅人</a> &gt; "
      "<a href=\"/comic/12/5.html\">第5话</a> &gt;共12页\r\n"
      "  </div>\r\n"
      "  <div class=\"stauts_right\"><select onchange=\"location.href=this.value\">\r\n"
      "    <option value=\"/comic/12/5.html?p=1\" selected>第1页\r\n"
      "    <option value=\"/comic/12/5.html?p=2\">第2页\r\n"
      "  </select></div>\r\n"
      "</div>\r\n"
      "<div class=\"comic\">\r\n"
      "  <a href=\"/comic/12/5.html?p=2\"><img class=\"ImgComic\" "
      "src=\"http://img.vexel.example/pics/12/5/1.jpg\"></a>\r\n"
      "</div>\r\n"
      "<div class=\"stauts_left\">相关漫画：<a href=\"/comic/13/\">星际旅人外传</a></div>\r\n"
      "<table class=\"nav\"><tr><td><a href=\"?p=1\">上一页</a><td><a href=\"?p=2\">下一页</a>"
      "</table>\r\n"
      "<!-- 统计代码 -->\r\n"
      "<script>var _hm = _hm || []; (function() { var hm = "
      "document.createElement(\"script\"); })();</script>\r\n"
      "</body>\r\n</html>\r\n";
  return page;
}

}  // namespace vexel::testing
