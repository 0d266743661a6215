#include "download/outcome_texts.h"

#include <cerrno>

namespace vexel::download {

std::string SystemErrorText(int error) {
  // Every errno that opening, writing, renaming, making or removing a file or
  // a folder can end with has words of its own; a number tells a user nothing.
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return "磁盘已满";
    case EACCES:
    case EPERM:
      return "没有权限";
    case EROFS:
      return "只读文件系统";
    case ENAMETOOLONG:
      return "名称过长";
    case ENOENT:
    case ENOTDIR:
      return "路径不存在";
    case EEXIST:
      return "已有同名文件";
    case EIO:
      return "读写错误";
    case EISDIR:
      return "是一个文件夹";
    case ENOTEMPTY:
      return "文件夹不为空";
    case ELOOP:
      return "符号链接过多";
    case EMFILE:
    case ENFILE:
      return "打开的文件过多";
    case EBUSY:
      return "正被占用";
    case ETXTBSY:
      return "文件正被使用";
    case EXDEV:
      return "不在同一文件系统";
    case EINVAL:
    case EILSEQ:
      // What FAT, exFAT and NTFS drives answer for a name they cannot hold.
      return "名称无效";
    case EFBIG:
    case EOVERFLOW:
      return "文件超出大小限制";
    case EMLINK:
      return "链接数过多";
    case ENOMEM:
      return "内存不足";
    case EAGAIN:
      return "暂时不可用";
    case EINTR:
      return "操作被中断";
    case ENXIO:
    case ENODEV:
      return "设备不存在";
    case ENOTSUP:
      return "不支持此操作";
    case ESTALE:
    case ENOTCONN:
      // A network or FUSE folder whose server went away.
      return "连接已断开";
    case ETIMEDOUT:
      return "操作超时";
    case EBADF:
      return "文件已关闭";
    default:
      return "系统错误" + std::to_string(error);
  }
}

std::string FailureText(const FetchResult& result) {
  switch (result.failure) {
    case FetchFailure::None:
      return {};
    case FetchFailure::Network:
      return "网络错误";
    case FetchFailure::Timeout:
      return "连接超时";
    case FetchFailure::BadAddress:
      return "地址无效";
    case FetchFailure::HttpStatus:
      return "HTTP " + std::to_string(result.http_status);
    case FetchFailure::TooLarge:
      return "文件过大";
    case FetchFailure::NotAnImage:
      return "不是图片";
    case FetchFailure::Empty:
      return "内容为空";
    case FetchFailure::File:
      return result.system_error != 0 ? "无法写入：" + SystemErrorText(result.system_error)
                                      : std::string("无法写入");
    case FetchFailure::Abandoned:
      return "已放弃";
  }
  return {};
}

std::string PageFailedEnd(const FetchResult& result) {
  return "失败（" + FailureText(result) + "）\r\n";
}

std::string FolderFailedLine(std::string_view folder, int error) {
  std::string line = "创建文件夹[";
  line.append(folder).append("]失败（").append(SystemErrorText(error)).append("）\r\n");
  return line;
}

std::string PageRanges(const std::vector<std::int64_t>& pages) {
  std::string line;
  for (std::size_t i = 0; i < pages.size();) {
    std::size_t end = i;
    while (end + 1 < pages.size() && pages[end + 1] == pages[end] + 1) {
      ++end;
    }
    if (i > 0) {
      line += "、";
    }
    line += std::to_string(pages[i]);
    if (end > i) {
      line += '-';
      line += std::to_string(pages[end]);
    }
    i = end + 1;
  }
  return line;
}

std::string FailedPagesLine(const std::vector<std::int64_t>& pages) {
  return "有" + std::to_string(pages.size()) + "张图片下载失败：" + PageRanges(pages) + "\r\n";
}

std::string ChapterResultText(std::string_view result, const std::vector<std::int64_t>& failed) {
  std::string text(result);
  if (!failed.empty()) {
    text += "，有" + std::to_string(failed.size()) + "张图片下载失败：" + PageRanges(failed);
  }
  return text;
}

std::string ChapterPlace(std::string_view folder, bool packed) {
  std::string place(folder);
  if (packed && !place.empty()) {
    place += ".cbz";
  }
  return place;
}

std::string SavedAtText(std::string_view place) {
  if (place.empty()) {
    return {};
  }
  std::string text = "保存在：";
  return text.append(place);
}

std::string ListedChaptersHint(std::size_t count) {
  return "本页列出" + std::to_string(count) + "话，请用“下载本页列出的章节…”\r\n";
}

}  // namespace vexel::download
