// Owners for libcurl's C handles, and the one-time global initialisation.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace vexel::net {

struct CurlEasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};

using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;
using CurlUrl = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// curl_global_init is not thread-safe; this runs it exactly once per process,
// whichever thread asks first, and is safe to call from any thread.
void EnsureCurlGlobalInit();

// A new easy handle (global initialisation included), or null when libcurl
// cannot allocate one.
CurlEasy MakeCurlEasy();

// A share object through which easy handles of one thread use one connection
// cache, so that a chapter page and its images travel over one connection.
// Every handle that uses it must be cleaned up before it; null when libcurl
// cannot allocate one (transfers then simply use their own connections).
CurlShare MakeConnectionShare();

}  // namespace vexel::net
