// Resolving a link's address against the page it appears on, behind a seam:
// the job needs a browser's URL rules, which net/ provides over libcurl.
#pragma once

#include <optional>
#include <string>

namespace vexel::download {

// The parts of an absolute address that chapter discovery compares.
struct AddressParts {
  std::string scheme;  // lower case: "http", "https", ...
  std::string host;    // lower case, as the URL parser normalises it
  std::string path;    // from the first "/" on, without query and fragment
  std::string query;   // without the "?"; empty when there is none
};

class AddressResolver {
 public:
  virtual ~AddressResolver() = default;

  // `reference` resolved against `base` as a browser resolves a link, or
  // nothing when the two do not make an address.
  virtual std::optional<std::string> Resolve(const std::string& base,
                                             const std::string& reference) const = 0;
  // The parts of an absolute address, or nothing when it is not one.
  virtual std::optional<AddressParts> Split(const std::string& address) const = 0;

 protected:
  AddressResolver() = default;
  AddressResolver(const AddressResolver&) = default;
  AddressResolver& operator=(const AddressResolver&) = default;
  AddressResolver(AddressResolver&&) = default;
  AddressResolver& operator=(AddressResolver&&) = default;
};

}  // namespace vexel::download
