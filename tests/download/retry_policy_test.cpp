#include "download/retry_policy.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "download/outcome_texts.h"

namespace vexel::download {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

FetchResult Status(long status) {
  return FetchResult::Failed(FetchFailure::HttpStatus, "HTTP " + std::to_string(status), status);
}

TEST(RetryPolicyTest, OnlyTransientFailuresAreRetried) {
  for (const long status : {408, 429, 500, 502, 503, 504}) {
    EXPECT_TRUE(IsTransient(Status(status))) << status;
  }
  for (const long status : {400, 401, 403, 404, 410, 501, 505}) {
    EXPECT_FALSE(IsTransient(Status(status))) << status;
  }
  EXPECT_TRUE(IsTransient(FetchResult::Failed(FetchFailure::Network, "reset")));
  EXPECT_TRUE(IsTransient(FetchResult::Failed(FetchFailure::Timeout, "stall")));
  for (const FetchFailure final :
       {FetchFailure::BadAddress, FetchFailure::File, FetchFailure::NotAnImage, FetchFailure::Empty,
        FetchFailure::TooLarge, FetchFailure::Abandoned}) {
    EXPECT_FALSE(IsTransient(FetchResult::Failed(final, "x")));
    EXPECT_FALSE(RetryDelay(FetchResult::Failed(final, "x"), 1, 3, 0.0));
  }
}

TEST(RetryPolicyTest, WaitsDoubleUpToTheCapWithALittleJitter) {
  const FetchResult busy = Status(503);
  EXPECT_EQ(RetryDelay(busy, 1, 10, 0.0), milliseconds(1000));
  EXPECT_EQ(RetryDelay(busy, 2, 10, 0.0), milliseconds(2000));
  EXPECT_EQ(RetryDelay(busy, 3, 10, 0.0), milliseconds(4000));
  EXPECT_EQ(RetryDelay(busy, 6, 10, 0.0), seconds(30));
  EXPECT_EQ(RetryDelay(busy, 10, 10, 0.0), seconds(30));
  EXPECT_EQ(RetryDelay(busy, 1, 10, 1.0), milliseconds(1100));
  EXPECT_EQ(RetryDelay(busy, 6, 10, 1.0), milliseconds(33000));
  // Tries are counted: the fourth failure with three retries is final.
  EXPECT_TRUE(RetryDelay(busy, 3, 3, 0.0));
  EXPECT_FALSE(RetryDelay(busy, 4, 3, 0.0));
  EXPECT_FALSE(RetryDelay(busy, 1, 0, 0.0));
}

TEST(RetryPolicyTest, RetryAfterIsHonouredUpToAMinute) {
  FetchResult busy = Status(429);
  busy.retry_after_seconds = 7;
  EXPECT_EQ(RetryDelay(busy, 1, 3, 1.0), seconds(7));
  busy.retry_after_seconds = 0;
  EXPECT_EQ(RetryDelay(busy, 2, 3, 0.0), seconds(0));
  busy.retry_after_seconds = 3600;
  EXPECT_EQ(RetryDelay(busy, 1, 3, 0.0), seconds(60));
}

TEST(OutcomeTextsTest, ReasonsAndFailedPagesInAFewWords) {
  EXPECT_EQ(PageFailedEnd(Status(404)), "失败（HTTP 404）\r\n");
  EXPECT_EQ(FailureText(FetchResult::Failed(FetchFailure::Timeout, "x")), "连接超时");
  EXPECT_EQ(FailureText(FetchResult::Failed(FetchFailure::NotAnImage, "x")), "不是图片");
  FetchResult full = FetchResult::Failed(FetchFailure::File, "x");
  full.system_error = ENOSPC;
  EXPECT_EQ(FailureText(full), "无法写入：磁盘已满");
  EXPECT_EQ(FailedPagesLine({3}), "有1张图片下载失败：3\r\n");
  EXPECT_EQ(FailedPagesLine({1, 2, 3, 5, 7, 8}), "有6张图片下载失败：1-3、5、7-8\r\n");
}

TEST(OutcomeTextsTest, TheBoxNamesFailedPagesAndWhereTheChapterWent) {
  EXPECT_EQ(ChapterResultText("下载完成", {}), "下载完成");
  EXPECT_EQ(ChapterResultText("下载完成", {3, 7, 8}), "下载完成，有3张图片下载失败：3、7-8");
  EXPECT_EQ(ChapterResultText("下载已终止", {2}), "下载已终止，有1张图片下载失败：2");
  EXPECT_EQ(ChapterPlace("/d/星际旅人- 第3话", false), "/d/星际旅人- 第3话");
  EXPECT_EQ(ChapterPlace("/d/星际旅人- 第3话", true), "/d/星际旅人- 第3话.cbz");
  EXPECT_EQ(ChapterPlace("", true), "");
  EXPECT_EQ(SavedAtText("/d/a"), "保存在：/d/a");
  EXPECT_EQ(SavedAtText(""), "");
  EXPECT_EQ(ListedChaptersHint(12), "本页列出12话，请用“下载本页列出的章节…”\r\n");
}

TEST(OutcomeTextsTest, EveryErrnoOfAFileOperationHasWords) {
  EXPECT_EQ(SystemErrorText(EISDIR), "是一个文件夹");
  EXPECT_EQ(SystemErrorText(EDQUOT), "磁盘已满");
  EXPECT_EQ(SystemErrorText(EPERM), "没有权限");
  EXPECT_EQ(SystemErrorText(EROFS), "只读文件系统");
  EXPECT_EQ(SystemErrorText(ENAMETOOLONG), "名称过长");
  EXPECT_EQ(SystemErrorText(ENOTDIR), "路径不存在");
  EXPECT_EQ(SystemErrorText(EEXIST), "已有同名文件");
  EXPECT_EQ(SystemErrorText(EIO), "读写错误");
  for (const int error :
       {ELOOP,     EMFILE, ENFILE,    EBUSY,    ETXTBSY,   EXDEV, EINVAL, EFBIG,
        ENOTEMPTY, EMLINK, ENOMEM,    EAGAIN,   EINTR,     ENXIO, ENODEV, EOPNOTSUPP,
        ESTALE,    EILSEQ, EOVERFLOW, ENOTCONN, ETIMEDOUT, EBADF}) {
    EXPECT_FALSE(SystemErrorText(error).starts_with("系统错误")) << error;
  }
  EXPECT_EQ(SystemErrorText(EDOM), "系统错误" + std::to_string(EDOM));
}

}  // namespace
}  // namespace vexel::download
