#include "platform/curl_handle.h"

#include <mutex>

namespace vexel::platform {

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlEasy MakeCurlEasy() {
  EnsureCurlGlobalInit();
  return CurlEasy(curl_easy_init());
}

}  // namespace vexel::platform
