#include "net/resolve_address.h"

#include <utility>

#include "net/curl_handle.h"
#include "text/text.h"

namespace vexel::net {
namespace {

// As a browser reads an address out of a page: spaces and control characters
// around it go, tabs and line breaks inside it are dropped, and any other
// control character is percent-encoded (libcurl refuses them raw).
std::string CleanReference(const std::string& reference) {
  std::size_t begin = 0;
  std::size_t end = reference.size();
  while (begin < end && static_cast<unsigned char>(reference[begin]) <= 0x20) {
    ++begin;
  }
  while (end > begin && static_cast<unsigned char>(reference[end - 1]) <= 0x20) {
    --end;
  }
  std::string clean;
  clean.reserve(end - begin);
  for (std::size_t i = begin; i < end; ++i) {
    const auto byte = static_cast<unsigned char>(reference[i]);
    if (byte == '\t' || byte == '\n' || byte == '\r') {
      continue;
    }
    if (byte < 0x20 || byte == 0x7F) {
      AppendPercentEncoded(byte, clean);
      continue;
    }
    clean += reference[i];
  }
  return clean;
}

// `address` parsed as an absolute address; null when it is not one.
CurlUrl ParseAbsolute(const std::string& address) {
  EnsureCurlGlobalInit();
  CurlUrl url(curl_url());
  if (url && curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
    url.reset();
  }
  return url;
}

std::optional<std::string> PartOf(const CurlUrl& url, CURLUPart which, unsigned int flags = 0) {
  char* text = nullptr;
  const CURLUcode code = curl_url_get(url.get(), which, &text, flags);
  const CurlString owned(text);
  if (code == CURLUE_OK && owned != nullptr) {
    return std::string(owned.get());
  }
  return std::nullopt;
}

// Scheme and host in lower case, the way addresses compare them.
bool ReadSchemeAndHost(const CurlUrl& url, std::string& scheme, std::string& host) {
  std::optional<std::string> scheme_part = PartOf(url, CURLUPART_SCHEME);
  std::optional<std::string> host_part = PartOf(url, CURLUPART_HOST);
  if (!scheme_part || !host_part) {
    return false;
  }
  scheme = std::move(*scheme_part);
  host = std::move(*host_part);
  for (std::string* text : {&scheme, &host}) {
    for (char& c : *text) {
      c = text::ToLowerAscii(c);
    }
  }
  return true;
}

}  // namespace

void AppendPercentEncoded(unsigned char byte, std::string& out) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  out.push_back('%');
  out.push_back(kHex[byte >> 4]);
  out.push_back(kHex[byte & 0x0F]);
}

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
  const std::string clean = CleanReference(reference);
  if (curl_url_set(url.get(), CURLUPART_URL, clean.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
    return std::nullopt;
  }
  char* raw = nullptr;
  if (curl_url_get(url.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK) {
    return std::nullopt;
  }
  const CurlString resolved(raw);
  return std::string(resolved.get());
}

std::optional<download::AddressParts> SplitAddress(const std::string& address) {
  const CurlUrl url = ParseAbsolute(address);
  download::AddressParts parts;
  if (!url || !ReadSchemeAndHost(url, parts.scheme, parts.host)) {
    return std::nullopt;
  }
  parts.path = PartOf(url, CURLUPART_PATH).value_or("/");
  parts.query = PartOf(url, CURLUPART_QUERY).value_or("");
  return parts;
}

std::string OriginOf(const std::string& address) {
  const CurlUrl url = ParseAbsolute(address);
  std::string scheme;
  std::string host;
  if (!url || !ReadSchemeAndHost(url, scheme, host)) {
    return {};
  }
  const std::optional<std::string> port = PartOf(url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!port) {
    return {};
  }
  return scheme + "://" + host + ":" + *port + "/";
}

const download::AddressResolver& CurlAddressResolver() {
  class Resolver final : public download::AddressResolver {
   public:
    std::optional<std::string> Resolve(const std::string& base,
                                       const std::string& reference) const override {
      return ResolveAddress(base, reference);
    }
    std::optional<download::AddressParts> Split(const std::string& address) const override {
      return SplitAddress(address);
    }
  };
  static const Resolver resolver;
  return resolver;
}

}  // namespace vexel::net
