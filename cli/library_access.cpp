#include "cli/library_access.h"

#include <cstdio>

#include "files/real_file_system.h"

namespace vexel::cli {

CommandLineLibrary OpenLibraryForCommandLine(const std::optional<std::string>& library_file,
                                             bool no_library) {
  CommandLineLibrary opened;
  if (no_library) {
    return opened;
  }
  library::OpenedLibrary result =
      library_file ? library::Library::Open(*library_file, files::RealFileSystem())
                   : library::Library::Open(library::DefaultLibraryPath(), files::RealFileSystem(),
                                            /*create_folder=*/true);
  if (!result.library) {
    std::fprintf(stderr, "vexel-dl: %s\n", result.error.c_str());
    opened.failed = true;
    return opened;
  }
  opened.library = std::move(result.library);
  return opened;
}

}  // namespace vexel::cli
