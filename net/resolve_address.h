// Resolving a link's address against the page it appears on.
#pragma once

#include <optional>
#include <string>

#include "download/address_resolver.h"

namespace vexel::net {

// `reference` resolved against `base` by libcurl's URL parser, as a browser
// resolves a link: a relative reference takes the base's scheme, host and
// directory, dot segments are removed, and spaces and bytes outside ASCII are
// percent-encoded. An absolute reference stands alone (`base` may then be
// empty). Nothing when the two do not make an address of a scheme that curl
// knows.
std::optional<std::string> ResolveAddress(const std::string& base, const std::string& reference);

// The parts of an absolute address by libcurl's URL parser.
std::optional<download::AddressParts> SplitAddress(const std::string& address);

// The origin of an absolute address as "scheme://host:port/", scheme and host
// in lower case and the scheme's default port written out; empty when
// `address` is not one.
std::string OriginOf(const std::string& address);

// ResolveAddress and SplitAddress behind the download job's seam. Stateless; safe to share
// between threads.
const download::AddressResolver& CurlAddressResolver();

// Appends `byte` as "%XX" with capital hex digits, the form an address gives
// a byte it cannot carry as it is.
void AppendPercentEncoded(unsigned char byte, std::string& out);

}  // namespace vexel::net
