#include "files/program_directory.h"

#include <unistd.h>
#include <climits>

#include <array>

namespace vexel::files {

std::string DirectoryPart(const std::string& path) {
  for (std::size_t i = path.size(); i > 1; --i) {
    if (path[i - 1] == '/') {
      return path.substr(0, i);
    }
  }
  return {};
}

std::string GetProgramDirectory() {
  std::array<char, PATH_MAX + 1> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  // A result that fills the whole buffer may have been cut short.
  if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
    return {};
  }
  return DirectoryPart(std::string(buffer.data(), static_cast<std::size_t>(length)));
}

}  // namespace vexel::files
