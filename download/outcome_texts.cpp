#include "download/outcome_texts.h"

#include <cerrno>

namespace vexel::download {

std::string SystemErrorText(int error) {
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

std::string FailedPagesLine(const std::vector<std::int64_t>& pages) {
  std::string line = "有" + std::to_string(pages.size()) + "张图片下载失败：";
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
  return line + "\r\n";
}

}  // namespace vexel::download
