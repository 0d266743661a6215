#include "download/output_directory.h"

namespace vexel::download {

OutputDirectory ChooseOutputDirectory(const std::string& preferred,
                                      const std::string& fallback_directory,
                                      download::FileSystem& file_system) {
  if (!preferred.empty() && file_system.IsWritableDirectory(preferred)) {
    return {preferred, false};
  }
  if (!fallback_directory.empty()) {
    file_system.CreateDirectories(fallback_directory);
  }
  return {fallback_directory, true};
}

}  // namespace vexel::download
