#include "net/image_response.h"

#include "net/resolve_address.h"
#include "text/text.h"

namespace vexel::net {

std::string RefererForRedirect(const std::string& page, const std::string& target) {
  std::string page_origin = OriginOf(page);
  const std::string target_origin = OriginOf(target);
  if (page_origin.empty()) {
    return {};
  }
  if (page_origin == target_origin) {
    return page;
  }
  if (page_origin.starts_with("https:") && target_origin.starts_with("http:")) {
    return {};
  }
  return page_origin;
}

bool LooksLikeHtml(std::string_view head) {
  while (!head.empty() && text::IsAsciiWhitespace(head.front())) {
    head.remove_prefix(1);
  }
  return text::StartsWithIgnoringAsciiCase(head, "<!doctype html") ||
         text::StartsWithIgnoringAsciiCase(head, "<html");
}

bool IsHtmlContentType(const char* content_type) {
  return content_type != nullptr &&
         text::StartsWithIgnoringAsciiCase(
             text::TrimAsciiWhitespace(std::string_view(content_type)), "text/html");
}

}  // namespace vexel::net
