#include "library/record_text.h"

namespace vexel::library {

std::string WithoutFragment(std::string_view address) {
  return std::string(address.substr(0, address.find('#')));
}

std::string JoinPageFiles(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) {
      joined += '/';
    }
    joined += name;
  }
  return joined;
}

}  // namespace vexel::library
