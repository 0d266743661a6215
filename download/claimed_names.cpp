#include "download/claimed_names.h"

#include <cstddef>

#include "download/chapter_plan.h"

namespace vexel::download {

std::string ClaimFolderName(ClaimedNames* names, std::string_view directory,
                            std::string_view title) {
  std::string name = FitFolderName(title, kLongestFolderSuffixBytes);
  if (names == nullptr) {
    return name;
  }
  const std::string prefix(directory);
  // Ends: the run has claimed finitely many names.
  for (std::size_t n = 2; !names->Claim(prefix + name); ++n) {
    const std::string suffix = " (" + std::to_string(n) + ")";
    name = FitFolderName(title, kLongestFolderSuffixBytes + suffix.size()) + suffix;
  }
  return name;
}

}  // namespace vexel::download
