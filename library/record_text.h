// How a record's texts are kept: addresses without their fragment, and the
// page files as one text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexel::library {

// `address` up to its first "#": the same page, however it was linked.
std::string WithoutFragment(std::string_view address);

// The names joined by "/", which no file name holds.
std::string JoinPageFiles(const std::vector<std::string>& names);

// Calls `visit` with each name of a joined text, in order.
template <typename Visit>
void ForEachPageFile(std::string_view joined, Visit&& visit) {
  while (!joined.empty()) {
    const std::size_t slash = joined.find('/');
    visit(joined.substr(0, slash));
    if (slash == std::string_view::npos) {
      break;
    }
    joined.remove_prefix(slash + 1);
  }
}

}  // namespace vexel::library
