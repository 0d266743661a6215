// The job's fixed texts: its two queries, its log lines and its outcomes.
// They are the program's own words and are shown exactly as written here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "download/image_fetcher.h"

namespace vexel::download {

// The chapter line: the first element of class stauts_left that shows the
// "您正在看：" marker; its text carries the title and ">共" plus the count.
inline constexpr std::string_view kChapterLineQuery =
    "innerText element that className = stauts_left AND innerText have 您正在看：";
// The first page image tag, as the legacy markup rendering writes it (see
// html/html_markup.cpp).
inline constexpr std::string_view kImageQuery =
    "outerHTML element that className = ImgComic AND outerHTML have IMG class=ImgComic";

// The chapter line begins with "您正在看：", five characters of three bytes.
inline constexpr std::size_t kMarkerBytes = 15;
inline constexpr std::string_view kCountMarker = ">共";
inline constexpr std::string_view kSrcMarker = "src=\"";
inline constexpr std::string_view kSrcEnd = "\">";

// Outcomes: the result text shown in the message box, and the last log line.
inline constexpr std::string_view kResultError = "下载出错";
inline constexpr std::string_view kLogError = "下载出错\r\n";
inline constexpr std::string_view kResultStopped = "下载已终止";
inline constexpr std::string_view kLogStopped = "下载已终止\r\n";
inline constexpr std::string_view kResultComplete = "下载完成";
inline constexpr std::string_view kLogComplete = "下载全部完成\r\n";

// One line per page: kLogPageStart + address + kLogPageEnd, then once the
// fetch is done kLogPageSucceeded, or PageFailedEnd with the reason.
inline constexpr std::string_view kLogPageStart = "下载图片[";
inline constexpr std::string_view kLogPageEnd = "]...";
inline constexpr std::string_view kLogPageSucceeded = "成功\r\n";
// A page whose file is already there and was not fetched again.
inline constexpr std::string_view kLogPageExists = "已存在\r\n";
// The loop gives up after this many pages in a row that failed for good.
inline constexpr int kMaxFailuresInARow = 10;
inline constexpr std::string_view kLogTooManyFailures =
    "连续10张图片下载失败，后面的图片不再下载\r\n";

// Archives: "CBZ文件[path]...已存在", "...成功", "...失败（reason）".
inline constexpr std::string_view kLogArchiveStart = "CBZ文件[";
inline constexpr std::string_view kLogArchiveNotPacked = "有图片下载失败，未打包为CBZ\r\n";
// An earlier archive that is not whole: "CBZ文件[path]...不完整，已改名为：path.broken".
inline constexpr std::string_view kLogArchiveSetAside = "不完整，已改名为：";

// Written before the error when the page was too complex to read.
inline constexpr std::string_view kLogPageTooComplex = "页面过于复杂\r\n";

// Written when the chapter folder had to go to the user's download folder,
// because the program's directory could not be written, or the folder chosen
// as 下载到.
inline constexpr std::string_view kLogFallbackFolder = "程序目录不可写入，改存到：";
inline constexpr std::string_view kLogChosenFolderFallback = "下载到的文件夹不可写入，改存到：";

// Why a page failed or a folder could not be made, in a few words: "HTTP
// 404", "连接超时", "不是图片", "无法写入：磁盘已满".
std::string FailureText(const FetchResult& result);
// The few words for an errno: "磁盘已满", "没有权限", ...
std::string SystemErrorText(int error);

// "失败（reason）\r\n": the end of a failed page's line.
std::string PageFailedEnd(const FetchResult& result);
// "创建文件夹[folder]失败（reason）\r\n"
std::string FolderFailedLine(std::string_view folder, int error);
// "3、5-7": `pages`, in page order, with runs written as ranges.
std::string PageRanges(const std::vector<std::int64_t>& pages);
// "有N张图片下载失败：3、5-7\r\n"
std::string FailedPagesLine(const std::vector<std::int64_t>& pages);

// The outcome box after one chapter: `result` (下载完成, 下载已终止,
// 下载出错), then for failed pages "，有N张图片下载失败：3、7-8", so that a
// chapter with holes never reads as a plain success.
std::string ChapterResultText(std::string_view result, const std::vector<std::int64_t>& failed);
// Where a chapter lies once its job has ended: its folder, or once packed
// the archive beside it ("<folder>.cbz"; the folder is gone).
std::string ChapterPlace(std::string_view folder, bool packed);
// The box's second line, "保存在：place"; empty when `place` is.
std::string SavedAtText(std::string_view place);

// "本页列出N话，请用“下载本页列出的章节…”\r\n": the window's hint for 下载 on a
// comic's page, written before the job's 下载出错.
std::string ListedChaptersHint(std::size_t count);

// "共有%d张图片\r\n"
inline std::string PageCountLine(std::int32_t page_count) {
  return "共有" + std::to_string(page_count) + "张图片\r\n";
}

}  // namespace vexel::download
