#include "download/output_directory.h"

#include "platform/program_directory.h"
#include "platform/user_directories.h"

namespace vexel::download {

OutputDirectory ChooseOutputDirectory(const std::string& preferred,
                                      const std::string& fallback_directory,
                                      platform::FileSystem& file_system) {
  if (!preferred.empty() && file_system.IsWritableDirectory(preferred)) {
    return {preferred, false};
  }
  if (!fallback_directory.empty()) {
    file_system.CreateDirectories(fallback_directory);
  }
  return {fallback_directory, true};
}

OutputDirectory ChooseProgramOutputDirectory() {
  return ChooseOutputDirectory(platform::GetProgramDirectory(), platform::UserDownloadDirectory(),
                               platform::RealFileSystem());
}

}  // namespace vexel::download
