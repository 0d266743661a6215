#include "files/program_output_directory.h"

#include <string_view>

#include "download/output_directory.h"
#include "files/program_directory.h"
#include "files/real_file_system.h"
#include "files/user_directories.h"

namespace vexel::files {

bool IsInstalledProgramDirectory(const std::string& program_directory) {
  std::string_view dir = program_directory;
  while (!dir.empty() && dir.back() == '/') {
    dir.remove_suffix(1);
  }
  return dir == "bin" || dir.ends_with("/bin");
}

download::OutputDirectory ChooseOutputDirectoryFor(const std::string& program_directory,
                                                   const std::string& download_directory,
                                                   download::FileSystem& file_system) {
  if (IsInstalledProgramDirectory(program_directory) && !download_directory.empty()) {
    file_system.CreateDirectories(download_directory);
    return {download_directory, false};
  }
  return download::ChooseOutputDirectory(program_directory, download_directory, file_system);
}

download::OutputDirectory ChooseProgramOutputDirectory() {
  return ChooseOutputDirectoryFor(GetProgramDirectory(), UserDownloadDirectory(), RealFileSystem());
}

download::OutputDirectory ChooseUserOutputDirectory(const std::string& folder,
                                                    const std::string& download_directory,
                                                    download::FileSystem& file_system) {
  std::string preferred = folder;
  if (!preferred.empty() && !preferred.ends_with('/')) {
    preferred += '/';
  }
  if (!preferred.empty()) {
    file_system.CreateDirectories(preferred);
  }
  download::OutputDirectory chosen =
      download::ChooseOutputDirectory(preferred, download_directory, file_system);
  chosen.chosen_folder_unwritable = chosen.fallback && !preferred.empty();
  return chosen;
}

download::OutputDirectory ChooseProgramOutputDirectory(const std::string& folder) {
  if (folder.empty()) {
    return ChooseProgramOutputDirectory();
  }
  return ChooseUserOutputDirectory(folder, UserDownloadDirectory(), RealFileSystem());
}

std::string PreferredProgramOutputDirectory() {
  std::string program_directory = GetProgramDirectory();
  std::string download_directory = UserDownloadDirectory();
  if (IsInstalledProgramDirectory(program_directory) && !download_directory.empty()) {
    return download_directory;
  }
  return program_directory;
}

}  // namespace vexel::files
