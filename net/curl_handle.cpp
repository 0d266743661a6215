#include "net/curl_handle.h"

#include <mutex>

namespace vexel::net {

void EnsureCurlGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlEasy MakeCurlEasy() {
  EnsureCurlGlobalInit();
  return CurlEasy(curl_easy_init());
}

CurlShare MakeConnectionShare() {
  EnsureCurlGlobalInit();
  CurlShare share(curl_share_init());
  if (share &&
      (curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT) != CURLSHE_OK ||
       curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK)) {
    share.reset();
  }
  return share;
}

}  // namespace vexel::net
