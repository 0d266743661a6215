#include "platform/resolve_address.h"

#include "platform/curl_handle.h"

namespace vexel::platform {

std::optional<std::string> ResolveAddress(const std::string& base, const std::string& reference) {
  EnsureCurlGlobalInit();
  const CurlUrl url(curl_url());
  if (!url) {
    return std::nullopt;
  }
  // A base that does not parse is ignored: an absolute reference still works.
  if (!base.empty()) {
    curl_url_set(url.get(), CURLUPART_URL, base.c_str(), CURLU_URLENCODE);
  }
  if (curl_url_set(url.get(), CURLUPART_URL, reference.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
    return std::nullopt;
  }
  char* raw = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  const CurlString resolved(raw);
  return std::string(resolved.get());
}

}  // namespace vexel::platform
